// Nothing leaves the site: the walk and the page reads through the file-system seam, with
// links swapped in between a look and its use, calls that fail, files of other owners,
// the bytes a job may write, and the folders it may write into and remove from.

#include "CompanionData.h"
#include "FileSystem.h"
#include "IndexEngine.h"
#include "IndexJob.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>

namespace {

using Lines = std::vector<std::string>;
const std::string kSecret = "<title>Secret</title><p>swordfish</p>";

// The system's calls; before(call, at, name) runs first, so a test can swap or remove
// what is about to be used, and a call named in failing fails with error.
class RacingFileSystem : public FileSystem {
public:
    std::function<void(const std::string& call, int at, const std::string& name)> before;
    std::string failing, failingName;  // the call that fails, on this name only when given
    int error = EIO;

    int openFolder(int at, const std::string& name, bool followLink) override
    {
        return hook("openFolder", at, name) ? FileSystem::openFolder(at, name, followLink) : -1;
    }
    bool listFolder(int folder, std::vector<FolderEntry>& entries) override
    {
        return hook("listFolder", folder, "") && FileSystem::listFolder(folder, entries);
    }
    int openForReading(int at, const std::string& name, bool followLink) override
    {
        return hook("openForReading", at, name) ? FileSystem::openForReading(at, name, followLink) : -1;
    }
    ssize_t readSome(int fd, char* buffer, std::size_t size) override
    {
        return hook("readSome", fd, "") ? FileSystem::readSome(fd, buffer, size) : -1;
    }
    int createNew(int at, const std::string& name, mode_t mode) override
    {
        return hook("createNew", at, name) ? FileSystem::createNew(at, name, mode) : -1;
    }

private:
    bool hook(const std::string& call, int at, const std::string& name)
    {
        if (before)
            before(call, at, name);
        if (call != failing || (!failingName.empty() && name != failingName))
            return true;
        errno = error;
        return false;
    }
};

// Replaces name in the folder at with a symbolic link to target.
void swapForLink(int at, const std::string& name, const std::string& target)
{
    ::renameat(at, name.c_str(), at, (name + ".moved").c_str());
    ::symlinkat(target.c_str(), at, name.c_str());
}

// Every byte of every file below folder, for looking for what must not be there.
std::string everything(const std::string& folder)
{
    std::string all;
    for (const std::string& name : folderEntries(folder)) {
        const std::string path = folder + "/" + name;
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            all += everything(path);
        else
            all += readFile(path);
    }
    return all;
}

class Containment : public SiteJob {
protected:
    Containment()
    {
        secret = tree.write("secret/s.htm", kSecret);
        engine.companionData = true;
        engine.contentMode = ContentMode::AllContent;
        engine.fileSystem = &fileSystem;
    }
    bool leaked() { return everything(engine.destinationFolder).find("swordfish") != std::string::npos; }

    std::string secret;
    RacingFileSystem fileSystem;
};

TEST_F(Containment, LinksSwappedInBetweenALookAndItsUseLeadNowhere)
{
    const struct {
        const char* swapped;  // what becomes a link to the secret
        const char* call;     // just before this call on it
        Lines locations;      // the pages recorded
    } cases[] = {
        {"sub", "openFolder", {"a.htm", "b.htm", "in.htm"}},                   // a folder, after the listing
        {"b.htm", "openForReading", {"a.htm", "b.htm", "in.htm", "sub/c.htm"}},  // a page, after its stat
        {"in.htm", "openForReading", {"a.htm", "b.htm", "in.htm", "sub/c.htm"}},  // a link that led inside
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.swapped);
        TempTree site;
        engine.sourceFolder = site.folder("site");
        engine.destinationFolder = site.folder("out");  // nothing of the last case's index
        site.write("site/a.htm", "<title>A</title>");
        site.write("site/b.htm", "<title>B</title>");
        site.write("site/sub/c.htm", "<title>C</title>");
        ::symlink("a.htm", site.path("site/in.htm").c_str());
        std::atomic<bool> swapped{false};  // the hook runs on the page threads too
        fileSystem.before = [&](const std::string& call, int at, const std::string& name) {
            if (call == c.call && name == c.swapped && !swapped.exchange(true)) {
                swapForLink(at, name, name == std::string("sub") ? tree.path("secret") : secret);
            }
        };
        ASSERT_TRUE(engine.buildIndex());
        EXPECT_TRUE(swapped);
        EXPECT_EQ(locations(), c.locations);
        EXPECT_FALSE(leaked());
        EXPECT_EQ(engine.dictionary.find("SWORDFISH"), nullptr);
        EXPECT_EQ(engine.pagesOutside, 1u);
    }
}

