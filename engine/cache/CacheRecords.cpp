// Records of the cache's files, written and read through a buffer or in memory, with
// their checksum.

#include "CacheRecords.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <xxhash.h>

namespace {
constexpr std::size_t kBufferBytes = RecordWriter::kBufferBytes;
}  // namespace

struct CacheChecksum::State {
    State() : hash(XXH3_createState())
    {
        if (!hash)
            throw std::bad_alloc();
        XXH3_64bits_reset(hash);
    }
    ~State() { XXH3_freeState(hash); }
    XXH3_state_t* hash;
};

CacheChecksum::CacheChecksum() : m_state(std::make_unique<State>()) {}

CacheChecksum::~CacheChecksum() = default;

void CacheChecksum::add(std::string_view bytes)
{
    XXH3_64bits_update(m_state->hash, bytes.data(), bytes.size());
}

std::uint64_t CacheChecksum::value() const
{
    return XXH3_64bits_digest(m_state->hash);
}

void adviseLargeBuffer(const void* data, std::size_t bytes)
{
    constexpr std::uintptr_t kHugePage = 2 << 20;
    if (bytes < 2 * kHugePage)
        return;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > start)
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

std::uint64_t cacheChecksum(std::string_view bytes)
{
    return XXH3_64bits(bytes.data(), bytes.size());
}

std::uint64_t RecordWriter::checksum()
{
    if (m_checksum) {
        sumBuffered();
        return m_checksum->value();
    }
    return cacheChecksum(std::string_view(m_out).substr(m_start));
}

void RecordWriter::putAside(std::string_view bytes)
{
    // Large arrays go out from their own memory, after what waits before them.
    const bool flushed = flush();
    m_checksum->add(bytes);
    if (flushed && !m_fileSystem->writeAll(m_fd, bytes))
        m_failed = true;
}

void RecordWriter::sumBuffered()
{
    if (m_checksum && m_summed < m_buffer.size())
        m_checksum->add(std::string_view(m_buffer).substr(m_summed));
    m_summed = m_buffer.size();
}

bool RecordWriter::flush()
{
    sumBuffered();
    if (m_fileSystem && !m_failed && !m_buffer.empty() && !m_fileSystem->writeAll(m_fd, m_buffer))
        m_failed = true;
    m_buffer.clear();
    m_summed = 0;
    return !m_failed;
}

void RecordReader::takeFromFile(char* to, std::uint64_t size)
{
    if (m_failed || size > m_left) {
        m_failed = true;
        return;
    }
    m_left -= size;
    if (size == 0)
        return;  // an empty array's memory may be null
    if (!m_fileSystem) {
        std::memcpy(to, m_bytes.data(), size);
        m_bytes.remove_prefix(size);
        return;
    }
    while (size > 0) {
        if (m_bufferAt == m_buffer.size()) {
            sumTaken();
            if (size >= kBufferBytes) {
                // A large array is read straight into its place.
                const ssize_t got = m_fileSystem->readSome(m_fd, to, size);
                if (got <= 0) {
                    m_failed = true;
                    return;
                }
                m_checksum.add(std::string_view(to, static_cast<std::size_t>(got)));
                to += got;
                size -= static_cast<std::uint64_t>(got);
                continue;
            }
            m_buffer.resize(kBufferBytes);
            const ssize_t got = m_fileSystem->readSome(m_fd, m_buffer.data(), m_buffer.size());
            if (got <= 0) {
                m_failed = true;
                return;
            }
            m_buffer.resize(static_cast<std::size_t>(got));
            m_bufferAt = 0;
            m_summedAt = 0;
        }
        const std::size_t part = std::min<std::uint64_t>(size, m_buffer.size() - m_bufferAt);
        std::memcpy(to, m_buffer.data() + m_bufferAt, part);
        m_bufferAt += part;
        to += part;
        size -= part;
    }
}

void RecordReader::sumTaken()
{
    if (m_summedAt < m_bufferAt)
        m_checksum.add(std::string_view(m_buffer).substr(m_summedAt, m_bufferAt - m_summedAt));
    m_summedAt = m_bufferAt;
}
