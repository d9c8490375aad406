// The near pieces the search page reads for nearest words: a query word's candidates
// (same first letter, lengths within the edits) must lie in the run of pieces the head's
// first words point to, and no vocabulary, however made, makes a piece large.

#include "TermsText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kMark = "/* generator: VantrelIndexer */\n";

// The words of a near piece's text, read back from its plain ASCII list.
std::vector<std::string> wordsOf(const std::string& text)
{
    std::vector<std::string> words;
    const std::size_t begin = text.find("[\"") + 1, end = text.find("],\n\"counts\"");
    for (std::size_t at = begin; at < end;) {
        const std::size_t close = text.find('"', at + 1);
        words.push_back(text.substr(at + 1, close - at - 1));
        at = close + 2;
    }
    return words;
}

}  // namespace

TEST(NearPieces, WordsStandByFirstUnitThenLengthAndKeepTheirMostPages)
{
    // A key that is a title word too ("alpha") keeps its larger count; U+1F600 (first unit
    // D83D) sorts before U+FF41, as the page's charCodeAt(0) reads them.
    const auto pieces = TermsText::composeNear({{"bc", 1}, {"alpha", 2}, {"abc", 4}, {"alpha", 7}, {"ab", 5},
                                                {"\xEF\xBD\x81", 3}, {"\xF0\x9F\x98\x80x", 6}, {"b\"\xE2\x80\xA8", 8}});
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].first, "ab");
    EXPECT_EQ(pieces[0].second, kMark + "vantrelNear({\"words\":[\"ab\",\"abc\",\"alpha\",\"bc\",\"b\\\"\\u2028\","
                                        "\"\xF0\x9F\x98\x80x\",\"\xEF\xBD\x81\"],\n\"counts\":[5,4,7,1,8,6,3]});\n");
    EXPECT_TRUE(TermsText::composeNear({}).empty());
}

TEST(NearPieces, AFloodOfLookAlikeWordsMakesManySmallPiecesInOrder)
{
    // Rows: words that all share a first letter and length (one run the page must read in
    // pieces), and words of every length after one letter.
    struct Row {
        const char* label;
        std::vector<std::string> words;
    };
    std::vector<Row> rows(2);
    rows[0].label = "one first letter and length";
    rows[1].label = "every length";
    for (int i = 0; i < 30000; ++i) {
        std::string word = "a";
        for (int n = i, k = 0; k < 9; ++k, n /= 7)
            word += static_cast<char>('b' + n % 7);
        rows[0].words.push_back(word);
        rows[1].words.push_back("q" + std::string(1 + i % 63, static_cast<char>('a' + i % 26)) + std::to_string(i));
    }
    for (const Row& row : rows) {
        std::vector<TermsText::NearWord> given;
        for (const std::string& word : row.words)
            given.push_back({word, 1});
        const auto pieces = TermsText::composeNear(given);
        std::vector<std::string> all;
        for (const auto& [first, text] : pieces) {
            EXPECT_LE(text.size(), TermsText::kNearBytes + 1024) << row.label;
            ASSERT_EQ(text.rfind(kMark, 0), 0u) << row.label;
            const auto words = wordsOf(text);
            ASSERT_FALSE(words.empty()) << row.label;
            EXPECT_EQ(words[0], first) << row.label;
            all.insert(all.end(), words.begin(), words.end());
        }
        ASSERT_EQ(all.size(), row.words.size()) << row.label;
        for (std::size_t i = 1; i < all.size(); ++i) {
            const bool inOrder = all[i - 1].size() < all[i].size() || (all[i - 1].size() == all[i].size() && all[i - 1] < all[i]);
            ASSERT_TRUE(inOrder) << row.label << ": " << all[i - 1] << " before " << all[i];
        }
        EXPECT_GE(pieces.size(), row.words.size() * 12 / TermsText::kNearBytes) << row.label;
    }
}

TEST(NearPieces, TheSetOfRunsInsideWordsGrowsWithTheWordsInPiecesUpToItsBound)
{
    // Rows: no words; one word; words of random letters far more than the bound holds,
    // whose set comes in pieces.
    struct Row {
        const char* label;
        std::size_t words;
        std::size_t pieces, bits;
    };
    const Row rows[] = {{"none", 0, 1, 1024},
                        {"one", 1, 1, 1024},
                        {"flood", 400000, TermsText::kMaxGramBits / TermsText::kGramPieceBits, TermsText::kGramPieceBits}};
    for (const Row& row : rows) {
        std::vector<std::string> texts;
        std::uint32_t seed = 1;
        for (std::size_t w = 0; w < row.words; ++w) {
            std::string word;
            for (int k = 0; k < 12; ++k) {
                seed = seed * 1103515245u + 12345u;
                word += static_cast<char>('a' + (seed >> 16) % 26);
            }
            texts.push_back(word);
        }
        std::vector<TermsText::NearWord> words;
        for (const std::string& text : texts)
            words.push_back({text, 1});
        const auto pieces = TermsText::composeGrams(words);
        ASSERT_EQ(pieces.size(), row.pieces) << row.label;
        const std::string head = kMark + "vantrelGrams({\"bits\":" + std::to_string(row.bits) + ",\"set\":\"";
        for (const std::string& text : pieces) {
            ASSERT_EQ(text.rfind(head, 0), 0u) << row.label;
            EXPECT_EQ(text.size(), head.size() + (row.bits / 8 + 2) / 3 * 4 + 5) << row.label;
            EXPECT_EQ(text.substr(text.size() - 5), "\"});\n") << row.label;
        }
    }
}
