// A page file read whole into memory, up to its first NUL byte, whatever its size.

#include "PageText.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

PageText::PageText(PageText&& other) noexcept : m_data(other.m_data), m_length(other.m_length)
{
    other.m_data = nullptr;
    other.m_length = 0;
}

PageText& PageText::operator=(PageText&& other) noexcept
{
    if (this != &other) {
        release();
        m_data = other.m_data;
        m_length = other.m_length;
        other.m_data = nullptr;
        other.m_length = 0;
    }
    return *this;
}

PageText::~PageText() { release(); }

void PageText::release()
{
    std::free(m_data);
    m_data = nullptr;
    m_length = 0;
}

PageRead PageText::read(const std::string& path, FileSystem& fileSystem)
{
    release();
    if (path.empty())
        return PageRead::CannotOpen;
    // Should the path name a FIFO by now, opening it does not wait for a writer.
    FileHandle file(fileSystem, fileSystem.openForReading(AT_FDCWD, path, true));
    if (!file)
        return PageRead::CannotOpen;
    return read(file.fd(), fileSystem);
}

PageRead PageText::read(int fd, FileSystem& fileSystem)
{
    release();
    struct stat info;
    if (!fileSystem.statAt(fd, "", info, true) || !S_ISREG(info.st_mode))
        return PageRead::CannotOpen;
    // The size is only a first guess: a file that grows is still read to its end. The text
    // ends at the first NUL byte, so reading stops there: a large sparse file (all zero
    // bytes) costs one chunk, not its size in memory. Chunks keep the first allocation
    // modest whatever the size claims.
    const std::size_t chunk = std::size_t(64) << 20;
    std::size_t capacity = std::min(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 0), chunk) + 1;
    char* buffer = static_cast<char*>(std::malloc(capacity));
    std::size_t length = 0;
    bool failed = buffer == nullptr;
    bool nulRead = false;
    while (!failed && !nulRead) {
        if (length == capacity) {
            std::size_t grown = capacity + capacity / 2 + 4096;
            char* larger = grown > capacity ? static_cast<char*>(std::realloc(buffer, grown)) : nullptr;
            if (!larger) {
                failed = true;
                break;
            }
            buffer = larger;
            capacity = grown;
        }
        ssize_t got = fileSystem.readSome(fd, buffer + length, std::min(capacity - length, chunk));
        if (got > 0) {
            nulRead = std::memchr(buffer + length, '\0', static_cast<std::size_t>(got)) != nullptr;
            length += static_cast<std::size_t>(got);
        } else if (got == 0) {
            break;
        } else {
            failed = true;
        }
    }
    if (failed) {
        std::free(buffer);
        return PageRead::CannotRead;
    }
    const void* nul = std::memchr(buffer, '\0', length);
    m_data = buffer;
    m_length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : length;
    return PageRead::Read;
}
