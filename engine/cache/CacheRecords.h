#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// The byte layout of the cache's files: numbers in the machine's own order (the cache
// never leaves the machine that wrote it), texts and arrays led by their length. A
// reader never trusts a length: every read is checked against what is left, and a
// record that runs short or long marks the whole reader as failed.

// A 64-bit checksum of bytes, eight at a time: it tells a damaged or cut file from a
// whole one. Not a defence against someone who may write the cache (nobody but its
// owner may).
std::uint64_t cacheChecksum(std::string_view bytes, std::uint64_t seed = 0);

class RecordWriter {
public:
    explicit RecordWriter(std::string& out) : m_out(out) {}

    template <typename Number>
    void number(Number value)
    {
        m_out.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void text(std::string_view value)
    {
        number<std::uint64_t>(value.size());
        m_out.append(value.data(), value.size());
    }
    template <typename Number>
    void array(const std::vector<Number>& values)
    {
        number<std::uint64_t>(values.size());
        m_out.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(Number));
    }

private:
    std::string& m_out;
};

class RecordReader {
public:
    explicit RecordReader(std::string_view bytes) : m_bytes(bytes) {}

    template <typename Number>
    Number number()
    {
        Number value{};
        if (take(sizeof value))
            std::memcpy(&value, m_bytes.data() + m_at - sizeof value, sizeof value);
        return value;
    }
    std::string_view text()
    {
        const auto size = number<std::uint64_t>();
        if (!take(size))
            return {};
        return m_bytes.substr(m_at - size, size);
    }
    template <typename Number>
    void array(std::vector<Number>& values)
    {
        const auto count = number<std::uint64_t>();
        if (count > left() / sizeof(Number) || !take(count * sizeof(Number))) {
            m_failed = true;
            values.clear();
            return;
        }
        values.resize(count);
        std::memcpy(values.data(), m_bytes.data() + m_at - count * sizeof(Number), count * sizeof(Number));
    }
    // A count of records that each take at least recordBytes: larger than what is left
    // can hold fails the reader, so no count makes it reserve more than the file.
    std::uint64_t count(std::size_t recordBytes)
    {
        const auto value = number<std::uint64_t>();
        if (recordBytes && value > left() / recordBytes)
            m_failed = true;
        return m_failed ? 0 : value;
    }

    bool failed() const { return m_failed; }
    bool atEnd() const { return m_at == m_bytes.size(); }
    std::size_t left() const { return m_bytes.size() - m_at; }
    void fail() { m_failed = true; }

private:
    bool take(std::uint64_t size)
    {
        if (m_failed || size > left()) {
            m_failed = true;
            return false;
        }
        m_at += size;
        return true;
    }

    std::string_view m_bytes;
    std::size_t m_at = 0;
    bool m_failed = false;
};
