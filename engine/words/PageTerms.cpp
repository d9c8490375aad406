// The keys of one page for the companion word index, counted by place, with the stems
// that group them; and the dictionary they are joined into.

#include "PageTerms.h"

#include "RankedWords.h"
#include "WordIndex.h"

#include <algorithm>
#include <utility>

namespace {
void addCounts(WordCounts& to, const WordCounts& counts)
{
    to.keywordOrTitle += counts.keywordOrTitle;
    to.other += counts.other;
    to.h1 += counts.h1;
    to.h2 += counts.h2;
    to.h3 += counts.h3;
    to.link += counts.link;
}

// The counter of place in a word's counts: chosen once a text, not once a word.
using PlaceCount = std::int64_t WordCounts::*;

PlaceCount countOf(WordPlace place)
{
    switch (place) {
    case WordPlace::KeywordOrTitle: return &WordCounts::keywordOrTitle;
    case WordPlace::Other: return &WordCounts::other;
    case WordPlace::H1: return &WordCounts::h1;
    case WordPlace::H2: return &WordCounts::h2;
    case WordPlace::H3: return &WordCounts::h3;
    case WordPlace::Link: return &WordCounts::link;
    }
    return &WordCounts::other;
}

// Whether c is an ASCII byte that separates tokens: neither a letter, a digit nor "_".
bool separatesAlways(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x80 && !((byte | 0x20) >= 'a' && (byte | 0x20) <= 'z') && !(byte >= '0' && byte <= '9') && byte != '_';
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The text the detector reads: the page's own text (as its script string: the few
// escapes in it do not sway the detector), else its title.
std::string_view detectionText(const PageContent& content)
{
    return content.scriptText.empty() ? std::string_view(content.title) : std::string_view(content.scriptText);
}
}  // namespace

bool isEnglishPlural(std::string_view word, std::string_view plural)
{
    if (word.size() < 3 || plural.size() <= word.size() || plural.back() != 's' || plural.compare(0, word.size(), word) != 0)
        return false;
    const std::size_t extra = plural.size() - word.size();
    return (extra == 1 && word.back() != 's') || (extra == 2 && plural[plural.size() - 2] == 'e');
}

void addStemmedKey(std::string_view stem, std::string_view key, WordTable<char>& stemmedKeys)
{
    thread_local std::string pair;
    pair.assign(stem);
    pair += '\0';
    pair += key;
    stemmedKeys.findOrInsert(pair);
}

double fieldFrequency(const WordCounts& counts)
{
    return 5.0 * static_cast<double>(counts.keywordOrTitle + counts.h1) + 3.0 * static_cast<double>(counts.h2)
        + 2.0 * static_cast<double>(counts.h3) + static_cast<double>(counts.other) + 0.25 * static_cast<double>(counts.link);
}

namespace {
constexpr double k1 = kScoreCeiling - 1, b = 0.3;
}  // namespace

double termScore(double frequency, double length, double meanLength)
{
    const double norm = k1 * (1 - b + b * (meanLength > 0 ? length / meanLength : 1));
    return frequency > 0 ? frequency * kScoreCeiling / (frequency + norm) : 0;
}

MeanSpan scoreOrderSpan(double fa, double la, double fb, double lb, double mean)
{
    const MeanSpan empty{1, 0}, widest{mean / 2, mean * 2};
    if ((fa == fb && la == lb) || !(fb > 0))
        return widest;  // the same score under every mean, or b's 0 under every mean
    if (!(fa > 0) || !(mean > 0))
        return empty;
    // With n = k1 (1 - b + b l / M), score a is above score b when fa nb > fb na, that is
    // when h(M) = (1 - b)(fa - fb) M + b (fa lb - fb la) is above 0, and their relative
    // difference is k1 h(M) / (M fa (fb + nb)). A difference of 1e-12 is far above what
    // rounding does to either score; between half and twice the mean that asks h(M) to
    // reach r.
    constexpr double kRelative = 1e-12;
    const double r = kRelative * fa * (2 * mean * fb + k1 * ((1 - b) * 2 * mean + b * lb)) / k1;
    const double slope = (1 - b) * (fa - fb);
    const double constant = b * (fa * lb - fb * la);
    MeanSpan span{mean / 2, mean * 2};
    if (slope > 0)
        span.low = std::max(span.low, (r - constant) / slope);
    else if (slope < 0)
        span.high = std::min(span.high, (r - constant) / slope);
    else if (constant < r)
        return empty;
    // Pulled in a little, well past what rounding does to the bounds themselves.
    span.low *= 1 + 1e-9;
    span.high *= 1 - 1e-9;
    return span.low <= span.high ? span : empty;
}

void TermDictionary::addPage(std::int32_t document, const PageTerms& page)
{
    m_keys.addPage(document, page.keys, fieldFrequency);
    double length = 0;
    for (const auto& entry : page.keys.entries())
        length += static_cast<double>(entry.value.keywordOrTitle + entry.value.other + entry.value.h1 + entry.value.h2
                                      + entry.value.h3 + entry.value.link);
    if (static_cast<std::size_t>(document) >= m_lengths.size())
        m_lengths.resize(static_cast<std::size_t>(document) + 1);
    m_lengths[static_cast<std::size_t>(document)] = length;
    for (const auto& entry : page.stemmedKeys.entries())
        m_stemPairs.addDocument(page.stemmedKeys.wordOf(entry), entry.hash, document);
}

void TermDictionary::merge(const TermDictionary& other, std::int32_t documentLimit)
{
    m_keys.merge(other.m_keys, documentLimit);
    m_stemPairs.merge(other.m_stemPairs, documentLimit);
    if (m_lengths.size() < other.m_lengths.size())
        m_lengths.resize(other.m_lengths.size());
    for (std::size_t d = 0; d < other.m_lengths.size() && d < static_cast<std::size_t>(documentLimit); ++d)
        if (other.m_lengths[d] > 0)
            m_lengths[d] = other.m_lengths[d];
}

std::vector<std::pair<std::string_view, std::uint32_t>> englishPluralPairs(const WordIndex& keys,
                                                                         const std::vector<bool>& englishDocuments)
{
    // The keys that stand on an English page: found from their postings once, instead of
    // being noted page by page.
    std::vector<std::pair<std::string_view, std::uint32_t>> pairs;
    std::uint32_t first = 0;  // of the keys equal to this one
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string_view key = keys.word(i);
        if (i == 0 || key != keys.word(i - 1))
            first = static_cast<std::uint32_t>(i);
        bool english = false;
        for (const std::int32_t* d = keys.documentsBegin(i); d != keys.documentsEnd(i) && !english; ++d) {
            const auto document = static_cast<std::size_t>(*d);
            english = document < englishDocuments.size() && englishDocuments[document];
        }
        if (!english)
            continue;
        pairs.emplace_back(key, first);
        for (std::size_t cut : {1, 2})
            if (key.size() > cut && isEnglishPlural(key.substr(0, key.size() - cut), key))
                pairs.emplace_back(key.substr(0, key.size() - cut), first);
    }
    return pairs;
}

