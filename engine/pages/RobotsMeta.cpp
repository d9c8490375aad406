// The robots META tag of a page: whether the page asks to be left out of an index.

#include "RobotsMeta.h"

#include "AsciiText.h"
#include "HtmlEntities.h"

#include <string>

namespace {
// The first "<" at or after from that opens the end tag name ("</name"), in any letter case.
std::size_t findEndTag(std::string_view html, std::size_t from, std::string_view name)
{
    for (std::size_t at = html.find("</", from); at != std::string_view::npos; at = html.find("</", at + 2))
        if (html.size() - at - 2 >= name.size() && equalsLower(html.substr(at + 2, name.size()), name))
            return at;
    return std::string_view::npos;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// The value as a browser reads it: character references decoded, when it holds any.
std::string_view decoded(std::string_view value, std::string& storage)
{
    if (value.find('&') == std::string_view::npos)
        return value;
    storage.clear();
    decodeEntities(value, storage);
    return storage;
}

bool forbidsIndexing(std::string_view content)
{
    for (std::size_t at = 0; at <= content.size();) {
        std::size_t comma = content.find(',', at);
        if (comma == std::string_view::npos)
            comma = content.size();
        const std::string_view directive = trimmed(content.substr(at, comma - at));
        if (equalsLower(directive, "noindex") || equalsLower(directive, "none"))
            return true;
        at = comma + 1;
    }
    return false;
}

// Reads the attributes of the tag whose name ends at i; sets name and content of a META
// tag and returns where the tag ends.
std::size_t readMetaAttributes(std::string_view html, std::size_t i, std::string_view& name, std::string_view& content)
{
    const std::size_t n = html.size();
    while (i < n && html[i] != '>') {
        if (isBlank(static_cast<unsigned char>(html[i])) || html[i] == '/') {
            ++i;
            continue;
        }
        const std::size_t nameStart = i;
        while (i < n && !isBlank(static_cast<unsigned char>(html[i])) && html[i] != '=' && html[i] != '>'
               && html[i] != '/')
            ++i;
        const std::string_view attribute = html.substr(nameStart, i - nameStart);
        const std::string_view value = readAttributeValue(html, i);
        if (equalsLower(attribute, "name"))
            name = value;
        else if (equalsLower(attribute, "content"))
            content = value;
    }
    return i;
}
}  // namespace

bool asksNotToBeIndexed(std::string_view html)
{
    static const std::string_view rawTextElements[] = {"script", "style", "title", "textarea", "xmp"};
    std::string nameStorage, contentStorage;
    const std::size_t n = html.size();
    for (std::size_t at = html.find('<'); at != std::string_view::npos && at < n; at = html.find('<', at)) {
        if (html.compare(at, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", at + 4);
            at = end == std::string_view::npos ? n : end + 3;
            continue;
        }
        std::size_t i = at + 1;
        while (i < n && isAsciiAlnum(html[i]))
            ++i;
        const std::string_view tagName = html.substr(at + 1, i - at - 1);
        if (equalsLower(tagName, "meta")) {
            std::string_view name, content;
            at = readMetaAttributes(html, i, name, content);
            if (equalsLower(trimmed(decoded(name, nameStorage)), "robots")
                && forbidsIndexing(decoded(content, contentStorage)))
                return true;
            continue;
        }
        at = i;
        for (std::string_view raw : rawTextElements) {
            if (equalsLower(tagName, raw)) {
                const std::size_t end = findEndTag(html, at, raw);
                at = end == std::string_view::npos ? n : end + 2;
                break;
            }
        }
    }
    return false;
}
