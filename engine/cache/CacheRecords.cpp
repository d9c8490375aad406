// The checksum of the cache's files.

#include "CacheRecords.h"

namespace {
// The finaliser of a well-known 64-bit mixer: every input bit reaches every output bit.
std::uint64_t mix(std::uint64_t h)
{
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}
}  // namespace

std::uint64_t cacheChecksum(std::string_view bytes, std::uint64_t seed)
{
    // Four lanes, so that the multiplications of one do not wait for another's.
    std::uint64_t lanes[4] = {seed ^ 0x9e3779b97f4a7c15ULL, seed + bytes.size(), ~seed, seed * 31 + 7};
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    while (n >= 32) {
        for (std::uint64_t& lane : lanes) {
            std::uint64_t chunk;
            std::memcpy(&chunk, p, 8);
            lane = (lane ^ chunk) * 0x100000001b3ULL;
            lane ^= lane >> 29;
            p += 8;
        }
        n -= 32;
    }
    std::uint64_t h = mix(lanes[0]) ^ mix(lanes[1] + 1) ^ mix(lanes[2] + 2) ^ mix(lanes[3] + 3);
    while (n >= 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, p, 8);
        h = mix(h ^ chunk);
        p += 8;
        n -= 8;
    }
    std::uint64_t tail = n;
    std::memcpy(&tail, p, n);
    return mix(h ^ tail ^ (static_cast<std::uint64_t>(bytes.size()) << 3));
}
