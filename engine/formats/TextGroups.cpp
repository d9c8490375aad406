// Page texts grouped a few to a file, with group ends chosen by the texts themselves, so
// that re-indexing a site rewrites only the groups of the pages that changed.

#include "TextGroups.h"

#include "CompanionData.h"
#include "IndexText.h"
#include "PieceStore.h"
#include "ScriptString.h"

#include <algorithm>

namespace {
const char* const kHead = "/* generator: VantrelIndexer */\nvantrelTexts([";

// FNV-1a over the entry: where a group ends.
std::uint32_t entryHash(const std::string& entry)
{
    std::uint32_t hash = 2166136261u;
    for (char c : entry) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}
}  // namespace

TextGroups::TextGroups(PieceStore& store) : m_store(store) {}

std::string TextGroups::entryOf(const PageContent& content, std::size_t pageBytes, bool& cut)
{
    // A page's text and sections may take twice its own bytes at most: escapes of control
    // characters (six bytes for one) and charset conversion must not let a page write
    // much more than it is.
    const std::size_t mostBytes = 2 * pageBytes + 256;
    std::string text = "{\"text\":\"";
    const std::size_t head = text.size();
    const std::size_t room = std::min(2 * pageBytes, kMaxPageTextBytes);
    std::uint32_t units = ~std::uint32_t(0);
    cut = false;
    if (content.scriptText.size() > room) {
        text.append(content.scriptText, 0, scriptTextCut(content.scriptText, room, units));
        cut = true;
    } else {
        text += content.scriptText;
    }
    text += "\",\"sections\":[";
    bool first = true;
    for (const PageSection& section : content.sections) {
        if (section.start > units)
            break;  // beyond the text kept
        std::string entry = first ? "[" : ",[";
        IndexText::appendNumber(entry, section.start);
        entry += ',';
        appendScriptString(entry, section.anchor);
        entry += ',';
        appendScriptString(entry, section.heading);
        entry += ']';
        if (text.size() - head + entry.size() > mostBytes) {
            cut = true;
            break;
        }
        text += entry;
        first = false;
    }
    text += "]}";
    return text;
}

void TextGroups::place(std::int32_t document, std::pair<std::int32_t, std::int32_t> where)
{
    if (document < 0)
        return;
    if (static_cast<std::size_t>(document) >= m_places.size())
        m_places.resize(document + 1, {-1, -1});
    m_places[document] = where;
}

bool TextGroups::add(std::int32_t document, std::string entry)
{
    if (m_entries == 0)
        m_group = kHead;
    else
        m_group += ",\n";
    m_group += entry;
    place(document, {static_cast<std::int32_t>(m_groups.size()), m_entries++});
    if (entryHash(entry) % kGroupPages == 0 || m_group.size() >= kGroupBytes)
        return endGroup();
    return true;
}

void TextGroups::share(std::int32_t document, std::int32_t first)
{
    if (first >= 0 && static_cast<std::size_t>(first) < m_places.size())
        place(document, m_places[first]);
}

bool TextGroups::endGroup()
{
    m_group += "]);\n";
    const std::string name = m_store.put(m_group);
    m_entries = 0;
    m_group.clear();
    if (name.empty())
        return false;
    m_groups.push_back(name);
    return true;
}

bool TextGroups::finish()
{
    return m_entries == 0 || endGroup();
}
