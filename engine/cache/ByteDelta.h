#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes kept as their changes from a base: runs copied from the base, with bytes of their
// own between them. The page cache keeps a range
// of its tables that an edit changed here and there as such a delta of the range it
// replaced, so that an edit writes kilobytes rather than the whole range again.
class ByteDelta {
public:
    // The delta that gives target from base, or "" when it would take more than most
    // bytes (then target is better kept whole). Linear in the two sizes.
    static std::string between(std::string_view base, std::string_view target, std::size_t most);
    // The size of what delta gives from base, or 0 when delta does not begin as one does
    // or would give more bytes than base and delta hold together.
    static std::size_t sizeOf(std::string_view base, std::string_view delta);
    // Writes what delta gives from base into out (sizeOf() bytes): false when delta is not
    // a whole delta of base (a run outside it, steps that give more or fewer bytes than
    // its size, a step cut short). Linear in that size and the delta's.
    static bool apply(std::string_view base, std::string_view delta, char* out);
};
