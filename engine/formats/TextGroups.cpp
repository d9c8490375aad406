// Page texts grouped a few to a file, with group ends chosen by the texts themselves, so
// that re-indexing a site rewrites only the groups of the pages that changed.

#include "TextGroups.h"

#include "CompanionData.h"
#include "IndexText.h"
#include "PieceStore.h"
#include "ScriptString.h"

#include <algorithm>
#include <cstring>
#include <xxhash.h>

namespace {
const char* const kHead = "/* generator: VantrelIndexer */\nvantrelTexts([";

// Where a group ends: FNV-1a (32 bits) of the entry, modulo kGroupPages. Only those
// two bits are ever used, and they need no byte-by-byte chain: modulo 4 a step
// h = (h ^ c) * 16777619 is h = -(h ^ c), which is affine in the bits, so
//   bit 0 = bit 0 of the offset basis ^ the bits 0 of every byte,
//   bit 1 = bit 1 of the basis ^ (bit 0 of the basis when the length is odd) ^ the
//           bits 0 and 1 of every byte ^ the bits 0 of the bytes at offsets of the
//           length's parity,
// which the entry's words XORed together give, eight bytes at a time.
static_assert(TextGroups::kGroupPages == 4, "entryEnd gives FNV-1a modulo 4");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "entryEnd reads byte k of a word at bits 8k");

std::uint32_t entryEnd(std::string_view entry)
{
    const char* p = entry.data();
    const std::size_t n = entry.size();
    std::uint64_t bytes = 0;  // byte k holds the XOR of the entry's bytes at offsets k modulo 8
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        bytes ^= word;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, p + i, n - i);
    bytes ^= tail;
    auto parity = [bytes](std::uint64_t mask) { return static_cast<std::uint32_t>(__builtin_popcountll(bytes & mask) & 1); };
    const std::uint32_t bits0 = parity(0x0101010101010101ULL), bits1 = parity(0x0202020202020202ULL);
    const std::uint32_t sameParity = parity(n % 2 == 0 ? 0x0001000100010001ULL : 0x0100010001000100ULL);
    constexpr std::uint32_t basis = 2166136261u % 4;  // bit 0 set, bit 1 clear
    const std::uint32_t bit0 = (basis & 1) ^ bits0;
    const std::uint32_t bit1 = (basis >> 1) ^ (n % 2 == 1 ? (basis & 1) : 0) ^ bits0 ^ bits1 ^ sameParity;
    return bit1 << 1 | bit0;
}
}  // namespace

TextGroups::TextGroups(PieceStore& store) : m_store(store) {}

TextGroups::EntryFacts TextGroups::factsOf(std::string_view entry)
{
    return EntryFacts{entryEnd(entry), entry.size(), XXH3_64bits(entry.data(), entry.size())};
}

void TextGroups::reuseFrom(const std::vector<Written>& earlier)
{
    m_earlier.clear();
    for (const Written& group : earlier)
        m_earlier.emplace(group.entries, group);
}

