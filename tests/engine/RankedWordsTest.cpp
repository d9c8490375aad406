// The ranked tables in ranges: a table updated with the pages that changed holds what a
// table ranked from every page holds, and keeps as they stand the ranges none of whose
// words changed; a block that is not a whole range is refused.

#include "IndexTypes.h"
#include "RankedWords.h"
#include "WordCounting.h"
#include "WordDictionary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Each word of a table in order with its documents and weights.
using Flat = std::vector<std::tuple<std::string, std::vector<std::int32_t>, std::vector<double>>>;

Flat flatten(const RankedWords& table)
{
    Flat flat;
    table.forEachWord([&flat](std::string_view word, const std::int32_t* documents, const double* weights, std::size_t count) {
        flat.emplace_back(std::string(word), std::vector<std::int32_t>(documents, documents + count),
                          std::vector<double>(weights, weights + count));
    });
    return flat;
}

// The text of a page: words W00 to W59, each page with its own run of them and their
// counts (so their weights differ from page to page).
std::string pageText(int page)
{
    std::string text;
    for (int k = 0; k < 12; ++k) {
        const int word = (page * 7 + k * 5) % 60;
        for (int repeat = 0; repeat <= (page + k) % 3; ++repeat)
            text += " W" + std::to_string(word / 10) + std::to_string(word % 10);
    }
    return text;
}

class RankedRanges : public ::testing::Test {
public:
    std::atomic<bool> never{false};
    std::vector<std::string> pages;  // the site: page texts by document number
    std::vector<double> lengths;     // by document, when ranked by score
    std::vector<double> lastLengths;  // the lengths of the update before
    bool byScore = false;
    static constexpr std::size_t kRangePostings = 24;  // small, so that a table has many ranges

    PostingRank rank()
    {
        lastLengths = lengths;
        lengths.assign(pages.size(), 0);
        double total = 0;
        for (std::size_t d = 0; d < pages.size(); ++d)
            total += lengths[d] = static_cast<double>(pages[d].size());
        return byScore ? PostingRank{&lengths, pages.empty() ? 0 : total / static_cast<double>(pages.size()), &lastLengths}
                       : PostingRank();
    }

    // Ranks the words of the given documents of pages into result, over old.
    void update(const RankedWords& old, const std::vector<std::int32_t>& newDocument, const std::vector<std::int32_t>& entered,
                RankedWords& result)
    {
        WordDictionary added;
        for (const std::int32_t d : entered) {
            PageWords words;
            countWords(pages[static_cast<std::size_t>(d)], WordPlace::Other, words);
            added.addPage(d, words);
        }
        const PostingRank ranking = rank();
        ASSERT_TRUE(RankedWords::update(old, newDocument, added, nullptr, ranking, 2, StopSignal(never), result, kRangePostings));
        // Ranked by score, every range comes out with a span that holds this mean, or with
        // none (an order not sure): the next job checks no other.
        for (const RankedWords::Range& range : result.ranges()) {
            const MeanSpan span = range.orderSpan();
            EXPECT_TRUE(!byScore || span.holds(ranking.mean) || span.low > span.high)
                << span.low << " to " << span.high << " against " << ranking.mean;
        }
    }

    std::vector<std::int32_t> all() const
    {
        std::vector<std::int32_t> documents(pages.size());
        for (std::size_t d = 0; d < pages.size(); ++d)
            documents[d] = static_cast<std::int32_t>(d);
        return documents;
    }
};

using SiteChange = std::function<void(RankedRanges&, std::vector<std::int32_t>& newDocument, std::vector<std::int32_t>& entered)>;

// A change that reads page anew, its words given more (or, with replace, words alone).
SiteChange readAnew(std::int32_t page, std::string words, bool replace = false)
{
    return [page, words, replace](RankedRanges& t, std::vector<std::int32_t>& renumbered, std::vector<std::int32_t>& entered) {
        std::string& text = t.pages[static_cast<std::size_t>(page)];
        text = replace ? words : text + words;
        renumbered[static_cast<std::size_t>(page)] = -1;
        entered = {page};
    };
}

