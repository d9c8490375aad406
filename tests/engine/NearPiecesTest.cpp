// The near pieces the search page reads for nearest words: a query word's candidates
// (same first letter, lengths within the edits) must lie in the run of pieces the head's
// first words point to, and no vocabulary, however made, makes a piece large. The
// in-word pieces: a run inside words names every vocabulary piece of the words that
// hold it, within a bound on the bytes they make the page read.

#include "TermsText.h"

#include "CacheRecords.h"
#include "WordRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <random>
#include <set>
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

// A word of the vocabulary pieces and the piece that lists it.
struct PieceWord {
    std::string_view word;
    std::uint32_t piece;
};

// The in-word pieces of words (a word may be given more than once), as a job composes
// them from each vocabulary piece's runs.
std::vector<std::string> composeInWord(const std::vector<PieceWord>& words, const std::vector<std::size_t>& pieceBytes)
{
    std::vector<std::vector<std::string_view>> ofPiece;
    for (const PieceWord& word : words) {
        if (word.piece >= ofPiece.size())
            ofPiece.resize(word.piece + 1);
        ofPiece[word.piece].push_back(word.word);
    }
    std::vector<TermsText::RunsInside> runs;
    for (const std::vector<std::string_view>& list : ofPiece)
        runs.push_back(TermsText::runsInside(list));
    return TermsText::composeInWordOfRuns(runs, pieceBytes);
}

// The pieces of the set of runs inside words, as a job composes them.
std::vector<std::string> composeGrams(const std::vector<std::string>& texts)
{
    return TermsText::composeGramsOfRuns(TermsText::runsInside({texts.begin(), texts.end()}).grams);
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
    // The words as a job gives them, the keys then the title and file-name words, each
    // run in order, one word in both: the same pieces as the words in any order.
    const auto inRuns = TermsText::composeNear({{"ab", 5}, {"alpha", 2}, {"bc", 1}, {"\xEF\xBD\x81", 3},
                                                {"abc", 4}, {"alpha", 7}, {"b\"\xE2\x80\xA8", 8}});
    EXPECT_EQ(inRuns, TermsText::composeNear({{"alpha", 7}, {"bc", 1}, {"b\"\xE2\x80\xA8", 8}, {"ab", 5},
                                              {"\xEF\xBD\x81", 3}, {"alpha", 2}, {"abc", 4}}));
    ASSERT_EQ(inRuns.size(), 1u);
    EXPECT_NE(inRuns[0].second.find("\"alpha\",\"bc\""), std::string::npos);
    EXPECT_NE(inRuns[0].second.find("[5,4,7,1,8,3]"), std::string::npos);
}

