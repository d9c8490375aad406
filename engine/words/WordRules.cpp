// The word rules of the companion word index: text of any script cut into words and
// unspaced characters and pairs, and words folded into the keys readers type.

#include "WordRules.h"

#include "AsciiText.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/uscript.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace WordRules {
namespace {

// A word's token holds at most this many UTF-16 code units of it: enough for a key and
// its stem, and a bound on the work a hostile run of letters makes.
constexpr std::size_t kMaxWordUnits = 2 * kMaxKeyUnits;

enum CharKind : unsigned char { Separator, SpacedLetter, UnspacedLetter, Joiner, Underscore };

CharKind kindOf(UChar32 c)
{
    if (c < 0x80) {
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
            return SpacedLetter;
        if (c >= '0' && c <= '9')
            return Joiner;
        return c == '_' ? Underscore : Separator;
    }
    // The letters of most unspaced text, known without asking: hiragana, katakana, the
    // unified Han ideographs and the Hangul syllables.
    if ((c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) || (c >= 0x4E00 && c <= 0x9FFF)
        || (c >= 0xAC00 && c <= 0xD7A3))
        return UnspacedLetter;
    switch (u_charType(c)) {
    case U_UPPERCASE_LETTER:
    case U_LOWERCASE_LETTER:
    case U_TITLECASE_LETTER:
    case U_MODIFIER_LETTER:
    case U_OTHER_LETTER: {
        if (c == 0x30FC)  // the prolonged sound mark, written inside katakana words
            return UnspacedLetter;
        UErrorCode error = U_ZERO_ERROR;
        switch (uscript_getScript(c, &error)) {
        case USCRIPT_HAN:
        case USCRIPT_HIRAGANA:
        case USCRIPT_KATAKANA:
        case USCRIPT_HANGUL:
        case USCRIPT_THAI:
        case USCRIPT_LAO:
        case USCRIPT_KHMER:
        case USCRIPT_MYANMAR:
            return UnspacedLetter;
        default:
            return SpacedLetter;
        }
    }
    case U_NON_SPACING_MARK:
    case U_ENCLOSING_MARK:
    case U_COMBINING_SPACING_MARK:
    case U_DECIMAL_DIGIT_NUMBER:
        return Joiner;
    default:
        return Separator;
    }
}

// What a byte is to a word when it is ASCII; bytes of 0x80 and above are NotAscii.
enum AsciiKind : unsigned char { NotAscii, AsciiSeparator, AsciiDigit, AsciiLetter, AsciiUnderscore };

const std::array<unsigned char, 256> kAsciiKind = [] {
    std::array<unsigned char, 256> kinds{};
    for (int c = 0; c < 0x80; ++c)
        kinds[c] = AsciiSeparator;
    for (int c = 'a'; c <= 'z'; ++c)
        kinds[c] = kinds[c - 32] = AsciiLetter;
    for (int c = '0'; c <= '9'; ++c)
        kinds[c] = AsciiDigit;
    kinds['_'] = AsciiUnderscore;
    return kinds;
}();

// A byte of an ASCII word (letter, digit, "_") lower-cased, else 0: a word's end and its
// lower-case bytes in one look-up a byte.
const std::array<unsigned char, 256> kWordByte = [] {
    std::array<unsigned char, 256> bytes{};
    for (int c = 0; c < 0x80; ++c)
        if (kAsciiKind[c] >= AsciiDigit)
            bytes[c] = static_cast<unsigned char>(lowerAscii(static_cast<char>(c)));
    return bytes;
}();


// The length of the separator that p begins when it is one of the common non-ASCII ones
// (no-break space, dashes, curly quotes, the ellipsis, the copyright sign), else 0. Each
// is a separator after NFKC, and none composes with what stands before it.
std::size_t commonSeparatorLength(const unsigned char* p, std::size_t left)
{
    if (left >= 2 && p[0] == 0xC2 && (p[1] == 0xA0 || p[1] == 0xA9))
        return 2;  // U+00A0, U+00A9
    if (left >= 3 && p[0] == 0xE2 && p[1] == 0x80
        && (p[2] == 0x93 || p[2] == 0x94 || p[2] == 0x98 || p[2] == 0x99 || p[2] == 0x9C || p[2] == 0x9D || p[2] == 0xA6))
        return 3;  // U+2013, U+2014, U+2018, U+2019, U+201C, U+201D, U+2026
    return 0;
}

bool isMark(UChar32 c)
{
    const auto type = u_charType(c);
    return type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_COMBINING_SPACING_MARK;
}

// Runs an ICU function that writes UTF-16 into out, growing out when it is too small.
template <typename Write>
bool writeUnits(std::u16string& out, std::size_t guess, Write&& write)
{
    out.resize(std::max<std::size_t>(guess, 16));
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode error = U_ZERO_ERROR;
        const int32_t length = write(out.data(), static_cast<int32_t>(out.size()), &error);
        if (error == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(static_cast<std::size_t>(length));
            continue;
        }
        if (U_FAILURE(error)) {
            out.clear();
            return false;
        }
        out.resize(static_cast<std::size_t>(length));
        return true;
    }
    out.clear();
    return false;
}

