// Text escaped for a double-quoted string of the scripts the search page loads: page
// texts, titles, summaries and the keys of the word index alike.

#include "ScriptString.h"

namespace {
// A byte that goes in as it is (any other is escaped, or starts U+2028 or U+2029).
bool standsForItself(unsigned char c)
{
    return c >= 0x20 && c != '"' && c != '\\' && c != 0x7F && c != 0xE2;
}

// Whether U+2028 or U+2029 (0xE2 0x80 0xA8 or 0xA9), which end a line in a script, starts
// at p[i] of n bytes.
bool lineSeparatorAt(const unsigned char* p, std::size_t i, std::size_t n)
{
    return i + 2 < n && p[i] == 0xE2 && p[i + 1] == 0x80 && (p[i + 2] == 0xA8 || p[i + 2] == 0xA9);
}
}  // namespace

void appendScriptEscaped(std::string& out, std::string_view utf8)
{
    static const char hex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        // Bytes that stand for themselves go in as one run.
        std::size_t end = i;
        while (end < n && standsForItself(p[end]))
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
        } else if (lineSeparatorAt(p, i, n)) {
            out += p[i + 2] == 0xA8 ? "\\u2028" : "\\u2029";
            i += 3;
        } else if (c == 0xE2) {
            out += static_cast<char>(c);
            ++i;
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
    // What appendScriptString() writes, counted: the quotes, a backslash before a quote or
    // backslash, six characters for a line separator's three bytes and for a control byte.
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t length = n + 2;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (standsForItself(c))
            continue;
        if (c == '"' || c == '\\')
            length += 1;
        else if (lineSeparatorAt(p, i, n)) {
            length += 3;
            i += 2;
        } else if (c != 0xE2)
            length += 5;  // \u00XX
    }
    return length;
}