TEST_F(RankedRanges, HoldWhatEveryPageRankedAnewHoldsAndKeepTheRangesThatStay)
{
    // Each change to the site: the new documents of the last job's (-1: gone), the pages
    // read anew, and how many ranges of the last table the new one keeps as they stood.
    enum Kept { None, All, Some };
    const struct {
        const char* change;
        SiteChange make;
        Kept kept;
    } changes[] = {
        {"a page saved again as it was", readAnew(5, ""), All},
        {"a page given a word no other page has", readAnew(7, " ZZNEW"), Some},
        {"a page's words counted again", readAnew(11, " W17 W22"), Some},  // words it has
        // The last page read anew: first of W01's documents by its weight, last of
        // W57's (the least weight, the highest number).
        {"a page's words moved to the head and the tail of their lists",
         readAnew(39, " W01 W01 W01 W01 W01 W01 W01 W01 W57"), Some},
        {"a page added at the end",
         [](RankedRanges& t, std::vector<std::int32_t>&, std::vector<std::int32_t>& entered) {
             t.pages.push_back(" W03 W04");
             entered = {static_cast<std::int32_t>(t.pages.size() - 1)};
         },
         Some},
        {"a page removed before the others",
         [](RankedRanges& t, std::vector<std::int32_t>& renumbered, std::vector<std::int32_t>&) {
             t.pages.erase(t.pages.begin());
             renumbered[0] = -1;
             for (std::size_t d = 1; d < renumbered.size(); ++d)
                 renumbered[d] = static_cast<std::int32_t>(d - 1);
         },
         None},
        {"every word of a page gone", readAnew(3, " ", true), Some},
        {"nothing read anew", [](RankedRanges&, std::vector<std::int32_t>&, std::vector<std::int32_t>&) {}, All},
    };
    for (const bool score : {false, true}) {
        pages.clear();
        for (int page = 0; page < 40; ++page)
            pages.push_back(pageText(page));
        byScore = score;
        RankedWords table;
        update(RankedWords(), {}, all(), table);
        ASSERT_GT(table.ranges().size(), 4u);
        for (const auto& row : changes) {
            SCOPED_TRACE(std::string(row.change) + (score ? ", by score" : ", by weight"));
            std::vector<std::int32_t> renumbered = all(), entered;
            row.make(*this, renumbered, entered);
            RankedWords next, fresh;
            update(table, renumbered, entered, next);
            update(RankedWords(), {}, all(), fresh);
            EXPECT_EQ(flatten(next), flatten(fresh));
            std::size_t kept = 0;
            for (const RankedWords::Range& range : next.ranges())
                for (const RankedWords::Range& before : table.ranges())
                    kept += range.bytes().data() == before.bytes().data();
            // Ranked by score, a changed page length moves the mean, and with it the order
            // of some lists: only the rows that change no length keep every range.
            if (row.kept == All) {
                EXPECT_EQ(kept, table.ranges().size());
            } else if (row.kept == None) {
                EXPECT_EQ(kept, 0u);
            } else if (!score) {
                EXPECT_TRUE(kept > 0 && kept < table.ranges().size()) << kept;
            }
            table = std::move(next);
        }
    }
}

