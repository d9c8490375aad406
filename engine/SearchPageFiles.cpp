#include "SearchPageFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

namespace {
// Copies through a temporary file renamed into place, so a failed copy never leaves a
// truncated page behind.
bool copyFile(const std::string& source, const std::string& target)
{
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return false;
    struct stat info;
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    std::string temporary = target + ".tmp-" + std::to_string(::getpid());
    int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno != EINTR)
                ok = false;
            else if (put > 0)
                done += put;
        }
        if (!ok)
            break;
    }
    ::close(in);
    ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}
}  // namespace

void copySearchPageFiles(const std::string& folder, const std::string& destinationFolder)
{
    if (destinationFolder.empty())
        return;
    for (const char* name : {"search.html", "search.js", "search_top.html", "search.css"})
        copyFile(programResourcePath(folder, std::string("js/") + name), destinationFolder + "/" + name);
}
