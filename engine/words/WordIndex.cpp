// Each word's pages ordered best first (stable for equal weights), on several threads when
// the dictionary is large.

#include "WordIndex.h"

#include "IndexTypes.h"
#include "WordDictionary.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <thread>

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

void WordIndex::append(const WordIndex& other)
{
    const std::size_t offset = m_documents.size();
    m_words.insert(m_words.end(), other.m_words.begin(), other.m_words.end());
    for (std::size_t start : other.m_starts)
        m_starts.push_back(start + offset);
    m_documents.insert(m_documents.end(), other.m_documents.begin(), other.m_documents.end());
}

bool WordIndex::rankWords(const WordDictionary& dictionary, const std::vector<std::uint32_t>& order,
                          std::size_t begin, std::size_t end, const StopSignal& stop)
{
    const auto& entries = dictionary.table().entries();
    std::size_t postingCount = 0;
    for (std::size_t k = begin; k < end; ++k)
        postingCount += entries[order[k]].value.size();
    m_words.reserve(m_words.size() + (end - begin));
    m_starts.reserve(m_starts.size() + (end - begin));
    m_documents.reserve(m_documents.size() + postingCount);
    std::vector<Posting> working;
    for (std::size_t k = begin; k < end; ++k) {
        if (stop.requested())
            return false;
        const auto& entry = entries[order[k]];
        working.clear();
        working.reserve(entry.value.size());
        for (const Posting& posting : entry.value) {
            if (stop.requested())
                return false;
            working.push_back(posting);
        }
        // Highest weight first; equal weights in ascending document order, as a stable
        // sort of postings in document order gives them (postings of pages parsed on
        // several threads arrive in no fixed order).
        std::sort(working.begin(), working.end(), [](const Posting& a, const Posting& b) {
            return a.weight() > b.weight() || (a.weight() == b.weight() && a.document < b.document);
        });
        m_words.push_back(dictionary.table().wordOf(entry));
        m_starts.push_back(m_documents.size());
        for (const Posting& posting : working) {
            if (stop.requested())
                return false;
            m_documents.push_back(posting.document);
        }
    }
    return true;
}

bool WordIndex::rank(const WordDictionary& dictionary, unsigned threads, const StopSignal& stop,
                     bool (*less)(std::string_view, std::string_view))
{
    // Tested once before any word too: a job stopped before its first word (keywords of
    // a site that has none, say) must not go on to write an empty index as if complete.
    if (stop.requested())
        return false;
    const auto& entries = dictionary.table().entries();
    const std::vector<std::uint32_t> order = dictionary.table().sortedIndexes(less);
    // With more than one thread, the words after the one that holds the middle posting
    // are ranked beside the first half and appended after it.
    std::size_t split = order.size();
    if (threads > 1) {
        std::size_t postingCount = 0;
        for (const auto& entry : entries)
            postingCount += entry.value.size();
        std::size_t seen = 0;
        for (split = 0; split < order.size() && seen < postingCount / 2; ++split)
            seen += entries[order[split]].value.size();
    }
    WordIndex tail;
    bool tailRanked = true;
    std::exception_ptr tailFailure;
    std::thread helper;
    if (split < order.size()) {
        try {
            helper = std::thread([&] {
                try {
                    tailRanked = tail.rankWords(dictionary, order, split, order.size(), stop);
                } catch (...) {
                    tailFailure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            split = order.size();  // no thread to be had: rank it all here
        }
    }
    bool headRanked = false;
    std::exception_ptr headFailure;
    try {
        headRanked = rankWords(dictionary, order, 0, split, stop);
    } catch (...) {
        headFailure = std::current_exception();
    }
    if (helper.joinable())
        helper.join();
    if (headFailure)
        std::rethrow_exception(headFailure);
    if (tailFailure)
        std::rethrow_exception(tailFailure);
    if (!headRanked || !tailRanked)
        return false;
    append(tail);
    return true;
}
