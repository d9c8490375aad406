// The engine's one way to the file system: the operating system's calls relative to open
// folder descriptors, behind virtual functions that tests override to fail, swap or race.

#include "FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <unistd.h>

FileSystem& FileSystem::real()
{
    static FileSystem fileSystem;
    return fileSystem;
}

int FileSystem::openFolder(int at, const std::string& name, bool followLink)
{
    return ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
}

bool FileSystem::listFolder(int folder, std::vector<FolderEntry>& entries)
{
    entries.clear();
    // The listing gets a descriptor of its own, read from the start, so the caller's keeps
    // its place and stays open.
    int own = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0)
        return false;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return false;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            entries.push_back(FolderEntry{entry->d_name, entry->d_type});
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return error == 0;
}

bool FileSystem::statAt(int at, const std::string& name, struct stat& info, bool followLink)
{
    const int flags = (followLink ? 0 : AT_SYMLINK_NOFOLLOW) | (name.empty() ? AT_EMPTY_PATH : 0);
    return ::fstatat(at, name.c_str(), &info, flags) == 0;
}

std::string FileSystem::realPathAt(int at, const std::string& name)
{
    // O_PATH reaches the file without opening it for reading: a FIFO does not block.
    int fd = name.empty() ? at : ::openat(at, name.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return {};
    char real[PATH_MAX + 1];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), real, PATH_MAX);
    const int error = errno;
    if (fd != at)
        ::close(fd);
    errno = error;
    // A path the system shows with " (deleted)" or in brackets names no place here.
    if (length <= 0 || real[0] != '/')
        return {};
    return std::string(real, static_cast<std::size_t>(length));
}

bool FileSystem::mayWrite(int at, const std::string& name)
{
    return ::faccessat(at, name.c_str(), W_OK, AT_EACCESS) == 0;
}

bool FileSystem::makeFolder(int at, const std::string& name, mode_t mode)
{
    return ::mkdirat(at, name.c_str(), mode) == 0;
}

int FileSystem::openForReading(int at, const std::string& name, bool followLink)
{
    return ::openat(at, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW));
}

ssize_t FileSystem::readSome(int fd, char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

ssize_t FileSystem::readAt(int fd, char* buffer, std::size_t size, off_t offset)
{
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, size, offset);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool FileSystem::readFully(int fd, char* buffer, std::size_t size, off_t offset)
{
    for (std::size_t done = 0; done < size;) {
        const ssize_t got = readAt(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

const void* FileSystem::mapForReading(int fd, std::size_t size)
{
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    return address == MAP_FAILED ? nullptr : address;
}

int FileSystem::createNew(int at, const std::string& name, mode_t mode)
{
    return ::openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

int FileSystem::createUnnamed(int at, mode_t mode)
{
#ifdef O_TMPFILE
    return ::openat(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
#else
    (void)at;
    (void)mode;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

bool FileSystem::nameUnnamed(int fd, int toAt, const std::string& to)
{
    // Through the process's own entry for the descriptor: a link made from the descriptor
    // alone (AT_EMPTY_PATH) is kept for privileged processes. The new name is never
    // followed: any entry there, a link included, fails the call.
    const std::string own = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, own.c_str(), toAt, to.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool FileSystem::writeAll(int fd, std::string_view data)
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

void FileSystem::startWriteBack(int fd, off_t offset, std::size_t length)
{
    ::sync_file_range(fd, offset, static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

bool FileSystem::closeWritten(int fd)
{
    return ::close(fd) == 0;
}

bool FileSystem::syncFileSystem(int folder)
{
    return ::syncfs(folder) == 0;
}

bool FileSystem::syncAndClose(int fd)
{
    bool synced = ::fsync(fd) == 0;
    int error = errno;
    bool closed = ::close(fd) == 0;
    if (!synced)
        errno = error;
    return synced && closed;
}

bool FileSystem::rename(int fromAt, const std::string& from, int toAt, const std::string& to)
{
    return ::renameat(fromAt, from.c_str(), toAt, to.c_str()) == 0;
}

bool FileSystem::renameNoReplace(int fromAt, const std::string& from, int toAt, const std::string& to)
{
    if (::renameat2(fromAt, from.c_str(), toAt, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a second name is never made over an entry.
    if (::linkat(fromAt, from.c_str(), toAt, to.c_str(), 0) != 0)
        return false;
    ::unlinkat(fromAt, from.c_str(), 0);
    return true;
}

bool FileSystem::link(int fromAt, const std::string& from, int toAt, const std::string& to)
{
    return ::linkat(fromAt, from.c_str(), toAt, to.c_str(), 0) == 0;
}

bool FileSystem::remove(int at, const std::string& name, bool folder)
{
    return ::unlinkat(at, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0;
}

void FileSystem::close(int fd)
{
    ::close(fd);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fileSystem = other.m_fileSystem;
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void FileHandle::reset()
{
    if (m_fd >= 0 && m_fileSystem)
        m_fileSystem->close(m_fd);
    m_fd = -1;
}

int FileHandle::release()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

std::string folderOfPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOfPath(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

void removeFiles(FileSystem& fileSystem, int at, const std::vector<std::string>& names, unsigned threads)
{
    auto removeEvery = [&fileSystem, at, &names](std::size_t first, std::size_t step) {
        for (std::size_t i = first; i < names.size(); i += step)
            fileSystem.remove(at, names[i]);
    };
    // A thread for every eight files at least, so that a few are removed on this one.
    const std::size_t step = std::max<std::size_t>(1, std::min<std::size_t>(threads, names.size() / 8));
    std::vector<std::thread> helpers;
    std::size_t first = 1;
    for (; first < step; ++first) {
        try {
            helpers.emplace_back(removeEvery, first, step);
        } catch (const std::system_error&) {
            break;
        }
    }
    removeEvery(0, step);
    for (; first < step; ++first)
        removeEvery(first, step);  // those no thread could be started for
    for (std::thread& helper : helpers)
        helper.join();
}

bool liesWithin(const std::string& real, const std::string& root)
{
    if (real.empty() || root.empty())
        return false;
    if (root == "/")
        return real[0] == '/';
    return real.compare(0, root.size(), root) == 0 && (real.size() == root.size() || real[root.size()] == '/');
}

bool readRegularFile(FileSystem& fileSystem, int at, const std::string& name, std::size_t limit,
                     std::string& content, bool followLink)
{
    FileHandle file(fileSystem, fileSystem.openForReading(at, name, followLink));
    if (!file)
        return false;
    struct stat info;
    if (!fileSystem.statAt(file.fd(), "", info, true))
        return false;
    if (!S_ISREG(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    content.clear();
    char buffer[65536];
    while (content.size() < limit) {
        const ssize_t got = fileSystem.readSome(file.fd(), buffer, std::min(sizeof buffer, limit - content.size()));
        if (got == 0)
            break;
        if (got < 0)
            return false;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}
