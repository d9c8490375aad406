// Words of page text by the design's rule (ASCII letters, digits and '_'), counted by the
// place where they stood.

#include "WordCounting.h"

#include <cstdint>
#include <cstring>

namespace wordchars {
const std::array<unsigned char, 256> kind = [] {
    std::array<unsigned char, 256> kinds{};
    for (int c = 0; c < 256; ++c) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_')
            kinds[c] = 1;
        else if (c >= '0' && c <= '9')
            kinds[c] = 2;
    }
    return kinds;
}();
}  // namespace wordchars

void toUpperInPlace(char* text, std::size_t length)
{
    // Eight bytes at a time: a byte is a to z when its low seven bits are at least 'a'
    // and at most 'z' and its high bit is clear; those get bit 0x20 cleared. No sum
    // carries into the next byte, since every low-seven-bit value plus 0x1f or 0x05
    // stays below 0x100.
    const std::uint64_t ones = 0x0101010101010101ULL, highBits = 0x8080808080808080ULL;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, text + i, 8);
        std::uint64_t low = chunk & ~highBits;
        std::uint64_t atLeastA = low + (0x80 - 'a') * ones;
        std::uint64_t aboveZ = low + (0x80 - 'z' - 1) * ones;
        std::uint64_t lower = atLeastA & ~aboveZ & ~chunk & highBits;
        chunk ^= lower >> 2;
        std::memcpy(text + i, &chunk, 8);
    }
    for (; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        text[i] = static_cast<char>(static_cast<unsigned>(c - 'a') < 26u ? c - 32 : c);
    }
}

std::string toUpper(std::string_view text)
{
    std::string upper(text);
    toUpperInPlace(upper.data(), upper.size());
    return upper;
}

std::vector<std::string> extractWords(std::string_view text)
{
    std::vector<std::string> words;
    forEachWord(text, [&words](std::string_view word) { words.emplace_back(word); });
    return words;
}

WordPlace placeOfTag(std::string_view upperTag)
{
    if (upperTag == "H1")
        return WordPlace::H1;
    if (upperTag == "H2")
        return WordPlace::H2;
    if (upperTag == "H3")
        return WordPlace::H3;
    if (upperTag == "TITLE")
        return WordPlace::KeywordOrTitle;
    return WordPlace::Other;
}

void countWords(std::string_view upperText, WordPlace place, PageWords& pageWords)
{
    forEachWord(upperText, [&](std::string_view word) {
        WordCounts& counts = pageWords.findOrInsert(word);
        switch (place) {
        case WordPlace::KeywordOrTitle: ++counts.keywordOrTitle; break;
        case WordPlace::Other: ++counts.other; break;
        case WordPlace::H1: ++counts.h1; break;
        case WordPlace::H2: ++counts.h2; break;
        case WordPlace::H3: ++counts.h3; break;
        case WordPlace::Link: ++counts.link; break;
        }
    });
}
