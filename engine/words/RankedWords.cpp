// The ranked word table that outlives a job: each word's documents best first with their
// weights, renumbered and joined with the words of the pages entered anew.

#include "RankedWords.h"

#include "CacheRecords.h"
#include "IndexTypes.h"
#include "PageTerms.h"
#include "WordDictionary.h"
#include "WordIndex.h"

#include <algorithm>
#include <exception>
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
}  // namespace

double PostingRank::of(std::int32_t document, double weight) const
{
    if (!lengths)
        return weight;
    const auto d = static_cast<std::size_t>(document);
    return termScore(weight, d < lengths->size() ? (*lengths)[d] : mean, mean);
}

void RankedWords::clear()
{
    std::string().swap(m_arena);
    std::vector<std::uint64_t>().swap(m_wordStarts);
    std::vector<std::uint64_t>().swap(m_postingStarts);
    std::vector<std::int32_t>().swap(m_documents);
    std::vector<double>().swap(m_weights);
}

void RankedWords::appendWord(std::string_view word)
{
    if (m_wordStarts.empty()) {
        m_wordStarts.push_back(0);
        m_postingStarts.push_back(0);
    }
    m_arena.append(word.data(), word.size());
    m_wordStarts.push_back(m_arena.size());
    m_postingStarts.push_back(m_documents.size());
}

bool RankedWords::update(const RankedWords& old, const std::vector<std::int32_t>& newDocument, WordDictionary& added,
                         Less less, const PostingRank& rank, unsigned threads, const StopSignal& stop,
                         RankedWords& result)
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
    bool sameNumbers = true, sameOrder = true;
    std::int32_t last = -1;
    for (std::size_t d = 0; d < newDocument.size(); ++d) {
        sameNumbers = sameNumbers && newDocument[d] == static_cast<std::int32_t>(d);
        if (newDocument[d] >= 0) {
            sameOrder = sameOrder && newDocument[d] > last;
            last = newDocument[d];
        }
    }
    std::size_t postings = old.postingCount();
    for (const auto& entry : entries)
        postings += entry.value.size();
    result.m_documents.reserve(postings);
    result.m_weights.reserve(postings);
    result.m_arena.reserve(old.m_arena.size());
    adviseLargeBuffer(result.m_documents.data(), postings * sizeof(std::int32_t));
    adviseLargeBuffer(result.m_weights.data(), postings * sizeof(double));

    std::vector<RankedPosting> kept;
    const Postings noPostings;
    std::size_t i = 0, j = 0;
    while (i < old.size() || j < order.size()) {
        if (stop.requested())
            return false;
        const std::string_view oldWord = i < old.size() ? old.word(i) : std::string_view();
        const std::string_view newWord = j < order.size() ? added.table().wordOf(entries[order[j]]) : std::string_view();
        const bool takeOld = i < old.size() && (j == order.size() || oldWord == newWord
                                                || (less ? less(oldWord, newWord) : oldWord < newWord));
        const bool takeNew = j < order.size() && (i == old.size() || oldWord == newWord || !takeOld);
        const std::size_t start = result.m_documents.size();
        if (takeOld && !takeNew && sameNumbers && !rank.lengths) {
            // Untouched and not renumbered: its postings are copied as they stand.
            result.m_documents.insert(result.m_documents.end(), old.m_documents.begin() + old.postingsBegin(i),
                                      old.m_documents.begin() + old.postingsEnd(i));
            result.m_weights.insert(result.m_weights.end(), old.m_weights.begin() + old.postingsBegin(i),
                                    old.m_weights.begin() + old.postingsEnd(i));
        } else {
            kept.clear();
            if (takeOld) {
                for (std::size_t p = old.postingsBegin(i); p < old.postingsEnd(i); ++p) {
                    const std::int32_t d = old.m_documents[p];
                    if (d >= 0 && static_cast<std::size_t>(d) < newDocument.size() && newDocument[d] >= 0)
                        kept.push_back(RankedPosting{rank.of(newDocument[d], old.m_weights[p]),
                                                     Posting{newDocument[d], old.m_weights[p]}});
                }
            }
            // Scores move with the mean length: the last job's order mostly still holds,
            // and is checked before it is sorted again.
            if ((!sameOrder || rank.lengths) && !std::is_sorted(kept.begin(), kept.end(), rankedBefore))
                std::sort(kept.begin(), kept.end(), rankedBefore);
            // Both lists are ranked now, so one merge ranks the word.
            const Postings& fresh = takeNew ? entries[order[j]].value : noPostings;
            std::size_t a = 0, b = 0;
            while (a < kept.size() || b < fresh.size()) {
                bool fromKept = b == fresh.size();
                if (!fromKept && a < kept.size())
                    fromKept = rankedBefore(kept[a], RankedPosting{rank.of(fresh[b].document, fresh[b].weight()), fresh[b]});
                const Posting& posting = fromKept ? kept[a++].posting : fresh[b++];
                result.m_documents.push_back(posting.document);
                result.m_weights.push_back(posting.weight());
            }
        }
        if (result.m_documents.size() > start)
            result.appendWord(takeOld ? oldWord : newWord);
        i += takeOld;
        j += takeNew;
    }
    return true;
}

void RankedWords::fillIndex(WordIndex& index) const
{
    index.clear();
    index.reserve(size(), postingCount());
    for (std::size_t i = 0; i < size(); ++i)
        index.appendWord(word(i), m_documents.data() + postingsBegin(i), m_documents.data() + postingsEnd(i));
}

void RankedWords::write(RecordWriter& out) const
{
    out.text(m_arena);
    out.array(m_wordStarts);
    out.array(m_postingStarts);
    out.array(m_documents);
    out.array(m_weights);
}

bool RankedWords::read(RecordReader& in)
{
    clear();
    m_arena = in.text();
    in.array(m_wordStarts);
    in.array(m_postingStarts);
    in.array(m_documents);
    in.array(m_weights);
    // Checked whole before anything is used: offsets that rise and stay inside, and
    // document numbers that are numbers. (The order of words and documents is the
    // writer's; the file's checksum tells whether it is the file written.)
    bool whole = !in.failed() && m_wordStarts.size() == m_postingStarts.size()
        && m_documents.size() == m_weights.size()
        && (m_wordStarts.empty()
                ? m_arena.empty() && m_documents.empty()
                : m_wordStarts.front() == 0 && m_postingStarts.front() == 0 && m_wordStarts.back() == m_arena.size()
                    && m_postingStarts.back() == m_documents.size());
    for (std::size_t i = 0; whole && i < size(); ++i)
        whole = m_wordStarts[i] <= m_wordStarts[i + 1] && m_postingStarts[i] < m_postingStarts[i + 1];
    for (std::size_t p = 0; whole && p < m_documents.size(); ++p)
        whole = m_documents[p] >= 0;
    if (!whole)
        clear();
    return whole;
}
