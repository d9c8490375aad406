#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// For each word in order, its documents best first, as the ranked tables give them
// (RankedWords::fillIndex). Flat, so a site with millions of postings costs three
// vectors. Words are views of the table it was filled from, which must outlive it.
class WordIndex {
public:
    std::size_t size() const { return m_words.size(); }
    std::string_view word(std::size_t i) const { return m_words[i]; }
    // The documents of word i, in ranked order.
    const std::int32_t* documentsBegin(std::size_t i) const { return m_documents.data() + m_starts[i]; }
    const std::int32_t* documentsEnd(std::size_t i) const
    {
        return m_documents.data() + (i + 1 < m_starts.size() ? m_starts[i + 1] : m_documents.size());
    }

    void clear();

    // Makes room for words and postings appended with appendWord().
    void reserve(std::size_t words, std::size_t postings);
    // Appends word with its documents, already ranked; word must outlive the index.
    void appendWord(std::string_view word, const std::int32_t* begin, const std::int32_t* end);

private:
    std::vector<std::string_view> m_words;
    std::vector<std::size_t> m_starts;
    std::vector<std::int32_t> m_documents;
};
