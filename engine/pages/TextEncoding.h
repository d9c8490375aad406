#pragma once

#include <string>
#include <string_view>

// Page text into UTF-8, as a browser decodes it.

// Appends the UTF-8 form of the code point c.
void appendUtf8(std::string& out, char32_t c);

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool isValidUtf8(std::string_view text);

// The charset a page declares in a META tag near its start, lower-cased; "" when none.
std::string declaredCharset(std::string_view page);

// The page in UTF-8: by a byte-order mark, else by the charset it declares (the
// common charsets of the web, through iconv), else as UTF-8 when it is valid and as
// windows-1252 when not. Bytes that do not fit become U+FFFD.
std::string pageToUtf8(std::string_view page);

// text as UTF-8: kept when it is valid UTF-8, else read as windows-1252.
std::string toUtf8(std::string_view text);
