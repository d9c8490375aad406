// What a reader sees of a page: its real title, summary, plain text and sections, taken
// from the page's HTML in one linear pass.

#include "PageContent.h"

#include "AsciiText.h"
#include "HtmlEntities.h"
#include "ScriptString.h"
#include "Utf8Sequence.h"
#include "TextEncoding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace {

constexpr std::size_t kMaxTitleBytes = 1000;
constexpr std::size_t kMaxHeadingBytes = 300;
constexpr std::size_t kSummaryBytes = 240;

// Text with runs of blanks collapsed to one blank, none at either end, and the pilcrows
// that mark heading links dropped; counts its UTF-16 code units and stops at a limit.
class CollapsedText {
public:
    explicit CollapsedText(std::size_t limit) : m_limit(limit) {}

    void blank() { m_blank = true; }

    // Appends UTF-8 text; false once the limit is reached.
    bool add(std::string_view utf8)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
        const std::size_t n = utf8.size();
        std::size_t i = 0;
        while (i < n) {
            if (isBlank(p[i])) {
                m_blank = true;
                ++i;
                continue;
            }
            if (p[i] == 0xC2 && i + 1 < n && p[i + 1] == 0xB6) {
                i += 2;
                continue;
            }
            // A run of characters up to the next blank or pilcrow goes in at once.
            std::size_t end = i;
            std::uint32_t units = 0;
            while (end < n && !isBlank(p[end]) && !(p[end] == 0xC2 && end + 1 < n && p[end + 1] == 0xB6)) {
                if ((p[end] & 0xC0) != 0x80)
                    units += p[end] >= 0xF0 ? 2 : 1;
                ++end;
            }
            if (m_text.size() + (end - i) > m_limit)
                return false;
            if (m_blank && !m_text.empty()) {
                m_text += ' ';
                ++m_units;
            }
            m_blank = false;
            m_text.append(utf8.data() + i, end - i);
            m_units += units;
            i = end;
        }
        return true;
    }

    // Where the next character will stand, in UTF-16 code units.
    std::uint32_t nextStart() const { return m_units + (m_blank && !m_text.empty() ? 1 : 0); }
    const std::string& text() const { return m_text; }
    std::string take() { return std::move(m_text); }
    void clear()
    {
        m_text.clear();
        m_units = 0;
        m_blank = false;
    }

private:
    std::string m_text;
    std::size_t m_limit;
    std::uint32_t m_units = 0;
    bool m_blank = false;
};

// How a byte of UTF-8 text goes into the plain text: as it is, as a blank, as the start
// of a character reference, or one at a time (bytes to escape, and the lead bytes of
// the pilcrow and of U+2028/U+2029).
enum ByteClass : unsigned char { Plain, Space, Reference, Single };

const std::array<unsigned char, 256> kByteClass = [] {
    std::array<unsigned char, 256> classes{};
    for (int c = 0; c < 0x20; ++c)
        classes[c] = Single;
    for (unsigned char c : {' ', '\t', '\n', '\r', '\f'})
        classes[c] = Space;
    classes['&'] = Reference;
    for (unsigned char c : {'"', '\\', '\x7f', '\xc2', '\xe2'})
        classes[c] = Single;
    return classes;
}();

std::uint32_t utf16Units(unsigned char leadByte) { return (leadByte & 0xC0) == 0x80 ? 0 : leadByte >= 0xF0 ? 2 : 1; }

// Whether the eight bytes at p go into a run of plain text whole: printable ASCII but
// quote, backslash and '&', with single blanks between them and none last. Most text is
// such blocks, tested at once instead of byte by byte.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "isPlainAsciiBlock reads bytes from the low end");

bool isPlainAsciiBlock(const unsigned char* p)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL, lows = 0x7F7F7F7F7F7F7F7FULL;
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    // A byte equal to zero, found exactly: the high bit of each zero byte.
    auto zeros = [](std::uint64_t v) { return ~(((v & lows) + lows) | v | lows); };
    if ((w & highs) != 0 || ((w + 0x6060606060606060ULL) & highs) != highs)  // not ASCII, or below ' '
        return false;
    if ((zeros(w ^ ('"' * ones)) | zeros(w ^ ('\\' * ones)) | zeros(w ^ ('&' * ones)) | zeros(w ^ (0x7F * ones))) != 0)
        return false;
    const std::uint64_t blanks = zeros(w ^ (' ' * ones));
    // Bytes in memory order from the low end: no blank right after a blank, none last.
    return (blanks & (blanks << 8)) == 0 && (blanks >> 56) == 0;
}

