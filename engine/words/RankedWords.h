#pragma once

#include "PageTerms.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class StopSignal;
class WordDictionary;
class WordIndex;

// How a word's documents are ranked, best first: by their weight, or, given each
// document's length and the mean, by the termScore of the weight (a key's fieldFrequency).
// Equal ranks in ascending document order.
struct PostingRank {
    const std::vector<double>* lengths = nullptr;  // by document index
    double mean = 0;
    // The last job's lengths, by its document numbers: a page read again under its number
    // keeps its postings' spans only at the length they were worked out with.
    const std::vector<double>* lastLengths = nullptr;
    double of(std::int32_t document, double weight) const;
    // The means under which a posting of document a and weight wa stays ranked above one
    // of document b and weight wb, these lengths given (scoreOrderSpan); ranked by
    // weight, every mean.
    MeanSpan orderSpan(std::int32_t a, double wa, std::int32_t b, double wb) const;
};

// Each word in order with its documents best first and their weights: a dictionary
// ranked, kept by the cache between jobs so that a job ranks again only the words of the
// pages it entered anew. The table is a run of ranges of consecutive words, each in one
// block of memory laid out as the cache's file of it (see Range), so that a range read
// from the cache is used where it was read, and a range no word of which changed is
// taken into the next job's table as it stands, and stays in its file. Words are ordered
// by bytes, or by the less function given to update(). Ranked by score, each range also
// holds the span of means under which its words' order holds, their lengths given: a job
// whose mean falls inside it neither scores nor checks the postings of the words it takes
// as they were.
class RankedWords {
public:
    using Less = bool (*)(std::string_view, std::string_view);

    // A range of words: one block, in this order: the counts of words, postings and
    // arena bytes (three 64-bit numbers), the span of means under which its order holds
    // (two doubles, lowest and highest), words + 1 offsets of each word in the arena and
    // words + 1 offsets of its postings, the postings' weights (doubles) and documents
    // (32-bit), then the words' bytes.
    class Range {
    public:
        std::size_t words() const { return m_words; }
        std::size_t postings() const { return m_postings; }
        std::string_view word(std::size_t i) const
        {
            return std::string_view(m_arena + m_wordStarts[i], m_wordStarts[i + 1] - m_wordStarts[i]);
        }
        std::size_t postingsBegin(std::size_t i) const { return m_postingStarts[i]; }
        std::size_t postingsEnd(std::size_t i) const { return m_postingStarts[i + 1]; }
        const std::int32_t* documents() const { return m_documents; }
        const double* weights() const { return m_weights; }
        std::string_view bytes() const { return std::string_view(reinterpret_cast<const char*>(m_block.get()), m_size); }
        MeanSpan orderSpan() const { return m_span; }

        // The range a block holds, or false when its counts and offsets are not those of
        // a whole range (offsets that do not rise or reach past the block, a word without
        // documents, a document number below 0 or at documentLimit or above). A block
        // known to hold a range checked before (byCounts) is taken by its counts alone:
        // going through its offsets and documents again would bring in every page of a
        // mapped file that a job may not read at all.
        static bool fromBlock(std::shared_ptr<const std::uint64_t[]> block, std::size_t size,
                              std::int32_t documentLimit, Range& range, bool byCounts = false);

        std::string piece;  // the cache's file that holds it, "" until it is written

    private:
        friend class RankedWords;
        std::shared_ptr<const std::uint64_t[]> m_block;
        std::size_t m_size = 0;
        std::size_t m_words = 0;
        std::size_t m_postings = 0;
        MeanSpan m_span;
        const std::uint64_t* m_wordStarts = nullptr;
        const std::uint64_t* m_postingStarts = nullptr;
        const double* m_weights = nullptr;
        const std::int32_t* m_documents = nullptr;
        const char* m_arena = nullptr;
    };

    std::size_t size() const;
    std::size_t postingCount() const;
    bool empty() const { return m_ranges.empty(); }
    const std::vector<Range>& ranges() const { return m_ranges; }
    std::vector<Range>& ranges() { return m_ranges; }

    // The ranked table of a new job into result: the postings of old whose document keeps
    // a number in it (newDocument[d] >= 0; documents that stay keep their order), with
    // the postings of added (the pages entered anew, under their new numbers). Each
    // word's documents ranked by rank (of their new numbers); words left without
    // documents go. A range of old whose words all come out as they stood is result's as
    // it stands (the same block and file); the words of the others are cut into ranges
    // of about rangePostings postings. Ranked by score, the postings of a range whose
    // span holds rank's mean keep their order unless pages entered anew join them; one
    // the mean left is checked posting by posting and, when its order still holds,
    // written again with the span of the new mean. The postings of added are ranked in place, those
    // of the second half of its words on a helper thread when threads > 1. False when
    // stop was found set (tested before each word). May throw std::bad_alloc.
    static bool update(const RankedWords& old, const std::vector<std::int32_t>& newDocument, WordDictionary& added,
                       Less less, const PostingRank& rank, unsigned threads, const StopSignal& stop,
                       RankedWords& result, std::size_t rangePostings = kRangePostings);

    // Appends every word with its documents to index (views of this table's memory).
    void fillIndex(WordIndex& index) const;

    // Calls visit(word, documents, weights, count) for each word in order.
    template <typename Visit>
    void forEachWord(Visit&& visit) const
    {
        for (const Range& range : m_ranges)
            for (std::size_t i = 0; i < range.words(); ++i)
                visit(range.word(i), range.documents() + range.postingsBegin(i), range.weights() + range.postingsBegin(i),
                      range.postingsEnd(i) - range.postingsBegin(i));
    }

    void clear() { std::vector<Range>().swap(m_ranges); }

    static constexpr std::size_t kRangePostings = 16384;
    // For a table ranked by score: every word of a page read anew is written again with
    // its range, so an edit rewrites about a range for each of the page's words; small
    // ranges keep that to what the page's words hold.
    static constexpr std::size_t kScoredRangePostings = 1024;

private:
    std::vector<Range> m_ranges;
};
