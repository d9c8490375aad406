#pragma once

#include "IndexTypes.h"
#include "PageScanner.h"
#include "WordCounting.h"

#include <boost/regex.hpp>

#include <string_view>

// Handler for one match of the META keywords pattern: counts the words of group 2 as
// keywords. Always returns true (go on with the next match).
bool countKeywordMatch(const boost::cmatch& match, PageWords& pageWords);

// Handler for one match of the title, title-and-headers or all-content pattern: counts
// the words of group 4 under the place that the tag in group 2 selects. Returns true.
bool countTagTextMatch(const boost::cmatch& match, PageWords& pageWords);

// The engine's patterns, compiled once with Boost.Regex (Perl syntax, case-insensitive,
// classic locale). They define what the hand-written scanners must match, and serve as
// the matcher when a job asks for the pattern library.
class PagePatterns {
public:
    static const PagePatterns& instance();

    // Searches text for title elements; every match replaces the one before. Returns
    // false when the library gave up; title then holds the last match found before.
    bool findTitle(std::string_view text, TitleMatch& title) const;

    // Runs the passes of mode over text into pageWords. Returns false when the library
    // gave up on a pass; the words counted before stay.
    bool countPageWords(std::string_view text, ContentMode mode, PageWords& pageWords) const;

    boost::regex title;            // the title element, for readTitle
    boost::regex metaKeywords;     // META keywords content
    boost::regex titleTags;        // text after TITLE tags
    boost::regex titleHeaderTags;  // text after TITLE and H1 to H9 tags
    boost::regex allTags;          // text after every tag
    boost::regex word;

private:
    PagePatterns();
};