TEST_F(Containment, AFolderOrPageThatCannotBeListedOpenedOrReadGivesTheDesignsLines)
{
    tree.write("site/a.htm", "<title>A</title>");
    tree.write("site/sub/b.htm", "<title>B</title>");
    const std::string a = tree.path("site/a.htm"), b = tree.path("site/sub/b.htm");
    const struct {
        const char* failing;
        const char* name;
        Lines lines;
    } cases[] = {
        {"listFolder", "", {"Creating index ..."}},
        {"openFolder", "sub", {"Parsing " + a + "...", "Done!", "Creating index ..."}},
        {"openForReading", "", {"Parsing " + a + "...", "Done!", "Parsing " + b + "...", "Done!", "Creating index ..."}},
        {"readSome", "",
         {"Cann't read file " + a + "!", "Parsing " + a + "...", "Cann't read file!", "Done!", "Cann't read file " + b + "!",
          "Parsing " + b + "...", "Cann't read file!", "Done!", "Creating index ..."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failing);
        fileSystem.failing = c.failing;
        fileSystem.failingName = c.name;
        log.lines.clear();
        ASSERT_TRUE(engine.buildIndex());
        EXPECT_EQ(log.lines, c.lines);
    }
}

TEST_F(Containment, APageTheSourceOwnerMayNotReadIsNotPublished)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give files away";
    const uid_t other = 65534;
    const struct {
        uid_t fileOwner;
        mode_t mode;
        bool published;
    } cases[] = {{0, 0600, false}, {0, 0604, true}, {other, 0600, true}, {other, 0060, false}, {0, 0640, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fileOwner) + " " + std::to_string(c.mode));
        TempTree site;
        engine.sourceFolder = site.folder("site");
        engine.destinationFolder = site.folder("out");  // nothing of the last case's index
        const std::string page = site.write("site/p.htm", kSecret);
        ASSERT_EQ(::chown(page.c_str(), c.fileOwner, 0), 0);
        ASSERT_EQ(::chmod(page.c_str(), c.mode), 0);
        ASSERT_EQ(::chown(engine.sourceFolder.c_str(), other, other), 0);
        ASSERT_TRUE(engine.buildIndex());
        EXPECT_EQ(locations(), Lines{"p.htm"});
        EXPECT_EQ(engine.dictionary.find("SWORDFISH") != nullptr, c.published);
        EXPECT_EQ(leaked(), c.published);
        EXPECT_EQ(engine.pagesOwnerMayNot, c.published ? 0u : 1u);
        const std::atomic<bool> stop{false};
        EXPECT_EQ(runIndexJob(settings(), log, stop).pagesOwnerMayNot, engine.pagesOwnerMayNot);  // for the summary
    }
}

TEST_F(Containment, ADeepTreeIsWalkedWholeWithFewFoldersOpen)
{
    // Each level holds "0next", the next level, and "1leaf", entered after all the levels
    // below: most levels' folders have been closed by then and are opened again.
    std::string level = "site";
    Lines expected;
    for (int depth = 0; depth < 150; ++depth) {
        tree.write(level + "/1leaf/p.htm", "<title>P</title>");
        expected.insert(expected.begin(), (depth ? level.substr(5) + "/" : "") + "1leaf/p.htm");
        level += "/0next";
    }
    tree.folder(level);
    std::atomic<int> opened{0};
    fileSystem.before = [&](const std::string& call, int, const std::string&) { opened += call == "openFolder"; };
    engine.companionData = false;
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(locations(), expected);
    EXPECT_LT(opened, 150 * 2 * 4);
}