TEST_F(RankedRanges, FollowAMeanThatReordersAWordWhoseRangeIsKept)
{
    // KEY ranks the short page first while the mean is about 400 bytes, the long page
    // once it is past 420 (twice the weight: one use in running text against two, and a
    // hundred times the length); the pages
    // added after have words of their own, after every other, so KEY's range has no
    // word of theirs, and its documents keep their numbers.
    byScore = true;
    pages = {" KEY" + std::string(996, ' '), " KEY KEY", std::string(190, ' ') + " W02"};
    for (int page = 0; page < 6; ++page)
        pages.push_back(pageText(page));
    const std::size_t firstFiller = 3;
    auto keyOrder = [](const RankedWords& table) {
        for (const auto& word : flatten(table))
            if (std::get<0>(word) == "KEY")
                return std::get<1>(word);
        return std::vector<std::int32_t>();
    };
    auto setMean = [this, firstFiller](double mean) {
        for (std::size_t d = firstFiller; d < pages.size(); ++d)
            pages[d] = pageText(static_cast<int>(d));
        double total = 0;
        for (const std::string& page : pages)
            total += static_cast<double>(page.size());
        pages[firstFiller] += std::string(static_cast<std::size_t>(mean * static_cast<double>(pages.size()) - total), ' ');
    };
    setMean(400);
    RankedWords table;
    update(RankedWords(), {}, all(), table);
    ASSERT_EQ(keyOrder(table), (std::vector<std::int32_t>{1, 0}));
    ASSERT_GT(table.ranges().size(), 2u);
    // Each step: a page of words no other page has added at the end, its length moving
    // the mean; whether KEY's order flips.
    const struct {
        double mean;
        std::vector<std::int32_t> order;
    } steps[] = {{401, {1, 0}}, {445, {0, 1}}, {446, {0, 1}}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.mean);
        const std::vector<std::int32_t> renumbered = all();
        pages.push_back(" ZZZ" + std::to_string(pages.size()));
        const std::int32_t entered = static_cast<std::int32_t>(pages.size() - 1);
        // The filler pages are not read again: only the new page's length moves the mean.
        double total = 0;
        for (const std::string& page : pages)
            total += static_cast<double>(page.size());
        pages.back() += std::string(static_cast<std::size_t>(step.mean * static_cast<double>(pages.size()) - total), ' ');
        RankedWords next, fresh;
        update(table, renumbered, {entered}, next);
        update(RankedWords(), {}, all(), fresh);
        EXPECT_EQ(keyOrder(next), step.order);
        EXPECT_EQ(flatten(next), flatten(fresh));
        // A small move of the mean keeps the ranges without the new word as they stood.
        std::size_t kept = 0;
        for (const RankedWords::Range& range : next.ranges())
            for (const RankedWords::Range& before : table.ranges())
                kept += range.bytes().data() == before.bytes().data();
        if (step.mean == 401 || step.mean == 446) {
            EXPECT_GE(kept + 1, table.ranges().size());
        }
        table = std::move(next);
    }
}

TEST_F(RankedRanges, FollowAMeanAfterAPageIsReadAgainAtAnotherLength)
{
    // KEY's two pages change places as the mean moves past a point that the long page's
    // length decides. The long page is read again with KEY's weight as it was and another
    // length, under a mean that keeps KEY's order: the range then holds the order of the
    // new length, and the means it holds for must be those of that length too, or a
    // later mean inside the old span but past the new point keeps an order a job ranking
    // every page anew does not give.
    byScore = true;
    for (std::size_t longLength = 700; longLength < 1000; longLength += 20) {
        SCOPED_TRACE(longLength);
        pages = {" KEY" + std::string(996, ' '), " KEY KEY", std::string(190, ' ') + " W02"};
        for (int page = 0; page < 6; ++page)
            pages.push_back(pageText(page));
        pages[3] += std::string(400 * pages.size() - [this] {
            std::size_t total = 0;
            for (const std::string& page : pages)
                total += page.size();
            return total;
        }(), ' ');
        RankedWords table;
        update(RankedWords(), {}, all(), table);
        ASSERT_GT(table.ranges().size(), 2u);
        // Each step adds a page of a word of its own, sized to bring the mean to the step's
        // (as near as a page can); the first step also reads the long page again.
        for (double mean = 400; mean <= 520; mean += 2) {
            SCOPED_TRACE(mean);
            std::vector<std::int32_t> renumbered = all(), entered;
            if (mean == 400) {
                pages[0] = " KEY" + std::string(longLength - 4, ' ');
                renumbered[0] = -1;
                entered.push_back(0);
            }
            pages.push_back(" ZZZ" + std::to_string(pages.size()));
            std::size_t total = 0;
            for (const std::string& page : pages)
                total += page.size();
            const double wanted = mean * static_cast<double>(pages.size()) - static_cast<double>(total);
            if (wanted > 0)
                pages.back() += std::string(static_cast<std::size_t>(wanted), ' ');
            entered.push_back(static_cast<std::int32_t>(pages.size() - 1));
            RankedWords next, fresh;
            update(table, renumbered, entered, next);
            update(RankedWords(), {}, all(), fresh);
            ASSERT_EQ(flatten(next), flatten(fresh));
            table = std::move(next);
        }
    }
}