void TermDictionary::clear()
{
    std::vector<double>().swap(m_lengths);
    m_keys.clear();
    m_stemPairs.clear();
}

TermCounter::TermCounter(std::string forcedLanguage) : m_forcedLanguage(primaryLanguage(forcedLanguage)) {}

void TermCounter::countText(std::string_view text, WordPlace place)
{
    // Cut in pieces of about kPieceBytes, each ending before an ASCII byte that separates
    // (no word, run or normalisation reaches across one), so that the cutter's buffers
    // stay small whatever the size of the page.
    constexpr std::size_t kPieceBytes = 64 * 1024;
    // Each token is counted as the cutter finds it: words among the page's words,
    // unspaced characters and pairs among its keys.
    // A word of ASCII alone within the length of a key is its own key: on a page whose
    // words are not stemmed it needs no second table.
    struct Counter final : WordRules::TextCutter::TokenSink {
        TermCounter& counter;
        PlaceCount place;
        Counter(TermCounter& counter, WordPlace place) : counter(counter), place(countOf(place)) {}
        void token(WordRules::TextCutter::Kind kind, std::string_view token) override
        {
            if (kind != WordRules::TextCutter::Word) {
                ++(counter.m_keys->findOrInsert(token).*place);
            } else if (counter.m_asciiWordsAreKeys && token.size() <= WordRules::kMaxKeyUnits && isAscii(token)) {
                asciiWord(token);
            } else {
                ++(counter.m_words.findOrInsert(token).*place);
            }
        }
        void asciiWord(std::string_view word) override
        {
            if (counter.m_asciiWordsAreKeys && word.size() <= WordRules::kMaxKeyUnits) {
                ++(counter.m_keys->findOrInsert(word).*place);
                ++counter.m_asciiKeys;
            } else {
                ++(counter.m_words.findOrInsert(word).*place);
            }
        }
    } counter(*this, place);
    while (!text.empty()) {
        std::size_t end = std::min(text.size(), kPieceBytes);
        while (end < text.size() && !separatesAlways(text[end]))
            ++end;
        m_cutter.cut(text.substr(0, end), counter);
        text.remove_prefix(end);
    }
}

