// Charsets of pages: the one a page declares, UTF-8 checking, and conversion of page bytes
// to UTF-8 for what a reader sees.

#include "TextEncoding.h"

#include "AsciiText.h"
#include "HtmlEntities.h"
#include "Utf8Sequence.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>

namespace {

constexpr std::size_t kCharsetWindow = 4096;  // where a page's charset is looked for
const char* const kReplacement = "\xEF\xBF\xBD";

// The first place at or after from where lower (lower-case ASCII) stands in any case.
std::size_t findLower(std::string_view text, std::string_view lower, std::size_t from)
{
    if (lower.empty() || text.size() < lower.size())
        return std::string_view::npos;
    for (std::size_t i = from; i + lower.size() <= text.size(); ++i) {
        if (lowerAscii(text[i]) == lower[0] && equalsLower(text.substr(i, lower.size()), lower))
            return i;
    }
    return std::string_view::npos;
}

// The length of the ASCII run at the start of text, eight bytes at a time.
std::size_t asciiPrefix(const unsigned char* p, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, p + i, 8);
        if (chunk & 0x8080808080808080ULL)
            break;
    }
    while (i < n && p[i] < 0x80)
        ++i;
    return i;
}

// Valid UTF-8 kept, every byte of an invalid sequence replaced by U+FFFD.
std::string repairUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t ascii = asciiPrefix(p + i, text.size() - i);
        out.append(text.data() + i, ascii);
        i += ascii;
        if (i == text.size())
            break;
        const std::size_t length = decodeUtf8(text, i).second;
        if (length == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(text.data() + i, length);
            i += length;
        }
    }
    return out;
}

std::string fromWindows1252(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char c : text)
        appendUtf8(out, windows1252CodePoint(static_cast<unsigned char>(c)));
    return out;
}

// The charsets handed to iconv: the common ones of the web and nothing else, so that a
// page cannot pick a rarely used converter.
bool isKnownCharset(const std::string& name)
{
    static const char* const known[] = {
        "iso-8859-2", "iso-8859-3", "iso-8859-4", "iso-8859-5", "iso-8859-6", "iso-8859-7", "iso-8859-8",
        "iso-8859-9", "iso-8859-10", "iso-8859-13", "iso-8859-14", "iso-8859-15", "iso-8859-16",
        "windows-1250", "windows-1251", "windows-1253", "windows-1254", "windows-1255", "windows-1256",
        "windows-1257", "windows-1258", "koi8-r", "koi8-u", "shift_jis", "euc-jp", "euc-kr", "gb2312",
        "gbk", "gb18030", "big5", "macintosh", "cp1250", "cp1251"};
    return std::find(std::begin(known), std::end(known), name) != std::end(known);
}

bool convertWithIconv(std::string_view in, const std::string& charset, std::string& out)
{
    iconv_t converter = ::iconv_open("UTF-8", charset.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    out.reserve(in.size() * 2);
    char* input = const_cast<char*>(in.data());
    std::size_t inputLeft = in.size();
    char buffer[16384];
    while (inputLeft > 0) {
        char* output = buffer;
        std::size_t outputLeft = sizeof buffer;
        std::size_t result = ::iconv(converter, &input, &inputLeft, &output, &outputLeft);
        out.append(buffer, static_cast<std::size_t>(output - buffer));
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte that does not belong to the charset: one replacement character.
            out += kReplacement;
            ++input;
            --inputLeft;
            ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    ::iconv_close(converter);
    return true;
}

}  // namespace

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        i += asciiPrefix(p + i, text.size() - i);
        if (i == text.size())
            break;
        const std::size_t length = decodeUtf8(text, i).second;
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

// The charset a page declares in a META tag near its start, lower-cased; "" when none.
std::string declaredCharset(std::string_view page)
{
    const std::string_view head = page.substr(0, kCharsetWindow);
    for (std::size_t at = findLower(head, "<meta", 0); at != std::string_view::npos;
         at = findLower(head, "<meta", at + 5)) {
        std::size_t end = head.find('>', at);
        std::string_view tag = head.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        std::size_t name = findLower(tag, "charset", 0);
        if (name == std::string_view::npos)
            continue;
        std::size_t i = name + 7;
        while (i < tag.size() && isBlank(static_cast<unsigned char>(tag[i])))
            ++i;
        if (i >= tag.size() || tag[i] != '=')
            continue;
        ++i;
        while (i < tag.size() && (isBlank(static_cast<unsigned char>(tag[i])) || tag[i] == '"' || tag[i] == '\''))
            ++i;
        std::string charset;
        while (i < tag.size() && charset.size() < 40
               && (isAsciiAlnum(tag[i]) || tag[i] == '-' || tag[i] == '_' || tag[i] == '.' || tag[i] == ':'))
            charset += lowerAscii(tag[i++]);
        if (!charset.empty())
            return charset;
    }
    return {};
}

// The page in UTF-8, as a browser would decode it.
std::string pageToUtf8(std::string_view page)
{
    if (page.size() >= 3 && page.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return repairUtf8(page.substr(3));
    const std::string charset = declaredCharset(page);
    if (charset == "utf-8" || charset == "utf8")
        return repairUtf8(page);
    static const char* const latin[] = {"iso-8859-1", "latin1", "iso8859-1", "l1", "windows-1252",
                                        "cp1252", "us-ascii", "ascii", "x-cp1252"};
    const bool isLatin = std::find(std::begin(latin), std::end(latin), charset) != std::end(latin);
    if (!isLatin && isKnownCharset(charset)) {
        std::string converted;
        if (convertWithIconv(page, charset, converted))
            return converted;
    }
    if (!isLatin && isValidUtf8(page))
        return std::string(page);
    return fromWindows1252(page);
}

std::string toUtf8(std::string_view text)
{
    return isValidUtf8(text) ? std::string(text) : fromWindows1252(text);
}