TEST(RankedRange, RankedAgainWhenItsOrderIsNotTheOneItsSpanGives)
{
    // Kept ranges of one word, "A", with documents 3 and 1 of the same weight and length:
    // their order is their documents', so 3 before 1 is not ranked, whatever the span
    // says. Under a mean inside the span the range is taken as it stands; out of it, the
    // word's postings are ranked again.
    std::atomic<bool> never{false};
    const std::vector<double> lengths(4, 10.0);
    const std::vector<std::int32_t> same = {0, 1, 2, 3};
    const struct {
        double mean;
        std::vector<std::int32_t> documents;
    } rows[] = {{1.5, {3, 1}}, {10, {1, 3}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mean);
        const std::vector<std::uint64_t> head = {1, 2, 1, 0x3FF0000000000000, 0x4000000000000000, 0, 1, 0, 2};
        std::vector<char> bytes(head.size() * 8);
        std::memcpy(bytes.data(), head.data(), bytes.size());
        for (const double weight : {2.0, 2.0}) {
            const char* from = reinterpret_cast<const char*>(&weight);
            bytes.insert(bytes.end(), from, from + 8);
        }
        for (const std::int32_t document : {3, 1}) {
            const char* from = reinterpret_cast<const char*>(&document);
            bytes.insert(bytes.end(), from, from + 4);
        }
        bytes.push_back('A');
        std::shared_ptr<std::uint64_t[]> memory(new std::uint64_t[(bytes.size() + 7) / 8]);
        std::memcpy(memory.get(), bytes.data(), bytes.size());
        RankedWords old;
        old.ranges().emplace_back();
        ASSERT_TRUE(RankedWords::Range::fromBlock(std::move(memory), bytes.size(), 4, old.ranges().back()));
        WordDictionary added;
        RankedWords next;
        ASSERT_TRUE(RankedWords::update(old, same, added, nullptr, PostingRank{&lengths, row.mean}, 1, StopSignal(never), next));
        ASSERT_EQ(next.size(), 1u);
        const RankedWords::Range& range = next.ranges()[0];
        EXPECT_EQ(std::vector<std::int32_t>(range.documents(), range.documents() + range.postings()), row.documents);
    }
}

TEST(ScoreOrderSpan, KeepsTheOrderOfTheScoresComputedAnywhereInside)
{
    // Pairs of pages (frequencies in quarters, lengths in uses) ranked a before b under a
    // mean: under every mean of the span the scores computed keep a above b (or equal,
    // for pages alike); a span that misses the mean is rare; where the exact order flips
    // between half and twice the mean, the span ends within a ten-thousandth of that point.
    std::mt19937_64 random(20);
    std::size_t ordered = 0, missing = 0;
    for (int trial = 0; trial < 200000; ++trial) {
        double fa = 0.25 * static_cast<double>(random() % (trial % 3 ? 40 : 4000));
        double fb = 0.25 * static_cast<double>(random() % (trial % 3 ? 40 : 4000));
        double la = static_cast<double>(random() % (trial % 2 ? 3000 : 3000000));
        double lb = static_cast<double>(random() % (trial % 2 ? 3000 : 3000000));
        if (trial % 5 == 0) {  // the same page length, or frequency, or both
            lb = trial % 3 ? la : lb;
            fb = trial % 2 ? fa : fb;
        }
        const double mean = 1 + static_cast<double>(random() % 100000) / 10.0;
        if (termScore(fa, la, mean) < termScore(fb, lb, mean)) {
            std::swap(fa, fb);
            std::swap(la, lb);
        }
        const MeanSpan span = scoreOrderSpan(fa, la, fb, lb, mean);
        const bool alike = fa == fb && la == lb;
        ++ordered;
        if (!span.holds(mean)) {
            ++missing;
            continue;
        }
        ASSERT_TRUE(span.low >= mean / 2 && span.high <= mean * 2);
        for (const double at : {span.low, span.high, (span.low + span.high) / 2,
                                span.low + (span.high - span.low) * static_cast<double>(random() % 1000) / 1000}) {
            const double a = termScore(fa, la, at), b = termScore(fb, lb, at);
            ASSERT_TRUE(alike ? a == b : a > b || (!(fb > 0) && a == b))
                << fa << " " << la << " / " << fb << " " << lb << " under " << at << " of " << mean;
        }
        // The exact crossing (docs/word-index.md's score, k1 = 1.2, b = 0.3).
        const double slope = 0.7 * (fa - fb), constant = 0.3 * (fa * lb - fb * la);
        const double crossing = slope != 0 ? -constant / slope : 0;
        if (fa > 0 && fb > 0 && crossing > mean / 2 && crossing < mean * 2) {
            const double end = slope > 0 ? span.low : span.high;
            EXPECT_LT(std::fabs(end - crossing), 1e-4 * crossing) << fa << " " << la << " / " << fb << " " << lb;
        }
    }
    EXPECT_LT(missing * 1000, ordered) << missing << " of " << ordered;
}

