// A page's language from its declaration or its text (the detector is CLD2), and the
// Snowball stemmers of the languages that have one.

#include "PageLanguage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>  // compact_lang_det.h uses FILE without including it
#include <cld2/public/compact_lang_det.h>
#include <libstemmer.h>

std::string primaryLanguage(std::string_view tag)
{
    std::string language;
    for (char c : tag.substr(0, tag.find_first_of("-_"))) {
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        if (lower < 'a' || lower > 'z')
            return {};
        language += lower;
    }
    return language.size() == 2 || language.size() == 3 ? language : std::string();
}

namespace {
// The first bytes of utf8, at most limit, never cut inside a character.
std::string_view sampleOf(std::string_view utf8, std::size_t limit)
{
    std::size_t length = std::min(utf8.size(), limit);
    while (length > 0 && length < utf8.size() && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80)
        --length;
    return utf8.substr(0, length);
}

// The detector's language for sample when it is sure of it (UNKNOWN_LANGUAGE else), and
// the share in percent of the sample's text it gives that language.
CLD2::Language detectIn(std::string_view sample, int& percent)
{
    CLD2::Language top[3];
    int percents[3] = {};
    int textBytes = 0;
    bool reliable = false;
    const CLD2::Language language = CLD2::DetectLanguageSummary(sample.data(), static_cast<int>(sample.size()), true,
                                                                top, percents, &textBytes, &reliable);
    percent = percents[0];
    return reliable ? language : CLD2::UNKNOWN_LANGUAGE;
}

// The length of the common punctuation at p that is no letter of any alphabet (U+00A0,
// U+00A9, U+2013, U+2014, U+2018, U+2019, U+201C, U+201D, U+2026); 0 for any other
// character.
std::size_t punctuationLength(const unsigned char* p, std::size_t left)
{
    if (left >= 2 && p[0] == 0xC2 && (p[1] == 0xA0 || p[1] == 0xA9))
        return 2;
    if (left >= 3 && p[0] == 0xE2 && p[1] == 0x80
        && (p[2] == 0x93 || p[2] == 0x94 || p[2] == 0x98 || p[2] == 0x99 || p[2] == 0x9C || p[2] == 0x9D || p[2] == 0xA6))
        return 3;
    return 0;
}
}  // namespace

EnglishMarks englishMarksOf(std::string_view utf8)
{
    // The marks and the foreign words by their letters packed in one number (none is
    // longer than 7), in an open-addressed table: every word of the text is looked up.
    enum Kind : unsigned char { None, Mark, Foreign };
    struct Known {
        std::uint64_t key = 0;
        Kind kind = None;
    };
    constexpr std::size_t kSlots = 256, kLongest = 7;
    auto slotOf = [](std::uint64_t key) { return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 56); };
    static const std::array<Known, kSlots> known = [&slotOf] {
        // Common English words that are no common word of another language written in
        // Latin letters (unlike "is", "in", "of", "to", "for", "was", "also", "will":
        // Dutch, Polish, Danish, German).
        const std::string_view marks[] = {
            "the",   "and",  "that",   "this", "with", "which", "from",  "into",  "than",  "then", "such",
            "only",  "other", "each",  "your", "you",  "they",  "their", "there", "these", "those", "been",
            "would", "should", "can",  "not",  "when", "what",  "where", "has",   "have",  "does", "must",
            "any",   "returns", "used"};
        // Common words of other languages written in Latin letters that English text
        // hardly ever holds (not "per", "non", "des", "van", "von", "mit", "con", "em":
        // units, names and acronyms that English documentation writes).
        const std::string_view foreign[] = {
            "der",  "die",    "und",   "ist",   "nicht", "eine",  "wird",  "werden", "sich",   "dass", "auch",
            "oder", "het",    "een",   "niet",  "voor",  "zijn",  "wordt", "worden", "kan",    "yang", "untuk",
            "dengan", "atau", "pada",  "adalah", "dari", "suatu", "ini",   "che",    "della",  "sono", "une",
            "pour", "dans",   "qui",   "avec",  "les",   "los",   "las",   "por",    "una",    "como", "och",
            "att",  "det",    "ikke",  "jest",  "nie",   "je",    "este",  "pentru", "sau",    "bir",  "jsou",
            "nebo", "ili",    "il",    "di"};
        std::array<Known, kSlots> table{};
        auto enter = [&](std::string_view word, Kind kind) {
            std::uint64_t key = 0;
            for (char c : word)
                key = key << 8 | static_cast<unsigned char>(c);
            std::size_t slot = slotOf(key);
            while (table[slot].key != 0)
                slot = (slot + 1) % kSlots;
            table[slot] = Known{key, kind};
        };
        for (std::string_view word : marks)
            enter(word, Mark);
        for (std::string_view word : foreign)
            enter(word, Foreign);
        return table;
    }();
    auto kindOf = [&](std::uint64_t key) {
        for (std::size_t slot = slotOf(key);; slot = (slot + 1) % kSlots) {
            if (known[slot].key == key)
                return known[slot].kind;
            if (known[slot].key == 0)
                return None;
        }
    };
    EnglishMarks marks;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    auto isLetter = [](unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
    for (std::size_t i = 0; i < n;) {
        if (p[i] >= 0x80) {
            const std::size_t length = punctuationLength(p + i, n - i);
            if (length == 0) {
                marks.ascii = false;
                return marks;
            }
            i += length;
            continue;
        }
        if (!isLetter(p[i])) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint64_t key = 0;
        for (; i < n && isLetter(p[i]); ++i, ++length)
            key = key << 8 | (p[i] | 0x20u);
        ++marks.words;
        if (length > kLongest)
            continue;
        const Kind kind = kindOf(key);
        marks.marks += kind == Mark;
        marks.foreign += kind == Foreign;
    }
    return marks;
}