TEST(NearPieces, AGroupOfFirstUnitsIsTakenFromTheLastJobOnlyWhereItsWordsAndTheOpenPieceStayed)
{
    // Keys and title words, each in UTF-16 order as a job gives them: Latin letters of
    // many pieces and of a few words, Greek, two blocks of ideographs, and a small group
    // above U+FFFF last, whose piece ends only because no word follows.
    const auto inOrder = [](std::vector<std::string> words) {
        std::sort(words.begin(), words.end(), WordRules::lessByUtf16);
        return words;
    };
    std::vector<std::string> keyWords, titleWords;
    for (int i = 0; i < 3000; ++i)
        keyWords.push_back(std::string(1, "abcmst"[i % 6]) + std::string(1 + i % 11, 'q') + std::to_string(i));
    for (const char* word : {"dx", "dy", "e", "f\"x", "\xCE\xB1\xCE\xB2", "\xCE\xB3", "\xE4\xB8\x80", "\xE4\xB8\x81\xE4\xB8\x82",
                             "\xE5\xA0\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x81z"})
        keyWords.push_back(word);
    for (int i = 0; i < 400; ++i)
        titleWords.push_back((i % 2 ? "m" : "t") + std::to_string(i * 7));
    titleWords.push_back("dx");  // also a key, with more pages as a title word
    keyWords = inOrder(keyWords);
    titleWords = inOrder(titleWords);
    struct Job {
        std::vector<std::string> keys, titles;
        std::map<std::string, std::size_t> pages;  // 1 where not given
        std::vector<TermsText::NearWord> words() const
        {
            std::vector<TermsText::NearWord> all;
            for (const auto* list : {&keys, &titles})
                for (const std::string& word : *list)
                    all.push_back({word, pages.count(word) ? pages.at(word) : 1});
            return all;
        }
    };
    const Job first{keyWords, titleWords, {{"dx", 9}, {"m1", 3}}};
    std::vector<std::pair<std::uint64_t, std::string>> firstKept;
    const auto firstWords = first.words();
    ASSERT_EQ(TermsText::composeNear(firstWords, first.keys.size(), nullptr, firstKept), TermsText::composeNear(firstWords));
    ASSERT_GT(firstKept.size(), 10u);

    // Rows: the next job's words, each composed with the first job's work kept and
    // compared with the same words composed whole.
    struct Row {
        const char* label;
        std::function<void(Job&)> edit;
    };
    const Row rows[] = {
        {"nothing changed", [](Job&) {}},
        {"a count changed in a group whose piece stays open into the next", [](Job& job) { job.pages["dy"] = 12; }},
        {"a count changed in a group of many pieces", [](Job& job) { job.pages["m1000"] = 4; }},
        {"a title word added", [&](Job& job) { job.titles.push_back("e2"); job.titles = inOrder(job.titles); }},
        {"a group added after the last", [&](Job& job) { job.keys.push_back("\xEF\xBD\x81"); }},
        {"the last group gone", [&](Job& job) { job.keys.resize(job.keys.size() - 2); }},
    };
    for (const Row& row : rows) {
        Job next = first;
        row.edit(next);
        const auto words = next.words();
        TermsText::KeptWork work;
        work.takeEarlier(firstKept);
        std::vector<std::pair<std::uint64_t, std::string>> kept;
        EXPECT_EQ(TermsText::composeNear(words, next.keys.size(), &work, kept), TermsText::composeNear(words)) << row.label;
        std::size_t taken = 0;
        for (const auto& [inputs, bytes] : kept)
            taken += work.find(inputs) != nullptr;
        EXPECT_GE(taken + 4, kept.size()) << row.label;  // the groups the edit reached, and those its open piece ran into
    }

    // Work that cannot be what a job kept is not taken: the bytes of each group cut
    // short, or saying they end more pieces than the group has words; a well-formed
    // result is taken as it stands (here a count changed in its text).
    const auto forged = [&](std::size_t k, const std::string& bytes) {
        auto earlier = firstKept;
        earlier[k].second = bytes;
        TermsText::KeptWork work;
        work.takeEarlier(earlier);
        std::vector<std::pair<std::uint64_t, std::string>> kept;
        return TermsText::composeNear(firstWords, first.keys.size(), &work, kept);
    };
    const auto whole = TermsText::composeNear(firstWords);
    for (std::size_t k = 0; k < firstKept.size(); ++k) {
        const std::string& bytes = firstKept[k].second;
        EXPECT_EQ(forged(k, bytes.substr(0, bytes.size() - 1)), whole) << k;
        std::string many;
        RecordWriter out(many);
        out.number<std::uint64_t>(firstWords.size() + 1);
        for (std::size_t i = 0; i <= firstWords.size(); ++i) {
            out.text("dx");
            out.text(kMark + "vantrelNear({\"words\":[\"dx\"],\n\"counts\":[9]});\n");
        }
        for (int i = 0; i < 3; ++i)
            out.text("");
        EXPECT_EQ(forged(k, many), whole) << k;
    }
    const std::size_t dx = static_cast<std::size_t>(
        std::find_if(firstKept.begin(), firstKept.end(), [](const auto& kept) { return kept.second.find("\"dx\"") != std::string::npos; })
        - firstKept.begin());
    ASSERT_LT(dx, firstKept.size());
    std::string changed = firstKept[dx].second;
    changed.replace(changed.find("\"dx\""), 4, "\"dz\"");
    EXPECT_NE(forged(dx, changed), whole);

    // Words out of order, or one that does not begin with a well-formed character, are
    // composed whole and nothing is kept.
    for (const std::vector<TermsText::NearWord>& words :
         {std::vector<TermsText::NearWord>{{"b", 1}, {"a", 2}, {"c", 1}}, std::vector<TermsText::NearWord>{{"a", 1}, {"\xC0\x80", 2}}}) {
        std::vector<std::pair<std::uint64_t, std::string>> kept;
        EXPECT_EQ(TermsText::composeNear(words, words.size(), nullptr, kept), TermsText::composeNear(words));
        EXPECT_TRUE(kept.empty());
    }
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
        const auto pieces = composeGrams(texts);
        ASSERT_EQ(pieces.size(), row.pieces) << row.label;
        const std::string head = kMark + "vantrelGrams({\"bits\":" + std::to_string(row.bits) + ",\"set\":\"";
        for (const std::string& text : pieces) {
            ASSERT_EQ(text.rfind(head, 0), 0u) << row.label;
            EXPECT_EQ(text.size(), head.size() + (row.bits / 8 + 2) / 3 * 4 + 5) << row.label;
            EXPECT_EQ(text.substr(text.size() - 5), "\"});\n") << row.label;
        }
    }
}