// The plain text of a page, written as it goes in the form it takes inside a
// double-quoted script string: blanks collapsed, pilcrows dropped, quote, backslash and
// control characters escaped. Counts the UTF-16 code units of the text it stands for.
class ScriptText {
public:
    explicit ScriptText(std::size_t limit) : m_limit(limit) {}

    void blank() { m_blank = true; }
    void reserve(std::size_t bytes) { m_escaped.reserve(bytes); }
    bool full() const { return m_full; }
    // Where the next character will stand, in UTF-16 code units of the text.
    std::uint32_t nextStart() const { return m_units + (m_blank && m_units ? 1 : 0); }
    // Where the next character will stand in the escaped text.
    std::size_t nextEscaped() const { return m_escaped.size() + (m_blank && m_units ? 1 : 0); }
    std::uint32_t units() const { return m_units; }
    std::string take() { return std::move(m_escaped); }

    // Adds n bytes of characters that need no escape; units is their UTF-16 length. A
    // run that does not fit whole is cut at the last blank (or character) that fits.
    void addRun(const char* p, std::size_t n, std::uint32_t units)
    {
        if (!m_full && m_bytes + n + (m_blank && m_units ? 1 : 0) > m_limit) {
            const std::size_t room = m_limit - std::min(m_limit, m_bytes + (m_blank && m_units ? 1 : 0));
            std::size_t cut = room;
            while (cut > 0 && (static_cast<unsigned char>(p[cut]) & 0xC0) == 0x80)
                --cut;  // not inside a character
            for (std::size_t blank = cut; blank > room / 2; --blank) {
                if (p[blank] == ' ') {
                    cut = blank;
                    break;
                }
            }
            units = 0;
            for (std::size_t i = 0; i < cut; ++i)
                units += (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80 ? 0 : static_cast<unsigned char>(p[i]) >= 0xF0 ? 2 : 1;
            if (cut > 0 && open(cut)) {
                m_escaped.append(p, cut);
                m_units += units;
            }
            m_full = true;
            return;
        }
        if (!open(n))
            return;
        m_escaped.append(p, n);
        m_units += units;
    }

    // Adds one character, escaped as it must be; blanks are collapsed.
    void addCodePoint(char32_t c)
    {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == 0xB6) {
            if (c != 0xB6)
                m_blank = true;
            return;
        }
        std::string utf8;
        appendUtf8(utf8, c);
        if (!open(utf8.size()))
            return;
        appendScriptEscaped(m_escaped, utf8);
        m_units += c >= 0x10000 ? 2 : 1;
    }

private:
    // Makes room for a character of bytes bytes, after the blank that is due.
    bool open(std::size_t bytes)
    {
        if (m_full || m_bytes + bytes > m_limit) {
            m_full = true;
            return false;
        }
        if (m_blank && m_units) {
            m_escaped += ' ';
            ++m_units;
            ++m_bytes;
        }
        m_blank = false;
        m_bytes += bytes;
        return true;
    }

    std::string m_escaped;
    std::size_t m_limit;
    std::size_t m_bytes = 0;  // of the text it stands for
    std::uint32_t m_units = 0;
    bool m_blank = false;
    bool m_full = false;
};

// The text that escaped (as ScriptText writes it) stands for, from its start up to
// limit bytes of escaped text.
std::string unescapeScriptText(std::string_view escaped, std::size_t limit)
{
    std::string text;
    escaped = escaped.substr(0, limit);
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            text += escaped[i];
        } else if (i + 1 < escaped.size() && escaped[i + 1] != 'u') {
            text += escaped[++i];
        } else if (i + 5 < escaped.size()) {
            appendUtf8(text, static_cast<char32_t>(std::stoul(std::string(escaped.substr(i + 2, 4)), nullptr, 16)));
            i += 5;
        } else {
            break;
        }
    }
    return text;
}

// text cut at a blank to at most limit bytes, with an ellipsis when cut.
std::string cutAtWord(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return std::string(text);
    std::size_t cut = text.rfind(' ', limit);
    if (cut == std::string_view::npos || cut < limit / 2) {
        cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
    }
    return std::string(text.substr(0, cut)) + "\xE2\x80\xA6";
}