bool isPlainlyEnglish(std::string_view utf8)
{
    constexpr std::size_t kMinWords = 40, kMarkPercent = 6;
    const EnglishMarks marks = englishMarksOf(utf8);
    return marks.ascii && marks.foreign == 0 && marks.words >= kMinWords && marks.marks * 100 >= marks.words * kMarkPercent;
}

std::string detectLanguage(std::string_view utf8)
{
    // The detector's time grows with the sample. Most pages say which language they are
    // in within their first kilobyte: one that does so wholly is taken at that; the
    // others, whose opening mixes languages or is too short to tell, are read to 4 KiB.
    // (Measured on translated manuals and English sites in bench/RESULTS.md.)
    constexpr std::size_t kFirstSample = 1024, kSample = 4 * 1024;
    constexpr int kWholly = 99;
    int percent = 0;
    const std::string_view first = sampleOf(utf8, kFirstSample);
    if (isPlainlyEnglish(first))
        return "en";
    CLD2::Language language = detectIn(first, percent);
    if (first.size() < utf8.size() && (language == CLD2::UNKNOWN_LANGUAGE || percent < kWholly))
        language = detectIn(sampleOf(utf8, kSample), percent);
    if (language == CLD2::UNKNOWN_LANGUAGE)
        return {};
    return primaryLanguage(CLD2::LanguageCode(language));
}

Stemmers::~Stemmers()
{
    for (auto& [language, stemmer] : m_stemmers)
        if (stemmer)
            sb_stemmer_delete(stemmer);
}

sb_stemmer* Stemmers::find(const std::string& language)
{
    if (language.empty())
        return nullptr;
    auto found = m_stemmers.find(language);
    if (found == m_stemmers.end())
        found = m_stemmers.emplace(language, sb_stemmer_new(language.c_str(), "UTF_8")).first;
    return found->second;
}

bool Stemmers::has(const std::string& language) { return find(language) != nullptr; }

bool Stemmers::stem(const std::string& language, std::string_view word, std::string& stem)
{
    sb_stemmer* stemmer = find(language);
    if (!stemmer)
        return false;
    const sb_symbol* stemmed
        = sb_stemmer_stem(stemmer, reinterpret_cast<const sb_symbol*>(word.data()), static_cast<int>(word.size()));
    if (!stemmed)
        return false;  // out of memory in the stemmer
    stem.assign(reinterpret_cast<const char*>(stemmed), static_cast<std::size_t>(sb_stemmer_length(stemmer)));
    return true;
}
