#pragma once

#include <string_view>

// Bytes of HTML as ASCII: what every reader of page text needs, whatever the charset.

inline char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline bool isAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The blanks of HTML: space, tab, line feed, carriage return, form feed.
inline bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Whether text, in any letter case, is lower (given in lower case).
inline bool equalsLower(std::string_view text, std::string_view lower)
{
    if (text.size() != lower.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (lowerAscii(text[i]) != lower[i])
            return false;
    return true;
}
