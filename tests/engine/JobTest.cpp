// Whole jobs on small trees: walk order, locations, dates, the two files byte for byte,
// stop points and write failures.

#include "IndexEngine.h"
#include "IndexText.h"
#include "SearchPageFiles.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Records lines; optionally asks the engine to stop when a given line arrives.
struct StoppingLog : ProgressLog {
    void append(const std::string& text) override
    {
        lines.push_back(text);
        if (stopWhen && stopWhen(text))
            engine->stopRequested = true;
    }
    std::vector<std::string> lines;
    std::function<bool(const std::string&)> stopWhen;
    IndexEngine* engine = nullptr;
};

const long k24Sep2003 = 1064404800;  // 2003-09-24 12:00 UTC
const long k01Oct2003 = 1065009600;  // 2003-10-01 12:00 UTC

class JobTest : public ::testing::Test {
protected:
    JobTest()
    {
        engine.sourceFolder = tree.folder("site");
        engine.destinationFolder = tree.folder("out");
        engine.progressLog = &log;
        log.engine = &engine;
    }

    std::string words() { return readFile(tree.path("out/indexed_words.js")); }
    std::string docs() { return readFile(tree.path("out/indexed_docs.js")); }

    TempTree tree;
    IndexEngine engine;
    StoppingLog log;
};

TEST_F(JobTest, TwoPageSiteGivesTheFilesByteForByte)
{
    tree.write("site/index.htm",
               "<html><head><title>Welcome</title><meta name=\"keywords\" content=\"home, search\"></head>",
               k24Sep2003);
    tree.write("site/about/team.html",
               "<html><head><title>Team home</title><meta name=\"keywords\" content=\"team, home\"></head>",
               k01Oct2003);
    engine.contentMode = ContentMode::KeywordsTitles;
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(docs(), "var docs=[[0,\"WELCOME\",\"index.htm\",\"24-09-2003\"],"
                      "[1,\"TEAM HOME\",\"about/team.html\",\"01-10-2003\"]];");
    EXPECT_EQ(words(), "var index=[[\"HOME\",1,0],\n[\"SEARCH\",0],\n[\"TEAM\",1],\n[\"WELCOME\",0]\n];");
    const std::string site = engine.sourceFolder;
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Parsing " + site + "/index.htm...", "Done!",
                                                   "Parsing " + site + "/about/team.html...", "Done!",
                                                   "Creating index ..."}));
}

TEST_F(JobTest, EmptySourceGivesEmptyListsAndCompletes)
{
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(words(), "var index=[];");
    EXPECT_EQ(docs(), "var docs=[];");
    EXPECT_EQ(log.lines, std::vector<std::string>{"Creating index ..."});
}

TEST_F(JobTest, EmptyFoldersReturnFalseAndTouchNothing)
{
    engine.sourceFolder.clear();
    EXPECT_FALSE(engine.buildIndex());
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(fileExists(tree.path("out/indexed_words.js")));
}

TEST_F(JobTest, PagesComeInNameOrderFolderByFolderAndOnlyRegularHtmFilesCount)
{
    for (const char* name : {"site/b.html", "site/A.htm", "site/page.HTM.old", "site/page.shtml",
                             "site/notes.txt", "site/sub/c.htm", "site/sub/deeper/d.htm", "site/Sub2/e.htm",
                             "site/a_/f.htm"})
        tree.write(name, "<p>x</p>");
    tree.folder("site/folder.html");
    ::symlink("missing.html", tree.path("site/broken.html").c_str());
    ASSERT_TRUE(engine.buildIndex());
    std::vector<std::string> locations;
    for (const DocumentEntry& entry : engine.documents)
        locations.push_back(entry.location);
    EXPECT_EQ(locations, (std::vector<std::string>{"A.htm", "b.html", "page.HTM.old", "a_/f.htm", "sub/c.htm",
                                                   "sub/deeper/d.htm", "Sub2/e.htm"}));
}

