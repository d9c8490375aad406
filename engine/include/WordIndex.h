#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

// For each word in order, its documents best first, as the ranked tables give them
// (RankedWords::fillIndex). Words and documents are views of the table it was filled
// from, which must outlive it, so filling it copies no posting.
class WordIndex {
public:
    std::size_t size() const { return m_words.size(); }
    std::string_view word(std::size_t i) const { return m_words[i]; }
    // The documents of word i, in ranked order.
    const std::int32_t* documentsBegin(std::size_t i) const { return m_documents[i].first; }
    const std::int32_t* documentsEnd(std::size_t i) const { return m_documents[i].second; }

    void clear();

    // Makes room for words appended with appendWord().
    void reserve(std::size_t words);
    // Appends word with its documents, already ranked; both must outlive the index.
    void appendWord(std::string_view word, const std::int32_t* begin, const std::int32_t* end);

private:
    std::vector<std::string_view> m_words;
    std::vector<std::pair<const std::int32_t*, const std::int32_t*>> m_documents;
};
