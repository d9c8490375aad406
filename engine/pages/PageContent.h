#pragma once

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

// What a reader sees of a page, all in UTF-8: its real title, a summary, its plain text
// and its sections.
struct PageContent {
    std::string title;    // the title element: entities decoded, blanks collapsed; "" if none
    std::string summary;  // the META description, or the opening words of the main text
    // The text without scripts, styles, comments and tags, entities decoded, blanks
    // collapsed, written as the inside of a double-quoted script string (quote,
    // backslash, control characters, U+2028 and U+2029 escaped).
    std::string scriptText;
    std::vector<PageSection> sections;
};

// Limits against hostile pages; no real documentation page comes near them.
constexpr std::size_t kMaxPageTextBytes = 4u << 20;
constexpr std::size_t kMaxPageSections = 4000;

// Reads page (its bytes up to the first NUL) as the browser would: converted to UTF-8
// from the charset it declares (UTF-8 when valid, else windows-1252, when it declares
// none), then the title, description, text and headings taken out. Linear in the size
// of the page.
PageContent extractPageContent(std::string_view page);