TEST(RankedRange, RefusesABlockThatIsNotAWholeRange)
{
    // A range of two words ("A" with documents 3 and 1, "BC" with 2), as a cache piece holds it.
    // The span of means, 1 to 2, stands after the counts.
    const std::vector<std::uint64_t> head = {2, 3, 3, 0x3FF0000000000000, 0x4000000000000000, 0, 1, 3, 0, 2, 3};
    auto block = [&](const std::function<void(std::vector<char>&)>& damage) {
        std::vector<char> bytes(head.size() * 8);
        std::memcpy(bytes.data(), head.data(), bytes.size());
        for (const double weight : {2.0, 1.0, 1.5}) {
            const char* from = reinterpret_cast<const char*>(&weight);
            bytes.insert(bytes.end(), from, from + 8);
        }
        for (const std::int32_t document : {3, 1, 2}) {
            const char* from = reinterpret_cast<const char*>(&document);
            bytes.insert(bytes.end(), from, from + 4);
        }
        bytes.insert(bytes.end(), {'A', 'B', 'C'});
        damage(bytes);
        std::shared_ptr<std::uint64_t[]> memory(new std::uint64_t[(bytes.size() + 7) / 8 + 1]);
        std::memcpy(memory.get(), bytes.data(), bytes.size());
        RankedWords::Range range;
        const bool whole = RankedWords::Range::fromBlock(std::move(memory), bytes.size(), 4, range);
        EXPECT_TRUE(!whole || (range.orderSpan().low == 1 && range.orderSpan().high == 2));
        return std::make_pair(whole, whole ? std::string(range.word(1)) : std::string());
    };
    auto setNumber = [](std::size_t at, std::uint64_t value) {
        return [at, value](std::vector<char>& bytes) { std::memcpy(bytes.data() + 8 * at, &value, 8); };
    };
    EXPECT_EQ(block([](std::vector<char>&) {}), std::make_pair(true, std::string("BC")));
    const struct {
        const char* damage;
        std::function<void(std::vector<char>&)> make;
    } damages[] = {
        {"cut short", [](std::vector<char>& bytes) { bytes.pop_back(); }},
        {"a byte too many", [](std::vector<char>& bytes) { bytes.push_back('D'); }},
        {"no words", setNumber(0, 0)},
        {"a count of words that wraps", setNumber(0, ~std::uint64_t(0) / 8)},
        {"more postings than the block holds", setNumber(1, std::uint64_t(1) << 60)},
        {"word offsets falling", setNumber(6, 4)},
        {"the words past the arena", setNumber(7, 9)},
        {"a word without documents", setNumber(9, 0)},
        {"postings past their count", setNumber(10, 4)},
        {"a document at the limit", [](std::vector<char>& bytes) { std::int32_t four = 4; std::memcpy(bytes.data() + 112, &four, 4); }},
        {"a document below 0", [](std::vector<char>& bytes) { std::int32_t below = -1; std::memcpy(bytes.data() + 116, &below, 4); }},
    };
    for (const auto& row : damages)
        EXPECT_FALSE(block(row.make).first) << row.damage;
}

}  // namespace
