#pragma once

#include "WordCounting.h"
#include "WordTable.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

// One document of a word's postings with the word's weight in it. The weight is kept in
// two 4-byte halves, so that a posting takes 12 bytes instead of 16: postings are most of
// a job's memory.
class Posting {
public:
    Posting() = default;
    Posting(std::int32_t document, double weight) : document(document) { setWeight(weight); }

    double weight() const
    {
        double weight;
        std::memcpy(&weight, m_weight, sizeof weight);
        return weight;
    }
    void setWeight(double weight) { std::memcpy(m_weight, &weight, sizeof weight); }

    std::int32_t document = 0;

private:
    std::uint32_t m_weight[2] = {};
};
static_assert(sizeof(Posting) == 12, "a posting is packed");
using Postings = std::vector<Posting>;

// The weight of a word on a page: 3 per keyword or title occurrence, 3 per H1, 2 per H2,
// 1 per H3, plus 0.5 to the power of its occurrences in other text.
double wordWeight(const WordCounts& counts);

// For each word, the weight of the word in each document that holds it. Postings are
// kept in the order pages were merged (ascending document index when merged in order,
// any order when joined from several threads); the index writer orders words by bytes
// and documents by weight.
class WordDictionary {
public:
    const Postings* find(std::string_view word) const { return m_table.find(word); }

    // Sets the weight of every word of the page under the page's document index: by
    // wordWeight, or by weigh when given.
    void addPage(std::int32_t document, const PageWords& pageWords, double (*weigh)(const WordCounts&) = wordWeight);

    // Sets the weight of every posting to weigh(posting).
    template <typename Weigh>
    void reweigh(Weigh&& weigh)
    {
        m_table.forEachValue([&weigh](Postings& postings) {
            for (Posting& posting : postings)
                posting.setWeight(weigh(posting));
        });
    }

    // Enters document under word with no weight, once: a set of documents per word.
    void addDocument(std::string_view word, std::uint64_t hash, std::int32_t document);

    // Adds the postings of other whose document is below documentLimit; words left
    // without any are not added.
    void merge(const WordDictionary& other, std::int32_t documentLimit);

    // The postings of table().entries()[i], to change in place.
    Postings& postingsAt(std::size_t i) { return m_table.valueAt(i); }

    std::size_t size() const { return m_table.size(); }
    bool empty() const { return m_table.empty(); }
    void clear() { m_table.clear(); }

    const WordTable<Postings>& table() const { return m_table; }

private:
    // Brings near, in three steps kPrefetchStep words apart, what entering the words of
    // entries (of a page's or another dictionary's table) from i + kPrefetchStep on
    // will read: far enough ahead for the memory to answer while the words between are
    // entered.
    static constexpr std::size_t kPrefetchStep = 4;
    template <typename Entry>
    void prefetchAhead(const std::vector<Entry>& entries, std::size_t i) const
    {
        if (i + 3 * kPrefetchStep < entries.size())
            m_table.prefetchSlot(entries[i + 3 * kPrefetchStep].hash);
        if (i + 2 * kPrefetchStep < entries.size())
            m_table.prefetchEntry(entries[i + 2 * kPrefetchStep].hash);
        if (i + kPrefetchStep < entries.size())
            if (const auto* known = m_table.prefetchWord(entries[i + kPrefetchStep].hash); known && !known->value.empty())
                __builtin_prefetch(&known->value.back());
    }

    WordTable<Postings> m_table;
};
