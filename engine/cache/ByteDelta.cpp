// Deltas of byte strings: what the page cache writes of a range an edit changed, and how
// it gives the range back from the range it replaced.

#include "ByteDelta.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {
// A delta: the target's size, then steps, each the length of bytes of its own, those
// bytes, and a run copied from the base (its offset and length), all numbers 64-bit in the
// machine's order.
constexpr std::size_t kNumber = sizeof(std::uint64_t);
// A run shorter than this costs more to name than to write out.
constexpr std::size_t kLeastRun = 16;
// Where the bytes stop matching, the next run is looked for this far on in the target, at
// these steps (the tables' numbers are 4 and 8 bytes long: a posting added or moved
// shifts what follows by its size), first this far either side of where the last run
// would go on in the base, then anywhere in the base by the bytes it holds at every
// kAnchor-th offset.
constexpr std::size_t kLookAhead = 64;
constexpr std::size_t kLookAside = 32;
constexpr std::size_t kStep = 4;
constexpr std::size_t kAnchor = 16;

void putNumber(std::string& out, std::uint64_t value)
{
    out.append(reinterpret_cast<const char*>(&value), kNumber);
}

std::uint64_t numberAt(std::string_view bytes, std::size_t at)
{
    std::uint64_t value;
    std::memcpy(&value, bytes.data() + at, kNumber);
    return value;
}

// How many bytes a and b have in common from their starts, up to most.
std::size_t commonLength(const char* a, const char* b, std::size_t most)
{
    std::size_t length = 0;
    while (length + kNumber <= most) {
        std::uint64_t x, y;
        std::memcpy(&x, a + length, kNumber);
        std::memcpy(&y, b + length, kNumber);
        if (x != y)
            break;
        length += kNumber;
    }
    while (length < most && a[length] == b[length])
        ++length;
    return length;
}

// The base's offsets at every kAnchor-th byte by the kLeastRun bytes there: where bytes
// of the target may be found in the base, whatever their shift.
class Anchors {
public:
    explicit Anchors(std::string_view base) : m_base(base)
    {
        std::size_t slots = 16;
        while (slots < 2 * (base.size() / kAnchor + 1))
            slots *= 2;
        m_slots.assign(slots, 0);
        for (std::size_t at = 0; at + kLeastRun <= base.size(); at += kAnchor)
            m_slots[slotOf(base.data() + at)] = static_cast<std::uint32_t>(at / kAnchor + 1);
    }
    // An offset in the base whose bytes may begin as at does (to be checked), or npos.
    std::size_t find(const char* at) const
    {
        const std::uint32_t found = m_slots[slotOf(at)];
        return found == 0 ? std::string_view::npos : (found - 1) * kAnchor;
    }

private:
    std::size_t slotOf(const char* at) const
    {
        std::uint64_t a, b;
        std::memcpy(&a, at, kNumber);
        std::memcpy(&b, at + kNumber, kNumber);
        return static_cast<std::size_t>(((a * 0x9E3779B97F4A7C15ull) ^ (b * 0xC2B2AE3D27D4EB4Full)) >> 32)
            & (m_slots.size() - 1);
    }
    std::string_view m_base;
    std::vector<std::uint32_t> m_slots;
};
}  // namespace

std::string ByteDelta::between(std::string_view base, std::string_view target, std::size_t most)
{
    std::string delta;
    if (target.empty() || base.size() >= (std::size_t(1) << 36))
        return delta;
    putNumber(delta, target.size());
    // The anchors cost a pass over the whole base and a table of a fourth of its size: they
    // are made only once a run is not found near where the last one would go on, which
    // after an edit's few postings added or moved is seldom (or never).
    std::optional<Anchors> anchors;
    std::size_t own = 0;   // where the target's bytes of their own began
    std::size_t at = 0;    // in the target
    std::size_t from = 0;  // in the base, where the target's bytes at `at` are looked for first
    auto runAt = [&](std::size_t t, std::size_t b) {
        return b < base.size() && t < target.size()
            ? commonLength(target.data() + t, base.data() + b, std::min(target.size() - t, base.size() - b))
            : 0;
    };
    while (at < target.size()) {
        std::size_t length = runAt(at, from);
        if (length < kLeastRun) {
            length = 0;
            // The nearest shift first (0, +4, -4, +8, ...) at each step ahead; only where none
            // matches, the anchors.
            for (std::size_t ahead = 0; ahead <= kLookAhead && !length; ahead += kStep) {
                for (std::size_t step = 0; step <= 2 * kLookAside / kStep && !length; ++step) {
                    const std::size_t shift = (step + 1) / 2 * kStep;
                    if (step % 2 == 0 && from + ahead < shift)
                        continue;
                    const std::size_t b = step % 2 ? from + ahead + shift : from + ahead - shift;
                    const std::size_t found = runAt(at + ahead, b);
                    if (found >= kLeastRun) {
                        at += ahead;
                        from = b;
                        length = found;
                    }
                }
            }
            for (std::size_t ahead = 0; ahead <= kLookAhead && !length && at + ahead + kLeastRun <= target.size();
                 ahead += kStep) {
                if (!anchors)
                    anchors.emplace(base);
                const std::size_t b = anchors->find(target.data() + at + ahead);
                const std::size_t found = b == std::string_view::npos ? 0 : runAt(at + ahead, b);
                if (found >= kLeastRun) {
                    at += ahead;
                    from = b;
                    length = found;
                }
            }
            if (!length) {
                at = std::min(target.size(), at + kLookAhead);
                from += kLookAhead;
                if (at - own > most)
                    return {};
                continue;
            }
        }
        putNumber(delta, at - own);
        delta.append(target.substr(own, at - own));
        putNumber(delta, from);
        putNumber(delta, length);
        at += length;
        from += length;
        own = at;
        if (delta.size() > most)
            return {};
    }
    if (own < target.size()) {
        putNumber(delta, target.size() - own);
        delta.append(target.substr(own));
        putNumber(delta, 0);  // no run
        putNumber(delta, 0);
    }
    return delta.size() > most ? std::string() : delta;
}

std::size_t ByteDelta::sizeOf(std::string_view base, std::string_view delta)
{
    if (delta.size() < kNumber)
        return 0;
    const std::uint64_t size = numberAt(delta, 0);
    return size > base.size() + delta.size() ? 0 : static_cast<std::size_t>(size);
}

bool ByteDelta::apply(std::string_view base, std::string_view delta, char* out)
{
    // Each step writes no more than the size left, so the work is bounded by that size
    // (no more than base and delta together) and the delta's own length.
    const std::size_t size = sizeOf(base, delta);
    std::size_t written = 0;
    std::size_t at = kNumber;
    while (at < delta.size()) {
        if (delta.size() - at < kNumber)
            return false;
        const std::uint64_t own = numberAt(delta, at);
        at += kNumber;
        if (own > delta.size() - at || own > size - written || delta.size() - at - own < 2 * kNumber)
            return false;
        std::memcpy(out + written, delta.data() + at, static_cast<std::size_t>(own));
        written += static_cast<std::size_t>(own);
        at += static_cast<std::size_t>(own);
        const std::uint64_t offset = numberAt(delta, at);
        const std::uint64_t length = numberAt(delta, at + kNumber);
        at += 2 * kNumber;
        if (offset > base.size() || length > base.size() - offset || length > size - written)
            return false;
        std::memcpy(out + written, base.data() + offset, static_cast<std::size_t>(length));
        written += static_cast<std::size_t>(length);
    }
    return size > 0 && written == size;
}