std::string TextGroups::entryOf(const PageContent& content, std::size_t pageBytes, bool& cut)
{
    // A page's text and sections may take twice its own bytes at most: escapes of control
    // characters (six bytes for one) and charset conversion must not let a page write
    // much more than it is.
    const std::size_t mostBytes = 2 * pageBytes + 256;
    std::string text = "{\"text\":\"";
    const std::size_t head = text.size();
    text.reserve(head + content.scriptText.size() + 64 * content.sections.size() + 32);
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
    std::string entry;  // one section's, its memory kept from section to section
    for (const PageSection& section : content.sections) {
        if (section.start > units)
            break;  // beyond the text kept
        entry = first ? "[" : ",[";
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

bool TextGroups::add(std::int32_t document, std::string entry, const EntryFacts* known)
{
    const EntryFacts facts = known ? *known : factsOf(entry);
    return addPending(document, Pending{facts, std::move(entry), nullptr});
}

bool TextGroups::add(std::int32_t document, const EntryFacts& facts, Loader load)
{
    return addPending(document, Pending{facts, std::string(), std::move(load)});
}

bool TextGroups::addPending(std::int32_t document, Pending pending)
{
    // The group's file: the head, the entries with ",\n" between them, and its end.
    m_groupBytes += m_pending.empty() ? std::strlen(kHead) : 2;
    m_groupBytes += pending.facts.length;
    const bool ends = (pending.facts.end % kGroupPages == 0 && m_groupBytes >= kGroupFloor) || m_groupBytes >= kGroupBytes;
    place(document, {static_cast<std::int32_t>(m_groups.size()), static_cast<std::int32_t>(m_pending.size())});
    m_pending.push_back(std::move(pending));
    return ends ? endGroup() : true;
}

void TextGroups::share(std::int32_t document, std::int32_t first)
{
    if (first >= 0 && static_cast<std::size_t>(first) < m_places.size())
        place(document, m_places[first]);
}

bool TextGroups::endGroup()
{
    // The checksum of the facts of its entries names the group among the last job's.
    auto entriesChecksum = [this] {
        std::vector<std::uint64_t> fields;
        fields.reserve(3 * m_pending.size());
        for (const Pending& pending : m_pending)
            fields.insert(fields.end(), {pending.facts.end, pending.facts.length, pending.facts.checksum});
        return XXH3_64bits(fields.data(), fields.size() * sizeof fields[0]);
    };
    m_groupBytes = 0;
    Written group{entriesChecksum(), {}, {}};
    const auto earlier = m_earlier.find(group.entries);
    if (earlier != m_earlier.end() && m_store.reuse(earlier->second.name, earlier->second.stamp)) {
        // Its file is the head and the entries of these facts, as when it was written.
        std::vector<std::uint64_t> offsets;
        std::uint64_t at = std::strlen(kHead);
        for (const Pending& entry : m_pending) {
            offsets.push_back(at);
            at += entry.facts.length + 2;
        }
        m_offsets.push_back(std::move(offsets));
        m_pending.clear();
        m_groups.push_back(earlier->second.name);
        m_written.push_back(earlier->second);
        return true;
    }
    std::string text = kHead;
    std::size_t bytes = text.size() + 8;
    for (const Pending& entry : m_pending)
        bytes += entry.facts.length + 2;
    text.reserve(bytes);  // loaded entries are as long as their facts say, or near
    std::vector<std::uint64_t> offsets;
    offsets.reserve(m_pending.size());
    for (Pending& entry : m_pending) {
        if (entry.load) {
            // A text that can no longer be had at all (its page gone since the walk)
            // shows as empty rather than costing every other page its text.
            if (!entry.load(entry.entry))
                entry.entry = "{\"text\":\"\",\"sections\":[]}";
            entry.facts = factsOf(entry.entry);  // what is written is what it stands for
        }
        if (&entry != &m_pending.front())
            text += ",\n";
        offsets.push_back(text.size());
        text += entry.entry;
    }
    text += "]);\n";
    group.entries = entriesChecksum();
    m_pending.clear();
    group.name = m_store.put(text);
    if (group.name.empty())
        return false;
    m_offsets.push_back(std::move(offsets));
    group.stamp = m_store.stampWhenPut(group.name);
    m_groups.push_back(group.name);
    m_written.push_back(std::move(group));
    return true;
}

TextGroups::Location TextGroups::locate(std::int32_t document) const
{
    if (document < 0 || static_cast<std::size_t>(document) >= m_places.size())
        return {};
    const auto [group, place] = m_places[static_cast<std::size_t>(document)];
    if (group < 0 || static_cast<std::size_t>(group) >= m_offsets.size()
        || static_cast<std::size_t>(place) >= m_offsets[static_cast<std::size_t>(group)].size())
        return {};
    return {m_groups[static_cast<std::size_t>(group)], m_offsets[static_cast<std::size_t>(group)][static_cast<std::size_t>(place)]};
}

bool TextGroups::readEntry(const PieceStore& store, const Location& where, const EntryFacts& facts, std::string& entry)
{
    // The group may have been changed, replaced or removed since it was written (only the
    // user should write the store, but the cache trusts nothing it did not check): the
    // entry is taken only when its bytes are those the facts tell.
    if (where.group.empty() || facts.length == 0 || !store.readPart(where.group, where.offset, facts.length, entry))
        return false;
    return XXH3_64bits(entry.data(), entry.size()) == facts.checksum;
}

bool TextGroups::finish()
{
    return m_pending.empty() || endGroup();
}