// What an element means for the text of a page: flags, and a heading's level above them.
enum ElementKind : unsigned {
    Inline = 0,
    Block = 1,    // begins a new block, so that words on both sides stay apart
    Hidden = 2,   // its content is no text of the page
    Title = 4,
    Meta = 8,
    Main = 16,
    Anchor = 32,  // <a>, whose name attribute is an anchor
    Attributes = 64,  // its attributes matter here: anchors, roles, descriptions
    HeadingShift = 8,
};

// Up to the first eight bytes of a lower-case name in one number.
constexpr std::uint64_t packName(std::string_view name)
{
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i)
        key = key << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
    return key;
}

constexpr std::uint64_t kAnchorKey = packName("a"), kHtmlKey = packName("html"), kNavKey = packName("nav");

unsigned elementKind(std::uint64_t key)
{
    // An open-addressed table of the names that mean something, found in one or two
    // probes: every tag of a page is looked up.
    struct Known {
        std::uint64_t key = 0;
        unsigned kind = Inline;
    };
    constexpr std::size_t kSlots = 256;
    static const std::array<Known, kSlots> known = [] {
        const std::pair<std::string_view, unsigned> names[] = {
            {"a", Anchor | Attributes}, {"address", Block}, {"article", Block | Attributes}, {"aside", Block | Attributes}, {"blockquote", Block},
            {"body", Block | Attributes}, {"br", Block}, {"button", Block}, {"caption", Block}, {"dd", Block},
            {"details", Block}, {"div", Block | Attributes}, {"dl", Block}, {"dt", Block}, {"fieldset", Block},
            {"figcaption", Block}, {"figure", Block}, {"footer", Block | Attributes}, {"form", Block},
            {"h1", Block | Attributes | 1u << HeadingShift}, {"h2", Block | Attributes | 2u << HeadingShift}, {"h3", Block | Attributes | 3u << HeadingShift},
            {"h4", Block | Attributes | 4u << HeadingShift}, {"h5", Block | Attributes | 5u << HeadingShift}, {"h6", Block | Attributes | 6u << HeadingShift},
            {"head", Block}, {"header", Block | Attributes}, {"hr", Block}, {"html", Block | Attributes}, {"iframe", Hidden},
            {"img", Block}, {"input", Block}, {"label", Block}, {"legend", Block}, {"li", Block},
            {"main", Block | Main | Attributes}, {"math", Hidden}, {"meta", Meta | Attributes}, {"nav", Block | Attributes}, {"noembed", Hidden},
            {"noframes", Hidden}, {"object", Hidden}, {"ol", Block}, {"option", Block}, {"p", Block},
            {"pre", Block}, {"script", Hidden}, {"section", Block | Attributes}, {"select", Block}, {"style", Hidden},
            {"summary", Block}, {"svg", Hidden}, {"table", Block}, {"tbody", Block}, {"td", Block},
            {"template", Hidden}, {"textarea", Hidden}, {"tfoot", Block}, {"th", Block}, {"thead", Block},
            {"title", Title}, {"tr", Block}, {"ul", Block}, {"xmp", Hidden}};
        std::array<Known, kSlots> table{};
        for (const auto& [name, kind] : names) {
            std::uint64_t k = packName(name);
            std::size_t slot = (k * 0x9E3779B97F4A7C15ULL) >> 56;
            while (table[slot].key != 0)
                slot = (slot + 1) % kSlots;
            table[slot] = Known{k, kind};
        }
        return table;
    }();
    for (std::size_t slot = (key * 0x9E3779B97F4A7C15ULL) >> 56;; slot = (slot + 1) % kSlots) {
        if (known[slot].key == key)
            return known[slot].kind;
        if (known[slot].key == 0)
            return Inline;
    }
}

// A byte of a tag's name (an ASCII letter or digit) lower-cased, else 0.
const std::array<unsigned char, 256> kTagNameByte = [] {
    std::array<unsigned char, 256> bytes{};
    for (int c = 0; c < 0x80; ++c)
        if (isAsciiAlnum(static_cast<char>(c)))
            bytes[c] = static_cast<unsigned char>(lowerAscii(static_cast<char>(c)));
    return bytes;
}();