TEST_F(Containment, AFileReachedManyTimesIsStoredOnceAndAPagesTextIsBoundedByItsBytes)
{
    const std::string big = "<title>Big</title><p>" + std::string(300000, '\x01') + " tail</p>";
    tree.write("site/big.htm", big);
    for (int i = 0; i < 40; ++i)
        ::symlink("big.htm", tree.path("site/link" + std::to_string(100 + i) + ".htm").c_str());
    ::link(tree.path("site/big.htm").c_str(), tree.path("site/hard.htm").c_str());
    ASSERT_TRUE(engine.buildIndex());
    ASSERT_EQ(engine.documents.size(), 42u);
    EXPECT_EQ(engine.textsCut, 1u);
    const std::string pages = readFile(tree.path("out/indexed_pages.js"));
    // Every document of the file shows the one text: the first of the first group.
    std::string places = "\"texts\":[0,0";
    for (int d = 1; d < 42; ++d)
        places += ",0,0";
    EXPECT_NE(pages.find(places + "]"), std::string::npos) << pages.substr(0, 400);
    // The text of the one file: at most twice its bytes, cut between escapes.
    std::string texts;
    for (const std::string& name : folderEntries(tree.path("out/indexed_text")))
        if (const std::string piece = readFile(tree.path("out/indexed_text/" + name)); piece.find("vantrelTexts(") != std::string::npos)
            texts += piece;
    EXPECT_LE(texts.size(), 2 * big.size() + 400);
    EXPECT_NE(texts.find("\\u0001\"") , std::string::npos);
    std::size_t written = 0;
    for (const std::string& name : folderEntries(tree.path("out")))
        written += readFile(tree.path("out/" + name)).size();
    EXPECT_LE(written + texts.size(), 3 * big.size() + (4u << 20));
}

TEST_F(Containment, LinksToOneLargePageOfManyWordsKeepTheIndexWithinBoundsWhileAFewRepeatsKeepTheirWords)
{
    std::string many = "<title>Many</title><p>";
    for (int i = 0; i < 20000; ++i)
        many += "w" + std::to_string(100000 + i) + " ";
    tree.write("site/a.htm", "<title>Small</title><p>shared words</p>");
    tree.write("site/b.htm", many);
    ::symlink("a.htm", tree.path("site/c-small.htm").c_str());
    for (int i = 0; i < 30; ++i)
        ::symlink("b.htm", tree.path("site/d" + std::to_string(100 + i) + ".htm").c_str());
    ASSERT_TRUE(engine.buildIndex());
    ASSERT_EQ(engine.documents.size(), 33u);
    const Lines& lines = log.lines;
    // Every document keeps its lines and title; the small repeat keeps its words, and the
    // large page's repeats stop adding theirs once they would outweigh the site.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Done!"), 33);
    EXPECT_EQ(engine.documents[32].title, "MANY");
    EXPECT_EQ(engine.documents[2].title, "SMALL");
    EXPECT_GT(engine.pagesWordsLeftOut, 20u);
    EXPECT_LT(engine.pagesWordsLeftOut, 30u);
    const std::string words = readFile(tree.path("out/indexed_words.js"));
    EXPECT_NE(words.find("[\"SHARED\",0,2]"), std::string::npos);
    EXPECT_LE(words.size(), 3 * many.size() + (1u << 20));
}

