#pragma once

#include "PageContent.h"
#include "PageLanguage.h"
#include "WordCounting.h"
#include "WordDictionary.h"
#include "WordRules.h"

class RankedWords;

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class WordIndex;

// The keys of one page with their counts by place, and what groups them.
struct PageTerms {
    PageWords keys;
    // Each entry a stem, a zero byte and a key of the page that has that stem.
    WordTable<char> stemmedKeys;
    // The page is English: its keys are grouped by the plural rule (see
    // addEnglishPluralPairs()).
    bool englishPlurals = false;
    std::string language;  // the language the page was taken to be in ("" when unknown)
};

// How much a key stands for on a page, before its length is taken into account: each use
// in running text counts 1, in an H3 to H6 2, in an H2 3, in an H1 or the title (and META
// keywords) 5, in the text of a link a quarter. Headings name what a page is about;
// running text only mentions it, and a link names what another page is about.
double fieldFrequency(const WordCounts& counts);

// A key's score on a page from its fieldFrequency, the page's length (its keys' uses) and
// the mean length of the site's pages: it grows with the frequency and saturates (k1),
// and a page longer than the mean needs more uses for the same score (b), as relevance
// models weigh terms. Between 0 and kScoreCeiling.
double termScore(double frequency, double length, double meanLength);
constexpr double kScoreCeiling = 2.2;  // k1 + 1

// The means between which termScore keeps ranking a page of frequency fa and length la
// above one of frequency fb and length lb, with room to spare for rounding (so that the
// scores computed, not only the exact ones, keep that order); an empty span (low above
// high) when the order is not sure to hold at any mean. Never wider than half to twice
// mean. Pages of equal frequency and length score the same under every mean: their
// order is their documents', and the span is the widest.
struct MeanSpan {
    double low = 0;
    double high = 0;
    bool holds(double mean) const { return mean >= low && mean <= high; }
};
MeanSpan scoreOrderSpan(double fa, double la, double fb, double lb, double mean);

// The companion word index of a job as it grows: each key's pages with their weights,
// and the keys that share a stem, with the pages that gave each pair (so that a later
// job can take a page's pairs out again). One per thread, joined in walk order at the end.
class TermDictionary {
public:
    // Enters a page's keys under its document index, weighed by fieldFrequency, its
    // length, and the stems of its words.
    void addPage(std::int32_t document, const PageTerms& page);

    // Adds other's postings of documents below documentLimit, and its stems.
    void merge(const TermDictionary& other, std::int32_t documentLimit);

    WordDictionary& keys() { return m_keys; }
    // Each word a stem, a zero byte and a key that has that stem, with its pages.
    WordDictionary& stemPairs() { return m_stemPairs; }
    // Each document's length (uses of keys), by document index; 0 for pages with none.
    const std::vector<double>& lengths() const { return m_lengths; }
    bool empty() const { return m_keys.empty(); }
    void clear();

private:
    WordDictionary m_keys;
    WordDictionary m_stemPairs;
    std::vector<double> m_lengths;  // uses of keys, by document index
};

// Groups the keys of English pages (englishDocuments, by document index) by the plural
// rule: each key with "s" or "es" taken off (isEnglishPlural) is a stem of it, and each
// is its own. The pairs are (stem, the key's position in keys: that of the first of
// equal keys), each stem a view of its key's bytes, in key order. Done once, at the end:
// the rule needs no page, only the keys.
std::vector<std::pair<std::string_view, std::uint32_t>> englishPluralPairs(const WordIndex& keys,
                                                                         const std::vector<bool>& englishDocuments);

// Counts the keys of pages by the word rules, each under the place where it stood, and
// stems their words by the page's language. Keeps a stemmer and buffers from page to
// page: one per thread.
class TermCounter {
public:
    // forcedLanguage: the language of every page ("" to take each page's own).
    explicit TermCounter(std::string forcedLanguage);

    // The page's keys with their counts and what groups them, from the texts of
    // content.placed; page's tables are emptied first, keeping their memory.
    void countPage(const PageContent& content, PageTerms& page);

private:
    void countText(std::string_view text, WordPlace place);
    // The language the page is taken to be in: the one asked for, else the one it
    // declares, else the one its text is detected to be in ("" when unknown).
    std::string languageOf(const PageContent& content) const;

    std::string m_forcedLanguage;
    Stemmers m_stemmers;
    WordRules::TextCutter m_cutter;
    PageWords m_words;  // case-folded words of the page with their counts
    PageWords* m_keys = nullptr;
    // Words of ASCII alone that are keys as they stand go straight to the keys (on a
    // page whose words are not stemmed), counted here.
    bool m_asciiWordsAreKeys = false;
    std::size_t m_asciiKeys = 0;
};

// Enters "stem\0key" into stemmedKeys.
void addStemmedKey(std::string_view stem, std::string_view key, WordTable<char>& stemmedKeys);

// Whether plural is word with "s" or "es" added, as English readers' queries are matched
// (but "s" is not added to a word ending in s: "class" is no plural of "clas").
bool isEnglishPlural(std::string_view word, std::string_view plural);
