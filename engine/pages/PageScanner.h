#pragma once

#include "IndexTypes.h"
#include "WordCounting.h"

#include <cstring>
#include <string_view>

// Hand-written scanners for the engine's patterns. Each gives exactly the matches and
// group texts that the pattern library gives for the same text, in linear time and
// without ever giving up. They expect upper-cased text (the patterns are
// case-insensitive, so upper-casing first changes no match).
// The text of the last title element of a page, when it has one.
struct TitleMatch {
    bool found = false;
    std::string_view text;  // group 2 of the title pattern, as it stands in the page
};

namespace PageScanner {

// As PagePatterns::findTitle.
TitleMatch findTitle(std::string_view upperText);

// Calls visit(content) with group 2 of each META keywords match, in order.
template <typename Visit>
void forEachKeywordsMatch(std::string_view upperText, Visit&& visit);

// Which tags the second pass takes text after.
enum class TagFilter { Title, TitleOrHeader, Any };

// Calls visit(tag, text) with groups 2 and 4 of each match of the tag-text pattern that
// filter names, in order.
template <typename Visit>
void forEachTagTextMatch(std::string_view upperText, TagFilter filter, Visit&& visit);

template <typename Visit>
void forEachTextAfterTag(std::string_view upperText, TagFilter filter, bool consumeNextTag, Visit&& visit);

// As PagePatterns::countPageWords, which never gives up here.
void countPageWords(std::string_view upperText, ContentMode mode, PageWords& pageWords);

// ---------------------------------------------------------------------------------

inline bool isSpace(char c)
{
    // \s of the classic locale
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The first '<' at or after from that blanks and then name follow, or npos. Searching
// for the name and looking back from it costs far less than trying every '<' of a page:
// names are rare, tags are everywhere.
inline std::size_t findTagNamed(std::string_view text, std::size_t from, std::string_view name)
{
    const char* t = text.data();
    for (std::size_t at = from; at < text.size();) {
        const void* found = ::memmem(t + at, text.size() - at, name.data(), name.size());
        if (!found)
            return std::string_view::npos;
        std::size_t k = static_cast<std::size_t>(static_cast<const char*>(found) - t);
        std::size_t b = k;
        while (b > from && isSpace(t[b - 1]))
            --b;
        if (b > from && t[b - 1] == '<')
            return b - 1;
        at = k + 1;
    }
    return std::string_view::npos;
}

template <typename Visit>
void forEachKeywordsMatch(std::string_view text, Visit&& visit)
{
    const std::size_t n = text.size();
    const char* t = text.data();
    auto skipSpaces = [&](std::size_t i) {
        while (i < n && isSpace(t[i]))
            ++i;
        return i;
    };
    auto literal = [&](std::size_t& i, std::string_view word) {
        if (n - i < word.size() || text.compare(i, word.size(), word) != 0)
            return false;
        i += word.size();
        return true;
    };
    // Cached for the content runs: the first quote at or after a position, whether
    // blanks and '>' follow it, and the last '>' between the position and that quote.
    // Content runs start ever further on and a run is searched only from its own start,
    // so every byte is looked at a bounded number of times.
    std::size_t quoteFrom = 0, quoteAt = std::string_view::npos, quoteClosedAt = std::string_view::npos;
    bool quoteKnown = false;
    std::size_t lastGtBeforeQuote = std::string_view::npos;

    std::size_t pos = 0;
    while (pos < n) {
        std::size_t p = findTagNamed(text, pos, "META");
        if (p == std::string_view::npos)
            return;
        pos = p + 1;
        std::size_t i = skipSpaces(p + 1) + 4;
        i = skipSpaces(i);
        if (!literal(i, "NAME"))
            continue;
        if (i < n && isSpace(t[i]))
            ++i;
        if (!literal(i, "="))
            continue;
        i = skipSpaces(i);
        if (i < n && t[i] == '"')
            ++i;
        if (!literal(i, "KEYWORDS"))
            continue;
        if (i < n && t[i] == '"')
            ++i;
        i = skipSpaces(i);
        if (!literal(i, "CONTENT"))
            continue;
        if (i < n && isSpace(t[i]))
            ++i;
        if (!literal(i, "="))
            continue;
        if (i < n && isSpace(t[i]))
            ++i;
        if (i < n && t[i] == '"')
            ++i;
        const std::size_t start = i;

        // Group 2 runs to the next quote (or the end); group 3 is an optional quote,
        // blanks and '>'. When the quote is not followed by that, the library backs off
        // to the last '>' inside the run.
        if (!quoteKnown || start < quoteFrom || (quoteAt != std::string_view::npos && start > quoteAt)) {
            quoteFrom = start;
            quoteAt = text.find('"', start);
            quoteClosedAt = std::string_view::npos;
            if (quoteAt != std::string_view::npos) {
                std::size_t k = skipSpaces(quoteAt + 1);
                if (k < n && t[k] == '>')
                    quoteClosedAt = k;
            }
            const std::size_t runEnd = quoteAt == std::string_view::npos ? n : quoteAt;
            lastGtBeforeQuote = std::string_view::npos;
            for (std::size_t k = runEnd; k > start; --k) {
                if (t[k - 1] == '>') {
                    lastGtBeforeQuote = k - 1;
                    break;
                }
            }
            quoteKnown = true;
        }
        if (quoteClosedAt != std::string_view::npos) {
            visit(text.substr(start, quoteAt - start));
            pos = quoteClosedAt + 1;
            continue;
        }
        if (lastGtBeforeQuote != std::string_view::npos && lastGtBeforeQuote >= start) {
            visit(text.substr(start, lastGtBeforeQuote - start));
            pos = lastGtBeforeQuote + 1;
            continue;
        }
    }
}

// Text after tags, for both the tag passes and the title element: a tag that filter
// accepts, up to its '>', then the text up to the next '<', which must begin a further
// tag. The tag passes only look ahead at that tag, so it may begin the next match; the
// title element consumes it (consumeNextTag).
template <typename Visit>
void forEachTextAfterTag(std::string_view text, TagFilter filter, bool consumeNextTag, Visit&& visit)
{
    const std::size_t n = text.size();
    const char* t = text.data();
    // The text must be followed by a '<' with a '>' after it; once the last '>' of the
    // page is passed, nothing further can match.
    const std::size_t lastGt = text.rfind('>');
    if (lastGt == std::string_view::npos)
        return;

    std::size_t pos = 0;
    while (pos < n) {
        std::size_t p = filter == TagFilter::Title ? findTagNamed(text, pos, "TITLE") : text.find('<', pos);
        if (p == std::string_view::npos)
            return;
        std::size_t j = p + 1;
        while (j < n && isSpace(t[j]))
            ++j;
        if (filter == TagFilter::TitleOrHeader) {
            bool title = text.compare(j, 5, "TITLE") == 0;
            bool header = filter == TagFilter::TitleOrHeader && j + 1 < n && t[j] == 'H'
                && t[j + 1] >= '1' && t[j + 1] <= '9';
            if (!title && !header) {
                pos = p + 1;
                continue;
            }
        }
        // A failed candidate here means every later one fails too: the tag's '>', the
        // next '<' and a '>' after it are the same or missing for all of them.
        std::size_t q = text.find('>', j);
        if (q == std::string_view::npos)
            return;
        std::size_t r = text.find('<', q + 1);
        if (r == std::string_view::npos || r >= lastGt)
            return;
        visit(text.substr(j, q - j), text.substr(q + 1, r - q - 1));
        pos = consumeNextTag ? text.find('>', r + 1) + 1 : r;
    }
}

template <typename Visit>
void forEachTagTextMatch(std::string_view text, TagFilter filter, Visit&& visit)
{
    forEachTextAfterTag(text, filter, false, visit);
}

}  // namespace PageScanner
