// What ranking reads of titles, file names and summaries, key by key: the page ranks by
// these entries, so they must be what it would work out from the texts themselves.

#include "PlaceWords.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An entry as "t:page/size,... c n:page/count/words,... s:page,...", empty parts left out.
std::string shown(const PlaceWords::Table& table, const std::string& key)
{
    const auto found = table.find(key);
    if (found == table.end())
        return "none";
    const PlaceWords::Entry& entry = found->second;
    std::string text;
    auto part = [&text](const char* name) { text += (text.empty() ? "" : " ") + std::string(name); };
    if (!entry.titles.empty()) {
        part("t:");
        for (std::size_t i = 0; i < entry.titles.size(); ++i)
            text += (i ? "," : "") + std::to_string(entry.titles[i].page) + "/" + std::to_string(entry.titles[i].size);
    }
    if (entry.common)
        part("c");
    if (!entry.names.empty()) {
        part("n:");
        for (std::size_t i = 0; i < entry.names.size(); ++i)
            text += (i ? "," : "") + std::to_string(entry.names[i].page) + "/" + std::to_string(entry.names[i].count) + "/" +
                    std::to_string(entry.names[i].words);
    }
    if (!entry.summaries.empty()) {
        part("s:");
        for (std::size_t i = 0; i < entry.summaries.size(); ++i)
            text += (i ? "," : "") + std::to_string(entry.summaries[i]);
    }
    return text;
}

}  // namespace

TEST(PlaceWords, QueryKeysCutAsThePageCutsAQuery)
{
    const std::vector<TableRow> rows = tableRows(std::string(TEST_DATA_DIR) + "/word-cases.tsv");
    ASSERT_GE(rows.size(), 25u);
    for (const TableRow& row : rows) {
        const std::string& query = row.fields.at(2) == "=" ? row.fields.at(1) : row.fields.at(2);
        EXPECT_EQ(joined(PlaceWords::queryKeys(row.fields[0])), query) << "table line " << row.line;
    }
}

TEST(PlaceWords, TitlesNamesAndSummariesByKey)
{
    std::vector<PlaceWords::Page> pages = {
        {"Network setup", "net-setup.html", "How to set up the network: setup, setup."},
        {std::nullopt, "index.html", ""},
        // The first place of a key decides whether it weighs: here "groesse" is first a
        // German spelling (no telling word), then a word of its own.
        {"Größe Groesse", "a.b.c.html", ""},
        {"Groesse Größe", "foo-bar-foo.tar.gz", ""},
        {"", ".bashrc", ""},
        {"東京都", "日本語.html", "東京"},
        {"x", "w1_w2-w3-w4-w5-w6-w7-w8-w9-w10-w11-w12-w13-w14-w15-w16-w17-w18.html", ""},
    };
    // Ten titles holding "site", more than max(8, a quarter of the titled pages).
    for (int i = 0; i < 10; ++i)
        pages.push_back({"Site: topic" + std::string(1, static_cast<char>('a' + i)), "p" + std::to_string(i) + ".html", ""});
    const PlaceWords::Table table = PlaceWords::of(pages);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"network", "t:0/2 s:0"},
        {"setup", "t:0/2 n:0/1/2 s:0"},
        {"net", "n:0/1/2"},
        {"html", "n:0/0/2,1/0/1,2/0/3,5/0/2,6/0/16,7/0/1,8/0/1,9/0/1,10/0/1,11/0/1,12/0/1,13/0/1,14/0/1,15/0/1,16/0/1"},
        {"index", "n:1/1/1"},
        {"the", "s:0"},
        {"grosse", "t:2/1,3/2"},
        {"groesse", "t:2/1,3/2"},
        {"a", "n:2/1/3"},
        {"c", "n:2/1/3"},
        {"foo", "n:3/2/4"},
        {"gz", "n:3/0/4"},
        {"bashrc", "n:4/1/1"},
        // Pairs weigh in a title's size, characters do not; a name asks for pairs only.
        {"東京", "t:5/2 s:5"},
        {"東", "t:5/2 s:5"},
        {"日本", "n:5/1/2"},
        {"日", "n:5/0/2"},
        // Past the sixteenth word a name's words are found but not counted.
        {"w1_w2", "n:6/1/16"},
        {"w17", "n:6/1/16"},
        {"w18", "n:6/0/16"},
        {"x", "t:6/1"},
        // A common word counts for no title's size.
        {"site", "t:7/1,8/1,9/1,10/1,11/1,12/1,13/1,14/1,15/1,16/1 c"},
        {"topica", "t:7/1"},
        {"missing", "none"},
    };
    for (const auto& [key, expected] : cases)
        EXPECT_EQ(shown(table, key), expected) << key;
    // A table of some keys holds their entries as the whole table has them (the sizes of
    // titles counted over every word, "site" common though it is not wanted) and no
    // other key.
    const auto wanted = [](std::string_view key) { return key < "n" || key.substr(0, 5) == "topic"; };
    const PlaceWords::Table some = PlaceWords::of(pages, wanted);
    for (const auto& [key, expected] : cases)
        EXPECT_EQ(shown(some, key), wanted(key) ? expected : "none") << key;
}