// Appends UTF-16 units as UTF-8 (a lone surrogate as U+FFFD). Short texts, the tokens
// of a page, are most of the calls: encoded here instead of through a library call each.
void appendUnitsAsUtf8(std::string& out, const char16_t* units, std::size_t count)
{
    for (std::size_t i = 0; i < count;) {
        UChar32 c;
        U16_NEXT(units, i, count, c);
        if (U_IS_SURROGATE(c))
            c = 0xFFFD;
        uint8_t bytes[4];
        int32_t length = 0;
        U8_APPEND_UNSAFE(bytes, length, c);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    }
}

// units normalised in place by the ICU normaliser norm (unchanged when it fails).
void normalize(const UNormalizer2* norm, std::u16string& units)
{
    UErrorCode error = U_ZERO_ERROR;
    const int32_t settled = unorm2_spanQuickCheckYes(norm, units.data(), static_cast<int32_t>(units.size()), &error);
    if (U_FAILURE(error) || static_cast<std::size_t>(settled) == units.size())
        return;
    std::u16string normalized;
    if (writeUnits(normalized, units.size() * 2 + 16, [&](char16_t* to, int32_t capacity, UErrorCode* status) {
            return unorm2_normalize(norm, units.data(), static_cast<int32_t>(units.size()), to, capacity, status);
        }))
        units.swap(normalized);
}

const UNormalizer2* normalizer(const char* name, UNormalization2Mode mode)
{
    UErrorCode error = U_ZERO_ERROR;
    const UNormalizer2* norm = unorm2_getInstance(nullptr, name, mode, &error);
    return U_SUCCESS(error) ? norm : nullptr;
}

const UNormalizer2* nfkc()
{
    static const UNormalizer2* norm = normalizer("nfkc", UNORM2_COMPOSE);
    return norm;
}

// Units cut to at most limit, never between the two halves of a surrogate pair.
std::size_t cutUnits(const char16_t* units, std::size_t count, std::size_t limit)
{
    if (count <= limit)
        return count;
    return U16_IS_TRAIL(units[limit]) && U16_IS_LEAD(units[limit - 1]) ? limit - 1 : limit;
}

void appendFolded(std::string& out, const char16_t* units, std::size_t count)
{
    // Most words are ASCII: lower-cased as they are copied, and given to ICU otherwise.
    const std::size_t at = out.size();
    out.resize(at + count);
    char* to = out.data() + at;
    std::size_t i = 0;
    for (; i < count && units[i] < 0x80; ++i)
        to[i] = static_cast<char>(units[i] >= 'A' && units[i] <= 'Z' ? units[i] + 32 : units[i]);
    if (i == count)
        return;
    out.resize(at);
    std::u16string folded;
    if (writeUnits(folded, count * 3 + 4, [&](char16_t* to, int32_t capacity, UErrorCode* error) {
            return u_strFoldCase(to, capacity, units, static_cast<int32_t>(count), U_FOLD_CASE_DEFAULT, error);
        }))
        appendUnitsAsUtf8(out, folded.data(), folded.size());
}

