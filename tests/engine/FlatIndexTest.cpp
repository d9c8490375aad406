// The index of an array's entries by their hashes that the walk and the page cache use
// for pages by file and documents by path.
#include "FlatIndex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(FlatIndex, FindsTheFirstEntryOfEachKeyThroughCollisionsAndGrowth)
{
    // Keys "c..." all share one hash, as keys chosen to collide would: each is still told
    // from the others by its entry. Every key comes three times; the first entry stays.
    auto hashOf = [](const std::string& key) { return key[0] == 'c' ? 42 : FlatIndex::hashOf(key); };
    std::vector<std::string> entries;
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 400; ++i)
            entries.push_back((i % 4 == 0 ? "c" : "p") + std::to_string(i));
    FlatIndex index;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        const std::int32_t first = index.insert(hashOf(entries[e]), static_cast<std::int32_t>(e), [&](std::int32_t other) {
            return entries[static_cast<std::size_t>(other)] == entries[e];
        });
        EXPECT_EQ(first, static_cast<std::int32_t>(e % 400)) << entries[e];
    }
    EXPECT_EQ(index.size(), 400u);
    auto find = [&](const std::string& key) {
        return index.find(hashOf(key), [&](std::int32_t e) { return entries[static_cast<std::size_t>(e)] == key; });
    };
    for (int i = 0; i < 400; ++i)
        EXPECT_EQ(find(entries[static_cast<std::size_t>(i)]), i) << entries[static_cast<std::size_t>(i)];
    EXPECT_EQ(find("c1"), FlatIndex::kNone);
    EXPECT_EQ(find("p4000"), FlatIndex::kNone);
    index.clear();
    EXPECT_EQ(find("p1"), FlatIndex::kNone);
    // A file's hash takes its device and inode in their places.
    EXPECT_NE(FlatIndex::hashOf(1, 2), FlatIndex::hashOf(2, 1));
    EXPECT_EQ(FlatIndex::hashOf(std::string("a/b.html")), FlatIndex::hashOf(std::string("a/b.html")));
}

}  // namespace