// Bytes that end a tag's name or an attribute's name.
const std::array<bool, 256> kNameEnd = [] {
    std::array<bool, 256> ends{};
    for (unsigned char c : {' ', '\t', '\n', '\r', '\f', '=', '>', '/'})
        ends[c] = true;
    return ends;
}();

struct Tag {
    std::string_view name;  // as written; empty when '<' starts no tag
    unsigned kind = Inline;
    bool end = false;
    std::string_view id, nameAttribute, content, role, className, lang, xmlLang, httpEquiv;
    std::uint64_t key = 0;  // the name's first eight bytes, lower-cased (packName)
    std::size_t next = 0;  // just after its '>'
};

// Reads the tag at html[at] == '<' into tag: its name, the attributes that matter here,
// and its end. tag is reused from tag to tag (zeroing a fresh one for each of the
// millions of tags of a site costs more than reading most of them).
void readTag(std::string_view html, std::size_t at, Tag& tag)
{
    static const std::uint64_t idKey = packName("id"), nameKey = packName("name"), contentKey = packName("content"),
                               roleKey = packName("role"), classKey = packName("class"), langKey = packName("lang"),
                               xmlLangKey = packName("xml:lang");
    // One by one: a chained assignment reads back the view it has just stored, which
    // stalls on every tag.
    tag.name = {};
    tag.id = {};
    tag.nameAttribute = {};
    tag.content = {};
    tag.role = {};
    tag.className = {};
    tag.lang = {};
    tag.xmlLang = {};
    tag.httpEquiv = {};
    tag.kind = Inline;
    tag.end = false;
    tag.key = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(html.data());
    const std::size_t n = html.size();
    std::size_t i = at + 1;
    if (i < n && p[i] == '/') {
        tag.end = true;
        ++i;
    }
    if (i >= n || !((p[i] | 0x20) >= 'a' && (p[i] | 0x20) <= 'z')) {
        tag.next = at + 1;
        return;
    }
    const std::size_t nameStart = i;
    std::uint64_t key = 0;
    // The first eight bytes make the key; the rest are only passed.
    const std::size_t keyEnd = std::min(n, nameStart + 8);
    for (unsigned char lower; i < keyEnd && (lower = kTagNameByte[p[i]]) != 0; ++i)
        key = key << 8 | lower;
    if (i == keyEnd)  // a name of eight bytes or more, or the page's end
        while (i < n && kTagNameByte[p[i]] != 0)
            ++i;
    tag.name = html.substr(nameStart, i - nameStart);
    if (tag.name.size() < 8)
        key <<= 8 * (8 - tag.name.size());
    tag.kind = elementKind(key);
    tag.key = key;
    if (!(tag.kind & Attributes)) {
        // <span>, <code>, <p>, <li> and the like carry nothing that matters here, and
        // they are most tags of a page: only their end is looked for.
        if (i < n && p[i] == '>') {  // no attributes at all, as in most end tags
            tag.next = i + 1;
            return;
        }
        const void* gt = std::memchr(p + i, '>', n - i);
        tag.next = gt ? static_cast<std::size_t>(static_cast<const unsigned char*>(gt) - p) + 1 : n;
        return;
    }
    while (i < n && p[i] != '>') {
        if (kNameEnd[p[i]]) {
            ++i;
            continue;
        }
        const std::size_t attributeStart = i;
        std::uint64_t attribute = 0;
        const std::size_t attributeKeyEnd = std::min(n, attributeStart + 8);
        for (; i < attributeKeyEnd && !kNameEnd[p[i]]; ++i)
            attribute = attribute << 8 | kAsciiLower[p[i]];
        if (i == attributeKeyEnd)
            while (i < n && !kNameEnd[p[i]])
                ++i;
        const std::string_view attributeName = html.substr(attributeStart, i - attributeStart);
        if (i - attributeStart < 8)
            attribute <<= 8 * (8 - (i - attributeStart));
        else if (i - attributeStart > 8)
            attribute = 0;  // only http-equiv, of the names that matter here, is that long
        const std::string_view value = readAttributeValue(html, i);
        if (attribute == idKey)
            tag.id = value;
        else if (attribute == nameKey)
            tag.nameAttribute = value;
        else if (attribute == contentKey)
            tag.content = value;
        else if (attribute == roleKey)
            tag.role = value;
        else if (attribute == classKey)
            tag.className = value;
        else if (attribute == langKey)
            tag.lang = value;
        else if (attribute == xmlLangKey)
            tag.xmlLang = value;
        else if (attribute == 0 && equalsLower(attributeName, "http-equiv"))
            tag.httpEquiv = value;
    }
    tag.next = std::min(i + 1, n);
}

