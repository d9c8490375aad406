#pragma once

#include "IndexTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A heading of a page: where its text starts in the page's plain text, the anchor a link
// can jump to ("" when it has none) and its text.
struct PageSection {
    std::uint32_t start = 0;  // in UTF-16 code units of the plain text, as scripts count
    std::string anchor;
    std::string heading;
};

// The text of a page by the place its words stood in, in UTF-8 with character
// references decoded and a blank between blocks: what the word index counts.
struct PlacedText {
    std::string keywords;       // the content of META keywords tags
    std::string title;          // the title element
    std::string headings[3];    // H1, H2 and H3 elements
    std::string otherHeadings;  // H4 to H6 elements
    std::string body;           // the rest of the text but links
    std::string links;          // the text of links outside headings
};

// What a reader sees of a page, all in UTF-8: its real title, a summary, its plain text
// and its sections; and what its words are taken from.
struct PageContent {
    std::string title;    // the title element: entities decoded, blanks collapsed; "" if none
    std::string summary;  // the META description, or the opening words of the main text
    // The text without scripts, styles, comments and tags, entities decoded, blanks
    // collapsed, written as the inside of a double-quoted script string (quote,
    // backslash, control characters, U+2028 and U+2029 escaped).
    std::string scriptText;
    std::vector<PageSection> sections;
    // The places the indexing option takes words from (the others stay empty).
    PlacedText placed;
    // The share, 0 to 100, of the text's characters that stand inside links.
    int linkShare = 0;
    // The language the page declares (html lang, xml:lang on html, a Content-Language
    // META), as written; "" when none.
    std::string language;
};

// Limits against hostile pages; no real documentation page comes near them.
constexpr std::size_t kMaxPageTextBytes = 4u << 20;
constexpr std::size_t kMaxPageSections = 4000;

// Reads page (its bytes up to the first NUL) as the browser would: converted to UTF-8
// from the charset it declares (UTF-8 when valid, else windows-1252, when it declares
// none), then the title, description, text and headings taken out, with the texts of
// the places that wordsOf indexes (values 4 to 255, the default: none). Linear in the
// size of the page.
PageContent extractPageContent(std::string_view page, ContentMode wordsOf = static_cast<ContentMode>(255));
