// Reading one page: its title, its words by indexing option, their counters and weights.
// Every case runs with the scanners and with the pattern library.

#include "IndexEngine.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <map>

using namespace std::string_literals;

namespace {

struct RecordingLog : ProgressLog {
    void append(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

class PageTest : public ::testing::TestWithParam<PatternMatcher> {
protected:
    PageTest() { engine.patternMatcher = GetParam(); }

    std::string titleOf(const std::string& content) { return engine.readTitle(tree.write("p.html", content)); }

    std::map<std::string, WordCounts> wordsOf(const std::string& content, ContentMode mode)
    {
        engine.contentMode = mode;
        PageWords words = engine.parseDocument(tree.write("p.html", content));
        std::map<std::string, WordCounts> sorted;
        for (const auto& entry : words.entries())
            sorted[std::string(words.wordOf(entry))] = entry.value;
        return sorted;
    }

    TempTree tree;
    IndexEngine engine;
};

std::string countsText(const WordCounts& c)
{
    return std::to_string(c.keywordOrTitle) + "," + std::to_string(c.other) + "," + std::to_string(c.h1)
        + "," + std::to_string(c.h2) + "," + std::to_string(c.h3);
}

TEST_P(PageTest, TitleIsUpperCasedEscapedAndTheLastOneWins)
{
    const struct {
        std::string page;
        const char* title;
    } cases[] = {
        {"<html><title>My Page</title></html>", "MY PAGE"},
        {"<title lang=\"en\">With attributes</title>", "WITH ATTRIBUTES"},
        {"<  TITLE >Blank before the name</TITLE>", "BLANK BEFORE THE NAME"},
        {"<title>Say \"hi\" \\ there</title>", "SAY \\\"HI\\\" \\\\ THERE"},
        {"<title>First\r\nSecond</title>", "FIRST  SECOND"},
        {"<title> Home </title>", " HOME "},
        {"<title>Tom &amp; Jerry</title>", "TOM &AMP; JERRY"},
        {"<title>one</title><title>two</title>", "TWO"},
        {"<title>A<title>B</title>", "A"},  // the tag after the text is consumed
        {"<title></title>", ""},
        {"<title>runs to the end", "Document has no name"},
        {"<title>no closing bracket</title", "Document has no name"},
        {"<p>no title element</p>", "Document has no name"},
        {"", "Document has no name"},
        {"<p>\0<title>after zero</title>"s, "Document has no name"},
        {"<titles>plural tag counts too</titles>", "PLURAL TAG COUNTS TOO"},
        {"<title>caf\xc3\xa9</title>", "CAF\xc3\xa9"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(titleOf(c.page), c.title) << c.page;
}

TEST_P(PageTest, TitleOfAFileThatCannotBeOpenedIsTheDefaultWithoutALine)
{
    RecordingLog log;
    engine.progressLog = &log;
    EXPECT_EQ(engine.readTitle(tree.path("missing.html")), "Document has no name");
    EXPECT_EQ(engine.readTitle(""), "Document has no name");
    EXPECT_EQ(engine.readTitle(tree.folder("dir.html")), "Document has no name");
    EXPECT_TRUE(log.lines.empty());
}

TEST_P(PageTest, ParseDocumentReportsEachPageWithParsingAndDone)
{
    RecordingLog log;
    engine.progressLog = &log;
    std::string path = tree.write("a.htm", "");
    EXPECT_TRUE(engine.parseDocument(path).empty());
    engine.parseDocument(tree.path("missing.htm"));
    engine.parseDocument("");
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Parsing " + path + "...", "Done!",
                                                   "Parsing " + tree.path("missing.htm") + "...", "Done!",
                                                   "Parsing ...", "Done!"}));
}

TEST_P(PageTest, CountersFollowThePlaceOfEachWord)
{
    const struct {
        ContentMode mode;
        const char* page;
        const char* word;
        const char* counts;  // keywordOrTitle, other, h1, h2, h3; "" when absent
    } cases[] = {
        {ContentMode::Keywords, "<meta name=\"keywords\" content=\"web, Web, WEB\">", "WEB", "3,0,0,0,0"},
        {ContentMode::Keywords, "<META NAME=KEYWORDS CONTENT=Lamp><p>x</p>", "LAMP", "1,0,0,0,0"},
        {ContentMode::Keywords, "<meta name=\"description\" content=\"lamp\">", "LAMP", ""},
        {ContentMode::Keywords, "<meta content=\"lamp\" name=\"keywords\">", "LAMP", ""},
        {ContentMode::Keywords, "<meta name=\"keywords\" content=\"lamp\"/>", "LAMP", ""},
        {ContentMode::Keywords, "<meta name='keywords' content='lamp'>", "LAMP", ""},
        {ContentMode::Keywords, "<meta name=\"keywords\" lang=\"en\" content=\"lamp\">", "LAMP", ""},
        {ContentMode::Keywords, "<title>lamp</title><p>lamp</p>", "LAMP", ""},
        // Unquoted content runs to the last '>' before the next quote.
        {ContentMode::Keywords, "<meta name=keywords content=a b><title>Hi</title><a href=\"x\">",
         "TITLE", "2,0,0,0,0"},
        {ContentMode::KeywordsTitles, "<title>Lamp</title><p>lamp</p>", "LAMP", "1,0,0,0,0"},
        {ContentMode::KeywordsTitles, "<title lang=en>Lamp</title><p>", "LAMP", "0,1,0,0,0"},
        {ContentMode::KeywordsTitles, "<title >Lamp</title>", "LAMP", "0,1,0,0,0"},
        {ContentMode::KeywordsTitles, "<title>Lamp", "LAMP", ""},
        {ContentMode::KeywordsTitlesHeaders, "<h1>Lamp <b>lamp</b> lamp</h1>", "LAMP", "0,0,1,0,0"},
        {ContentMode::KeywordsTitlesHeaders, "<H2>lamp</H2><h3>lamp</h3><h4>lamp</h4><x>", "LAMP",
         "0,1,0,1,1"},
        {ContentMode::KeywordsTitlesHeaders, "<h1 class=c>lamp</h1>", "LAMP", "0,1,0,0,0"},
        {ContentMode::KeywordsTitlesHeaders, "<p>lamp</p><h1>x</h1>", "LAMP", ""},
        {ContentMode::AllContent, "<h1>Lamp <b>lamp</b> lamp</h1>", "LAMP", "0,2,1,0,0"},
        {ContentMode::AllContent, "<p>Hello hello HELLO</p>", "HELLO", "0,3,0,0,0"},
        {ContentMode::AllContent, "<p>lamp</p>after the last tag lamp", "LAMP", "0,1,0,0,0"},
        {ContentMode::AllContent, "<script>var lamp = 1;</script>", "LAMP", "0,1,0,0,0"},
        {ContentMode::AllContent, "<!-- lamp --><p>", "LAMP", ""},  // the comment is the tag
        {ContentMode::AllContent, "<a <b> lamp <c>", "LAMP", "0,1,0,0,0"},
        {static_cast<ContentMode>(7), "<title>lamp</title><p>lamp</p>", "LAMP", ""},
    };
    for (const auto& c : cases) {
        auto words = wordsOf(c.page, c.mode);
        auto found = words.find(c.word);
        EXPECT_EQ(found == words.end() ? "" : countsText(found->second), c.counts)
            << c.page << " (option " << int(c.mode) << ")";
    }
}

TEST_P(PageTest, WordsStopAtTheFirstZeroByteAndAtNonAsciiBytes)
{
    auto words = wordsOf("<p>na\xc3\xafve x86_64 3com 2003 ___</p>\0<p>hidden</p><p>"s,
                         ContentMode::AllContent);
    std::vector<std::string> found;
    for (const auto& entry : words)
        found.push_back(entry.first);
    EXPECT_EQ(found, (std::vector<std::string>{"COM", "NA", "VE", "X86_64", "___"}));
}

INSTANTIATE_TEST_SUITE_P(BothMatchers, PageTest,
                         ::testing::Values(PatternMatcher::Scanner, PatternMatcher::RegexLibrary),
                         [](const auto& info) {
                             return info.param == PatternMatcher::Scanner ? "Scanner" : "RegexLibrary";
                         });

TEST(WordWeight, KeywordsAndHeadersAddWholePointsOtherTextHalvesTheFraction)
{
    const struct {
        WordCounts counts;
        double weight;
    } cases[] = {
        {{1, 0, 0, 0, 0}, 4.0},    {{0, 1, 0, 0, 0}, 0.5},     {{0, 2, 0, 0, 0}, 0.25},
        {{1, 1, 0, 0, 0}, 3.5},    {{0, 0, 0, 1, 1}, 4.0},     {{0, 0, 2, 0, 0}, 7.0},
        {{0, 1074, 0, 0, 0}, 4.9406564584124654e-324},         {{0, 1075, 0, 0, 0}, 0.0},
        {{2, 5000000000LL, 0, 0, 0}, 6.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wordWeight(c.counts), c.weight) << countsText(c.counts);
}

TEST(WordDictionary, PagesSharingAWordGetOnePostingEach)
{
    PageWords first, second, empty;
    countWords("LAMP LAMP SWITCH", WordPlace::Other, first);
    countWords("LAMP", WordPlace::KeywordOrTitle, second);
    WordDictionary dictionary;
    dictionary.addPage(0, first);
    dictionary.addPage(1, second);
    dictionary.addPage(2, empty);
    ASSERT_EQ(dictionary.size(), 2u);
    const Postings& lamp = *dictionary.find("LAMP");
    ASSERT_EQ(lamp.size(), 2u);
    EXPECT_EQ(lamp[0].document, 0);
    EXPECT_EQ(lamp[0].weight, 0.25);
    EXPECT_EQ(lamp[1].document, 1);
    EXPECT_EQ(lamp[1].weight, 4.0);
}

}  // namespace

TEST(ToUpper, ChangesOnlyAToZWhateverTheByteAndItsPlace)
{
    // Every byte value at every place of texts up to several words long.
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