// Latin letters that carry their stroke in the letter itself, as readers type them.
const char16_t* strokeLetter(UChar32 c)
{
    switch (c) {
    case 0xF8: return u"o";    // ø
    case 0x142: return u"l";   // ł
    case 0x111: return u"d";   // đ
    case 0xF0: return u"d";    // ð
    case 0x127: return u"h";   // ħ
    case 0x131: return u"i";   // ı
    case 0x167: return u"t";   // ŧ
    case 0xE6: return u"ae";   // æ
    case 0x153: return u"oe";  // œ
    case 0xFE: return u"th";   // þ
    default: return nullptr;
    }
}

std::string keyFromUnits(std::u16string& units)
{
    static const UNormalizer2* nfc = normalizer("nfc", UNORM2_COMPOSE);
    if (nfc)
        normalize(nfc, units);
    std::string key;
    appendUnitsAsUtf8(key, units.data(), cutUnits(units.data(), units.size(), kMaxKeyUnits));
    return key;
}
}  // namespace

void fromUtf8(std::string_view utf8, std::u16string& out)
{
    writeUnits(out, utf8.size() + 1, [&](char16_t* to, int32_t capacity, UErrorCode* error) {
        int32_t length = 0;
        u_strFromUTF8WithSub(to, capacity, &length, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr,
                             error);
        return length;
    });
}

WordKeys keysOfWord(std::string_view casefolded)
{
    WordKeys keys;
    if (std::all_of(casefolded.begin(), casefolded.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        keys.key = std::string(casefolded.substr(0, kMaxKeyUnits));
        return keys;
    }
    static const UNormalizer2* nfd = normalizer("nfc", UNORM2_DECOMPOSE);
    std::u16string units;
    fromUtf8(casefolded, units);
    if (nfd)
        normalize(nfd, units);
    std::u16string key, german;
    bool umlaut = false;
    UScriptCode baseScript = USCRIPT_COMMON;
    UChar32 base = 0;
    for (std::size_t i = 0; i < units.size();) {
        UChar32 c;
        U16_NEXT(units.data(), i, units.size(), c);
        if (u_charType(c) == U_NON_SPACING_MARK) {
            bool drop = false;
            if (baseScript == USCRIPT_LATIN || baseScript == USCRIPT_GREEK) {
                drop = true;
                if (c == 0x308 && (base == 'a' || base == 'o' || base == 'u')) {
                    german += u'e';
                    umlaut = true;
                    base = 0;  // one e for one diaeresis
                    continue;
                }
            } else if (baseScript == USCRIPT_CYRILLIC) {
                drop = c == 0x301 || c == 0x300 || (c == 0x308 && base == 0x435);  // stress marks; ё is е
            }
            if (drop)
                continue;
        } else {
            UErrorCode error = U_ZERO_ERROR;
            baseScript = uscript_getScript(c, &error);
            base = c;
            if (const char16_t* plain = strokeLetter(c)) {
                key += plain;
                german += plain;
                continue;
            }
        }
        char16_t pair[2];
        std::size_t length = 0;
        U16_APPEND_UNSAFE(pair, length, c);
        key.append(pair, length);
        german.append(pair, length);
    }
    keys.key = keyFromUnits(key);
    if (umlaut)
        keys.germanKey = keyFromUnits(german);
    return keys;
}

std::string foldKey(std::string_view utf8)
{
    std::u16string units;
    fromUtf8(utf8, units);
    std::string folded;
    appendFolded(folded, units.data(), units.size());
    return keysOfWord(folded).key;
}

std::vector<std::string> indexKeys(std::string_view utf8)
{
    std::vector<std::string> keys;
    TextCutter cutter;
    cutter.cut(utf8);
    for (const TextCutter::Token& token : cutter.tokens()) {
        if (token.kind == TextCutter::Unspaced) {
            keys.emplace_back(cutter.textOf(token));
            continue;
        }
        WordKeys word = keysOfWord(cutter.textOf(token));
        keys.push_back(std::move(word.key));
        if (!word.germanKey.empty())
            keys.push_back(std::move(word.germanKey));
    }
    return keys;
}

bool lessByUtf16(std::string_view a, std::string_view b)
{
    const std::size_t common = std::min(a.size(), b.size());
    const std::size_t i = static_cast<std::size_t>(std::mismatch(a.begin(), a.begin() + common, b.begin()).first - a.begin());
    if (i == common)
        return a.size() < b.size();
    if (static_cast<unsigned char>(a[i]) < 0x80 || static_cast<unsigned char>(b[i]) < 0x80)
        return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);  // ASCII sorts first either way
    // Byte order is code point order; UTF-16 puts U+E000 to U+FFFF after the
    // surrogates that stand for the code points above U+FFFF.
    auto leadUnit = [i](std::string_view s) {
        std::size_t start = i;
        while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
            --start;
        UChar32 c;
        int32_t at = static_cast<int32_t>(start);
        U8_NEXT_OR_FFFD(reinterpret_cast<const uint8_t*>(s.data()), at, static_cast<int32_t>(s.size()), c);
        return c < 0x10000 ? static_cast<std::uint64_t>(c) << 32
                           : static_cast<std::uint64_t>(U16_LEAD(c)) << 32 | U16_TRAIL(c);
    };
    const std::uint64_t x = leadUnit(a), y = leadUnit(b);
    return x < y;
}

