// The staged writer every output file goes through: a temporary file created exclusively
// beside its target, written, flushed and renamed into place, behind a seam tests can fail.

#include "StagedFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Temporary names: "." + target name + ".vantrel-" + process id + "-" + 16 random hex
// digits. The process id tells a later run whether the writer is still alive.
const char* const kMarker = ".vantrel-";

// The process id of a temporary name of ours, or 0 when name is not one.
pid_t writerOf(const std::string& name)
{
    if (name.size() < 2 || name[0] != '.')
        return 0;
    std::size_t at = name.rfind(kMarker);
    if (at == std::string::npos || at < 2)
        return 0;
    std::size_t digitsAt = at + std::strlen(kMarker);
    std::size_t dash = name.find('-', digitsAt);
    if (dash == std::string::npos || dash == digitsAt || !areUnpredictableDigits(std::string_view(name).substr(dash + 1)))
        return 0;
    long pid = 0;
    for (std::size_t i = digitsAt; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9' || pid > 99999999)
            return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return static_cast<pid_t>(pid);
}
}  // namespace

bool areUnpredictableDigits(std::string_view text)
{
    if (text.size() != kUnpredictableDigits)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::string unpredictableDigits()
{
    unsigned char bytes[kUnpredictableDigits / 2] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy source: the exclusive create still refuses any name taken.
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(std::rand());
    }
    static const char hex[] = "0123456789abcdef";
    std::string digits;
    for (unsigned char b : bytes) {
        digits += hex[b >> 4];
        digits += hex[b & 15];
    }
    return digits;
}

StagingFileSystem& StagingFileSystem::real()
{
    static StagingFileSystem fileSystem;
    return fileSystem;
}

int StagingFileSystem::createNew(const std::string& path)
{
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

bool StagingFileSystem::writeAll(int fd, std::string_view data)
{
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(fd, p, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool StagingFileSystem::syncAndClose(int fd)
{
    bool synced = ::fsync(fd) == 0;
    int error = errno;
    bool closed = ::close(fd) == 0;
    if (!synced)
        errno = error;
    return synced && closed;
}

bool StagingFileSystem::rename(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool StagingFileSystem::link(const std::string& from, const std::string& to)
{
    return ::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0;
}

void StagingFileSystem::remove(const std::string& path)
{
    ::unlink(path.c_str());
}

StagedFile::StagedFile(std::string target, StagingFileSystem& fileSystem)
    : m_target(std::move(target)), m_fileSystem(fileSystem)
{
}

StagedFile::~StagedFile()
{
    if (!m_temporary.empty())
        m_fileSystem.remove(m_temporary);
    if (!m_kept.empty())
        m_fileSystem.remove(m_kept);
}

bool StagedFile::fail(int error)
{
    m_error = std::strerror(error);
    return false;
}

std::string StagedFile::temporaryName() const
{
    std::size_t slash = m_target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : m_target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    return folder + "." + name + kMarker + std::to_string(::getpid()) + "-" + unpredictableDigits();
}

bool StagedFile::write(std::string_view text)
{
    struct stat info;
    if (::lstat(m_target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return fail(EISDIR);
        // In a folder with the sticky bit only the owner of an entry (or of the folder)
        // may replace it; the old file's second name would be just as stuck.
        const std::size_t slash = m_target.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
        struct stat folderInfo;
        const uid_t me = ::geteuid();
        if (me != 0 && ::stat(folder.c_str(), &folderInfo) == 0 && (folderInfo.st_mode & S_ISVTX)
            && info.st_uid != me && folderInfo.st_uid != me)
            return fail(EPERM);
        // A link is replaced, not written through; but a link to a file that may not be
        // written stands for that file.
        if (::stat(m_target.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)
            && (::access(m_target.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0))
            return fail(EACCES);
    }
    int fd = -1;
    std::string temporary;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = temporaryName();
        fd = m_fileSystem.createNew(temporary);
        if (fd < 0 && errno != EEXIST)
            return fail(errno);
    }
    if (fd < 0)
        return fail(EEXIST);
    m_temporary = temporary;
    if (!m_fileSystem.writeAll(fd, text)) {
        int error = errno;
        ::close(fd);
        return fail(error);
    }
    if (!m_fileSystem.syncAndClose(fd))
        return fail(errno);
    return true;
}

bool StagedFile::replaceTarget(bool keepOld)
{
    if (m_temporary.empty())
        return fail(EINVAL);
    bool movedAside = false;
    if (keepOld) {
        std::string kept = temporaryName();
        if (m_fileSystem.link(m_target, kept)) {
            m_kept = kept;
            m_hadOld = true;
        } else if (errno == ENOENT) {
            m_hadOld = false;
        } else if (m_fileSystem.rename(m_target, kept)) {
            // A file system without hard links: the old file steps aside for a moment.
            m_kept = kept;
            m_hadOld = true;
            movedAside = true;
        } else {
            return fail(errno);
        }
    }
    if (!m_fileSystem.rename(m_temporary, m_target)) {
        int error = errno;
        if (movedAside && m_fileSystem.rename(m_kept, m_target))
            m_kept.clear();
        return fail(error);
    }
    m_temporary.clear();
    m_replaced = true;
    return true;
}

bool StagedFile::restoreOld()
{
    if (!m_replaced)
        return true;
    if (!m_hadOld) {
        m_fileSystem.remove(m_target);
        m_replaced = false;
        return true;
    }
    if (!m_fileSystem.rename(m_kept, m_target))
        return fail(errno);
    m_kept.clear();
    m_replaced = false;
    return true;
}

void StagedFile::removeStaleFiles(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const uid_t me = ::geteuid();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        pid_t writer = writerOf(name);
        if (writer <= 0 || writer == ::getpid())
            continue;
        if (::kill(writer, 0) == 0 || errno != ESRCH)
            continue;  // the writer may still be at work
        const std::string path = folder + "/" + name;
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == me)
            ::unlink(path.c_str());
    }
    ::closedir(dir);
}