TEST_F(Containment, OnlyAFolderOfPageTextsOfTheProgramsOwnIsUsedAndOnlyMarkedFilesAreRemoved)
{
    const std::string mark = "/* generator: VantrelIndexer */\n";
    const std::string stamp = "indexed_text/0123456789abcdef/";
    tree.write("site/a.htm", "<title>A</title>");
    const struct {
        const char* name;
        std::function<void(TempTree&)> lay;
        std::string problem;  // why it is refused; "" when it is used
        Lines left;           // in the old stamp folder after a job
    } cases[] = {
        {"the site's own", [&](TempTree& t) { t.write("out/" + stamp + "1.js", "site's own"); },
         "VantrelIndexer did not make it", {"1.js"}},
        {"others may write",
         [&](TempTree& t) { t.write("out/indexed_text/.vantrelindexer", mark), ::chmod(t.path("out/indexed_text").c_str(), 0777); },
         "other users may write into it", {}},
        {"another user's",
         [&](TempTree& t) {
             t.write("out/indexed_text/.vantrelindexer", mark);
             const bool given = ::chown(t.path("out/indexed_text").c_str(), 65534, 65534) == 0;  // only root can
             EXPECT_EQ(given, ::geteuid() == 0);
         },
         ::geteuid() == 0 ? "it belongs to another user" : "", {}},
        {"an earlier version's", [&](TempTree& t) { t.write("out/" + stamp + "1.js", mark + "vantrelText(1,{})"); }, "", {}},
        {"ours, with a file of the site's in it",
         [&](TempTree& t) { t.write("out/indexed_text/.vantrelindexer", mark), t.write("out/" + stamp + "2.js", "own"); },
         "", {"2.js"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree out;
        engine.destinationFolder = out.folder("out");
        ::mkdir(out.path("out/indexed_text").c_str(), 0755);
        c.lay(out);
        const std::string before = everything(out.path("out/indexed_text"));
        JobSettings settings = this->settings();
        EXPECT_EQ(foreignFolders(settings), c.problem.empty() ? Lines{} : Lines{engine.destinationFolder + "/indexed_text: " + c.problem});
        std::atomic<bool> stop{false};
        EXPECT_EQ(runIndexJob(settings, log, stop).result, c.problem.empty() ? JobResult::Complete : JobResult::Refused);
        if (!c.problem.empty()) {
            EXPECT_EQ(everything(out.path("out/indexed_text")), before);
            EXPECT_EQ(folderEntries(out.path("out")), Lines{"indexed_text"});
        } else {
            EXPECT_EQ(folderEntries(out.path("out/" + stamp)), c.left);
            EXPECT_EQ(readFile(out.path("out/indexed_text/.vantrelindexer")), mark);
        }
    }
}

TEST_F(Containment, PlainWritesNoCompanionDataAndSoMindsNoFileOfThatName)
{
    tree.write("site/a.htm", "<title>A</title>");
    tree.write("out/indexed_pages.js", "the site's own");
    tree.write("out/indexed_text/x", "the site's own");
    tree.write("out/indexed_terms.js", "the site's own");
    JobSettings settings = this->settings();
    // The whole word index is written, and so minded, only when asked for.
    EXPECT_EQ(foreignFiles(settings), Lines{tree.path("out/indexed_pages.js")});
    settings.wholeWordIndex = true;
    EXPECT_EQ(foreignFiles(settings), (Lines{tree.path("out/indexed_pages.js"), tree.path("out/indexed_terms.js")}));
    settings.companionData = false;
    EXPECT_TRUE(foreignFiles(settings).empty() && foreignFolders(settings).empty());
    std::atomic<bool> stop{false};
    EXPECT_EQ(runIndexJob(settings, log, stop).result, JobResult::Complete);
    EXPECT_EQ(readFile(tree.path("out/indexed_pages.js")) + readFile(tree.path("out/indexed_text/x"))
                  + readFile(tree.path("out/indexed_terms.js")),
              "the site's ownthe site's ownthe site's own");
}

TEST(PrintableText, ControlsReorderingAndBrokenBytesAreEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain/caf\xc3\xa9 \xe4\xb8\xad.htm", "plain/caf\xc3\xa9 \xe4\xb8\xad.htm"},
        {"a\x1b[31m\n\t\x7f", "a\\x1B[31m\\x0A\\x09\\x7F"},
        {"\x9b" "2J \xc2\x9b" "2J", "\\x9B2J \\u{009B}2J"},
        {"\xe2\x80\xae" "gpj.htm \xd8\x9c \xe2\x80\x8e\xe2\x80\x8f \xe2\x81\xa6\xe2\x81\xa9 \xe2\x80\xa8",
         "\\u{202E}gpj.htm \\u{061C} \\u{200E}\\u{200F} \\u{2066}\\u{2069} \\u{2028}"},
        {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x80", "\\xC0\\xAF \\xED\\xA0\\x80 \\xF4\\x90\\x80\\x80 \\xE2\\x80"},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(printableText(text), shown) << text;
}

}  // namespace