namespace {

// An in-word piece read back: run (its low hash bits) to vocabulary pieces, and the runs
// of too many words.
struct InWordPiece {
    std::map<std::uint32_t, std::vector<std::uint32_t>> runs;
    std::set<std::uint32_t> many;
};

std::vector<std::uint32_t> numbersIn(const std::string& list)
{
    std::vector<std::uint32_t> numbers;
    for (std::size_t at = 0; at < list.size();) {
        if (!std::isdigit(static_cast<unsigned char>(list[at]))) {
            ++at;
            continue;
        }
        std::size_t end = at;
        numbers.push_back(static_cast<std::uint32_t>(std::stoul(list.substr(at), &end)));
        at += end;
    }
    return numbers;
}

InWordPiece readInWord(const std::string& text)
{
    const std::string start = kMark + "vantrelInWord({\"runs\":[";
    EXPECT_EQ(text.rfind(start, 0), 0u) << text;
    const std::size_t manyAt = text.find("],\n\"many\":[");
    InWordPiece piece;
    const std::string runs = text.substr(start.size(), manyAt - start.size());
    for (std::size_t open = runs.find('['); open != std::string::npos; open = runs.find('[', open + 1)) {
        const auto numbers = numbersIn(runs.substr(open, runs.find(']', open) - open));
        piece.runs[numbers.at(0)] = std::vector<std::uint32_t>(numbers.begin() + 1, numbers.end());
    }
    for (std::uint32_t low : numbersIn(text.substr(manyAt + 10)))
        piece.many.insert(low);
    return piece;
}

// The hash of a run of UTF-16 units as the page computes it.
std::uint32_t runHash(const std::string& utf8)
{
    std::u16string units;
    WordRules::fromUtf8(utf8, units);
    std::uint32_t hash = 2166136261u ^ static_cast<std::uint32_t>(units.size());
    for (char16_t unit : units) {
        hash ^= unit;
        hash *= 16777619u;
    }
    return hash;
}

// What the pieces say of run: its vocabulary pieces, {} for none, {kMany} for many.
constexpr std::uint32_t kMany = 0xffffffffu;
std::vector<std::uint32_t> lookUp(const std::vector<std::string>& texts, const std::string& run)
{
    int shift = 32;
    for (std::size_t n = texts.size(); n > 1; n /= 2)
        --shift;
    const std::uint32_t hash = runHash(run), low = shift >= 32 ? hash : hash & ((std::uint32_t(1) << shift) - 1);
    const InWordPiece piece = readInWord(texts.at(shift >= 32 ? 0 : hash >> shift));
    if (piece.many.count(low))
        return {kMany};
    const auto found = piece.runs.find(low);
    return found == piece.runs.end() ? std::vector<std::uint32_t>{} : found->second;
}

}  // namespace

TEST(InWordPieces, ARunListsThePiecesOfTheWordsThatHoldItInside)
{
    // Words in three vocabulary pieces; a run at a word's start does not count, a word
    // given twice or in two lists once, UTF-16 units as the page counts them.
    const std::vector<PieceWord> words = {
        {"countries", 0}, {"country", 0}, {"encounter", 1}, {"untried", 2}, {"mountain", 2}, {"mountain", 2},
        {"x\xF0\x9F\x98\x80" "ab", 1}, {"tion", 0}};
    struct Row {
        const char* run;
        std::vector<std::uint32_t> pieces;
    };
    const Row rows[] = {{"unt", {0, 1, 2}},      // held inside by all three; "untried" begins with it
                        {"ount", {0, 1, 2}},
                        {"untri", {0}},           // "untried" holds it at its start only
                        {"ntrie", {0, 2}},
                        {"oun", {0, 1, 2}},
                        {"\xF0\x9F\x98\x80" "a", {1}},  // two units of one character, then one
                        {"ion", {0}},
                        {"tio", {}},              // only at a start
                        {"zzz", {}},
                        {"countr", {}}};          // longer than the runs: never listed
    const auto texts = composeInWord(words, {100, 100, 100});
    ASSERT_EQ(texts.size(), 1u);
    for (const Row& row : rows)
        EXPECT_EQ(lookUp(texts, row.run), row.pieces) << row.run;
}

