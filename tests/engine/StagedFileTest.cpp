// The staged writer through its file-system seam: each step that can fail, names taken
// where the temporary file may go, and the removal of stale temporary files.

#include "StagedFile.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <cstring>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum Step { Create = 1, Write = 2, SyncAndClose = 4, Rename = 8, Link = 16 };

// The system's calls, but the steps in failing fail with error, and the first names tried
// for a temporary file are taken just before: by links to victim, then by files.
class FailingFileSystem : public FileSystem {
public:
    int failing = 0, error = EIO, plantLinks = 0, plantFiles = 0;
    std::string victim;

    int createNew(int at, const std::string& name, mode_t mode) override
    {
        if (plantLinks-- > 0)
            ::symlinkat(victim.c_str(), at, name.c_str());
        else if (plantFiles-- > 0)
            ::close(::openat(at, name.c_str(), O_WRONLY | O_CREAT, 0644));
        return fails(Create) ? -1 : FileSystem::createNew(at, name, mode);
    }
    bool writeAll(int fd, std::string_view data) override { return !fails(Write) && FileSystem::writeAll(fd, data); }
    bool syncAndClose(int fd) override
    {
        return fails(SyncAndClose) ? (::close(fd), errno = error, false) : FileSystem::syncAndClose(fd);
    }
    bool rename(int fromAt, const std::string& from, int toAt, const std::string& to) override
    {
        return !fails(Rename) && FileSystem::rename(fromAt, from, toAt, to);
    }
    // As on a file system without hard links, where a missing file is still just missing.
    bool link(int fromAt, const std::string& from, int toAt, const std::string& to) override
    {
        return !(::faccessat(fromAt, from.c_str(), F_OK, 0) == 0 && fails(Link)) && FileSystem::link(fromAt, from, toAt, to);
    }

private:
    bool fails(Step step) { return (failing & step) && (errno = error); }
};

TEST(StagedFile, AFailingStepGivesItsReasonAndLeavesTheOldFileAlone)
{
    const struct {
        int failing, error;
        bool keepOld;
    } cases[] = {{Create, EACCES, false}, {Write, ENOSPC, false}, {SyncAndClose, EIO, false},
                 {Rename, EXDEV, false},  {Rename, EXDEV, true},   {Link | Rename, EPERM, true}};
    // Written whole, or in parts as a text too large to hold is.
    auto write = [](StagedFile& file, bool inParts) {
        return inParts ? file.begin() && file.append("ne") && file.append("") && file.append("w") && file.finish()
                       : file.write("new");
    };
    for (bool inParts : {false, true})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.failing) + (inParts ? " in parts" : " whole"));
            TempTree tree;
            const std::string target = tree.write("index.js", "old");
            FailingFileSystem fileSystem;
            fileSystem.failing = c.failing;
            fileSystem.error = c.error;
            {
                StagedFile file(target, fileSystem);
                EXPECT_FALSE(write(file, inParts) && file.replaceTarget(c.keepOld));
                EXPECT_EQ(file.error(), std::strerror(c.error));
            }
            EXPECT_EQ(readFile(target), "old");
            EXPECT_EQ(folderEntries(tree.root()), std::vector<std::string>{"index.js"});
        }
    TempTree tree;
    const std::string target = tree.write("index.js", "old");
    StagedFile file(target);
    EXPECT_TRUE(write(file, true) && file.replaceTarget());
    EXPECT_EQ(readFile(target), "new");
}

// How a job keeps the old pair when the second file cannot replace its old one.
TEST(StagedFile, TheOldFileComesBackAfterReplacingWithOrWithoutHardLinks)
{
    for (int failing : {0, int(Link)}) {
        for (const std::string old : {"old", ""}) {
            TempTree tree;
            const std::string target = old.empty() ? tree.path("index.js") : tree.write("index.js", old);
            FailingFileSystem fileSystem;
            fileSystem.failing = failing;
            {
                StagedFile file(target, fileSystem);
                ASSERT_TRUE(file.write("new") && file.replaceTarget(true) && readFile(target) == "new");
                EXPECT_TRUE(file.restoreOld());
            }
            EXPECT_EQ(readFile(target), old) << failing;
            EXPECT_EQ(folderEntries(tree.root()).size(), old.empty() ? 0u : 1u) << failing;
        }
    }
}

