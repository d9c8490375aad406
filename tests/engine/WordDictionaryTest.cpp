// A job's dictionary: pages entered one after another and dictionaries joined give each
// word its documents in order with their weights, however the tables grow on the way.

#include "WordCounting.h"
#include "WordDictionary.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using Expected = std::map<std::string, std::vector<std::pair<std::int32_t, double>>>;

// The words of a page: hundreds of them, some on every page, some on this page alone,
// with counts that differ from page to page; and what a dictionary of pages 0 to
// limit - 1 holds.
PageWords pageWords(std::int32_t page)
{
    PageWords words;
    for (int w = 0; w < 300 + page * 40; ++w) {
        const std::string word = (w % 3 == 0 ? "SHARED" + std::to_string(w) : "P" + std::to_string(page) + "W" + std::to_string(w));
        WordCounts& counts = words.findOrInsert(word);
        counts.keywordOrTitle += page % 2;
        counts.other += 1 + w % 5;
    }
    return words;
}

Expected expectedOf(std::int32_t limit)
{
    Expected expected;
    for (std::int32_t page = 0; page < limit; ++page) {
        const PageWords words = pageWords(page);
        for (const auto& entry : words.entries())
            expected[std::string(words.wordOf(entry))].emplace_back(page, wordWeight(entry.value));
    }
    return expected;
}

Expected contentsOf(const WordDictionary& dictionary)
{
    Expected contents;
    const auto& table = dictionary.table();
    for (const auto& entry : table.entries())
        for (const Posting& posting : entry.value)
            contents[std::string(table.wordOf(entry))].emplace_back(posting.document, posting.weight());
    return contents;
}

TEST(WordDictionary, HoldsEveryPageEnteredOrJoinedWithItsWeights)
{
    constexpr std::int32_t kPages = 12;
    WordDictionary whole, first, second, joined;
    for (std::int32_t page = 0; page < kPages; ++page) {
        whole.addPage(page, pageWords(page));
        (page < kPages / 2 ? first : second).addPage(page, pageWords(page));
    }
    EXPECT_EQ(contentsOf(whole), expectedOf(kPages));

    // Joined in walk order; the second's pages from kPages - 2 on are left out.
    joined.merge(first, kPages);
    joined.merge(second, kPages - 2);
    EXPECT_EQ(contentsOf(joined), expectedOf(kPages - 2));
    for (const auto& entry : joined.table().entries())
        EXPECT_FALSE(entry.value.empty()) << joined.table().wordOf(entry);
}

}  // namespace
