#pragma once

#include "FileSystem.h"

#include <cstddef>
#include <string>
#include <string_view>

// How reading a page file went.
enum class PageRead {
    Read,        // the text is there
    CannotOpen,  // missing, not a regular file, or no permission: reported by nobody
    CannotRead,  // opened, but the read or the buffer failed: "Cann't read file" lines
};

// The text of one page file: its bytes up to the first NUL byte. Owns its buffer.
class PageText {
public:
    PageText() = default;
    PageText(const PageText&) = delete;
    PageText& operator=(const PageText&) = delete;
    PageText(PageText&& other) noexcept;
    PageText& operator=(PageText&& other) noexcept;
    ~PageText();

    // Reads the whole file, to its end whatever its size. Never throws.
    PageRead read(const std::string& path, FileSystem& fileSystem = FileSystem::real());
    // The same from a file already opened for reading; fd stays open.
    PageRead read(int fd, FileSystem& fileSystem = FileSystem::real());

    std::string_view text() const { return std::string_view(m_data, m_length); }
    char* data() { return m_data; }
    std::size_t length() const { return m_length; }

private:
    void release();

    char* m_data = nullptr;
    std::size_t m_length = 0;
};
