// The dictionary of a job: each word's pages and their weights, and the weight of a word
// on a page from its counts.

#include "WordDictionary.h"

#include <algorithm>

double wordWeight(const WordCounts& counts)
{
    std::int64_t score = 3 * counts.keywordOrTitle + 3 * counts.h1 + 2 * counts.h2 + counts.h3;
    // 0.5 to the power of the other-text count by repeated squaring; exact powers of two
    // down to the smallest subnormal, then 0.
    double power = 1.0;
    double base = 0.5;
    for (std::int64_t exponent = counts.other; exponent > 0; exponent >>= 1) {
        if (exponent & 1)
            power *= base;
        base *= base;
    }
    return static_cast<double>(score) + power;
}

void WordDictionary::addPage(std::int32_t document, const PageWords& pageWords, double (*weigh)(const WordCounts&))
{
    const auto& entries = pageWords.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        prefetchAhead(entries, i);
        const auto& entry = entries[i];
        Postings& list = m_table.findOrInsert(pageWords.wordOf(entry), entry.hash);
        double weight = weigh(entry.value);
        if (!list.empty() && list.back().document == document)
            list.back().setWeight(weight);
        else
            list.push_back(Posting{document, weight});
    }
}

void WordDictionary::addDocument(std::string_view word, std::uint64_t hash, std::int32_t document)
{
    Postings& list = m_table.findOrInsert(word, hash);
    if (list.empty() || list.back().document != document)
        list.push_back(Posting{document, 0.0});
}

void WordDictionary::merge(const WordDictionary& other, std::int32_t documentLimit)
{
    const auto& entries = other.m_table.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        prefetchAhead(entries, i);
        const auto& entry = entries[i];
        const auto kept = static_cast<std::size_t>(std::count_if(
            entry.value.begin(), entry.value.end(), [documentLimit](const Posting& p) { return p.document < documentLimit; }));
        if (kept == 0)
            continue;
        // Grown by an eighth at least, not doubled: the joined lists are most of a job's
        // memory, and a list joined from many threads is still copied a bounded number of times.
        Postings& list = m_table.findOrInsert(other.m_table.wordOf(entry), entry.hash);
        if (list.size() + kept > list.capacity())
            list.reserve(std::max(list.size() + kept, list.size() + list.size() / 8));
        for (const Posting& posting : entry.value)
            if (posting.document < documentLimit)
                list.push_back(posting);
    }
}
