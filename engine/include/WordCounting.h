#pragma once

#include "IndexTypes.h"
#include "WordTable.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The words of one page with their counters by place. Every word held has at least one
// counter above 0.
using PageWords = WordTable<WordCounts>;

// A copy of text with a to z turned into A to Z; every other byte unchanged.
std::string toUpper(std::string_view text);

// Turns a to z into A to Z in place.
void toUpperInPlace(char* text, std::size_t length);

// The words of already upper-cased text, in order: runs of A-Z, 0-9 and "_" taken from
// their first letter or underscore on (digits in front of it are dropped).
std::vector<std::string> extractWords(std::string_view text);

// Calls visit(std::string_view word) for each word of upper-cased text, in order.
template <typename Visit>
void forEachWord(std::string_view text, Visit&& visit);

// The counter that text after a tag goes to: "H1", "H2", "H3" and "TITLE" (whole tag,
// exact, upper-cased) have their own; everything else counts as other text.
enum class WordPlace { KeywordOrTitle, Other, H1, H2, H3, Link };
WordPlace placeOfTag(std::string_view upperTag);

// Adds one to the counter of place for every word of upper-cased text.
void countWords(std::string_view upperText, WordPlace place, PageWords& pageWords);

// ---------------------------------------------------------------------------------

namespace wordchars {
// 1 for A-Z, a-z and "_" (may start a word), 2 for 0-9, 0 for everything else.
extern const std::array<unsigned char, 256> kind;
}  // namespace wordchars

template <typename Visit>
void forEachWord(std::string_view text, Visit&& visit)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        while (p < end && wordchars::kind[*p] != 1)
            ++p;
        if (p == end)
            break;
        const unsigned char* start = p++;
        while (p < end && wordchars::kind[*p] != 0)
            ++p;
        visit(std::string_view(reinterpret_cast<const char*>(start), p - start));
    }
}
