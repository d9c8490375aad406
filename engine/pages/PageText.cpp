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

PageRead PageText::read(const std::string& path)
{
    release();
    if (path.empty())
        return PageRead::CannotOpen;
    // O_NONBLOCK: should the path name a FIFO by now, opening it must not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return PageRead::CannotOpen;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return PageRead::CannotOpen;
    }
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
        ssize_t got = ::read(fd, buffer + length, std::min(capacity - length, chunk));
        if (got > 0) {
            nulRead = std::memchr(buffer + length, '\0', static_cast<std::size_t>(got)) != nullptr;
            length += static_cast<std::size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            failed = true;
        }
    }
    ::close(fd);
    if (failed) {
        std::free(buffer);
        return PageRead::CannotRead;
    }
    const void* nul = std::memchr(buffer, '\0', length);
    m_data = buffer;
    m_length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : length;
    return PageRead::Read;
}
