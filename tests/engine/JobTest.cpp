// Whole jobs on small trees: the two files byte for byte, walk order, links, locations,
// ranking, targets that cannot be replaced, the program's own files, and jobs
// that fail before their end.

#include "FileSystem.h"
#include "IndexEngine.h"
#include "IndexJob.h"
#include "IndexText.h"
#include "PagePipeline.h"
#include "SearchPageFiles.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <thread>

// Every allocation on another thread than this one fails (FailingAllocations.cpp).
extern std::atomic<std::thread::id> g_onlyAllocatingThread;

namespace {

const long k24Sep2003 = 1064404800;  // 2003-09-24 12:00 UTC
const long k01Oct2003 = 1065009600;  // 2003-10-01 12:00 UTC
using Lines = std::vector<std::string>;

class Job : public SiteJob {
protected:
    std::string words() { return readFile(tree.path("out/indexed_words.js")); }
    std::string docs() { return readFile(tree.path("out/indexed_docs.js")); }
};

TEST_F(Job, TwoPageSiteGivesTheFilesByteForByteAndANextJobStartsEmpty)
{
    tree.write("site/index.htm", "<title>Welcome</title><meta name=\"keywords\" content=\"home, search\">", k24Sep2003);
    tree.write("site/about/team.html", "<title>Team home</title><meta name=\"keywords\" content=\"team, home\">",
               k01Oct2003);
    engine.contentMode = ContentMode::KeywordsTitles;
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(docs(), "var docs=[[0,\"WELCOME\",\"index.htm\",\"24-09-2003\"],"
                      "[1,\"TEAM HOME\",\"about/team.html\",\"01-10-2003\"]];");
    EXPECT_EQ(words(), "var index=[[\"HOME\",1,0],\n[\"SEARCH\",0],\n[\"TEAM\",1],\n[\"WELCOME\",0]\n];");
    const std::string site = engine.sourceFolder;
    EXPECT_EQ(log.lines, (Lines{"Parsing " + site + "/index.htm...", "Done!", "Parsing " + site + "/about/team.html...",
                                "Done!", "Creating index ..."}));

    log.lines.clear();
    engine.sourceFolder = tree.folder("empty");
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(words() + docs(), "var index=[];var docs=[];");
    EXPECT_EQ(log.lines, Lines{"Creating index ..."});
    engine.sourceFolder.clear();
    EXPECT_FALSE(engine.buildIndex());
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(Job, PagesAreRegularHtmFilesInNameOrderFolderByFolder)
{
    for (const char* name : {"b.html", "A.htm", "page.HTM.old", "page.shtml", "notes.txt", "sub/c.htm",
                             "sub/deeper/d.htm", "Sub2/e.htm", "a_/f.htm", "x.html/inner.htm"})
        tree.write(std::string("site/") + name, "<title>T</title>");
    ::mkfifo(tree.path("site/fifo.htm").c_str(), 0644);
    for (auto [link, target] : {std::pair{"broken.html", "missing.html"}, {"self.htm", "self.htm"},
                                {"null.htm", "/dev/null"}, {"link.htm", "A.htm"}})
        ::symlink(target, tree.path(std::string("site/") + link).c_str());
    engine.followOutside = true;  // /dev/null is no page even then
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(locations(), (Lines{"A.htm", "b.html", "link.htm", "page.HTM.old", "a_/f.htm", "sub/c.htm",
                                  "sub/deeper/d.htm", "Sub2/e.htm", "x.html/inner.htm"}));
}

TEST_F(Job, LinksAreFollowedOnceAndThoseThatLeadOutOnlyWhenAsked)
{
    tree.write("site/real/a.htm", "<title>A</title>");
    tree.write("outside/o.htm", "<title>O</title>");
    tree.write("site2/p.htm", "<title>P</title>");  // its path begins with the source's
    for (auto [link, target] : {std::pair{"z-link", "real"}, {"real/loop", "."}, {"in.htm", "real/a.htm"},
                                {"out.htm", "../outside/o.htm"}, {"out-link", "../outside"}, {"sib", "../site2"}})
        ::symlink(target, tree.path(std::string("site/") + link).c_str());
    for (bool followOutside : {false, true}) {
        engine.followOutside = followOutside;
        ASSERT_TRUE(engine.buildIndex());
        EXPECT_EQ(locations(), (followOutside ? Lines{"in.htm", "out.htm", "out-link/o.htm", "real/a.htm", "sib/p.htm"}
                                              : Lines{"in.htm", "real/a.htm"}));
        EXPECT_EQ(engine.pagesOutside, followOutside ? 0u : 3u);
    }
}

TEST_F(Job, LocationsFollowThePathOptionAndAreEscapedInTheDocumentsFile)
{
    tree.write("site/x/y.htm", "<p>x</p>");
    const std::string site = engine.sourceFolder, root = tree.root();
    const struct {
        PathMode mode;
        std::string source, prefix, location;
    } cases[] = {
        {PathMode::RelativePath, site, "", "x/y.htm"},
        {PathMode::RelativePath, site + "/", "", "x/y.htm"},
        {PathMode::FullPath, site, "", site + "/x/y.htm"},
        {PathMode::FullPath, site + "/", "", site + "//x/y.htm"},
        {PathMode::FullPath, "site/", "", root + "/site//x/y.htm"},  // relative to the working folder
        {static_cast<PathMode>(9), site, "", site + "/x/y.htm"},
        {PathMode::UrlPrefix, site, "https://example.org/docs", "https://example.org/docs/x/y.htm"},
        {PathMode::UrlPrefix, site, "https://example.org/", "https://example.org/x/y.htm"},
        {PathMode::UrlPrefix, site, "http:\\\\host\\docs", "http://host/docs/x/y.htm"},
    };
    char working[PATH_MAX];
    ASSERT_TRUE(::getcwd(working, sizeof working) && ::chdir(root.c_str()) == 0);
    for (const auto& c : cases) {
        engine.pathMode = c.mode;
        engine.sourceFolder = c.source;
        engine.urlPrefix = c.prefix;
        EXPECT_TRUE(engine.buildIndex());
        EXPECT_EQ(locations(), Lines{c.location}) << c.source << " " << c.prefix;
    }
    ASSERT_EQ(::chdir(working), 0);

    engine.sourceFolder = tree.folder("odd");
    tree.write("odd/say \"hi\"\\\n\r.htm", "<title>T</title><p>");
    engine.urlPrefix = "q\"";
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(docs().substr(0, 45), "var docs=[[0,\"T\",\"q\\\"/say \\\"hi\\\"\\\\\\n\\r.htm\",\"");
}

TEST_F(Job, PageDateIsTheUtcDayOfTheModificationTime)
{
    const std::pair<long long, const char*> cases[] = {
        {k24Sep2003, "24-09-2003"},     {1064361600 - 1, "23-09-2003"}, {0, "01-01-1970"},
        {-62135596800LL, "01-01-0001"}, {-62135596801LL, ""},           {253402300800LL, ""}};  // year 10000
    for (const auto& [seconds, date] : cases)
        EXPECT_EQ(IndexText::formatPageDate(seconds), date) << seconds;
    // Every day of four centuries of leap rules (1600, 1900, 2000, 2100) and the ends of
    // the years kept, each at its first and last second, as the C library dates them.
    auto libraryDate = [](std::int64_t seconds) {
        const std::time_t time = static_cast<std::time_t>(seconds);
        std::tm fields{};
        char text[48];
        ::gmtime_r(&time, &fields);
        std::snprintf(text, sizeof text, "%02d-%02d-%04d", fields.tm_mday, fields.tm_mon + 1, fields.tm_year + 1900);
        return std::string(text);
    };
    std::vector<std::int64_t> days;
    for (std::int64_t day = -135140; day <= 47482; ++day)  // 1600-01-01 to 2100-01-01
        days.push_back(day);
    for (std::int64_t day = -719162; day < -719162 + 800; ++day)  // year 1 and 2
        days.push_back(day);
    for (std::int64_t day = 2932896 - 800; day <= 2932896; ++day)  // years 9997 to 9999
        days.push_back(day);
    for (std::int64_t day : days)
        for (std::int64_t seconds : {day * 86400, day * 86400 + 86399})
            ASSERT_EQ(IndexText::formatPageDate(seconds), libraryDate(seconds)) << seconds;
    EXPECT_EQ(IndexText::formatPageDate(INT64_MIN), "");
    EXPECT_EQ(IndexText::formatPageDate(INT64_MAX), "");
}

TEST_F(Job, RankingPutsHigherWeightsFirstTiesInDocumentOrderAndWordsInByteOrder)
{
    // LAMP weighs 4 (title), 7 (title and h1), 4 and 0.5 in pages 0 to 3, and 4 in 27 more:
    // more ties than a sort keeps in order unless it is told to.
    tree.write("site/a.htm", "<title>lamp</title><p>b a_ abc ab a1 abc_ abc1 abd</p><p>");
    tree.write("site/b.htm", "<title>lamp</title><h1>lamp</h1><p>");
    tree.write("site/c.htm", "<title>lamp</title><p>");
    tree.write("site/d.htm", "<p>lamp</p><p>");
    std::string lamp = "1,0,2";
    for (int i = 4; i < 31; ++i) {
        tree.write("site/e" + std::to_string(i + 10) + ".htm", "<title>lamp</title><p>");
        lamp += "," + std::to_string(i);
    }
    engine.contentMode = ContentMode::AllContent;
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(words(), "var index=[[\"A1\",0],\n[\"AB\",0],\n[\"ABC\",0],\n[\"ABC1\",0],\n[\"ABC_\",0],\n"
                       "[\"ABD\",0],\n[\"A_\",0],\n[\"B\",0],\n[\"LAMP\"," + lamp + ",3]\n];");
}

TEST_F(Job, TargetsThatCannotBeReplacedKeepTheOldPair)
{
    tree.write("site/a.htm", "<title>A</title>");
    ::chmod(tree.write("elsewhere.js", "var docs=[];").c_str(), 0444);
    // 'r' read-only, 'f' a folder, 'l' a link to a read-only file, 'w' one whose mode lets
    // others write but not this user
    struct : FileSystem {
        bool mayWrite(int, const std::string&) override { return false; }
    } othersOnly;
    const std::pair<std::string, char> cases[] = {{"indexed_words.js", 'r'}, {"indexed_words.js", 'f'},
                                                  {"indexed_docs.js", 'r'},  {"indexed_docs.js", 'f'},
                                                  {"indexed_docs.js", 'l'},  {"indexed_words.js", 'w'}};
    for (const auto& [name, blocker] : cases) {
        SCOPED_TRACE(name + " " + blocker);
        putOldIndex();
        const std::string blocked = tree.path("out/" + name);
        engine.fileSystem = blocker == 'w' ? &othersOnly : nullptr;
        if (blocker == 'r')
            ::chmod(blocked.c_str(), 0444);
        else if (blocker != 'w' && ::unlink(blocked.c_str()) == 0 && blocker == 'f')
            ::mkdir(blocked.c_str(), 0755);
        else if (blocker == 'l')
            ::symlink("../elsewhere.js", blocked.c_str());
        const std::string before = words() + "|" + docs();
        EXPECT_FALSE(engine.buildIndex());
        EXPECT_EQ(log.lines.back(),
                  name == "indexed_words.js" ? "Can't create index file!" : "Can't create dictionary file!");
        EXPECT_EQ(words() + "|" + docs(), before);
        EXPECT_EQ(folderEntries(tree.path("out")), (Lines{"indexed_docs.js", "indexed_words.js"}));
        std::system(("rm -rf '" + blocked + "'").c_str());
    }
}

TEST_F(Job, CompanionDataGoesInOnlyAfterTheTwoFiles)
{
    // The companion data is composed while the two files are written; when they cannot
    // be, its head stays the old one and the pieces composed go.
    tree.write("site/a.htm", "<title>A</title><p>amber lamps</p>");
    engine.companionData = true;
    engine.threadCount = 2;
    ASSERT_TRUE(engine.buildIndex());
    const std::string before = words() + "|" + docs() + "|" + readFile(tree.path("out/indexed_pages.js"));
    const Lines pieces = folderEntries(tree.path("out/indexed_text"));
    tree.write("site/a.htm", "<title>B</title><p>brass lamps</p>");
    for (const char* blocked : {"indexed_words.js", "indexed_docs.js"}) {
        SCOPED_TRACE(blocked);
        ::chmod(tree.path(std::string("out/") + blocked).c_str(), 0444);
        EXPECT_FALSE(engine.buildIndex());
        ::chmod(tree.path(std::string("out/") + blocked).c_str(), 0644);
        EXPECT_EQ(words() + "|" + docs() + "|" + readFile(tree.path("out/indexed_pages.js")), before);
        EXPECT_EQ(folderEntries(tree.path("out/indexed_text")), pieces);
    }
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_NE(readFile(tree.path("out/indexed_pages.js")), before.substr(before.rfind('|') + 1));
}

TEST_F(Job, TheProgramsOwnFilesAreNoPagesAndFilesOfTheSiteAreNotReplacedUnasked)
{
    const std::string mark = "<meta name=\"generator\" content=\"VantrelIndexer\">";
    tree.write("site/a.htm", "<title>A</title>");
    tree.write("site/search.html", mark + "<title>Search</title>");
    tree.write("site/sub/search.html", mark + "<title>Not in the destination</title>");
    tree.write("site/search_top.html", "<title>The site's own</title>");
    tree.write("site/search.js", "/* generator: VantrelIndexer */\nvar x;");
    tree.write("site/search.css", "body {}\n/* generator: VantrelIndexer */");
    engine.destinationFolder = engine.sourceFolder;
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(locations(), (Lines{"a.htm", "search_top.html", "sub/search.html"}));

    JobSettings settings;
    settings.sourceFolder = settings.destinationFolder = engine.sourceFolder;
    EXPECT_EQ(foreignFiles(settings), (Lines{tree.path("site/search_top.html"), tree.path("site/search.css")}));
    ::unlink(tree.path("site/indexed_words.js").c_str());
    EXPECT_EQ(runJob(settings).result, JobResult::Refused);
    EXPECT_EQ(readFile(tree.path("site/indexed_words.js")), "");
    settings.overwrite = true;
    EXPECT_EQ(runJob(settings).result, JobResult::Complete);
    EXPECT_TRUE(carriesProgramMark(tree.path("site/search_top.html")));

    // A search-page file missing beside the program: the others are copied all the same.
    for (const char* name : {"search.html", "search.js", "search.css"})
        tree.write(std::string("program/js/") + name, name);
    std::vector<OutputFailure> failures;
    EXPECT_FALSE(copySearchPageFiles(tree.path("program/"), tree.path("out"), &failures));
    EXPECT_EQ(folderEntries(tree.path("out")), (Lines{"search.css", "search.html", "search.js"}));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, tree.path("out/search_top.html"));
    EXPECT_EQ(failures[0].reason,
              "the program's copy " + tree.path("program/js/search_top.html") + " cannot be read: No such file or directory");
}

// A search-page file in place with the program's bytes is left as it stands; one that
// differs, that others may write, or a link (even to the same bytes) is put anew.
TEST_F(Job, SearchPageFilesInPlaceAreLeftAndOthersPutAnew)
{
    const mode_t mask = ::umask(022);
    const std::vector<std::string> names = searchPageFileNames();
    for (const std::string& name : names)
        tree.write("program/js/" + name, "the program's " + name);
    ASSERT_TRUE(copySearchPageFiles(tree.path("program/"), tree.path("out")));
    auto inodeOf = [this](const std::string& name) {
        struct stat info {};
        ::lstat(tree.path("out/" + name).c_str(), &info);
        return info.st_ino;
    };
    std::vector<ino_t> before;
    for (const std::string& name : names)
        before.push_back(inodeOf(name));
    tree.write("out/" + names[1], "The program's " + names[1]);  // of the same size
    ::chmod(tree.path("out/" + names[2]).c_str(), 0666);
    ::unlink(tree.path("out/" + names[3]).c_str());
    ::symlink(tree.path("program/js/" + names[3]).c_str(), tree.path("out/" + names[3]).c_str());
    before[1] = inodeOf(names[1]);
    before[3] = inodeOf(names[3]);
    ASSERT_TRUE(copySearchPageFiles(tree.path("program/"), tree.path("out")));
    for (std::size_t i = 0; i < names.size(); ++i) {
        struct stat info {};
        ASSERT_EQ(::lstat(tree.path("out/" + names[i]).c_str(), &info), 0) << names[i];
        EXPECT_TRUE(S_ISREG(info.st_mode) && (info.st_mode & 0777) == 0644) << names[i];
        EXPECT_EQ(readFile(tree.path("out/" + names[i])), "the program's " + names[i]) << names[i];
        EXPECT_EQ(info.st_ino == before[i], i == 0) << names[i];
    }
    ::umask(mask);
}

TEST_F(Job, APageThePatternLibraryGivesUpOnIsIndexedInPart)
{
    tree.write("site/a.htm", "<title>T</title><p>before</p>" + std::string(20000, '<'));
    tree.write("site/b.htm", "<p>after</p><p>");
    engine.patternMatcher = PatternMatcher::RegexLibrary;
    engine.contentMode = ContentMode::AllContent;
    ASSERT_TRUE(engine.buildIndex());
    const std::string site = engine.sourceFolder;
    EXPECT_EQ(log.lines, (Lines{"Parsing " + site + "/a.htm...", "Page too complex, indexed in part!", "Done!",
                                "Parsing " + site + "/b.htm...", "Done!", "Creating index ..."}));
    EXPECT_NE(words().find("[\"AFTER\",1],\n[\"BEFORE\",0],"), std::string::npos) << words();
}

TEST_F(Job, MemoryRunningOutOnTheRankingHelperEndsTheJobAndKeepsTheOldIndex)
{
    tree.write("site/a.htm", "<title>one two three</title>");
    tree.write("site/b.htm", "<title>four five six</title>");
    putOldIndex();
    JobSettings settings = this->settings();
    settings.contentMode = ContentMode::KeywordsTitles;
    settings.threadCount = 2;
    log.onLine = [](const std::string& line) {
        if (line == "Creating index ...")
            g_onlyAllocatingThread = std::this_thread::get_id();
    };
    const JobOutcome outcome = runJob(settings);
    g_onlyAllocatingThread = std::thread::id();
    EXPECT_EQ(outcome.result, JobResult::NotWritten);
    EXPECT_EQ(outcome.failure, "out of memory");
    EXPECT_EQ(log.lines.back(), "Indexing interrupted!");
    EXPECT_EQ(words() + docs(), "old wordsold docs");
}

TEST_F(Job, PipelineHandsAWorkersExceptionToTheTaker)
{
    std::atomic<unsigned> analysedOn{0};
    auto analyse = [&](int, unsigned thread) -> int {
        analysedOn = thread + 1;
        throw std::runtime_error("page");
    };
    PagePipeline<int, int, decltype(analyse)> pipeline(2, 4, analyse);
    pipeline.submit(1);
    for (int waited = 0; waited < 10000 && analysedOn == 0; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    int item = 0, result = 0;
    EXPECT_THROW(pipeline.takeFront(item, result), std::runtime_error);
    EXPECT_EQ(analysedOn, 2u);  // on the worker, before the taker asked
}

}  // namespace