TEST_F(JobTest, LocationsFollowThePathOption)
{
    tree.write("site/x/y.htm", "<p>x</p>");
    const std::string site = engine.sourceFolder;
    const struct {
        PathMode mode;
        std::string source;
        std::string prefix;
        std::string location;
    } cases[] = {
        {PathMode::RelativePath, site, "", "x/y.htm"},
        {PathMode::RelativePath, site + "/", "", "x/y.htm"},
        {PathMode::FullPath, site, "", site + "/x/y.htm"},
        {PathMode::FullPath, site + "/", "", site + "//x/y.htm"},
        {static_cast<PathMode>(9), site, "", site + "/x/y.htm"},
        {PathMode::UrlPrefix, site, "https://example.org/docs", "https://example.org/docs/x/y.htm"},
        {PathMode::UrlPrefix, site, "https://example.org/", "https://example.org/x/y.htm"},
        {PathMode::UrlPrefix, site, "http:\\\\host\\docs", "http://host/docs/x/y.htm"},
    };
    for (const auto& c : cases) {
        engine.pathMode = c.mode;
        engine.sourceFolder = c.source;
        engine.urlPrefix = c.prefix;
        ASSERT_TRUE(engine.buildIndex());
        ASSERT_EQ(engine.documents.size(), 1u);
        EXPECT_EQ(engine.documents[0].location, c.location) << c.source << " " << c.prefix;
    }
}

TEST_F(JobTest, LocationsAreEscapedInTheDocumentsFile)
{
    tree.write("site/say \"hi\"\\\n\r.htm", "<title>T</title><p>");
    engine.pathMode = PathMode::UrlPrefix;
    engine.urlPrefix = "q\"";
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(docs().substr(0, 45), "var docs=[[0,\"T\",\"q\\\"/say \\\"hi\\\"\\\\\\n\\r.htm\",\"");
}

TEST(PageDate, IsTheUtcDayOfTheModificationTime)
{
    EXPECT_EQ(IndexText::formatPageDate(k24Sep2003), "24-09-2003");
    EXPECT_EQ(IndexText::formatPageDate(1064361600 - 1), "23-09-2003");  // a second before midnight UTC
    EXPECT_EQ(IndexText::formatPageDate(0), "01-01-1970");
    EXPECT_EQ(IndexText::formatPageDate(-62135596800LL), "01-01-0001");
    EXPECT_EQ(IndexText::formatPageDate(-62135596801LL), "");
    EXPECT_EQ(IndexText::formatPageDate(253402300800LL), "");  // year 10000
}

TEST_F(JobTest, RankingPutsHigherWeightsFirstAndKeepsDocumentOrderOnTies)
{
    // LAMP weighs 4 (title), 7 (title + h1), 4, and 0.5 in pages 0 to 3, then 4 in nine more.
    tree.write("site/a.htm", "<title>lamp</title><p>");
    tree.write("site/b.htm", "<title>lamp</title><h1>lamp</h1><p>");
    tree.write("site/c.htm", "<title>lamp</title><p>");
    tree.write("site/d.htm", "<p>lamp</p><p>");
    for (int i = 4; i < 13; ++i)
        tree.write("site/e" + std::to_string(i + 10) + ".htm", "<title>lamp</title><p>");
    engine.contentMode = ContentMode::AllContent;
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(words(), "var index=[[\"LAMP\",1,0,2,4,5,6,7,8,9,10,11,12,3]\n];");
}

TEST_F(JobTest, WordsAreListedInByteOrder)
{
    tree.write("site/a.htm", "<p>b a_ abc ab a1 abc_ abc1 abd</p><p>");
    engine.contentMode = ContentMode::AllContent;
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(words(), "var index=[[\"A1\",0],\n[\"AB\",0],\n[\"ABC\",0],\n[\"ABC1\",0],\n[\"ABC_\",0],\n"
                       "[\"ABD\",0],\n[\"A_\",0],\n[\"B\",0]\n];");
}

TEST_F(JobTest, ResultsDoNotDependOnTheNumberOfThreads)
{
    engine.sourceFolder = EXAMPLE_SITE_DIR;
    engine.contentMode = ContentMode::AllContent;
    engine.threadCount = 1;
    ASSERT_TRUE(engine.buildIndex());
    const std::string oneThreadWords = words(), oneThreadDocs = docs();
    const std::vector<std::string> oneThreadLines = log.lines;
    for (unsigned threads : {2u, 5u}) {
        log.lines.clear();
        engine.threadCount = threads;
        ASSERT_TRUE(engine.buildIndex());
        EXPECT_EQ(words(), oneThreadWords) << threads;
        EXPECT_EQ(docs(), oneThreadDocs) << threads;
        EXPECT_EQ(log.lines, oneThreadLines) << threads;
    }
}