// The language a lang attribute or a Content-Language META names: its first entry
// without blanks; "" when it names none.
std::string_view languageOf(std::string_view value)
{
    std::size_t start = 0;
    while (start < value.size() && isBlank(static_cast<unsigned char>(value[start])))
        ++start;
    std::size_t end = start;
    while (end < value.size() && value[end] != ',' && !isBlank(static_cast<unsigned char>(value[end])))
        ++end;
    return value.substr(start, std::min<std::size_t>(end - start, 35));  // the longest tag of any sense
}

class ContentReader {
public:
    ContentReader(std::string_view html, ContentMode wordsOf)
        : m_html(html)
        , m_wantKeywords(wordsOf <= ContentMode::AllContent)
        , m_wantTitle(wordsOf >= ContentMode::KeywordsTitles && wordsOf <= ContentMode::AllContent)
        , m_wantHeadings(wordsOf >= ContentMode::KeywordsTitlesHeaders && wordsOf <= ContentMode::AllContent)
        , m_wantBody(wordsOf == ContentMode::AllContent)
    {
        // The text and the body's words are most of a page's text, which is at most its
        // size: taken at once instead of grown (and copied) step by step.
        const std::size_t expected = std::min(html.size(), kMaxPageTextBytes);
        m_text.reserve(expected);
        if (m_wantBody)
            m_placed.body.reserve(expected);
    }

    PageContent read()
    {
        std::size_t i = 0;
        const std::size_t n = m_html.size();
        while (i < n && !m_full) {
            // Most tags follow one another: the next one is looked for only past text.
            std::size_t lt = m_html[i] == '<' ? i : m_html.find('<', i);
            if (lt == std::string_view::npos)
                lt = n;
            if (lt > i)
                characters(m_html.substr(i, lt - i));
            if (lt >= n)
                break;
            i = markup(lt);
        }
        return finish();
    }

private:
    // Handles the markup at html[at] == '<'; returns where reading goes on.
    std::size_t markup(std::size_t at)
    {
        const std::size_t n = m_html.size();
        const char next = at + 1 < n ? m_html[at + 1] : '\0';
        if (next == '!' && at + 3 < n && m_html[at + 2] == '-' && m_html[at + 3] == '-') {
            std::size_t close = m_html.find("-->", at + 4);
            return close == std::string_view::npos ? n : close + 3;
        }
        if (next == '!' || next == '?') {
            std::size_t close = m_html.find('>', at);
            return close == std::string_view::npos ? m_html.size() : close + 1;
        }
        Tag& tag = m_tag;
        readTag(m_html, at, tag);
        if (tag.name.empty()) {
            characters("<");
            return tag.next;
        }
        if (tag.end)
            endTag(tag);
        else if (tag.kind & (Hidden | Title))
            return rawElement(tag);
        else
            startTag(tag);
        return tag.next;
    }

    // Skips an element whose content is raw text, keeping the first title element's.
    std::size_t rawElement(const Tag& tag)
    {
        std::size_t close = findClosingTag(tag.name, tag.next);
        const std::size_t contentEnd = close == std::string_view::npos ? m_html.size() : close;
        if ((tag.kind & Title) && !m_titleFound) {
            m_titleFound = true;
            std::string decoded;
            decodeEntities(m_html.substr(tag.next, contentEnd - tag.next), decoded);
            CollapsedText title(kMaxTitleBytes);
            title.add(decoded);
            m_title = title.take();
            if (m_wantTitle)
                m_placed.title = m_title;
        }
        if (close == std::string_view::npos)
            return m_html.size();
        std::size_t gt = m_html.find('>', close);
        return gt == std::string_view::npos ? m_html.size() : gt + 1;
    }

    // Where "</name" (any case) begins at or after from, or npos.
    std::size_t findClosingTag(std::string_view name, std::size_t from) const
    {
        for (std::size_t at = m_html.find("</", from); at != std::string_view::npos; at = m_html.find("</", at + 2)) {
            if (at + 2 + name.size() > m_html.size())
                break;
            std::size_t k = 0;
            while (k < name.size() && lowerAscii(m_html[at + 2 + k]) == lowerAscii(name[k]))
                ++k;
            if (k == name.size())
                return at;
        }
        return std::string_view::npos;
    }

