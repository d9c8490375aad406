// A page's language from its declaration or its text (the detector is CLD2), and the
// Snowball stemmers of the languages that have one.

#include "PageLanguage.h"

#include <algorithm>
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
}  // namespace

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
