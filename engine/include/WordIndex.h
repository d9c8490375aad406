#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class StopSignal;
class WordDictionary;

// For each word in byte order, its documents best first. Flat, so a site with millions
// of postings costs three vectors. Words are views of the dictionary it was ranked
// from, which must outlive it.
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

    // Appends the words of dictionary in byte order (or by less), each with its documents by
    // descending weight, equal weights in ascending document order. With more than one
    // thread the second half of the words is ranked on a helper thread. False when stop
    // was found set (before each word, each document taken, each document appended);
    // the index then holds part of the words. May throw std::bad_alloc.
    bool rank(const WordDictionary& dictionary, unsigned threads, const StopSignal& stop,
              bool (*less)(std::string_view, std::string_view) = nullptr);

    void clear();

    // Makes room for words and postings appended with appendWord().
    void reserve(std::size_t words, std::size_t postings);
    // Appends word with its documents, already ranked; word must outlive the index.
    void appendWord(std::string_view word, const std::int32_t* begin, const std::int32_t* end);

private:
    bool rankWords(const WordDictionary& dictionary, const std::vector<std::uint32_t>& order,
                   std::size_t begin, std::size_t end, const StopSignal& stop);
    void append(const WordIndex& other);

    std::vector<std::string_view> m_words;
    std::vector<std::size_t> m_starts;
    std::vector<std::int32_t> m_documents;
};
