#pragma once

#include "PageContent.h"
#include "PageLanguage.h"
#include "WordCounting.h"
#include "WordDictionary.h"
#include "WordRules.h"

#include <cstdint>
#include <string>
#include <string_view>

// The companion word index of a job as it grows: each key's pages with their weights,
// and the keys that share a stem. One per thread, joined in walk order at the end.
class TermDictionary {
public:
    // Enters a page's keys under its document index, and the stems of its words.
    void addPage(std::int32_t document, const PageWords& keys, const WordTable<char>& stemmedKeys);

    // Adds other's postings of documents below documentLimit, and its stems.
    void merge(const TermDictionary& other, std::int32_t documentLimit);

    const WordDictionary& keys() const { return m_keys; }
    // Each entry a stem, a zero byte and a key that has that stem.
    const WordTable<char>& stemmedKeys() const { return m_stemmedKeys; }
    bool empty() const { return m_keys.empty(); }
    void clear();

private:
    WordDictionary m_keys;
    WordTable<char> m_stemmedKeys;
};

// Counts the keys of pages by the word rules, each under the place where it stood, and
// stems their words by the page's language. Keeps a stemmer and buffers from page to
// page: one per thread.
class TermCounter {
public:
    // forcedLanguage: the language of every page ("" to take each page's own).
    explicit TermCounter(std::string forcedLanguage);

    // The page's keys with their counts, and its stems (see TermDictionary), from the
    // texts of content.placed. language: the language the page was taken to be in.
    void countPage(const PageContent& content, PageWords& keys, WordTable<char>& stemmedKeys, std::string* language = nullptr);

private:
    void countText(std::string_view text, WordPlace place);
    void addStem(std::string_view stem, std::string_view key, WordTable<char>& stemmedKeys);

    std::string m_forcedLanguage;
    Stemmers m_stemmers;
    WordRules::TextCutter m_cutter;
    PageWords m_words;  // case-folded words of the page with their counts
    PageWords* m_keys = nullptr;
    std::string m_pair;
};

// Whether plural is word with "s" or "es" added, as English readers' queries are matched
// (but "s" is not added to a word ending in s: "class" is no plural of "clas").
bool isEnglishPlural(std::string_view word, std::string_view plural);
