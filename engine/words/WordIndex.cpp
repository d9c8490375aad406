// The flat word table the index files are written from: each word with its documents,
// appended already ranked.

#include "WordIndex.h"

void WordIndex::clear()
{
    std::vector<std::string_view>().swap(m_words);
    std::vector<std::size_t>().swap(m_starts);
    std::vector<std::int32_t>().swap(m_documents);
}

void WordIndex::reserve(std::size_t words, std::size_t postings)
{
    m_words.reserve(words);
    m_starts.reserve(words);
    m_documents.reserve(postings);
}

void WordIndex::appendWord(std::string_view word, const std::int32_t* begin, const std::int32_t* end)
{
    m_words.push_back(word);
    m_starts.push_back(m_documents.size());
    m_documents.insert(m_documents.end(), begin, end);
}
