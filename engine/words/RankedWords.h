#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class RecordReader;
class RecordWriter;
class StopSignal;
class WordDictionary;
class WordIndex;

// How a word's documents are ranked, best first: by their weight, or, given each
// document's length and the mean, by the termScore of the weight (a key's fieldFrequency).
// Equal ranks in ascending document order.
struct PostingRank {
    const std::vector<double>* lengths = nullptr;  // by document index
    double mean = 0;
    double of(std::int32_t document, double weight) const;
};

// Each word in order with its documents best first and their weights: a dictionary
// ranked, in a flat form that the cache keeps between jobs, so that a job ranks again
// only the words of the pages it entered anew. Words are ordered by bytes, or by the
// less function given to update().
class RankedWords {
public:
    using Less = bool (*)(std::string_view, std::string_view);

    std::size_t size() const { return m_wordStarts.empty() ? 0 : m_wordStarts.size() - 1; }
    std::string_view word(std::size_t i) const
    {
        return std::string_view(m_arena.data() + m_wordStarts[i], m_wordStarts[i + 1] - m_wordStarts[i]);
    }
    std::size_t postingsBegin(std::size_t i) const { return m_postingStarts[i]; }
    std::size_t postingsEnd(std::size_t i) const { return m_postingStarts[i + 1]; }
    std::int32_t document(std::size_t posting) const { return m_documents[posting]; }
    double weight(std::size_t posting) const { return m_weights[posting]; }
    std::size_t postingCount() const { return m_documents.size(); }
    bool empty() const { return size() == 0; }

    // The ranked table of a new job into result: the postings of old whose document keeps
    // a number in it (newDocument[d] >= 0; documents that stay keep their order), with
    // the postings of added (the pages entered anew, under their new numbers). Each
    // word's documents ranked by rank (of their new numbers); words left without
    // documents go. The postings of added are ranked in place, those
    // of the second half of its words on a helper thread when threads > 1. False when
    // stop was found set (tested before each word). May throw std::bad_alloc.
    static bool update(const RankedWords& old, const std::vector<std::int32_t>& newDocument, WordDictionary& added,
                       Less less, const PostingRank& rank, unsigned threads, const StopSignal& stop,
                       RankedWords& result);

    // Appends every word with its documents to index.
    void fillIndex(WordIndex& index) const;

    void write(RecordWriter& out) const;
    // False when the record is not a whole table: counts or offsets that do not fit.
    bool read(RecordReader& in);

    void clear();

private:
    void appendWord(std::string_view word);

    std::string m_arena;                     // the words, one after another
    std::vector<std::uint64_t> m_wordStarts;     // size() + 1 offsets into m_arena
    std::vector<std::uint64_t> m_postingStarts;  // size() + 1 offsets into the postings
    std::vector<std::int32_t> m_documents;
    std::vector<double> m_weights;
};