TEST_F(JobTest, StopAfterAPageWithWordsEndsWithoutWritingAndTheNextJobStartsEmpty)
{
    for (int i = 0; i < 20; ++i)
        tree.write("site/p" + std::to_string(100 + i) + ".htm", "<title>page</title><p>");
    engine.contentMode = ContentMode::KeywordsTitles;
    engine.threadCount = 2;
    log.stopWhen = [](const std::string& line) { return line == "Done!"; };
    EXPECT_FALSE(engine.buildIndex());
    EXPECT_EQ(log.lines.back(), "Creating index ...");
    EXPECT_EQ(engine.documents.size(), 1u);
    EXPECT_FALSE(fileExists(tree.path("out/indexed_words.js")));
    EXPECT_FALSE(fileExists(tree.path("out/indexed_docs.js")));

    log.stopWhen = nullptr;
    engine.sourceFolder = tree.folder("empty");
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_TRUE(engine.documents.empty());
    EXPECT_EQ(words(), "var index=[];");
}

TEST_F(JobTest, StopBeforeAnyWordStillWritesTheFiles)
{
    tree.write("site/a.htm", "<p>no title, no keywords</p>");
    tree.write("site/b.htm", "<title>B</title>");
    log.stopWhen = [](const std::string& line) { return line == "Done!"; };
    EXPECT_TRUE(engine.buildIndex());
    EXPECT_EQ(docs(), "var docs=[[0,\"Document has no name\",\"a.htm\",\"" + engine.documents[0].date + "\"]];");
    EXPECT_EQ(words(), "var index=[];");
}

TEST_F(JobTest, StopDuringRankingWritesNothingAndStopWhileWritingChangesNothing)
{
    tree.write("site/a.htm", "<title>A</title>");
    engine.contentMode = ContentMode::KeywordsTitles;
    log.stopWhen = [](const std::string& line) { return line == "Creating index ..."; };
    EXPECT_FALSE(engine.buildIndex());
    EXPECT_FALSE(fileExists(tree.path("out/indexed_words.js")));

}

TEST_F(JobTest, AReadOnlyWordsFileFailsTheJobAndLeavesBothFilesAlone)
{
    tree.write("site/a.htm", "<title>A</title>");
    tree.write("out/indexed_words.js", "old words");
    tree.write("out/indexed_docs.js", "old docs");
    ::chmod(tree.path("out/indexed_words.js").c_str(), 0444);
    EXPECT_FALSE(engine.buildIndex());
    EXPECT_EQ(log.lines.back(), "Can't create index file!");
    EXPECT_EQ(words(), "old words");
    EXPECT_EQ(docs(), "old docs");
}

TEST_F(JobTest, AnUnwritableDocumentsFileKeepsTheOldPair)
{
    tree.write("site/a.htm", "<title>A</title>");
    engine.contentMode = ContentMode::KeywordsTitles;
    tree.folder("out/indexed_docs.js");
    EXPECT_FALSE(engine.buildIndex());
    EXPECT_EQ(log.lines.back(), "Can't create dictionary file!");
    EXPECT_EQ(runCommand("ls -A " + shellQuote(tree.path("out"))).second, "indexed_docs.js\n");
}

TEST_F(JobTest, AFolderReachedTwiceOrThroughALoopIsWalkedOnce)
{
    tree.write("site/real/a.htm", "<p>x</p>");
    ::symlink("real", tree.path("site/z-link").c_str());
    ::symlink("..", tree.path("site/real/up").c_str());
    ASSERT_TRUE(engine.buildIndex());
    ASSERT_EQ(engine.documents.size(), 1u);
    EXPECT_EQ(engine.documents[0].location, "real/a.htm");
}

TEST(CopySearchPageFiles, CopiesTheFourFilesAndSkipsMissingOnes)
{
    TempTree tree;
    tree.write("program/js/search.html", "html");
    tree.write("program/js/search.js", "js");
    tree.write("program/js/search.css", "css");
    tree.write("out/search.js", "old");
    copySearchPageFiles(tree.path("program/"), tree.path("out"));
    EXPECT_EQ(readFile(tree.path("out/search.html")), "html");
    EXPECT_EQ(readFile(tree.path("out/search.js")), "js");
    EXPECT_EQ(readFile(tree.path("out/search.css")), "css");
    EXPECT_FALSE(fileExists(tree.path("out/search_top.html")));
}

}  // namespace