TEST(StagedFile, NamesTakenOrLinkedBeforeNeverBlockTheWriteNorGetWrittenThrough)
{
    const struct {
        int plantLinks, plantFiles;
        bool targetIsLink;
    } cases[] = {{1, 0, false}, {0, 3, false}, {2, 2, false}, {0, 0, true}};
    for (const auto& c : cases) {
        TempTree tree;
        FailingFileSystem fileSystem;
        fileSystem.victim = tree.write("victim", "victim");
        fileSystem.plantLinks = c.plantLinks;
        fileSystem.plantFiles = c.plantFiles;
        const std::string target = tree.folder("out") + "/index.js";
        if (c.targetIsLink)
            ::symlink("../victim", target.c_str());
        StagedFile file(target, fileSystem);
        EXPECT_TRUE(file.write("new") && file.replaceTarget()) << file.error();
        EXPECT_EQ(readFile(target) + readFile(tree.path("victim")), "newvictim");
        EXPECT_EQ(folderEntries(tree.path("out")).size(), 1u + c.plantLinks + c.plantFiles);
    }
}

// Temporary names are drawn from a pool of random bytes and an id asked once: across
// refills of the pool they stay distinct, and a child process names its files by its own
// id (else the parent's next run would take them for its own, or a gone writer's).
TEST(StagedFile, TemporaryNamesAreDistinctAndCarryTheWritersProcess)
{
    struct RecordingFileSystem : FileSystem {
        std::vector<std::string> names;
        int createNew(int at, const std::string& name, mode_t mode) override
        {
            names.push_back(name);
            return FileSystem::createNew(at, name, mode);
        }
    };
    TempTree tree;
    auto writeAll = [&](RecordingFileSystem& files, int count) {
        for (int i = 0; i < count; ++i) {
            StagedFile file(tree.path("f" + std::to_string(i)), files);
            if (!file.write("x") || !file.replaceTarget())
                return false;
        }
        return true;
    };
    const std::string ownPrefix = ".vantrel-" + std::to_string(::getpid()) + "-";
    RecordingFileSystem files;
    ASSERT_TRUE(writeAll(files, 100));
    std::set<std::string> digits;
    for (const std::string& name : files.names) {
        const std::size_t at = name.find(ownPrefix);
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_TRUE(areUnpredictableDigits(name.substr(at + ownPrefix.size()))) << name;
        digits.insert(name.substr(at + ownPrefix.size()));
    }
    EXPECT_EQ(digits.size(), files.names.size());
    const pid_t child = ::fork();
    if (child == 0) {
        RecordingFileSystem childFiles;
        const bool ok = writeAll(childFiles, 1)
            && childFiles.names[0].find(".vantrel-" + std::to_string(::getpid()) + "-") != std::string::npos;
        ::_exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(StagedFile, StaleFilesAreOnlyOurOwnRegularFilesOfWritersThatAreGone)
{
    TempTree tree;
    const std::string gone = ".vantrel-99999999-0123456789abcdef", self = std::to_string(::getpid());
    const struct {
        std::string name;
        char kind;  // 'f' a file, 'l' a link, 'd' a folder, 'o' another user's file
        bool removed;
    } cases[] = {
        {".indexed_words.js" + gone, 'f', true},
        {".indexed_words.js.vantrel-1-0123456789abcdef", 'f', false},  // process 1 lives
        {".indexed_docs.js.vantrel-" + self + "-0123456789abcdef", 'f', false},
        {".indexed_docs.js" + gone, 'l', false},
        {".search.js" + gone, 'd', false},
        {".search.css" + gone, 'o', false},
        {"indexed_words.js" + gone, 'f', false},
        {".indexed_words.js" + gone + "0", 'f', false},
    };
    for (const auto& c : cases) {
        const std::string path = tree.path(c.name);
        if (c.kind == 'l')
            ::symlink("index.js", path.c_str());
        else if (c.kind == 'd')
            ::mkdir(path.c_str(), 0755);
        else
            tree.write(c.name, "x");
        if (c.kind == 'o' && ::chown(path.c_str(), 65534, 65534) != 0)
            ::unlink(path.c_str());  // only root may give a file away
    }
    StagedFile::removeStaleFiles(tree.root());
    for (const auto& c : cases) {
        struct stat info;
        if (c.kind != 'o' || ::getuid() == 0) {
            EXPECT_NE(::lstat(tree.path(c.name).c_str(), &info) == 0, c.removed) << c.name;
        }
    }
}

}  // namespace
