// The word rules of the companion word index against the cases both sides share, and
// the orders and bounds the index writer relies on.

#include "TextEncoding.h"
#include "WordRules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The input column of word-cases.tsv: \t, \n and \uXXXX stand for their characters.
std::string unescapeCase(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
        } else if (text[i + 1] == 't' || text[i + 1] == 'n') {
            out += text[++i] == 't' ? '\t' : '\n';
        } else if (text[i + 1] == 'u' && i + 5 < text.size()) {
            appendUtf8(out, static_cast<char32_t>(std::stoul(text.substr(i + 2, 4), nullptr, 16)));
            i += 5;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string joined(const std::vector<std::string>& keys)
{
    std::string text;
    for (const std::string& key : keys)
        text += (text.empty() ? "" : " ") + key;
    return text;
}

TEST(WordCases, IndexerCutsEveryInputIntoTheListedKeys)
{
    std::ifstream table(std::string(TEST_DATA_DIR) + "/word-cases.tsv", std::ios::binary);
    ASSERT_TRUE(table.good());
    int cases = 0;
    std::string line;
    for (int number = 1; std::getline(table, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::istringstream columns(line);
        for (std::string field; std::getline(columns, field, '\t');)
            fields.push_back(field);
        ASSERT_GE(fields.size(), 2u) << "malformed line " << number;
        EXPECT_EQ(joined(WordRules::indexKeys(unescapeCase(fields[0]))), fields[1])
            << "table line " << number << ": " << fields[0];
        ++cases;
    }
    EXPECT_GE(cases, 25);
}

TEST(WordRules, KeysAreCutAt64Utf16UnitsWithoutSplittingACharacter)
{
    const std::string longWord(200, 'a');
    EXPECT_EQ(WordRules::indexKeys(longWord), std::vector<std::string>{std::string(64, 'a')});
    // 63 letters and one above U+FFFF (two units): the pair does not fit whole.
    const std::string astral = std::string(63, 'b') + "\xF0\x90\x90\xA8";  // U+10428, Deseret small long i
    ASSERT_EQ(WordRules::indexKeys(astral).size(), 1u);
    EXPECT_EQ(WordRules::indexKeys(astral)[0], std::string(63, 'b'));
}

TEST(WordRules, AnUnspacedCharacterWithEndlessMarksGivesBoundedKeys)
{
    std::string page = "\xe6\x9d\xb1";  // 東
    for (int i = 0; i < 100000; ++i)
        page += "\xe3\x82\x99";  // the combining voiced sound mark
    page += "\xe4\xba\xac";  // 京
    const std::vector<std::string> keys = WordRules::indexKeys(page);
    ASSERT_EQ(keys.size(), 3u);
    for (const std::string& key : keys)
        EXPECT_LE(key.size(), 3 * WordRules::kMaxKeyUnits);
    EXPECT_EQ(keys[2], "\xe4\xba\xac");
}

TEST(WordRules, InvalidUtf8IsReadAsReplacementCharacters)
{
    EXPECT_EQ(WordRules::indexKeys("ab\xFF\xFE" "cd \xC3"), (std::vector<std::string>{"ab", "cd"}));
}

TEST(WordRules, Utf16OrderPutsPrivateUseAfterAstralCharacters)
{
    struct Row {
        const char* a;
        const char* b;
        bool less;
    };
    const Row rows[] = {
        {"a", "b", true},
        {"ab", "a", false},
        {"a", "ab", true},
        {"\xEF\xBC\xA1", "\xF0\x9F\x98\x80", false},  // U+FF21 after U+1F600 (surrogates D83D DE00)
        {"\xF0\x9F\x98\x80", "\xEF\xBC\xA1", true},
        {"\xED\x9F\xBF", "\xF0\x9F\x98\x80", true},   // U+D7FF before the surrogates
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x81", true},
        {"z", "\xC3\xA9", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(WordRules::lessByUtf16(row.a, row.b), row.less) << row.a << " < " << row.b;
}

}  // namespace
