// The ranked word table that outlives a job: each word's documents best first with their
// weights, in ranges of words, renumbered and joined with the words of the pages entered
// anew; a range whose words all stay is kept as it stands.

#include "RankedWords.h"

#include "CacheRecords.h"
#include "IndexTypes.h"
#include "PageTerms.h"
#include "WordDictionary.h"
#include "WordIndex.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>

namespace {
// A posting with its rank, for ordering.
struct RankedPosting {
    double rank;
    Posting posting;
};
bool rankedBefore(const RankedPosting& a, const RankedPosting& b)
{
    return a.rank > b.rank || (a.rank == b.rank && a.posting.document < b.posting.document);
}
// Orders the postings of the words at positions order[begin, end) of added best first.
void rankWords(WordDictionary& added, const std::vector<std::uint32_t>& order, std::size_t begin, std::size_t end,
               const PostingRank& rank)
{
    std::vector<RankedPosting> working;
    for (std::size_t k = begin; k < end; ++k) {
        Postings& list = added.postingsAt(order[k]);
        working.clear();
        for (const Posting& posting : list)
            working.push_back(RankedPosting{rank.of(posting.document, posting.weight()), posting});
        std::sort(working.begin(), working.end(), rankedBefore);
        for (std::size_t p = 0; p < list.size(); ++p)
            list[p] = working[p].posting;
    }
}

// Ranks the postings of every word of added; with more than one thread, the words after
// the one that holds the middle posting on a helper thread.
void rankAdded(WordDictionary& added, const std::vector<std::uint32_t>& order, const PostingRank& rank,
               unsigned threads)
{
    const auto& entries = added.table().entries();
    std::size_t split = order.size();
    if (threads > 1) {
        std::size_t postingCount = 0, seen = 0;
        for (const auto& entry : entries)
            postingCount += entry.value.size();
        for (split = 0; split < order.size() && seen < postingCount / 2; ++split)
            seen += entries[order[split]].value.size();
    }
    std::exception_ptr tailFailure;
    std::thread helper;
    if (split < order.size()) {
        try {
            helper = std::thread([&] {
                try {
                    rankWords(added, order, split, order.size(), rank);
                } catch (...) {
                    tailFailure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            split = order.size();  // no thread to be had: rank it all here
        }
    }
    std::exception_ptr headFailure;
    try {
        rankWords(added, order, 0, split, rank);
    } catch (...) {
        headFailure = std::current_exception();
    }
    if (helper.joinable())
        helper.join();
    if (headFailure)
        std::rethrow_exception(headFailure);
    if (tailFailure)
        std::rethrow_exception(tailFailure);
}

// The words of ranges that changed, gathered until they fill a range of their own.
class RangeBuilder {
public:
    RangeBuilder(std::size_t rangePostings, const PostingRank& rank)
        : m_rangePostings(std::max<std::size_t>(rangePostings, 1)), m_rank(rank)
    {
    }

    std::vector<std::int32_t> documents;
    std::vector<double> weights;

    // The range's span of means shrinks to the part of span where the order of the words
    // appended holds.
    void narrow(MeanSpan span)
    {
        m_span.low = std::max(m_span.low, span.low);
        m_span.high = std::min(m_span.high, span.high);
    }
    // The postings appended since start, ranked anew: the span of each next two.
    void narrowByPostings(std::size_t start)
    {
        if (!m_rank.lengths)
            return;
        for (std::size_t p = start + 1; p < documents.size(); ++p)
            narrow(m_rank.orderSpan(documents[p - 1], weights[p - 1], documents[p], weights[p]));
    }

    // The postings appended since the last word, those at fresh (rising) ranked anew among
    // others in the order of a range of span: the spans of the pairs fresh ones make, and
    // span for the others (two of them made neighbours by a posting gone from between
    // hold their order under every mean of span, as the pairs it stood in did).
    void narrowAround(MeanSpan span, const std::vector<std::size_t>& fresh)
    {
        if (!m_rank.lengths)
            return;
        narrow(span);
        for (const std::size_t p : fresh) {
            if (p > m_postingStarts.back())
                narrow(m_rank.orderSpan(documents[p - 1], weights[p - 1], documents[p], weights[p]));
            if (p + 1 < documents.size())
                narrow(m_rank.orderSpan(documents[p], weights[p], documents[p + 1], weights[p + 1]));
        }
    }

    // The postings appended since the last word end with word: full ranges go to ranges.
    void endWord(std::string_view word, std::vector<RankedWords::Range>& ranges)
    {
        m_arena.append(word.data(), word.size());
        m_wordStarts.push_back(m_arena.size());
        m_postingStarts.push_back(documents.size());
        if (documents.size() >= m_rangePostings)
            flush(ranges);
    }
    // Drops the postings appended since the last word ended.
    void dropWord()
    {
        documents.resize(m_postingStarts.back());
        weights.resize(m_postingStarts.back());
    }
    // The words gathered become a range of ranges.
    void flush(std::vector<RankedWords::Range>& ranges)
    {
        const std::size_t words = m_wordStarts.size() - 1;
        if (words == 0)
            return;
        const std::size_t postings = documents.size();
        const std::size_t size = 8 * (5 + 2 * (words + 1)) + 12 * postings + m_arena.size();
        const std::shared_ptr<std::uint64_t[]> block = allocate((size + 7) / 8);
        char* at = reinterpret_cast<char*>(block.get());
        auto put = [&at](const void* bytes, std::size_t count) {
            if (count)
                std::memcpy(at, bytes, count);
            at += count;
        };
        const std::uint64_t counts[3] = {words, postings, m_arena.size()};
        put(counts, sizeof counts);
        put(&m_span.low, 8);
        put(&m_span.high, 8);
        put(m_wordStarts.data(), m_wordStarts.size() * 8);
        put(m_postingStarts.data(), m_postingStarts.size() * 8);
        put(weights.data(), postings * 8);
        put(documents.data(), postings * 4);
        put(m_arena.data(), m_arena.size());
        ranges.emplace_back();
        RankedWords::Range::fromBlock(std::move(block), size, INT32_MAX, ranges.back());
        m_arena.clear();
        m_wordStarts.assign(1, 0);
        m_postingStarts.assign(1, 0);
        documents.clear();
        weights.clear();
        m_span = kEveryMean;
    }

    // range, whose words and postings stay as they are, as a range of ranges of its own
    // with the span of means span.
    void copyWithSpan(const RankedWords::Range& range, MeanSpan span, std::vector<RankedWords::Range>& ranges)
    {
        flush(ranges);
        const std::string_view bytes = range.bytes();
        const std::shared_ptr<std::uint64_t[]> block = allocate((bytes.size() + 7) / 8);
        std::memcpy(block.get(), bytes.data(), bytes.size());
        std::memcpy(block.get() + 3, &span.low, 8);
        std::memcpy(block.get() + 4, &span.high, 8);
        ranges.emplace_back();
        RankedWords::Range::fromBlock(std::move(block), bytes.size(), INT32_MAX, ranges.back(), true);
    }

private:
    // Blocks are cut from slabs of at least kSlabUnits, on huge pages where the system
    // gives them, so that filling the ranges written anew faults once per 2 MiB rather
    // than once per 4 KiB. A slab lives while any of its blocks does.
    static constexpr std::size_t kSlabUnits = std::size_t(1) << 20;
    std::shared_ptr<std::uint64_t[]> m_slab;
    std::size_t m_slabUnits = 0, m_slabUsed = 0;
    std::shared_ptr<std::uint64_t[]> allocate(std::size_t units)
    {
        if (m_slabUnits - m_slabUsed < units) {
            m_slabUnits = std::max(units, kSlabUnits);
            m_slab.reset(new std::uint64_t[m_slabUnits]);
            m_slabUsed = 0;
            adviseLargeBuffer(m_slab.get(), m_slabUnits * 8);
        }
        std::shared_ptr<std::uint64_t[]> block(m_slab, m_slab.get() + m_slabUsed);
        m_slabUsed += units;
        return block;
    }

    static constexpr MeanSpan kEveryMean{0, std::numeric_limits<double>::infinity()};
    std::size_t m_rangePostings;
    const PostingRank& m_rank;
    MeanSpan m_span = kEveryMean;
    std::string m_arena;
    std::vector<std::uint64_t> m_wordStarts{0};
    std::vector<std::uint64_t> m_postingStarts{0};
};

// What a word of the new table holds: its kept postings (renumbered, ranked again where
// their order no longer holds) merged with those entered anew.
struct WordMerger {
    const std::vector<std::int32_t>& newDocument;
    const PostingRank& rank;
    bool sameOrder;
    std::vector<RankedPosting> kept;
    std::vector<std::int32_t> keptDocuments;  // mergeInOrder's
    std::vector<double> keptWeights;
    bool orderHolds = false;  // the range's order holds under this job's mean

    // Whether word i of range comes out as it stands, told without merging: every
    // document keeps its number and, ranked by score, its place; ranked by weight, the
    // postings entered anew may also be those of pages read again under the same number
    // with the same weight (the page's old posting dropped, the new one in its place).
    // False also when only a merge can tell.
    bool stays(const RankedWords::Range& range, std::size_t i, const Postings& fresh) const
    {
        if (!fresh.empty() && rank.lengths)
            return false;
        const std::int32_t* documents = range.documents();
        const double* weights = range.weights();
        double last = 0;
        std::size_t replaced = 0;
        for (std::size_t p = range.postingsBegin(i); p < range.postingsEnd(i); ++p) {
            const std::int32_t d = documents[p];
            if (static_cast<std::size_t>(d) >= newDocument.size())
                return false;
            if (newDocument[d] < 0 && !fresh.empty()) {
                const auto same = std::find_if(fresh.begin(), fresh.end(), [d, &weights, p](const Posting& posting) {
                    return posting.document == d && posting.weight() == weights[p];
                });
                if (same == fresh.end())
                    return false;
                ++replaced;
                continue;
            }
            if (newDocument[d] != d)
                return false;
            if (rank.lengths && !orderHolds) {
                const double score = rank.of(d, weights[p]);
                if (p > range.postingsBegin(i) && (score > last || (score == last && d < documents[p - 1])))
                    return false;
                last = score;
            }
        }
        return replaced == fresh.size();
    }

    // Ranked by score under a mean that keeps the range's order, with one posting entered
    // anew, of a page read again at the length it was ranked by: 1 when word i comes out
    // as it stands (every document keeps its number but that posting's, whose weight is
    // the same: its score is then too, and the search of mergeInOrder() puts it back where
    // it stood), 0 when it does not; -1 when only a merge can tell (other postings entered
    // anew, another order).
    int staysInOrder(const RankedWords::Range& range, std::size_t i, const Postings& fresh) const
    {
        if (fresh.size() != 1 || !rank.lengths || !orderHolds || !sameOrder)
            return -1;
        const Posting& entered = fresh[0];
        const std::int32_t* documents = range.documents();
        const double* weights = range.weights();
        const std::size_t begin = range.postingsBegin(i), end = range.postingsEnd(i);
        std::size_t at = end;
        for (std::size_t p = begin; p < end; ++p) {
            const std::int32_t d = documents[p];
            if (static_cast<std::size_t>(d) >= newDocument.size())
                return 0;
            if (newDocument[d] == d)
                continue;
            if (at != end || d != entered.document || newDocument[d] >= 0 || weights[p] != entered.weight())
                return 0;
            at = p;
        }
        return at != end;
    }

    // How merge() ranked a word's postings.
    enum Merged {
        Ranked,  // each one
        Taken,   // none: the range's in its order
        InOrder  // fresh ones alone, among the range's in its order (at freshAt)
    };
    std::vector<std::size_t> freshAt = {};  // InOrder: where in out each fresh posting went

    // Appends the postings of word i of range (null: a word new to the table) and fresh to
    // out's documents and weights.
    Merged merge(const RankedWords::Range* range, std::size_t i, const Postings& fresh, RangeBuilder& out)
    {
        if (range && fresh.empty() && orderHolds && sameOrder) {
            const std::int32_t* documents = range->documents();
            const double* weights = range->weights();
            for (std::size_t p = range->postingsBegin(i); p < range->postingsEnd(i); ++p) {
                const std::int32_t d = documents[p];
                if (static_cast<std::size_t>(d) < newDocument.size() && newDocument[d] >= 0) {
                    out.documents.push_back(newDocument[d]);
                    out.weights.push_back(weights[p]);
                }
            }
            return Taken;
        }
        if (range && orderHolds && sameOrder) {
            mergeInOrder(*range, i, fresh, out);
            return InOrder;
        }
        kept.clear();
        if (range) {
            const std::int32_t* documents = range->documents();
            const double* weights = range->weights();
            for (std::size_t p = range->postingsBegin(i); p < range->postingsEnd(i); ++p) {
                const std::int32_t d = documents[p];
                if (static_cast<std::size_t>(d) < newDocument.size() && newDocument[d] >= 0)
                    kept.push_back(RankedPosting{rank.of(newDocument[d], weights[p]), Posting{newDocument[d], weights[p]}});
            }
        }
        // Scores move with the mean length: the last job's order mostly still holds,
        // and is checked before it is sorted again.
        if ((!sameOrder || (rank.lengths && !orderHolds)) && !std::is_sorted(kept.begin(), kept.end(), rankedBefore))
            std::sort(kept.begin(), kept.end(), rankedBefore);
        // Both lists are ranked now, so one merge ranks the word.
        std::size_t a = 0, b = 0;
        while (a < kept.size() || b < fresh.size()) {
            bool fromKept = b == fresh.size();
            if (!fromKept && a < kept.size())
                fromKept = rankedBefore(kept[a], RankedPosting{rank.of(fresh[b].document, fresh[b].weight()), fresh[b]});
            const Posting& posting = fromKept ? kept[a++].posting : fresh[b++];
            out.documents.push_back(posting.document);
            out.weights.push_back(posting.weight());
        }
        return Ranked;
    }
    void mergeInOrder(const RankedWords::Range& range, std::size_t i, const Postings& fresh, RangeBuilder& out);
};

// Appends the postings of word i of range, whose order holds, merged with fresh: each
// fresh posting goes where a search of the kept ones ranks it, so that only the kept
// postings it is compared with are scored (the merge of WordMerger::merge, which scores
// them all, gives the same).
void WordMerger::mergeInOrder(const RankedWords::Range& range, std::size_t i, const Postings& fresh, RangeBuilder& out)
{
    const std::int32_t* documents = range.documents();
    const double* weights = range.weights();
    keptDocuments.clear();
    keptWeights.clear();
    for (std::size_t p = range.postingsBegin(i); p < range.postingsEnd(i); ++p) {
        const std::int32_t d = documents[p];
        if (static_cast<std::size_t>(d) < newDocument.size() && newDocument[d] >= 0) {
            keptDocuments.push_back(newDocument[d]);
            keptWeights.push_back(weights[p]);
        }
    }
    std::size_t a = 0;
    const std::size_t count = keptDocuments.size();
    freshAt.clear();
    for (const Posting& posting : fresh) {
        const RankedPosting next{rank.of(posting.document, posting.weight()), posting};
        // The first kept posting not ranked before next, among those from a on.
        std::size_t low = a, high = count;
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            const RankedPosting probe{rank.of(keptDocuments[middle], keptWeights[middle]),
                                      Posting{keptDocuments[middle], keptWeights[middle]}};
            if (rankedBefore(probe, next))
                low = middle + 1;
            else
                high = middle;
        }
        out.documents.insert(out.documents.end(), keptDocuments.begin() + static_cast<std::ptrdiff_t>(a),
                             keptDocuments.begin() + static_cast<std::ptrdiff_t>(low));
        out.weights.insert(out.weights.end(), keptWeights.begin() + static_cast<std::ptrdiff_t>(a),
                           keptWeights.begin() + static_cast<std::ptrdiff_t>(low));
        freshAt.push_back(out.documents.size());
        out.documents.push_back(posting.document);
        out.weights.push_back(posting.weight());
        a = low;
    }
    out.documents.insert(out.documents.end(), keptDocuments.begin() + static_cast<std::ptrdiff_t>(a), keptDocuments.end());
    out.weights.insert(out.weights.end(), keptWeights.begin() + static_cast<std::ptrdiff_t>(a), keptWeights.end());
}

// Ranked by score, whether a page of fresh, read again under its number, has a length
// other than the one the last job ranked it by (or one not known).
bool lengthMoved(const PostingRank& rank, const Postings& fresh)
{
    if (!rank.lengths)
        return false;
    for (const Posting& posting : fresh) {
        const auto d = static_cast<std::size_t>(posting.document);
        if (!rank.lastLengths || d >= rank.lastLengths->size() || d >= rank.lengths->size()
            || (*rank.lastLengths)[d] != (*rank.lengths)[d])
            return true;
    }
    return false;
}

// Whether the postings appended to out since its last word are those of word i of range.
bool sameAsBefore(const RankedWords::Range& range, std::size_t i, const RangeBuilder& out, std::size_t start)
{
    const std::size_t begin = range.postingsBegin(i), count = range.postingsEnd(i) - begin;
    return out.documents.size() - start == count
        && std::equal(out.documents.begin() + static_cast<std::ptrdiff_t>(start), out.documents.end(), range.documents() + begin)
        && std::equal(out.weights.begin() + static_cast<std::ptrdiff_t>(start), out.weights.end(), range.weights() + begin);
}

// Whether every posting of range is of a document that keeps its number: moved holds 1
// for each document that does not, and for the one past the last, where every number out
// of bounds is looked up.
bool keepsNumbers(const RankedWords::Range& range, const std::vector<std::uint8_t>& moved)
{
    const std::int32_t* documents = range.documents();
    const auto past = static_cast<std::uint32_t>(moved.size() - 1);
    const std::size_t count = range.postings();
    unsigned any = 0;
    for (std::size_t p = 0; p < count; ++p)
        any |= moved[std::min(static_cast<std::uint32_t>(documents[p]), past)];
    return any == 0;
}

// The span of means under which each posting of each word of range stays ranked above
// the next, documents of equal weight and length in ascending order; empty (low above
// high) when some pair's order is not sure, or not the order ranked.
MeanSpan spanOfPostings(const RankedWords::Range& range, const PostingRank& rank)
{
    const std::int32_t* documents = range.documents();
    const double* weights = range.weights();
    const std::vector<double>& lengths = *rank.lengths;
    MeanSpan span{0, std::numeric_limits<double>::infinity()};
    for (std::size_t i = 0; i < range.words() && span.low <= span.high; ++i)
        for (std::size_t p = range.postingsBegin(i) + 1; p < range.postingsEnd(i); ++p) {
            const std::int32_t a = documents[p - 1], b = documents[p];
            const auto da = static_cast<std::size_t>(a), db = static_cast<std::size_t>(b);
            if (da < lengths.size() && db < lengths.size() && weights[p - 1] == weights[p] && lengths[da] == lengths[db]
                && a >= b)
                return MeanSpan{1, 0};
            const MeanSpan pair = rank.orderSpan(a, weights[p - 1], b, weights[p]);
            span.low = std::max(span.low, pair.low);
            span.high = std::min(span.high, pair.high);
        }
    return span;
}
}  // namespace

double PostingRank::of(std::int32_t document, double weight) const
{
    if (!lengths)
        return weight;
    const auto d = static_cast<std::size_t>(document);
    return termScore(weight, d < lengths->size() ? (*lengths)[d] : mean, mean);
}

MeanSpan PostingRank::orderSpan(std::int32_t a, double wa, std::int32_t b, double wb) const
{
    if (!lengths)
        return MeanSpan{0, std::numeric_limits<double>::infinity()};
    const auto da = static_cast<std::size_t>(a), db = static_cast<std::size_t>(b);
    if (da >= lengths->size() || db >= lengths->size())
        return MeanSpan{1, 0};  // scored by the mean itself: not sure under another
    return scoreOrderSpan(wa, (*lengths)[da], wb, (*lengths)[db], mean);
}

bool RankedWords::Range::fromBlock(std::shared_ptr<const std::uint64_t[]> block, std::size_t size,
                                   std::int32_t documentLimit, Range& range, bool byCounts)
{
    range = Range();
    if (!block || size < 3 * 8)
        return false;
    const std::uint64_t* counts = block.get();
    const std::uint64_t words = counts[0], postings = counts[1], arena = counts[2];
    // Each count is checked against the size before it is multiplied, so nothing wraps.
    if (words == 0 || words > size / 16 || postings < words || postings > size / 12 || arena > size
        || 8 * (5 + 2 * (words + 1)) + 12 * postings + arena != size)
        return false;
    std::memcpy(&range.m_span.low, counts + 3, 8);
    std::memcpy(&range.m_span.high, counts + 4, 8);
    range.m_wordStarts = counts + 5;
    range.m_postingStarts = range.m_wordStarts + words + 1;
    range.m_weights = reinterpret_cast<const double*>(range.m_postingStarts + words + 1);
    range.m_documents = reinterpret_cast<const std::int32_t*>(range.m_weights + postings);
    range.m_arena = reinterpret_cast<const char*>(range.m_documents + postings);
    bool whole = range.m_wordStarts[0] == 0 && range.m_postingStarts[0] == 0 && range.m_wordStarts[words] == arena
        && range.m_postingStarts[words] == postings;
    for (std::size_t i = 0; whole && !byCounts && i < words; ++i)
        whole = range.m_wordStarts[i] <= range.m_wordStarts[i + 1] && range.m_postingStarts[i] < range.m_postingStarts[i + 1];
    for (std::size_t p = 0; whole && !byCounts && p < postings; ++p)
        whole = range.m_documents[p] >= 0 && range.m_documents[p] < documentLimit;
    if (!whole) {
        range = Range();
        return false;
    }
    range.m_block = std::move(block);
    range.m_size = size;
    range.m_words = words;
    range.m_postings = postings;
    return true;
}

std::size_t RankedWords::size() const
{
    std::size_t words = 0;
    for (const Range& range : m_ranges)
        words += range.words();
    return words;
}

std::size_t RankedWords::postingCount() const
{
    std::size_t postings = 0;
    for (const Range& range : m_ranges)
        postings += range.postings();
    return postings;
}

bool RankedWords::update(const RankedWords& old, const std::vector<std::int32_t>& newDocument, WordDictionary& added,
                         Less less, const PostingRank& rank, unsigned threads, const StopSignal& stop,
                         RankedWords& result, std::size_t rangePostings)
{
    result.clear();
    // Tested once before any word too: a job stopped before its first word (keywords of
    // a site that has none, say) must not go on to write an empty index as if complete.
    if (stop.requested())
        return false;
    const auto& entries = added.table().entries();
    const std::vector<std::uint32_t> order = added.table().sortedIndexes(less);
    rankAdded(added, order, rank, threads);
    // Documents that stay normally keep their order (the walk's order is one of paths);
    // should they not, each word's kept postings are ranked again.
    bool sameOrder = true;
    std::int32_t last = -1;
    for (const std::int32_t d : newDocument)
        if (d >= 0) {
            sameOrder = sameOrder && d > last;
            last = d;
        }
    auto before = [less](std::string_view a, std::string_view b) { return less ? less(a, b) : a < b; };
    auto newWord = [&](std::size_t j) { return added.table().wordOf(entries[order[j]]); };
    // Each document of old that does not keep its number, and one past them for numbers
    // out of bounds: a range no word of added falls in is told to stay by its documents
    // alone.
    std::vector<std::uint8_t> moved(newDocument.size() + 1, 1);
    for (std::size_t d = 0; d < newDocument.size(); ++d)
        moved[d] = newDocument[d] != static_cast<std::int32_t>(d);
    WordMerger merger{newDocument, rank, sameOrder, {}, {}, {}};
    RangeBuilder out(rangePostings, rank);
    const Postings noPostings;

    // Each range of old with the words of added that fall in it (up to its last word; the
    // last range takes the rest): a first pass tells whether every word stays, in which
    // case the range is taken as it stands, else a second one writes its words anew.
    std::size_t j = 0;
    const std::size_t rangeCount = old.m_ranges.size();
    for (std::size_t r = 0; r <= rangeCount; ++r) {
        const Range* range = r < rangeCount ? &old.m_ranges[r] : nullptr;
        if (!range && r > 0)
            break;  // the last range took the rest
        std::size_t end = order.size();
        if (range && r + 1 < rangeCount) {
            const std::string_view lastWord = range->word(range->words() - 1);
            end = j;
            while (end < order.size() && !before(lastWord, newWord(end)))
                ++end;
        }
        const std::size_t words = range ? range->words() : 0;
        merger.orderHolds = range && (!rank.lengths || range->orderSpan().holds(rank.mean));
        // A range no word of added falls in, whose documents all keep their numbers, has
        // its words' postings as they stand: it is kept when its order holds, and, ranked by
        // score with the mean out of its span, written again with the span its postings
        // give when that holds the mean. Otherwise its words are gone through one by one.
        if (range && j == end && keepsNumbers(*range, moved)) {
            if (stop.requested())
                return false;
            if (merger.orderHolds) {
                out.flush(result.m_ranges);
                result.m_ranges.push_back(*range);
                continue;
            }
            if (const MeanSpan span = spanOfPostings(*range, rank); span.holds(rank.mean)) {
                out.copyWithSpan(*range, span, result.m_ranges);
                continue;
            }
        }
        for (int pass = range ? 0 : 1; pass < 2; ++pass) {
            bool stays = true;
            std::size_t i = 0, k = j;
            while (i < words || k < end) {
                if (stop.requested())
                    return false;
                const std::string_view oldWord = i < words ? range->word(i) : std::string_view();
                const std::string_view freshWord = k < end ? newWord(k) : std::string_view();
                const bool takeOld = i < words && (k == end || oldWord == freshWord || before(oldWord, freshWord));
                const bool takeNew = k < end && (i == words || oldWord == freshWord || !takeOld);
                const Postings& fresh = takeNew ? entries[order[k]].value : noPostings;
                if (pass == 0) {
                    if (!takeOld) {
                        stays = false;  // a word new to the table
                        break;
                    }
                    if (merger.stays(*range, i, fresh)) {
                        ++i;
                        k += takeNew;
                        continue;
                    }
                    // Ranked by score, a page read again at another length may come back
                    // where it stood under this mean, but the range's span, worked out
                    // with the old length, no longer says under which means its order
                    // holds: the range is written again with the span its postings give.
                    if (lengthMoved(rank, fresh)) {
                        stays = false;
                        break;
                    }
                    if (const int known = merger.staysInOrder(*range, i, fresh); known >= 0) {
                        stays = known == 1;
                    } else {
                        const std::size_t start = out.documents.size();
                        merger.merge(range, i, fresh, out);
                        stays = sameAsBefore(*range, i, out, start);
                        out.dropWord();
                    }
                    if (!stays)
                        break;
                } else {
                    const std::size_t start = out.documents.size();
                    switch (merger.merge(takeOld ? range : nullptr, i, fresh, out)) {
                    case WordMerger::Taken:
                        out.narrow(range->orderSpan());
                        break;
                    case WordMerger::InOrder:
                        out.narrowAround(range->orderSpan(), merger.freshAt);
                        break;
                    case WordMerger::Ranked:
                        out.narrowByPostings(start);
                        break;
                    }
                    if (out.documents.size() > start)
                        out.endWord(takeOld ? oldWord : freshWord, result.m_ranges);
                }
                i += takeOld;
                k += takeNew;
            }
            // A range whose order still holds, though the mean left its span, is written
            // again with the span of this mean, so that the next jobs need not check it
            // again (one whose span was empty, with two postings' order unsure, stays).
            const MeanSpan span = range ? range->orderSpan() : MeanSpan();
            if (pass == 0 && stays && (merger.orderHolds || span.low > span.high)) {
                out.flush(result.m_ranges);
                result.m_ranges.push_back(*range);
                break;
            }
        }
        j = end;
    }
    out.flush(result.m_ranges);
    return true;
}

void RankedWords::fillIndex(WordIndex& index) const
{
    index.clear();
    index.reserve(size());
    for (const Range& range : m_ranges)
        for (std::size_t i = 0; i < range.words(); ++i)
            index.appendWord(range.word(i), range.documents() + range.postingsBegin(i),
                             range.documents() + range.postingsEnd(i));
}