void TextCutter::cut(std::string_view utf8)
{
    m_text.reserve(utf8.size());  // what ASCII words take at most
    cutInto(utf8, nullptr);
}

void TextCutter::cut(std::string_view utf8, TokenSink& sink)
{
    cutInto(utf8, &sink);
}

void TextCutter::handOver(TokenSink& sink)
{
    for (const Token& token : m_tokens)
        sink.token(token.kind, textOf(token));
    m_tokens.clear();
    m_text.clear();
}

void TextCutter::cutInto(std::string_view utf8, TokenSink* sink)
{
    static_assert(sizeof m_word >= kMaxWordUnits, "an ASCII word's token fits m_word");
    m_tokens.clear();
    m_text.clear();
    // The text is taken in segments, each from a separator (an ASCII one or one of the
    // common others) up to the next one. No token ends inside a segment's separator or
    // reaches across the start of the next, and NFKC composes none of these separators
    // with what stands before it, so segments can be cut one by one. A segment of ASCII
    // alone after its separator (most of most pages) is cut here, byte by byte; the
    // others go to ICU, neighbours together.
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t unicodeStart = 0, at = 0;
    bool unicodePending = false;
    while (at < n) {
        // A segment: its separator, digits (which start no word), then letters, digits
        // and "_" up to the next separator, unless another byte above 0x7F comes first.
        const std::size_t separator = kAsciiKind[p[at]] == AsciiSeparator ? 1 : commonSeparatorLength(p + at, n - at);
        std::size_t word = at + separator;
        while (word < n && kAsciiKind[p[word]] == AsciiDigit)
            ++word;
        // The word's first kMaxWordUnits bytes are lower-cased into m_word as they are
        // scanned: most segments are words of ASCII, each then read once.
        std::size_t end = word;
        const std::size_t wordLimit = std::min(n, word + kMaxWordUnits);
        for (unsigned char lower; end < wordLimit && (lower = kWordByte[p[end]]) != 0; ++end)
            m_word[end - word] = static_cast<char>(lower);
        if (end == wordLimit)  // a word longer than its token, or the text's end
            while (end < n && kWordByte[p[end]] != 0)
                ++end;
        if ((separator == 0 && p[at] >= 0x80)
            || (end < n && kAsciiKind[p[end]] == NotAscii && commonSeparatorLength(p + end, n - end) == 0)) {
            while (end < n && kAsciiKind[p[end]] != AsciiSeparator)
                ++end;
            if (!unicodePending)
                unicodeStart = at;
            unicodePending = true;
            at = end;
            continue;
        }
        if (unicodePending) {
            cutUnicode(utf8.substr(unicodeStart, at - unicodeStart));
            if (sink)
                handOver(*sink);
        }
        unicodePending = false;
        if (word < end && sink) {
            sink->asciiWord(std::string_view(m_word, std::min(end - word, kMaxWordUnits)));
        } else if (word < end) {
            const std::size_t begin = m_text.size(), length = std::min(end - word, kMaxWordUnits);
            m_text.append(utf8.data() + word, length);
            char* const to = m_text.data() + begin;
            for (std::size_t k = 0; k < length; ++k)
                to[k] = static_cast<char>(kAsciiLower[static_cast<unsigned char>(to[k])]);
            m_tokens.push_back(Token{Word, begin, begin + length});
        }
        at = end;
    }
    if (unicodePending) {
        cutUnicode(utf8.substr(unicodeStart));
        if (sink)
            handOver(*sink);
    }
}

