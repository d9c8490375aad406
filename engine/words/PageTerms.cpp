// The keys of one page for the companion word index, counted by place, with the stems
// that group them; and the dictionary they are joined into.

#include "PageTerms.h"

#include <utility>

namespace {
void addCounts(WordCounts& to, const WordCounts& counts)
{
    to.keywordOrTitle += counts.keywordOrTitle;
    to.other += counts.other;
    to.h1 += counts.h1;
    to.h2 += counts.h2;
    to.h3 += counts.h3;
}

void countOnce(WordCounts& counts, WordPlace place)
{
    switch (place) {
    case WordPlace::KeywordOrTitle: ++counts.keywordOrTitle; break;
    case WordPlace::Other: ++counts.other; break;
    case WordPlace::H1: ++counts.h1; break;
    case WordPlace::H2: ++counts.h2; break;
    case WordPlace::H3: ++counts.h3; break;
    }
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

void TermDictionary::addPage(std::int32_t document, const PageWords& keys, const WordTable<char>& stemmedKeys)
{
    m_keys.addPage(document, keys);
    for (const auto& entry : stemmedKeys.entries())
        m_stemmedKeys.findOrInsert(stemmedKeys.wordOf(entry), entry.hash);
}

void TermDictionary::merge(const TermDictionary& other, std::int32_t documentLimit)
{
    m_keys.merge(other.m_keys, documentLimit);
    for (const auto& entry : other.m_stemmedKeys.entries())
        m_stemmedKeys.findOrInsert(other.m_stemmedKeys.wordOf(entry), entry.hash);
}

void TermDictionary::clear()
{
    m_keys.clear();
    m_stemmedKeys.clear();
}

TermCounter::TermCounter(std::string forcedLanguage) : m_forcedLanguage(primaryLanguage(forcedLanguage)) {}

void TermCounter::countText(std::string_view text, WordPlace place)
{
    if (text.empty())
        return;
    m_cutter.cut(text);
    for (const auto& token : m_cutter.tokens()) {
        PageWords& table = token.kind == WordRules::TextCutter::Word ? m_words : *m_keys;
        countOnce(table.findOrInsert(m_cutter.textOf(token)), place);
    }
}

void TermCounter::addStem(std::string_view stem, std::string_view key, WordTable<char>& stemmedKeys)
{
    m_pair.assign(stem);
    m_pair += '\0';
    m_pair += key;
    stemmedKeys.findOrInsert(m_pair);
}

void TermCounter::countPage(const PageContent& content, PageWords& keys, WordTable<char>& stemmedKeys,
                            std::string* language)
{
    keys.reset();
    stemmedKeys.reset();
    m_words.reset();
    m_keys = &keys;
    const PlacedText& placed = content.placed;
    countText(placed.keywords, WordPlace::KeywordOrTitle);
    countText(placed.title, WordPlace::KeywordOrTitle);
    countText(placed.headings[0], WordPlace::H1);
    countText(placed.headings[1], WordPlace::H2);
    countText(placed.headings[2], WordPlace::H3);
    countText(placed.otherHeadings, WordPlace::Other);
    countText(placed.body, WordPlace::Other);
    m_keys = nullptr;
    if (m_words.empty())
        return;

    std::string pageLanguage = m_forcedLanguage;
    if (pageLanguage.empty())
        pageLanguage = primaryLanguage(content.language);
    if (pageLanguage.empty())
        pageLanguage = detectLanguage(detectionText(content));
    if (language)
        *language = pageLanguage;
    // English words are grouped by the plural rule that the search page has always
    // matched English queries by; other languages by their Snowball stemmer.
    const bool english = pageLanguage == "en";
    const bool stemmed = !english && m_stemmers.has(pageLanguage);
    std::string stem;
    for (const auto& entry : m_words.entries()) {
        const std::string_view word = m_words.wordOf(entry);
        const WordRules::WordKeys wordKeys = WordRules::keysOfWord(word);
        addCounts(keys.findOrInsert(wordKeys.key), entry.value);
        if (!wordKeys.germanKey.empty())
            addCounts(keys.findOrInsert(wordKeys.germanKey), entry.value);
        if (english) {
            const std::string_view key = wordKeys.key;
            addStem(key, key, stemmedKeys);
            for (std::size_t cut : {1, 2})
                if (key.size() > cut && isEnglishPlural(key.substr(0, key.size() - cut), key))
                    addStem(key.substr(0, key.size() - cut), key, stemmedKeys);
        } else if (stemmed && m_stemmers.stem(pageLanguage, word, stem)) {
            const std::string stemKey = WordRules::keysOfWord(stem).key;
            addStem(stemKey, wordKeys.key, stemmedKeys);
            if (!wordKeys.germanKey.empty())
                addStem(stemKey, wordKeys.germanKey, stemmedKeys);
        }
    }
}
