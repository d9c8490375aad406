// The search page's own files: where the program finds them, the mark that tells them
// from a site's files of the same names, and their copy into the destination.

#include "SearchPageFiles.h"

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

// Reads up to limit bytes of a regular file; false (errno set) when it cannot.
bool readRegularFile(const std::string& path, std::size_t limit, std::string& content)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    content.clear();
    char buffer[65536];
    while (content.size() < limit) {
        ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, limit - content.size()));
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            errno = error;
            return false;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
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
    std::string head;
    if (!readRegularFile(path, kMarkWindow, head))
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
        if (!readRegularFile(source, std::string::npos, content))
            failure = {target.target(), "the program's copy " + source + " cannot be read: " + std::strerror(errno)};
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
