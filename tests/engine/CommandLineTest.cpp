// The command line end to end: folder and prefix checks, exit codes, the log file.

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

namespace {

std::pair<int, std::string> runCli(const std::string& arguments)
{
    return runCommand(std::string(CLI_PROGRAM) + " " + arguments + " 2>&1");
}

TEST(CommandLine, RefusesBadFoldersAndPrefixesWithTheWizardsMessages)
{
    TempTree tree;
    const std::string site = tree.folder("site"), out = tree.folder("out");
    tree.write("site/a.htm", "<title>A</title>");
    tree.write("file", "x");
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {"'' ''", "Please specify correct destination folder.\n"},
        {shellQuote(site) + " " + shellQuote(tree.path("file")), "Please specify correct destination folder.\n"},
        {shellQuote(site) + " " + shellQuote(tree.path("file/below")), "Please specify correct destination folder.\n"},
        {"'' " + shellQuote(out), "Please specify correct source folder.\n"},
        {shellQuote(tree.path("missing")) + " " + shellQuote(out), "Please specify correct source folder.\n"},
        {shellQuote(tree.path("missing")) + " " + shellQuote(tree.path("new/out")),
         "Please specify correct source folder.\n"},
        {shellQuote(site) + " " + shellQuote(out) + " --path url", "Supply URL prefix!\n"},
        {shellQuote(site) + " " + shellQuote(out) + " --path url --url-prefix ''", "Supply URL prefix!\n"},
    };
    for (const auto& c : cases) {
        auto [status, output] = runCli(c.arguments);
        EXPECT_EQ(status, 2) << c.arguments;
        EXPECT_EQ(output, c.message) << c.arguments;
    }
    EXPECT_FALSE(fileExists(tree.path("new")));
    EXPECT_EQ(runCommand("ls -A " + shellQuote(out)).second, "");
}

TEST(CommandLine, BadOptionsAreUsageErrors)
{
    EXPECT_EQ(runCli("a b --content everything").first, 2);
    EXPECT_EQ(runCli("a b --no-such-option").first, 2);
    EXPECT_EQ(runCli("onlyone").first, 2);
    EXPECT_EQ(runCli("--help").first, 0);
    auto [status, version] = runCli("--version");
    EXPECT_EQ(status, 0);
    EXPECT_NE(version.find("vantrelindexer-cli"), std::string::npos);
}

TEST(CommandLine, LogHoldsExactlyTheProgressLinesAndAMissingDestinationIsCreated)
{
    TempTree tree;
    tree.write("site/index.htm", "<html><head><title>Welcome</title><meta name=\"keywords\" content=\"home\">");
    tree.write("site/about/team.html", "<title>Team</title>");
    const std::string out = tree.path("made/for/us"), log = tree.path("run.log");
    auto [status, output] = runCli("--quiet --content titles --log " + shellQuote(log) + " "
                                   + shellQuote(tree.path("site")) + " " + shellQuote(out));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "");
    const std::string site = tree.path("site");
    EXPECT_EQ(readFile(log), "Parsing " + site + "/index.htm...\nDone!\nParsing " + site
                                 + "/about/team.html...\nDone!\nCreating index ...\nIndexing complete!\n");
    EXPECT_EQ(readFile(out + "/indexed_words.js"), "var index=[[\"HOME\",0],\n[\"TEAM\",1],\n[\"WELCOME\",0]\n];");
    for (const char* name : {"search.html", "search.js", "search_top.html", "search.css"})
        EXPECT_TRUE(fileExists(out + "/" + name)) << name;
}

TEST(CommandLine, ARelativeSourceGivesAbsoluteFullPaths)
{
    TempTree tree;
    tree.write("site/a.htm", "<title>A</title>");
    auto [status, output] = runCommand("cd " + shellQuote(tree.root()) + " && " CLI_PROGRAM
                                       " site/ ./out --path full --content titles --quiet");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(readFile(tree.path("out/indexed_docs.js")).find("\"" + tree.root() + "/site//a.htm\""), std::string::npos);
}

TEST(CommandLine, AJobThatCannotWriteExitsWithOneAndSaysSo)
{
    TempTree tree;
    tree.write("site/a.htm", "<title>A</title>");
    tree.folder("out/indexed_words.js");
    auto [status, output] = runCli("--content titles --verbose " + shellQuote(tree.path("site")) + " "
                                   + shellQuote(tree.path("out")));
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("Creating index ...\nCan't create index file!\nIndexing interrupted!\n"), std::string::npos)
        << output;
}

}  // namespace

namespace {

TEST(CommandLine, AStopThatComesBeforeTheJobEndsItInterruptedWithoutWriting)
{
    TempTree tree;
    tree.write("site/a.htm", "<title>A</title>");
    const std::string out = tree.folder("out"), log = tree.path("run.log");
    pid_t child = ::fork();
    if (child == 0) {
        // The program starts with a Ctrl-C already waiting for it.
        sigset_t interrupt;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        sigprocmask(SIG_BLOCK, &interrupt, nullptr);
        ::raise(SIGINT);
        ::execl(CLI_PROGRAM, CLI_PROGRAM, "--quiet", "--log", log.c_str(), tree.path("site").c_str(),
                out.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readFile(log), "Indexing interrupted!\n");
    EXPECT_FALSE(fileExists(out + "/indexed_words.js"));
}

}  // namespace
