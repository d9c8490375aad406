// Leaving pages out: globs of names, the ignore file's patterns along the walk's folders,
// the robots META tag, and whole jobs that leave pages and folders out (numbering,
// companion data, counts, bad ignore files).

#include "DocumentNumbers.h"
#include "ExcludeRules.h"
#include "GlobPattern.h"
#include "IndexEngine.h"
#include "IndexJob.h"
#include "RacingFileSystem.h"
#include "RobotsMeta.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <future>

namespace {

using Lines = std::vector<std::string>;

TEST(GlobPattern, MatchesNamesByStarsQuestionMarksSetsAndEscapes)
{
    std::string stars;  // backtracking over every star would try some 10^20 ways on 255 bytes
    for (int i = 0; i < 40; ++i)
        stars += "*a";
    const struct {
        std::string glob;
        std::string name;
        bool matches;
    } rows[] = {
        {"genindex*.html", "genindex.html", true},
        {"genindex*.html", "genindex-all.html", true},
        {"genindex*.html", "genindex.htm", false},
        {"*.html", ".html", true},
        {"*", "", true},
        {"?", "", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "a\xC3\xA9" "c", true},   // "?" is one character, not one byte
        {"[a-c]x", "bx", true},
        {"[a-c]x", "dx", false},
        {"[!a-c]x", "dx", true},
        {"[^a-c]x", "ax", false},
        {"[]]", "]", true},                // a "]" first is in the set
        {"[a-]", "-", true},
        {"[\xC3\xA4\xC3\xB6]x", "\xC3\xB6x", true},  // [äö]
        {"[\xC3\xA4\xC3\xB6]x", "ox", false},
        {"[\xC3\xA0-\xC3\xBF]", "\xC3\xA9", true},    // [à-ÿ] holds é
        {"[\xC3\xA0-\xC3\xBF]", "\xE9", false},       // but not a raw byte 0xE9
        {"\\*", "*", true},
        {"\\*", "a", false},
        {"a\\?", "a?", true},
        {"*.HTML", "page.html", false},    // letter case counts, as in the file system
        {"***x", "abx", true},
        {"*a*b", "aaaab", true},
        {"*a*b", "aaaa", false},
        {"py-modindex.html", "py-modindex.html", true},
        {"py-modindex.html", "py-modindex.html~", false},
        {stars + "*b", std::string(255, 'a'), false},
        {stars + "*b", std::string(254, 'a') + "b", true},
    };
    for (const auto& row : rows) {
        GlobPattern glob;
        ASSERT_TRUE(glob.compile(row.glob)) << row.glob;
        EXPECT_EQ(glob.matches(row.name), row.matches) << row.glob << " on " << row.name;
    }
}

// Which rule leaves out path (relative to the source folder; a trailing "/" for a folder),
// walking the rules along its folders as the walk does.
LeftOutBy leftOutBy(const ExcludeRules& rules, std::string path)
{
    const bool folder = !path.empty() && path.back() == '/';
    if (folder)
        path.pop_back();
    ExcludeRules::FolderState state = rules.rootState();
    std::size_t at = 0;
    for (std::size_t slash; (slash = path.find('/', at)) != std::string::npos; at = slash + 1)
        state = rules.enter(state, path.substr(at, slash - at));
    return rules.leftOut(state, path.substr(at), folder);
}

TEST(ExcludeRules, FollowTheIgnoreFileSyntaxLastMatchDeciding)
{
    const LeftOutBy no = LeftOutBy::Nothing, file = LeftOutBy::IgnoreFile, option = LeftOutBy::ExcludeOption;
    const struct {
        const char* ignoreFile;
        const char* path;
        LeftOutBy by;
        std::vector<const char*> excludes = {};  // after the ignore file: they win over its "!"
    } rows[] = {
        {"genindex*.html", "genindex.html", file},
        {"genindex*.html", "library/genindex-all.html", file},  // no slash: at any depth
        {"# genindex.html\n\n", "genindex.html", no},
        {"#x.html", "#x.html", no},                              // a comment, not a pattern
        {"\\#x.html", "#x.html", file},
        {"_sources/", "_sources/", file},
        {"_sources/", "a/b/_sources/", file},
        {"_sources/", "_sources", no},                          // folders only
        {"/search.html", "search.html", file},
        {"/search.html", "sub/search.html", no},                // anchored by the leading slash
        {"doc/index.html", "doc/index.html", file},
        {"doc/index.html", "x/doc/index.html", no},             // anchored by the inner slash
        {"doc/*.html", "doc/a.html", file},
        {"doc/*.html", "doc/sub/a.html", no},                   // "*" never crosses a slash
        {"**/private/", "private/", file},
        {"**/private/", "a/b/private/", file},
        {"a/**", "a/", no},                                     // everything inside a, not a
        {"a/**", "a/x.html", file},
        {"a/**", "a/b/c/x.html", file},
        {"a/**/b.html", "a/b.html", file},
        {"a/**/b.html", "a/x/y/b.html", file},
        {"a/**/b.html", "a/x/y/c.html", no},
        {"/**", "anything.html", file},
        {"*.html\n!keep.html", "keep.html", no},
        {"*.html\n!keep.html", "other.html", file},
        {"!keep.html\n*.html", "keep.html", file},              // the last match decides
        {"*.html   ", "a.html", file},                          // trailing blanks dropped
        {"a\\ ", "a ", file},                                   // unless escaped
        {"*.html\r\n!b.html\r\n", "b.html", no},                // CRLF lines
        {"\\!b.html", "!b.html", file},
        {"/", "a.html", no},
        {"*.html\n!keep.html\n", "keep.html", option, {"keep.html", "/old/"}},
        {"*.html\n!keep.html\n", "other.html", file, {"keep.html", "/old/"}},
        {"", "old/", option, {"/old/"}},
        {"", "x/old/", no, {"/old/"}},
    };
    for (const auto& row : rows) {
        ExcludeRules rules;
        std::string error;
        ASSERT_TRUE(rules.addIgnoreFile(row.ignoreFile, error)) << row.ignoreFile << ": " << error;
        for (const char* glob : row.excludes)
            ASSERT_TRUE(rules.addExclude(glob, error)) << glob;
        EXPECT_EQ(leftOutBy(rules, row.path), row.by) << row.ignoreFile << " on " << row.path;
    }
}

TEST(ExcludeRules, BadPatternsAreRefusedSayingWhyAndWhere)
{
    const struct {
        std::string_view text;  // an ignore file, or one --exclude glob
        bool exclude;
        const char* error;
    } rows[] = {
        {"a.html\n\n[abc\n", false, "line 3: a \"[\" has no \"]\""},
        {"[!", false, "line 1: a \"[\" has no \"]\""},
        {"ok\r\n[a-\\", false, "line 2: a \"[\" has no \"]\""},
        {"x\\", false, "line 1: it ends in a lone \"\\\""},
        {std::string_view("a.html\0b", 8), false, "it holds a NUL byte: it is no text"},
        {"!a.html", true, "--exclude takes nothing back: a leading \"!\" is written \"\\!\""},
        {"", true, "an empty pattern leaves nothing out"},
        {"[x", true, "a \"[\" has no \"]\""},
    };
    for (const auto& row : rows) {
        ExcludeRules rules;
        std::string error;
        EXPECT_FALSE(row.exclude ? rules.addExclude(row.text, error) : rules.addIgnoreFile(row.text, error)) << row.text;
        EXPECT_EQ(error, row.error) << row.text;
    }
}

TEST(ExcludeRules, DeepFoldersCarryOnlyPatternsThatCanStillMatch)
{
    ExcludeRules rules;
    std::string error;
    ASSERT_TRUE(rules.addIgnoreFile("/a/b/c.html\n/x/**\n**/z.html\nplain.html\n", error));
    ExcludeRules::FolderState state = rules.rootState();
    EXPECT_EQ(state.progress.size(), 3u);  // the three with a slash
    state = rules.enter(state, "q");
    EXPECT_EQ(state.progress.size(), 1u);  // only **/z.html
    for (int depth = 0; depth < 10000; ++depth)
        state = rules.enter(state, "q");
    ASSERT_EQ(state.progress.size(), 1u);
    EXPECT_LE(state.progress[0].positions.size(), 2u);
    EXPECT_EQ(rules.leftOut(state, "z.html", false), LeftOutBy::IgnoreFile);
    EXPECT_EQ(rules.leftOut(state, "plain.html", false), LeftOutBy::IgnoreFile);
}

TEST(RobotsMeta, NoindexOrNoneInAnyCaseAndOrderLeavesAPageOut)
{
    const struct {
        const char* page;
        bool leftOut;
    } rows[] = {
        {"<meta name=\"robots\" content=\"noindex\">", true},
        {"<META CONTENT=\"NOINDEX, NOFOLLOW\" NAME=\"ROBOTS\">", true},
        {"<meta content='none' name='Robots' />", true},
        {"<meta name=robots content=noindex>", true},
        {"<meta name=\" robots \" content=\"nofollow , noindex \">", true},
        {"<meta name=\"robots\" content=\"&#110;oindex\">", true},
        {"<head><title>x</title><meta\nname=\"robots\"\ncontent=\"noindex\"></head>", true},
        {"<meta name=\"robots\" content=\"nofollow\">", false},
        {"<meta name=\"robots\" content=\"index, follow\">", false},
        {"<meta name=\"robots\" content=\"noindexed\">", false},
        {"<meta name=\"googlebot\" content=\"noindex\">", false},
        {"<meta name=\"description\" content=\"noindex\">", false},
        {"<meta name=\"robots\">", false},
        {"<metadata name=\"robots\" content=\"noindex\">", false},
        {"<!-- <meta name=\"robots\" content=\"noindex\"> -->", false},
        {"<script>var s='<meta name=\"robots\" content=\"noindex\">';</script>", false},
        {"<title><meta name=\"robots\" content=\"noindex\"></title>", false},
        {"<p>&lt;meta name=\"robots\" content=\"noindex\"&gt;</p>", false},
        {"<script>x</SCRIPT><meta name=robots content=noindex>", true},
        {"<!-- unclosed <meta name=robots content=noindex>", false},
        {"<meta name=\"robots\" content=\"noindex", true},  // cut off at the end of the page
        {"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(asksNotToBeIndexed(row.page), row.leftOut) << row.page;
}

// A page's number waits for every page before it, whatever order the threads settle
// them in: a page left out takes no number and leaves no hole.
TEST(DocumentNumbers, ANumberWaitsForEveryPageBeforeIt)
{
    DocumentNumbers numbers(5);
    numbers.settle(2, true);
    numbers.settle(0, true);
    std::future<std::int32_t> third = std::async(std::launch::async, [&] { return numbers.numberOf(2); });
    EXPECT_EQ(third.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "the number of place 2 was given while place 1 was unsettled";
    numbers.settle(1, false);
    EXPECT_EQ(third.get(), 6);
    EXPECT_EQ(numbers.numberOf(0), 5);
    EXPECT_EQ(numbers.numberOf(1), -1);
}

const long kDay = 1064404800;  // 2003-09-24 12:00 UTC
const char* const kNoindex = "<meta name=\"robots\" content=\"noindex\">";

class LeaveOutJob : public SiteJob {
protected:
    LeaveOutJob() { engine.contentMode = ContentMode::AllContent; }
};

TEST_F(LeaveOutJob, NoindexPagesGetNoNumberNoLinesAndNoHoleWhateverTheThreads)
{
    tree.write("site/a.html", "<title>Alpha</title><p>shared alpha</p>", kDay);
    tree.write("site/b.html", std::string("<head>") + kNoindex + "<title>Beta</title></head><p>shared secret</p>", kDay);
    tree.write("site/c.html", "<title>Gamma</title><h1 id=\"g\">Gamma</h1><p>shared gamma</p>", kDay);
    tree.write("site/sub/d.html", std::string(kNoindex) + "<p>hidden words</p>", kDay);
    tree.write("site/sub/e.html", "<title>Epsilon</title><p>shared epsilon</p>", kDay);
    ::link(tree.path("site/b.html").c_str(), tree.path("site/sub/f.html").c_str());  // b again
    engine.companionData = true;
    std::map<std::string, std::string> first;
    // Many rounds of eight threads: a number taken too early shows only in some of them.
    for (unsigned threads : {1u, 2u, 8u, 8u, 8u, 8u, 8u, 8u, 8u, 8u}) {
        log.lines.clear();
        engine.threadCount = threads;
        ASSERT_TRUE(engine.buildIndex()) << threads;
        const std::string site = engine.sourceFolder;
        EXPECT_EQ(log.lines, (Lines{"Parsing " + site + "/a.html...", "Done!", "Parsing " + site + "/c.html...",
                                    "Done!", "Parsing " + site + "/sub/e.html...", "Done!", "Creating index ..."}))
            << threads;
        EXPECT_EQ(engine.leftOut.pagesNoindex, 3u);
        std::map<std::string, std::string> files = filesBelow(tree.path("out"));
        EXPECT_EQ(files["indexed_docs.js"], "var docs=[[0,\"ALPHA\",\"a.html\",\"24-09-2003\"],"
                                            "[1,\"GAMMA\",\"c.html\",\"24-09-2003\"],"
                                            "[2,\"EPSILON\",\"sub/e.html\",\"24-09-2003\"]];");
        EXPECT_EQ(files["indexed_words.js"].find("SECRET"), std::string::npos);
        EXPECT_NE(files["indexed_words.js"].find("[\"SHARED\",0,1,2]"), std::string::npos) << files["indexed_words.js"];
        std::string texts;
        for (const auto& file : files)
            if (file.first.rfind("indexed_text/", 0) == 0)
                texts += file.second;
        EXPECT_EQ(texts.find("secret"), std::string::npos);
        EXPECT_EQ(texts.find("hidden"), std::string::npos);
        EXPECT_NE(texts.find("{\"text\":\"Gamma shared gamma\""), std::string::npos) << texts;
        EXPECT_NE(files["indexed_pages.js"].find("\"count\":3"), std::string::npos);
        if (first.empty())
            first = files;
        EXPECT_EQ(files, first) << threads;
    }
}

TEST_F(LeaveOutJob, IgnoreFileAndExcludeLeaveOutPagesAndFoldersWhichAreNotEntered)
{
    for (const char* page : {"index.html", "genindex.html", "search.html", "py-modindex.html", "_sources/index.html",
                             "library/os.html", "library/genindex-all.html", "library/search.html",
                             "_static/keep.html", "_static/x.html", "old/page.html"})
        tree.write(std::string("site/") + page, "<title>t</title>", kDay);
    tree.write("site/.vantrelignore",
               "# machinery of the generator\n_sources/\ngenindex*.html\n/search.html\npy-modindex.html\n"
               "_static/*\n!_static/keep.html\n");
    RacingFileSystem files;
    Lines opened;
    files.before = [&](const std::string& call, int, const std::string& name) {
        if (call == "openFolder")
            opened.push_back(name);
    };
    engine.fileSystem = &files;
    engine.excludePatterns = {"old/"};
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(locations(), (Lines{"index.html", "library/os.html", "library/search.html", "_static/keep.html"}));
    EXPECT_EQ(engine.leftOut.pagesByIgnoreFile, 5u);  // genindex, search, py-modindex, x, genindex-all
    EXPECT_EQ(engine.leftOut.foldersByIgnoreFile, 1u);
    EXPECT_EQ(engine.leftOut.pagesByExclude, 0u);
    EXPECT_EQ(engine.leftOut.foldersByExclude, 1u);
    for (const std::string& name : opened)
        EXPECT_TRUE(name != "_sources" && name != "old") << name << " was entered";
    EXPECT_EQ(leftOutSummary(engine.leftOut),
              "Left out: 5 pages and 1 folder by .vantrelignore and 1 folder by --exclude.");
}

TEST_F(LeaveOutJob, BadIgnoreFilesAndExcludesRefuseTheJobAndKeepTheOldIndex)
{
    tree.write("site/a.html", "<title>A</title>", kDay);
    tree.write("outside", "[secret\n");
    const std::string file = engine.sourceFolder + "/.vantrelignore";
    const struct {
        std::function<void()> make;
        std::vector<std::string> excludes;
        std::string problem;
    } rows[] = {
        {[&] { tree.write("site/.vantrelignore", "ok.html\n[abc\n"); }, {}, file + ", line 2: a \"[\" has no \"]\""},
        {[&] { tree.write("site/.vantrelignore", std::string(ExcludeRules::kMostPatternBytes + 1, 'x')); }, {},
         file + " is larger than 64 KiB"},
        {[&] { ::symlink(tree.path("outside").c_str(), file.c_str()); }, {},
         file + " is a symbolic link, which is not followed: make it a file"},
        {[&] { ::mkdir(file.c_str(), 0755); }, {}, file + " is not a file"},
        {[] {}, {"*.html", "[x\x1b"}, "--exclude \"[x\\x1B\": a \"[\" has no \"]\""},
    };
    for (const auto& row : rows) {
        std::system(("rm -rf '" + file + "'").c_str());
        row.make();
        tree.write("out/indexed_docs.js", "old docs");
        JobSettings settings = this->settings();
        settings.excludes = engine.excludePatterns = row.excludes;
        EXPECT_EQ(excludeProblem(settings), row.problem);
        log.lines.clear();
        const JobOutcome outcome = runJob(settings);
        EXPECT_EQ(outcome.result, JobResult::Refused) << row.problem;
        EXPECT_EQ(outcome.failure, row.problem);
        EXPECT_EQ(readFile(tree.path("out/indexed_docs.js")), "old docs");
        EXPECT_TRUE(log.lines.empty());
        EXPECT_FALSE(engine.buildIndex());  // the engine alone refuses too
        EXPECT_EQ(engine.failure, row.problem);
    }
}

}  // namespace