    // Whether a block is the site's navigation (menus, sidebars, next and previous
    // links): its words are no text of the page.
    static bool isNavigation(const Tag& tag)
    {
        if (tag.key == kNavKey || (!tag.role.empty() && equalsLower(tag.role, "navigation")))
            return true;
        if (tag.className.empty())
            return false;
        for (std::string_view word : {"navheader", "navfooter"})
            if (tag.className.find(word) != std::string_view::npos)
                return true;
        return false;
    }

    void startTag(const Tag& tag)
    {
        if (m_navigationDepth) {
            if (tag.key == m_navigationKey)
                ++m_navigationDepth;
            return;
        }
        if ((tag.kind & Block) && isNavigation(tag) && !m_headingLevel) {
            m_navigationKey = tag.key;
            m_navigationDepth = 1;
            separate();
            return;
        }
        if (tag.kind & Block)
            separate();
        if (tag.kind & Meta)
            meta(tag);
        if (tag.key == kHtmlKey && m_language.empty())
            m_language = languageOf(!languageOf(tag.lang).empty() ? tag.lang : tag.xmlLang);
        if (tag.key == kAnchorKey) {
            m_inLink = true;
            keepLinkTextApart();
        }
        if (((tag.kind & Main) || (!tag.role.empty() && equalsLower(tag.role, "main"))) && m_mainStart == std::string::npos)
            m_mainStart = m_text.nextEscaped();
        std::string_view anchor = !tag.id.empty() ? tag.id : (tag.kind & Anchor) ? tag.nameAttribute : std::string_view();
        if (int level = static_cast<int>(tag.kind >> HeadingShift); level && !m_headingLevel) {
            m_headingLevel = level;
            m_section = PageSection{};
            m_section.start = m_text.nextStart();
            m_section.anchor = !tag.id.empty() ? decodeAnchor(tag.id) : m_pendingAnchor;
            m_heading.clear();
        } else if (!anchor.empty()) {
            // An anchor inside a heading, before its text, is the heading's anchor.
            if (m_headingLevel && m_section.anchor.empty() && m_heading.text().empty())
                m_section.anchor = decodeAnchor(anchor);
            else if (!m_headingLevel)
                decodeAnchorInto(anchor, m_pendingAnchor);
        }
        // Only an anchor right before a heading is the heading's: on a block that opens
        // around it (however many wrappers follow, as in <div class="sect1" id="x">
        // <div class="titlepage"><div><h2>), or a named anchor just before it. Text or
        // the end of a block between them parts them.
    }

    void meta(const Tag& tag)
    {
        if (m_description.empty() && equalsLower(tag.nameAttribute, "description")) {
            decodeEntities(tag.content, m_description);
        } else if (m_wantKeywords && equalsLower(tag.nameAttribute, "keywords")) {
            decodeEntities(tag.content.substr(0, kMaxPageTextBytes - m_placed.keywords.size()), m_placed.keywords);
            m_placed.keywords += ' ';
            if (m_placed.keywords.size() >= kMaxPageTextBytes)
                m_wantKeywords = false;  // no more than a page's text
        } else if (equalsLower(tag.httpEquiv, "content-language") && m_metaLanguage.empty()) {
            m_metaLanguage = languageOf(tag.content);
        }
    }

    // The places whose words a block or a link's edge keeps apart, by their bits in
    // m_keptApart.
    enum PlaceBit : unsigned { BodyBit = 1, LinksBit = 2, OtherHeadingsBit = 4, HeadingBit = 8 };  // H1; H2, H3 above
    static constexpr unsigned kEveryPlace = 0x3F;

    // Where the words of text standing here go: the place's text, or null when the
    // indexing option takes no words from here. The blank due after its last word
    // goes in first.
    std::string* placeOfText()
    {
        std::string* place = nullptr;
        unsigned bit = 0;
        if (m_headingLevel >= 1 && m_headingLevel <= 3) {
            place = m_wantHeadings ? &m_placed.headings[m_headingLevel - 1] : nullptr;
            bit = HeadingBit << (m_headingLevel - 1);
        } else if (m_headingLevel) {
            place = m_wantHeadings ? &m_placed.otherHeadings : nullptr;
            bit = OtherHeadingsBit;
        } else if (m_wantBody) {
            place = m_inLink ? &m_placed.links : &m_placed.body;
            bit = m_inLink ? LinksBit : BodyBit;
        }
        if (place && (m_keptApart & bit)) {
            m_keptApart &= ~bit;
            keepApart(*place);
        }
        return place;
    }

