#pragma once

#include "FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The byte layout of the cache's files: numbers in the machine's own order (the cache
// never leaves the machine that wrote it), texts and arrays led by their length. A
// reader never trusts a length: every read is checked against what is left, and a
// record that runs short or long marks the whole reader as failed. A reader of a file
// and every writer keep a checksum of the bytes they pass (XXH3, 64 bits, from libxxhash):
// it tells a damaged or cut file from a whole one, not a forged one (nobody but the
// cache's owner may write it). Bytes read from memory were checked as a whole before.

class CacheChecksum {
public:
    CacheChecksum();
    ~CacheChecksum();
    CacheChecksum(const CacheChecksum&) = delete;
    CacheChecksum& operator=(const CacheChecksum&) = delete;

    void add(std::string_view bytes);
    std::uint64_t value() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Asks the system to back the pages of a large buffer that is about to be filled with
// huge pages where it may, so that filling it faults once per 2 MiB rather than once per
// 4 KiB; small buffers, and a system that will not, are left as they are.
void adviseLargeBuffer(const void* data, std::size_t bytes);

// The checksum of bytes at once.
std::uint64_t cacheChecksum(std::string_view bytes);

// Writes records into a string, or through a file descriptor in large writes (arrays
// straight from their memory).
class RecordWriter {
public:
    // Bytes buffered before a write through a file descriptor.
    static constexpr std::size_t kBufferBytes = 1 << 20;

    explicit RecordWriter(std::string& out) : m_out(out), m_start(out.size()) {}
    RecordWriter(FileSystem& fileSystem, int fd)
        : m_out(m_buffer), m_fileSystem(&fileSystem), m_fd(fd), m_checksum(std::make_unique<CacheChecksum>())
    {
    }

    template <typename Number>
    void number(Number value)
    {
        put(std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
    }
    // A number in 7-bit groups, low first: small counts take a byte.
    void varint(std::uint64_t value)
    {
        char bytes[10];
        std::size_t n = 0;
        for (; value >= 0x80; value >>= 7)
            bytes[n++] = static_cast<char>((value & 0x7F) | 0x80);
        bytes[n++] = static_cast<char>(value);
        put(std::string_view(bytes, n));
    }
    void text(std::string_view value)
    {
        varint(value.size());
        put(value);
    }
    template <typename Number>
    void array(const std::vector<Number>& values)
    {
        number<std::uint64_t>(values.size());
        put(std::string_view(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(Number)));
    }

    // Of everything written so far: into a string it is taken at once when asked for (most
    // strings are page bodies, whose checksum nobody asks for).
    std::uint64_t checksum();
    // Writes what is buffered; false when a write failed (then or before).
    bool flush();

private:
    // Records are a few bytes each: they go into the string or the buffer here, the rest
    // (a buffer full, a large array) through putAside.
    void put(std::string_view bytes)
    {
        // Through a file descriptor m_out is the buffer.
        if (!m_fileSystem || m_buffer.size() + bytes.size() <= kBufferBytes) {
            m_out.append(bytes.data(), bytes.size());
            return;
        }
        putAside(bytes);
    }
    void putAside(std::string_view bytes);
    // Adds the buffered bytes not yet in the checksum: the checksum is taken over the
    // buffer as a whole, not record by record (a call for each field cost more than the rest).
    void sumBuffered();

    std::string m_buffer;
    std::size_t m_summed = 0;  // of m_buffer, in the checksum
    std::string& m_out;
    FileSystem* m_fileSystem = nullptr;
    int m_fd = -1;
    bool m_failed = false;
    std::size_t m_start = 0;                     // of this writer's bytes in a string
    std::unique_ptr<CacheChecksum> m_checksum;  // through a file descriptor
};

// Reads records from bytes in memory, or from a file descriptor of a known size (arrays
// straight into their memory).
class RecordReader {
public:
    explicit RecordReader(std::string_view bytes) : m_bytes(bytes), m_left(bytes.size()) {}
    RecordReader(FileSystem& fileSystem, int fd, std::uint64_t size)
        : m_fileSystem(&fileSystem), m_fd(fd), m_left(size)
    {
    }

    template <typename Number>
    Number number()
    {
        Number value{};
        take(reinterpret_cast<char*>(&value), sizeof value);
        return value;
    }
    std::uint64_t varint()
    {
        std::uint64_t value = 0;
        for (unsigned shift = 0; shift < 64 && !m_failed; shift += 7) {
            const auto byte = number<std::uint8_t>();
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return value;
        }
        m_failed = true;
        return 0;
    }
    std::string text()
    {
        const auto size = varint();
        std::string value;
        if (size > m_left) {
            m_failed = true;
            return value;
        }
        value.resize(size);
        take(value.data(), size);
        return value;
    }
    // A text read from memory, as a view of the bytes read (no copy); from a file it
    // fails the reader.
    std::string_view textView()
    {
        const auto size = varint();
        if (m_fileSystem || size > m_left) {
            m_failed = true;
            return {};
        }
        const std::string_view value = m_bytes.substr(0, size);
        m_bytes.remove_prefix(size);
        m_left -= size;
        return value;
    }
    template <typename Number>
    void array(std::vector<Number>& values)
    {
        const auto count = number<std::uint64_t>();
        if (count > m_left / sizeof(Number)) {
            m_failed = true;
            values.clear();
            return;
        }
        values.reserve(count);
        adviseLargeBuffer(values.data(), count * sizeof(Number));
        values.resize(count);
        take(reinterpret_cast<char*>(values.data()), count * sizeof(Number));
    }
    // A count of records that each take at least recordBytes: one larger than what is
    // left can hold fails the reader, so no count makes it reserve more than the file.
    std::uint64_t count(std::size_t recordBytes)
    {
        const auto value = number<std::uint64_t>();
        if (recordBytes && value > m_left / recordBytes)
            m_failed = true;
        return m_failed ? 0 : value;
    }

    bool failed() const { return m_failed; }
    std::uint64_t left() const { return m_left; }
    bool atEnd() const { return m_left == 0; }
    void fail() { m_failed = true; }
    // Of the bytes taken so far.
    std::uint64_t checksum()
    {
        sumTaken();
        return m_checksum.value();
    }

private:
    void take(char* to, std::uint64_t size)
    {
        // From memory, the common case, at once; the rest through takeFromFile.
        if (!m_fileSystem && !m_failed && size <= m_left && size > 0) {
            std::memcpy(to, m_bytes.data(), size);
            m_bytes.remove_prefix(size);
            m_left -= size;
            return;
        }
        takeFromFile(to, size);
    }
    void takeFromFile(char* to, std::uint64_t size);
    // Adds the bytes taken from the buffer and not yet in the checksum: it is taken over
    // the buffer in large parts, not record by record.
    void sumTaken();

    std::string_view m_bytes;  // in memory: what is left
    FileSystem* m_fileSystem = nullptr;
    int m_fd = -1;
    std::string m_buffer;      // from a file: read ahead
    std::size_t m_bufferAt = 0;
    std::size_t m_summedAt = 0;  // of m_buffer, in the checksum
    std::uint64_t m_left = 0;
    bool m_failed = false;
    CacheChecksum m_checksum;
};
