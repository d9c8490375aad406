#pragma once

#include <string_view>

// Whether a page asks robots not to index it: a <meta name="robots"> tag whose content
// holds the directive "noindex" or "none", names and values in any letter case and
// attributes in any order. Tags inside comments, scripts, styles, titles and text areas
// do not count. Linear in the size of the page.
bool asksNotToBeIndexed(std::string_view page);
