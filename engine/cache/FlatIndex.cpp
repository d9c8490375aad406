#include "FlatIndex.h"

#include <chrono>
#include <exception>
#include <random>
#include <utility>
#include <xxhash.h>

namespace {
std::uint64_t processSeed()
{
    static const std::uint64_t seed = [] {
        try {
            std::random_device device;
            return (static_cast<std::uint64_t>(device()) << 32) ^ device();
        } catch (const std::exception&) {
            // No source of randomness: the clock and where this process was placed.
            static const char here = 0;
            return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
                ^ reinterpret_cast<std::uintptr_t>(&here);
        }
    }();
    return seed;
}
}  // namespace

std::uint64_t FlatIndex::hashOf(std::string_view text)
{
    return XXH3_64bits_withSeed(text.data(), text.size(), processSeed());
}

std::uint64_t FlatIndex::hashOf(std::uint64_t device, std::uint64_t inode)
{
    const std::uint64_t file[2] = {device, inode};
    return XXH3_64bits_withSeed(file, sizeof file, processSeed());
}

void FlatIndex::rehash(std::size_t least)
{
    std::size_t size = 16;
    while (size < least)
        size *= 2;
    std::vector<Slot> slots(size);
    const std::size_t mask = size - 1;
    for (const Slot& slot : m_slots) {
        if (slot.entry == kNone)
            continue;
        std::size_t at = slot.hash & mask;
        while (slots[at].entry != kNone)
            at = (at + 1) & mask;
        slots[at] = slot;
    }
    m_slots = std::move(slots);
}