TEST(InWordPieces, ARunOfTooManyWordsIsBoundedAndAFloodMakesManySmallPieces)
{
    // Rows: a run in every piece of a large vocabulary ("tion"), and random words far more
    // than one piece holds.
    std::vector<PieceWord> words;
    std::vector<std::string> texts;
    std::uint32_t seed = 1;
    for (std::size_t w = 0; w < 200000; ++w) {
        std::string word;
        for (int k = 0; k < 10; ++k) {
            seed = seed * 1103515245u + 12345u;
            word += static_cast<char>('a' + (seed >> 16) % 26);
        }
        texts.push_back(w % 100 == 0 ? word + "tion" : word);
    }
    const std::size_t pieceCount = 2000;
    for (std::size_t w = 0; w < texts.size(); ++w)
        words.push_back({texts[w], static_cast<std::uint32_t>(w * pieceCount / texts.size())});
    // Every vocabulary piece 1 KB: "tion" stands in 2,000 pieces, 2 MB of them.
    const auto pieces = composeInWord(words, std::vector<std::size_t>(pieceCount, 1024));
    std::size_t total = 0, largest = 0;
    for (const std::string& text : pieces) {
        total += text.size();
        largest = std::max(largest, text.size());
    }
    // As many pieces as the head may name, the flood spread evenly over them.
    EXPECT_EQ(pieces.size(), TermsText::kMaxInWordPieces);
    EXPECT_LE(largest, 2 * total / pieces.size());
    EXPECT_EQ(lookUp(pieces, "tion"), std::vector<std::uint32_t>{kMany});
    // A run of one word (or two or three) lists its piece; 128 pieces of 1 KB are within the bound.
    const auto held = lookUp(pieces, texts[12345].substr(3, 5));
    EXPECT_TRUE(std::find(held.begin(), held.end(), 123u) != held.end());
    EXPECT_LE(held.size(), 3u);
    std::vector<std::string> fewTexts;
    for (std::uint32_t p = 0; p < 128; ++p)
        fewTexts.push_back("xq" + std::to_string(p) + "zzz");
    std::vector<PieceWord> few;
    for (std::uint32_t p = 0; p < 128; ++p)
        few.push_back({fewTexts[p], p});
    std::vector<std::uint32_t> all(128);
    for (std::uint32_t p = 0; p < 128; ++p)
        all[p] = p;
    EXPECT_EQ(lookUp(composeInWord(few, std::vector<std::size_t>(128, 1024)), "zzz"), all);
    EXPECT_EQ(lookUp(composeInWord(few, std::vector<std::size_t>(128, 1025)), "zzz"), std::vector<std::uint32_t>{kMany});
}

// The pairs the in-word pieces are cut from: each piece's runs dealt into buckets by
// their top bits and sorted there must give the order of one sort of all pairs, with
// runs at either end of the range, pieces empty or alone, every run in one bucket, and
// more pairs than the buckets hold by their count.
TEST(InWordPieces, RunPairsComeInTheOrderOfOneSortOfThemAll)
{
    std::mt19937 random(20);
    auto piecesOf = [&](std::size_t pieceCount, std::size_t runsEach, std::uint32_t mask, std::uint32_t base) {
        std::vector<TermsText::RunsInside> pieces(pieceCount);
        for (TermsText::RunsInside& piece : pieces) {
            for (std::size_t i = 0; i < runsEach; ++i)
                piece.all.push_back(base | (static_cast<std::uint32_t>(random()) & mask));
            std::sort(piece.all.begin(), piece.all.end());
            piece.all.erase(std::unique(piece.all.begin(), piece.all.end()), piece.all.end());
        }
        return pieces;
    };
    std::vector<TermsText::RunsInside> ends(3);
    ends[0].all = {0, 1, 0x7fffffffu, 0xffffffffu};
    ends[2].all = {0, 0xfffffffeu, 0xffffffffu};
    const std::vector<std::pair<std::string, std::vector<TermsText::RunsInside>>> rows{
        {"no pieces", {}},
        {"empty pieces", std::vector<TermsText::RunsInside>(4)},
        {"runs at the ends, an empty piece between", ends},
        {"one piece", piecesOf(1, 3000, 0xffffffffu, 0)},
        {"many pieces, one top bit pattern", piecesOf(50, 400, 0xfffu, 0xabc00000u)},
        {"many pieces sharing runs", piecesOf(300, 200, 0x3fffu << 18, 0)},
        {"more pairs than the buckets' bound", piecesOf(24, 48000, 0xffffffffu, 0)},
    };
    for (const auto& [label, pieces] : rows) {
        std::vector<std::uint64_t> expected;
        for (std::size_t p = 0; p < pieces.size(); ++p)
            for (const std::uint32_t hash : pieces[p].all)
                expected.push_back(std::uint64_t(hash) << 32 | p);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(TermsText::runPairsInOrder(pieces), expected) << label;
    }
}
