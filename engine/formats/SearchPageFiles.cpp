// The search page's own files: where the program finds them, the mark that tells them
// from a site's files of the same names, and their copy into the destination.

#include "SearchPageFiles.h"

#include "FileSystem.h"
#include "StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The marks, as the search page's files carry them; see carriesProgramMark().
const char* const kPageMark = "<meta name=\"generator\" content=\"VantrelIndexer";
const char* const kScriptMark = "/* generator: VantrelIndexer";
constexpr std::size_t kMarkWindow = 1024;

// Whether path (its last name not followed if a link) is a regular file of the running
// user, which only that user may write, holding exactly content.
bool holdsAlready(const std::string& path, const std::string& content)
{
    FileSystem& files = FileSystem::real();
    FileHandle file(files, files.openForReading(AT_FDCWD, path, false));
    struct stat info;
    if (!file || !files.statAt(file.fd(), "", info, false) || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & 0222) != S_IWUSR || info.st_nlink != 1 || static_cast<std::size_t>(info.st_size) != content.size())
        return false;
    std::string bytes(content.size(), '\0');
    return files.readFully(file.fd(), bytes.data(), bytes.size(), 0) && bytes == content;
}

}  // namespace

std::string programFolder()
{
    std::vector<char> path(PATH_MAX + 1);
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        return {};
    std::string program(path.data(), static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

std::string programResourcePath(const std::string& folder, const std::string& relativePath)
{
    std::string beside = folder + relativePath;
    struct stat info;
    if (::stat(beside.c_str(), &info) == 0)
        return beside;
    const std::string bin = "bin/";
    if (folder.size() >= bin.size() && folder.compare(folder.size() - bin.size(), bin.size(), bin) == 0) {
        std::string installed =
            folder.substr(0, folder.size() - bin.size()) + "share/vantrelindexer/" + relativePath;
        if (::stat(installed.c_str(), &info) == 0)
            return installed;
    }
    return beside;
}

const std::vector<std::string>& searchPageFileNames()
{
    static const std::vector<std::string> names = {"search.html", "search.js", "search_top.html", "search.css"};
    return names;
}

bool carriesProgramMark(const std::string& path)
{
    return carriesProgramMark(FileSystem::real(), AT_FDCWD, path);
}

bool carriesProgramMark(FileSystem& fileSystem, int folder, const std::string& name)
{
    std::string head;
    if (!readRegularFile(fileSystem, folder, name, kMarkWindow, head))
        return false;
    return head.find(kPageMark) != std::string::npos || head.compare(0, std::strlen(kScriptMark), kScriptMark) == 0;
}

bool copySearchPageFiles(const std::string& folder, const std::string& destinationFolder,
                         std::vector<OutputFailure>* failures)
{
    if (destinationFolder.empty())
        return false;
    bool allCopied = true;
    for (const std::string& name : searchPageFileNames()) {
        const std::string source = programResourcePath(folder, "js/" + name);
        StagedFile target(destinationFolder + "/" + name);
        std::string content;
        OutputFailure failure;
        if (!readRegularFile(FileSystem::real(), AT_FDCWD, source, std::string::npos, content))
            failure = {target.target(), "the program's copy " + source + " cannot be read: " + std::strerror(errno)};
        else if (holdsAlready(target.target(), content))
            continue;
        else if (!target.write(content) || !target.replaceTarget())
            failure = {target.target(), target.error()};
        else
            continue;
        allCopied = false;
        if (failures)
            failures->push_back(std::move(failure));
    }
    return allCopied;
}
