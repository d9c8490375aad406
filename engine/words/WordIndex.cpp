// The word table the index files are written from: each word with its documents,
// appended already ranked, as views of the ranked table.

#include "WordIndex.h"

void WordIndex::clear()
{
    std::vector<std::string_view>().swap(m_words);
    std::vector<std::pair<const std::int32_t*, const std::int32_t*>>().swap(m_documents);
}

void WordIndex::reserve(std::size_t words)
{
    m_words.reserve(words);
    m_documents.reserve(words);
}

void WordIndex::appendWord(std::string_view word, const std::int32_t* begin, const std::int32_t* end)
{
    m_words.push_back(word);
    m_documents.emplace_back(begin, end);
}