std::string TermCounter::languageOf(const PageContent& content) const
{
    std::string language = m_forcedLanguage;
    if (language.empty())
        language = primaryLanguage(content.language);
    if (language.empty())
        language = detectLanguage(detectionText(content));
    return language;
}

void TermCounter::countPage(const PageContent& content, PageTerms& page)
{
    page.keys.reset();
    page.stemmedKeys.reset();
    page.englishPlurals = false;
    page.language.clear();
    m_words.reset();
    m_keys = &page.keys;
    // The language first, when there is text to count: it tells whether words are
    // stemmed, and a page whose words are not counts its ASCII words as keys at once.
    const PlacedText& placed = content.placed;
    const bool hasText = !placed.keywords.empty() || !placed.title.empty() || !placed.headings[0].empty()
        || !placed.headings[1].empty() || !placed.headings[2].empty() || !placed.otherHeadings.empty()
        || !placed.body.empty() || !placed.links.empty();
    const std::string language = hasText ? languageOf(content) : std::string();
    // English words are grouped by the plural rule that the search page has always
    // matched English queries by: Snowball's English stems ranked no better on the
    // English query sets (bench/queries) and cost a tenth more time and bytes. Other
    // languages are grouped by their Snowball stemmer.
    const bool english = language == "en";
    const bool stemmed = !english && m_stemmers.has(language);
    m_asciiWordsAreKeys = !stemmed;
    m_asciiKeys = 0;
    countText(placed.keywords, WordPlace::KeywordOrTitle);
    countText(placed.title, WordPlace::KeywordOrTitle);
    countText(placed.headings[0], WordPlace::H1);
    countText(placed.headings[1], WordPlace::H2);
    countText(placed.headings[2], WordPlace::H3);
    countText(placed.otherHeadings, WordPlace::H3);
    countText(placed.body, WordPlace::Other);
    countText(placed.links, WordPlace::Link);
    m_keys = nullptr;
    if (m_words.empty() && m_asciiKeys == 0)
        return;  // no words: no language either

    page.language = language;
    page.englishPlurals = english;
    std::string stem;
    WordRules::WordKeys wordKeys;
    for (const auto& entry : m_words.entries()) {
        const std::string_view word = m_words.wordOf(entry);
        // An ASCII word is its own key, cut as keys are: most words need no copy.
        std::string_view key = word.substr(0, WordRules::kMaxKeyUnits), germanKey;
        if (!isAscii(word)) {
            wordKeys = WordRules::keysOfWord(word);
            key = wordKeys.key;
            germanKey = wordKeys.germanKey;
        }
        // A word that is its own key keeps its hash: tables of a process hash alike.
        addCounts(key.data() == word.data() && key.size() == word.size() ? page.keys.findOrInsert(key, entry.hash)
                                                                         : page.keys.findOrInsert(key),
                  entry.value);
        if (!germanKey.empty())
            addCounts(page.keys.findOrInsert(germanKey), entry.value);
        if (stemmed && m_stemmers.stem(page.language, word, stem)) {
            const std::string stemKey = WordRules::keysOfWord(stem).key;
            addStemmedKey(stemKey, key, page.stemmedKeys);
            if (!germanKey.empty())
                addStemmedKey(stemKey, germanKey, page.stemmedKeys);
        }
    }
}
