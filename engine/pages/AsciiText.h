#pragma once

#include <array>
#include <string_view>

// Bytes of HTML as ASCII: what every reader of page text needs, whatever the charset.

inline char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Every byte lowered as ASCII, for loops that look a byte up where they would test it.
inline const std::array<unsigned char, 256> kAsciiLower = [] {
    std::array<unsigned char, 256> lower{};
    for (int c = 0; c < 256; ++c)
        lower[c] = static_cast<unsigned char>(lowerAscii(static_cast<char>(c)));
    return lower;
}();

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

// The value of a tag's attribute whose name ended at i: after blanks, "=" and a value in
// quotes (to the closing quote, or the end) or without (to a blank or ">"); empty when
// no "=" follows. i ends after what was read.
inline std::string_view readAttributeValue(std::string_view html, std::size_t& i)
{
    const std::size_t n = html.size();
    while (i < n && isBlank(static_cast<unsigned char>(html[i])))
        ++i;
    if (i >= n || html[i] != '=')
        return {};
    ++i;
    while (i < n && isBlank(static_cast<unsigned char>(html[i])))
        ++i;
    if (i < n && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        std::size_t close = html.find(quote, i);
        if (close == std::string_view::npos)
            close = n;
        const std::string_view value = html.substr(i, close - i);
        i = close + 1;
        return value;
    }
    const std::size_t start = i;
    while (i < n && !isBlank(static_cast<unsigned char>(html[i])) && html[i] != '>')
        ++i;
    return html.substr(start, i - start);
}
