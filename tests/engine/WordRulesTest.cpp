// The word rules of the companion word index against the cases both sides share, and
// the orders and bounds the index writer relies on.

#include "TestFiles.h"
#include "WordRules.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

TEST(WordCases, IndexerCutsEveryInputIntoTheListedKeys)
{
    const std::vector<TableRow> rows = tableRows(std::string(TEST_DATA_DIR) + "/word-cases.tsv");
    EXPECT_GE(rows.size(), 25u);
    for (const TableRow& row : rows)
        EXPECT_EQ(joined(WordRules::indexKeys(row.fields[0])), row.fields.at(1)) << "table line " << row.line;
}

// The tokens of text as "kind:text" lines: listed by cut(), handed one by one to a sink,
// or cut by ICU alone.
enum class Cutting { Listed, Handed, ByIcu };
std::string tokensOf(WordRules::TextCutter& cutter, std::string_view text, Cutting cutting)
{
    struct Lines final : WordRules::TextCutter::TokenSink {
        std::string text;
        void token(WordRules::TextCutter::Kind kind, std::string_view token) override
        {
            text.append(kind == WordRules::TextCutter::Word ? "w:" : "u:").append(token) += '\n';
        }
    } lines;
    if (cutting == Cutting::Handed) {
        cutter.cut(text, lines);
        return lines.text;
    }
    cutting == Cutting::ByIcu ? cutter.cutByIcu(text) : cutter.cut(text);
    for (const auto& token : cutter.tokens())
        lines.token(token.kind, cutter.textOf(token));
    return lines.text;
}

TEST(TextCutter, AsciiShortcutCutsExactlyAsIcuDoes)
{
    // Pieces where the shortcut could part from ICU: ASCII next to combining marks that
    // compose with it (e + U+0301, < + U+0338), compatibility forms, unspaced scripts,
    // digits, "_", invalid bytes, surrogates written as UTF-8 and words past every cut.
    const std::vector<std::string> pieces = {
        "a", "Z", "e", "_", "7", "0x1F", " ", ".", "-", "'", "<", "=", ">", "\t", "\xCC\x81", "\xCC\xB8",
        "\xCC\x88", "\xE3\x82\x99", "\xEF\xBC\xB0", "\xEF\xBD\xB6", "\xEF\xAC\x81", "\xC3\x9F", "\xC4\xB0",
        "\xCE\xA3", "\xD0\x81", "\xE6\x9D\xB1", "\xE3\x81\xAE", "\xE0\xB8\x81", "\xEA\xB0\x80", "\xF0\x90\x90\xA8",
        "\xFF", "\xC3", "\xED\xA0\x80", "\xE2\x80\xA8", "\xC2\xA0", "\xEF\xBC\x91", "\xD9\xA3", std::string(130, 'x'),
        std::string(70, 'Q') + "\xC3\xA4", "Stra\xC3\x9F" "e", "Python3\xE3\x81\xAE", "ipv6", "x86_64",
        "\xC2\xA0", "\xC2\xA9", "\xE2\x80\x93", "\xE2\x80\x94", "\xE2\x80\x98", "\xE2\x80\x99", "\xE2\x80\x9C",
        "\xE2\x80\x9D", "\xE2\x80\xA6", "\xE2\x80", "\xC2", "\xE2\x80\x8B",
        // the neighbours of letters, digits and "_" in ASCII, bytes above it whose low bits
        // are a letter's, and words of eight bytes and more in both cases
        "/", ":", "@", "[", "^", "`", "{", "\x7F", "\x01", "\xC1", "\xDA", "\xC1\x81",
        "ABCDEFGH", "Ab_9Zz0y", "QRSTUVWXYZabcdefg_09"};
    std::mt19937 random(20240607);
    WordRules::TextCutter cutter;
    std::vector<std::string> texts;
    for (const TableRow& row : tableRows(std::string(TEST_DATA_DIR) + "/word-cases.tsv"))
        texts.push_back(row.fields[0]);
    ASSERT_GE(texts.size(), 25u);
    const std::size_t realTexts = texts.size();
    for (std::size_t i = 0; i < realTexts; ++i)  // each real case after another, as in a page
        texts.push_back(texts[i] + texts[(i * 7 + 3) % realTexts]);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int length = std::uniform_int_distribution<int>(1, 24)(random); length > 0; --length)
            text += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        const std::string byIcu = tokensOf(cutter, text, Cutting::ByIcu);
        ASSERT_EQ(tokensOf(cutter, text, Cutting::Listed), byIcu) << text;
        ASSERT_EQ(tokensOf(cutter, text, Cutting::Handed), byIcu) << text;
    }
}

TEST(WordRules, KeysAreCutAt64Utf16UnitsWithoutSplittingACharacterAndInvalidBytesPartWords)
{
    const std::pair<std::string, std::vector<std::string>> rows[] = {
        {std::string(200, 'a'), {std::string(64, 'a')}},
        // 63 letters and one above U+FFFF (two units): the pair does not fit whole.
        {std::string(63, 'b') + "\xF0\x90\x90\xA8", {std::string(63, 'b')}},  // U+10428, Deseret small long i
        // Invalid UTF-8 is read as replacement characters.
        {"ab\xFF\xFE" "cd \xC3", {"ab", "cd"}},
    };
    for (const auto& [text, keys] : rows)
        EXPECT_EQ(WordRules::indexKeys(text), keys) << text;
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
