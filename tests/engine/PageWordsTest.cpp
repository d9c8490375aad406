// One page read from its file: its title, its words with their counters by place, and
// the weights those give; how text splits into words.

#include "IndexEngine.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <vector>

using namespace std::string_literals;

namespace {

std::string countsText(const WordCounts& c)
{
    return std::to_string(c.keywordOrTitle) + "," + std::to_string(c.other) + "," + std::to_string(c.h1) + ","
        + std::to_string(c.h2) + "," + std::to_string(c.h3);
}

// What the patterns match is held to the pattern library by ScannerDifferentialTest;
// these are what the engine makes of it.
TEST(PageWords, TitleIsUpperCasedAndEscapedAsItStands)
{
    const std::pair<std::string, const char*> cases[] = {
        {"<html><title>My Page</title></html>", "MY PAGE"},
        {"<title>Say \"hi\" \\ there</title>", "SAY \\\"HI\\\" \\\\ THERE"},
        {"<title>First\r\nSecond</title>", "FIRST  SECOND"},
        {"<title> Tom &amp; Jerry </title>", " TOM &AMP; JERRY "},
        {"<title>caf\xc3\xa9</title>", "CAF\xc3\xa9"},
        {"<title></title>", ""},
        {"<title>runs to the end", "Document has no name"},
        {"<p>\0<title>after zero</title>"s, "Document has no name"},
    };
    TempTree tree;
    IndexEngine engine;
    for (const auto& [page, title] : cases)
        EXPECT_EQ(engine.readTitle(tree.write("p.html", page)), title) << page;
}

TEST(PageWords, CountersFollowThePlaceOfEachWord)
{
    const struct {
        ContentMode mode;
        std::string page;
        const char* word;
        const char* counts;  // keywordOrTitle, other, h1, h2, h3; "" when absent
    } cases[] = {
        {ContentMode::Keywords, "<meta name=\"keywords\" content=\"web, Web, WEB\">", "WEB", "3,0,0,0,0"},
        {ContentMode::KeywordsTitles, "<title>Lamp</title><p>lamp</p>", "LAMP", "1,0,0,0,0"},
        {ContentMode::KeywordsTitles, "<title lang=en>Lamp</title><p>", "LAMP", "0,1,0,0,0"},
        {ContentMode::KeywordsTitles, "<title >Lamp</title>", "LAMP", "0,1,0,0,0"},
        {ContentMode::KeywordsTitlesHeaders, "<h1>Lamp <b>lamp</b> lamp</h1>", "LAMP", "0,0,1,0,0"},
        {ContentMode::KeywordsTitlesHeaders, "<H2>lamp</H2><h3>lamp</h3><h4>lamp</h4><x>", "LAMP", "0,1,0,1,1"},
        {ContentMode::KeywordsTitlesHeaders, "<h1 class=c>lamp</h1>", "LAMP", "0,1,0,0,0"},
        {ContentMode::AllContent, "<h1>Lamp <b>lamp</b> lamp</h1>", "LAMP", "0,2,1,0,0"},
        {ContentMode::AllContent, "<p>Hello hello HELLO</p>", "HELLO", "0,3,0,0,0"},
        {ContentMode::AllContent, "<p>lamp</p>\0<p>hidden</p><p>"s, "HIDDEN", ""},
        {static_cast<ContentMode>(7), "<title>lamp</title><p>lamp</p>", "LAMP", ""},
    };
    TempTree tree;
    IndexEngine engine;
    for (const auto& c : cases) {
        engine.contentMode = c.mode;
        PageWords words = engine.parseDocument(tree.write("p.html", c.page));
        std::string found;
        for (const auto& entry : words.entries())
            if (words.wordOf(entry) == c.word)
                found = countsText(entry.value);
        EXPECT_EQ(found, c.counts) << c.page << " (option " << int(c.mode) << ")";
    }
}

TEST(PageWords, WeightAddsWholePointsForPlacesAndHalvesTheFractionForOtherText)
{
    const struct {
        WordCounts counts;
        double weight;
    } cases[] = {
        {{1, 0, 0, 0, 0}, 4.0}, {{0, 1, 0, 0, 0}, 0.5}, {{0, 2, 0, 0, 0}, 0.25},
        {{1, 1, 0, 0, 0}, 3.5}, {{0, 0, 0, 1, 1}, 4.0}, {{0, 0, 2, 0, 0}, 7.0},
        {{0, 1074, 0, 0, 0}, 4.9406564584124654e-324}, {{0, 1075, 0, 0, 0}, 0.0},
        {{2, 5000000000LL, 0, 0, 0}, 6.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wordWeight(c.counts), c.weight) << countsText(c.counts);
}

TEST(PageWords, ToUpperChangesOnlyAToZWhateverTheByteAndItsPlace)
{
    for (std::size_t length = 1; length <= 24; ++length) {
        for (int first = 0; first < 256; ++first) {
            std::string text(length, '\0'), expected(length, '\0');
            for (std::size_t k = 0; k < length; ++k) {
                auto c = static_cast<unsigned char>((first + 37 * k) & 0xff);
                text[k] = static_cast<char>(c);
                expected[k] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
            }
            ASSERT_EQ(toUpper(text), expected) << "length " << length << ", first byte " << first;
        }
    }
}

// A table is reset page after page: after a large page and after a small one (whose
// slots are emptied one by one), it holds nothing of them and fills again.
TEST(PageWords, AResetTableHoldsNoWordOfEarlierPages)
{
    PageWords table;
    for (std::size_t pageSize : {5000, 3, 1, 0, 40, 2000, 7}) {
        for (std::size_t i = 0; i < pageSize; ++i)
            ++table.findOrInsert("w" + std::to_string(pageSize) + "_" + std::to_string(i)).other;
        ASSERT_EQ(table.size(), pageSize);
        for (std::size_t i = 0; i < pageSize; ++i)
            ASSERT_NE(table.find("w" + std::to_string(pageSize) + "_" + std::to_string(i)), nullptr) << pageSize;
        table.reset();
        EXPECT_TRUE(table.empty());
        for (std::size_t i = 0; i < pageSize; ++i)
            ASSERT_EQ(table.find("w" + std::to_string(pageSize) + "_" + std::to_string(i)), nullptr) << pageSize;
    }
}

TEST(PageWords, ATableWithRoomReservedFindsEveryWordBeforeAndAfter)
{
    // Words held before the room is made, and words entered after, filling it past what
    // was reserved.
    for (const std::size_t before : {0, 1, 100}) {
        PageWords table;
        for (std::size_t i = 0; i < before; ++i)
            table.findOrInsert("b" + std::to_string(i)).other = 1;
        table.reserve(1000);
        for (std::size_t i = 0; i < 1500; ++i)
            table.findOrInsert("a" + std::to_string(i)).other = 2;
        ASSERT_EQ(table.size(), before + 1500);
        for (std::size_t i = 0; i < before; ++i)
            ASSERT_EQ(table.find("b" + std::to_string(i))->other, 1u) << before;
        for (std::size_t i = 0; i < 1500; ++i)
            ASSERT_EQ(table.find("a" + std::to_string(i))->other, 2u) << before;
    }
}

TEST(PageWords, WordsOfOneHashStayApartByEveryByte)
{
    // Every word entered under the same hash, so that only their bytes tell them apart:
    // words of each length up to 20, and each of them with one byte changed at each place.
    PageWords table;
    constexpr std::uint64_t kOneHash = 42;
    std::vector<std::string> words;
    for (std::size_t length = 0; length <= 20; ++length) {
        const std::string word(length, 'a');
        words.push_back(word);
        for (std::size_t at = 0; at < length; ++at) {
            std::string changed = word;
            changed[at] = 'b';
            words.push_back(changed);
        }
    }
    for (std::size_t i = 0; i < words.size(); ++i)
        table.findOrInsert(words[i], kOneHash).other = static_cast<std::int64_t>(i);
    ASSERT_EQ(table.size(), words.size());
    for (std::size_t i = 0; i < words.size(); ++i)
        EXPECT_EQ(table.findOrInsert(words[i], kOneHash).other, static_cast<std::int64_t>(i)) << '"' << words[i] << '"';
}

// The search page's tests read the same table, so the page and the indexer cannot split
// words differently.
TEST(TokenizerTable, EngineSplitsEveryInputAsListed)
{
    const std::vector<TableRow> rows = tableRows(std::string(TEST_DATA_DIR) + "/tokenizer-cases.tsv");
    EXPECT_GE(rows.size(), 20u);
    for (const TableRow& row : rows) {
        std::istringstream listed(row.fields.at(1));
        std::vector<std::string> expected;
        for (std::string word; listed >> word;)
            expected.push_back(word);
        EXPECT_EQ(extractWords(toUpper(row.fields[0])), expected) << "table line " << row.line;
    }
}

}  // namespace