    // A blank after the last word of a place, so that the next word does not join it.
    static void keepApart(std::string& place)
    {
        if (!place.empty() && place.back() != ' ')
            place += ' ';
    }

    void endTag(const Tag& tag)
    {
        if (tag.key == kAnchorKey) {
            m_inLink = false;
            keepLinkTextApart();
        }
        if (m_navigationDepth) {
            if (tag.key == m_navigationKey && --m_navigationDepth == 0)
                separate();
            return;
        }
        if (tag.kind & Block) {
            separate();
            if (!m_headingLevel)
                m_pendingAnchor.clear();
        }
        const int level = static_cast<int>(tag.kind >> HeadingShift);
        if (!level || level != m_headingLevel)
            return;
        m_section.heading = cutAtWord(m_heading.text(), kMaxHeadingBytes);
        if (m_sections.size() < kMaxPageSections)
            m_sections.push_back(std::move(m_section));
        if (level == 1 && m_firstHeadingEnd == std::string::npos)
            m_firstHeadingEnd = m_text.nextEscaped();
        m_headingLevel = 0;
        m_pendingAnchor.clear();
    }

    void characters(std::string_view raw)
    {
        if (m_navigationDepth)
            return;
        const std::uint32_t unitsBefore = m_text.units();
        const std::uint32_t linkStart = m_text.nextStart();  // the blank before a link is not in it
        std::string* place = placeOfText();
        const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
        const std::size_t n = raw.size();
        std::size_t i = 0;
        while (i < n && !m_text.full()) {
            switch (kByteClass[p[i]]) {
            case Plain: {
                // A run of characters, with the single blanks between its words: they
                // stay as they are when blanks collapse.
                std::size_t end = i;
                std::uint32_t units = 0;
                for (;;) {
                    for (; end + 8 <= n && isPlainAsciiBlock(p + end); end += 8)
                        units += 8;
                    while (end < n && kByteClass[p[end]] == Plain)
                        units += utf16Units(p[end++]);
                    if (end + 1 < n && p[end] == ' ' && kByteClass[p[end + 1]] == Plain) {
                        ++units;
                        ++end;
                        continue;
                    }
                    break;
                }
                m_text.addRun(raw.data() + i, end - i, units);
                if (place)  // a place holds no more than a page's text
                    place->append(raw.data() + i, std::min(end - i, kMaxPageTextBytes - std::min(kMaxPageTextBytes, place->size())));
                if (m_headingLevel)
                    m_heading.add(raw.substr(i, end - i));
                i = end;
                break;
            }
            case Space:
                m_text.blank();
                m_heading.blank();
                if (place)
                    *place += ' ';
                while (++i < n && kByteClass[p[i]] == Space) {
                }
                break;
            case Reference: {
                auto [code, length] = readReference(raw.substr(i));
                if (code == 0) {
                    code = '&';
                    length = 1;
                }
                m_text.addCodePoint(code);
                if (place)
                    appendUtf8(*place, code);
                if (m_headingLevel) {
                    std::string decoded;
                    appendUtf8(decoded, code);
                    m_heading.add(decoded);
                }
                i += length;
                break;
            }
            case Single: {
                // One character (the text is valid UTF-8 here).
                auto [code, length] = decodeUtf8(raw, i);
                if (length == 0) {
                    code = 0xFFFD;
                    length = 1;
                }
                m_text.addCodePoint(code);
                if (place)
                    place->append(raw.substr(i, length));
                if (m_headingLevel)
                    m_heading.add(raw.substr(i, length));
                i += length;
                break;
            }
            }
        }
        if (m_inLink && m_text.units() > unitsBefore)
            m_linkUnits += m_text.units() - linkStart;
        if (m_text.full())
            m_full = true;
        if (!m_headingLevel && m_text.units() != unitsBefore)
            m_pendingAnchor.clear();
    }

    // Text on either side of a link's edge goes to two places (links, body): a word must
    // not be joined there from its parts in each.
    void keepLinkTextApart() { m_keptApart |= BodyBit | LinksBit; }

