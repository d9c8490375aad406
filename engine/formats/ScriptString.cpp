// Text escaped for a double-quoted string of the scripts the search page loads: page
// texts, titles, summaries and the keys of the word index alike.

#include "ScriptString.h"

void appendScriptEscaped(std::string& out, std::string_view utf8)
{
    static const char hex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        // Bytes that stand for themselves go in as one run.
        std::size_t end = i;
        while (end < n && p[end] >= 0x20 && p[end] != '"' && p[end] != '\\' && p[end] != 0x7F && p[end] != 0xE2)
            ++end;
        out.append(utf8.data() + i, end - i);
        i = end;
        if (i == n)
            break;
        const unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c == 0xE2) {
            if (i + 2 < n && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9)) {
                out += p[i + 2] == 0xA8 ? "\\u2028" : "\\u2029";
                i += 3;
            } else {
                out += static_cast<char>(c);
                ++i;
            }
        } else {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        }
    }
}

void appendScriptString(std::string& out, std::string_view utf8)
{
    out += '"';
    appendScriptEscaped(out, utf8);
    out += '"';
}

std::size_t scriptStringLength(std::string_view utf8)
{
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t length = n + 2;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F && c != 0xE2)
            continue;
        if (c == '"' || c == '\\')
            length += 1;
        else if (c == 0xE2) {
            // U+2028 and U+2029: three bytes written as six.
            if (i + 2 < n && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9)) {
                length += 3;
                i += 2;
            }
        } else {
            length += 5;  // \u00XX
        }
    }
    return length;
}