void TextCutter::cutByIcu(std::string_view utf8)
{
    m_tokens.clear();
    m_text.clear();
    cutUnicode(utf8);
}

void TextCutter::cutUnicode(std::string_view utf8)
{
    fromUtf8(utf8, m_units);
    if (const UNormalizer2* norm = nfkc())
        normalize(norm, m_units);
    const char16_t* u = m_units.data();
    const std::size_t n = m_units.size();

    std::size_t wordStart = 0;
    bool inWord = false;
    // The unspaced character in hand and the one before it, as [start, end) in m_units.
    std::size_t charStart = 0, charEnd = 0, previousStart = 0;
    bool inChar = false, hasPrevious = false;

    auto addToken = [this](TextCutter::Kind kind, const char16_t* units, std::size_t count, bool pair = false) {
        const std::size_t begin = m_text.size();
        if (kind == Word)
            appendFolded(m_text, units, cutUnits(units, count, kMaxWordUnits));
        else  // a character with a mark after mark is a key too, and keys are cut
            appendUnitsAsUtf8(m_text, units, cutUnits(units, count, kMaxKeyUnits));
        m_tokens.push_back(Token{kind, begin, m_text.size(), pair});
    };
    auto endWord = [&](std::size_t end) {
        if (inWord)
            addToken(Word, u + wordStart, end - wordStart);
        inWord = false;
    };
    // The character in hand is complete: it and the pair it ends are tokens.
    auto endChar = [&]() {
        if (!inChar)
            return;
        if (hasPrevious)
            addToken(Unspaced, u + previousStart, charEnd - previousStart, true);
        addToken(Unspaced, u + charStart, charEnd - charStart);
        previousStart = charStart;
        hasPrevious = true;
        inChar = false;
    };
    auto endRun = [&]() {
        endChar();
        hasPrevious = false;
    };

    for (std::size_t i = 0; i < n;) {
        const std::size_t at = i;
        UChar32 c;
        U16_NEXT(u, i, n, c);
        const CharKind kind = kindOf(c);
        if (inWord) {
            if (kind == SpacedLetter || kind == Joiner || kind == Underscore)
                continue;
            endWord(at);
        }
        if (inChar && kind == Joiner && isMark(c)) {
            charEnd = i;  // a mark belongs to the character before it
            continue;
        }
        switch (kind) {
        case UnspacedLetter:
            endChar();
            charStart = at;
            charEnd = i;
            inChar = true;
            break;
        case SpacedLetter:
        case Underscore:
            endRun();
            inWord = true;
            wordStart = at;
            break;
        default:
            endRun();
            break;
        }
    }
    endWord(n);
    endRun();
}

}  // namespace WordRules