    void separate()
    {
        m_text.blank();
        m_heading.blank();
        // Words on either side of a block stay apart in every place's text: the blank
        // goes into a place when text next comes to it (most blocks pass most places by).
        m_keptApart = kEveryPlace;
    }

    static std::string decodeAnchor(std::string_view raw)
    {
        std::string anchor;
        decodeAnchorInto(raw, anchor);
        return anchor;
    }

    // The same into a string kept from anchor to anchor: most elements of a page with
    // an id are no heading's, and their anchors need no memory of their own.
    static void decodeAnchorInto(std::string_view raw, std::string& anchor)
    {
        anchor.clear();
        decodeEntities(raw.substr(0, 1000), anchor);
    }

    PageContent finish()
    {
        PageContent content;
        content.title = std::move(m_title);
        if (m_headingLevel && m_sections.size() < kMaxPageSections) {
            m_section.heading = cutAtWord(m_heading.text(), kMaxHeadingBytes);
            m_sections.push_back(std::move(m_section));
        }
        content.sections = std::move(m_sections);
        if (!m_description.empty()) {
            CollapsedText description(kSummaryBytes * 4);
            description.add(m_description);
            content.summary = cutAtWord(description.text(), kSummaryBytes);
        }
        std::string text = m_text.take();
        if (content.summary.empty()) {
            // The opening words of the main text: after the first top heading, else from
            // the main element on, else from the start.
            std::size_t from = m_firstHeadingEnd != std::string::npos ? m_firstHeadingEnd
                : m_mainStart != std::string::npos                     ? m_mainStart
                                                                       : 0;
            from = std::min(from, text.size());
            std::string opening = unescapeScriptText(std::string_view(text).substr(from), kSummaryBytes * 3);
            std::size_t first = opening.find_first_not_of(' ');
            content.summary = first == std::string::npos ? std::string()
                                                         : cutAtWord(std::string_view(opening).substr(first), kSummaryBytes);
        }
        if (const std::uint32_t units = m_text.units())
            content.linkShare = static_cast<int>((std::uint64_t{m_linkUnits} * 100 + units / 2) / units);
        content.language = std::string(!m_language.empty() ? m_language : m_metaLanguage);
        // The blanks still due, as though each had gone in at once.
        std::string* const apart[] = {&m_placed.body, &m_placed.links, &m_placed.otherHeadings, &m_placed.headings[0],
                                      &m_placed.headings[1], &m_placed.headings[2]};
        for (unsigned k = 0; k < 6; ++k)
            if (m_keptApart & (1u << k))
                keepApart(*apart[k]);
        content.placed = std::move(m_placed);
        content.scriptText = std::move(text);
        return content;
    }

    std::string_view m_html;
    bool m_wantKeywords;
    const bool m_wantTitle, m_wantHeadings, m_wantBody;
    PlacedText m_placed;
    bool m_inLink = false;
    unsigned m_keptApart = 0;  // PlaceBits of the places owed a blank before their next text
    std::uint32_t m_linkUnits = 0;  // of the text, inside links
    std::string_view m_language, m_metaLanguage;
    ScriptText m_text{kMaxPageTextBytes};
    CollapsedText m_heading{kMaxHeadingBytes * 4};
    std::string m_title;
    bool m_titleFound = false;
    std::string m_description;
    std::vector<PageSection> m_sections;
    PageSection m_section;
    int m_headingLevel = 0;
    std::string m_pendingAnchor;
    std::size_t m_mainStart = std::string::npos;
    std::size_t m_firstHeadingEnd = std::string::npos;
    bool m_full = false;
    Tag m_tag;                          // the tag in hand
    std::uint64_t m_navigationKey = 0;  // the element that holds the navigation being skipped
    int m_navigationDepth = 0;          // how deep in it, counting elements of its name
};

}  // namespace

PageContent extractPageContent(std::string_view page, ContentMode wordsOf)
{
    if (page.compare(0, 3, "\xEF\xBB\xBF") != 0 && isValidUtf8(page)) {
        const std::string charset = declaredCharset(page);
        if (charset.empty() || charset == "utf-8" || charset == "utf8")
            return ContentReader(page, wordsOf).read();  // most pages: read where they lie
    }
    const std::string html = pageToUtf8(page);
    return ContentReader(html, wordsOf).read();
}
