// The command line's options as the job gets them and its usage errors, the summary's
// counts in the right number, and the warning for links that open nothing.

#include "CommandLine.h"
#include "Summary.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// What the job gets: content and path modes, prefix, threads, links outside followed,
// companion data, overwrite, excludes, then SOURCE and DESTINATION.
std::string describe(const JobSettings& job)
{
    std::string text = std::to_string(int(job.contentMode)) + std::to_string(int(job.pathMode)) + " " + job.urlPrefix + " "
        + std::to_string(job.threadCount) + " " + std::to_string(job.followOutside) + std::to_string(job.companionData)
        + std::to_string(job.overwrite);
    for (const std::string& glob : job.excludes)
        text += " " + glob;
    return text + " | " + job.sourceFolder + " " + job.destinationFolder;
}

TEST(CommandLine, OptionsReachTheJobAndMistakesEndTheRunWithTheirReason)
{
    const std::string prefixAlone = "--url-prefix is used only with --path url: give --path url too, or leave "
                                    "--url-prefix out.\n";
    const struct {
        std::vector<const char*> arguments;
        int status;         // -1: go on
        std::string error;  // on stderr, in full when it ends in a line feed
        std::string job;
    } cases[] = {
        {{"site", "out"}, -1, "", "31  0 010 | site out"},
        {{"--content", "keywords", "--path", "url", "--url-prefix", "http://e.org", "--threads", "256", "--plain",
          "--follow-outside", "--overwrite", "--exclude", "_sources/", "site", "--exclude", "genindex*.html", "out"},
         -1, "", "02 http://e.org 256 101 _sources/ genindex*.html | site out"},
        {{"--content", "headers", "--path", "full", "--stay-inside", "site", "out"}, -1, "", "20  0 010 | site out"},
        {{"--url-prefix", "http://example.org", "site", "out"}, 2, prefixAlone, ""},
        {{"--path", "full", "--url-prefix", "http://example.org", "site", "out"}, 2, prefixAlone, ""},
        {{"--path", "relative", "--url-prefix", "", "site", "out"}, 2, prefixAlone, ""},
        {{"--content", "al", "site", "out"}, 2, "--content", ""},
        {{"--content", "\x1b]0;owned\x07\xe2\x80\xae", "site", "out"}, 2, "\\x1B]0;owned\\x07\\u{202E}", ""},
        {{"--threads", "257", "site", "out"}, 2, "--threads", ""},
        {{"--language", "english", "site", "out"}, 2, "--language", ""},
        {{"--language", "de-AT", "site", "out"}, -1, "", "31  0 010 | site out"},
        {{"--stay-inside", "--follow-outside", "site", "out"}, 2, "--stay-inside", ""},
        {{"site"}, 2, "DESTINATION is required", ""},
        {{"--help"}, 0, "", ""},
        {{"--version"}, 0, "", ""},
    };
    for (const auto& row : cases) {
        std::vector<char*> argv{const_cast<char*>("vantrelindexer-cli")};
        for (const char* argument : row.arguments)
            argv.push_back(const_cast<char*>(argument));
        SCOPED_TRACE(argv[1]);
        CommandLine commandLine;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(parseCommandLine(static_cast<int>(argv.size()), argv.data(), commandLine), row.status);
        const std::string errors = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        const bool whole = row.error.empty() || row.error.back() == '\n';
        EXPECT_TRUE(whole ? errors == row.error : errors.find(row.error) != std::string::npos) << errors;
        EXPECT_EQ(row.status < 0 ? describe(commandLine.job) : "", row.job);
    }
}

TEST(Summary, CountsTakeTheirNumberAndEveryEndAndWhatWasLeftOutAreSaid)
{
    JobSettings job;
    job.destinationFolder = "out";
    job.contentMode = ContentMode::AllContent;
    // pages, words, then what was skipped: outside, not published, texts cut, words left out
    auto outcome = [](JobResult result, std::size_t pages, std::size_t words, std::size_t skipped = 0) {
        JobOutcome made;
        made.result = result;
        made.pages = pages;
        made.words = words;
        made.pagesOutside = made.pagesOwnerMayNot = made.textsCut = made.pagesWordsLeftOut = skipped;
        return made;
    };
    JobOutcome leftOut = outcome(JobResult::Complete, 2, 2);
    leftOut.leftOut.pagesByIgnoreFile = 1;
    leftOut.leftOut.foldersByExclude = 2;
    leftOut.leftOut.pagesNoindex = 3;
    const struct {
        JobOutcome outcome;
        std::size_t unreadable;
        std::string expected;
    } cases[] = {
        {outcome(JobResult::Complete, 1, 1), 0, "Indexing complete: 1 page, 1 word in 0.25 s.\nSearch page: out/search.html\n"},
        {outcome(JobResult::Complete, 2, 0, 1), 1,
         "Indexing complete: 2 pages, 0 words in 0.25 s.\nNo words were indexed.\nSearch page: out/search.html\n"
         "1 page or folder outside the source folder was skipped (links that lead out; --follow-outside follows them).\n"
         "1 page that the source folder's owner may not read was not published.\n"
         "1 page text was cut to keep the output within bounds.\n"
         "1 page reached again through links was listed without its words, to keep the output within bounds.\n"
         "1 page could not be read whole; --verbose lists it.\n"},
        {outcome(JobResult::Complete, 0, 12, 3), 2,
         "Indexing complete: 0 pages, 12 words in 0.25 s.\nSearch page: out/search.html\n"
         "3 pages or folders outside the source folder were skipped (links that lead out; --follow-outside follows "
         "them).\n3 pages that the source folder's owner may not read were not published.\n"
         "3 page texts were cut to keep the output within bounds.\n"
         "3 pages reached again through links were listed without their words, to keep the output within bounds.\n"
         "2 pages could not be read whole; --verbose lists them.\n"},
        {leftOut, 0,
         "Indexing complete: 2 pages, 2 words in 0.25 s.\nSearch page: out/search.html\n"
         "Left out: 1 page by .vantrelignore, 2 folders by --exclude and 3 pages marked noindex.\n"},
        {outcome(JobResult::Stopped, 1, 2), 0, "Indexing interrupted: 1 page, 2 words in 0.25 s. The old index is kept.\n"},
        {outcome(JobResult::NotWritten, 5, 5), 0, ""},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(jobSummary(job, row.outcome, 0.25, row.unreadable), row.expected);
    }
}

TEST(PlainLinks, AWarningOnlyWhereRelativeLinksCannotReachTheSource)
{
    TempTree tree;
    const std::string site = tree.folder("site");
    tree.folder("out");
    ::symlink(site.c_str(), tree.path("link").c_str());
    const struct {
        std::string destination;
        bool plain;
        PathMode pathMode;
        bool warned;
    } cases[] = {
        {tree.path("out"), true, PathMode::RelativePath, true},
        {tree.path("out"), false, PathMode::RelativePath, false},  // the companion data's base leads there
        {tree.path("out"), true, PathMode::FullPath, false},
        {tree.path("out"), true, PathMode::UrlPrefix, false},
        {site, true, PathMode::RelativePath, false},
        {tree.path("site/../site/"), true, PathMode::RelativePath, false},
        {tree.path("link"), true, PathMode::RelativePath, false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.destination + (row.plain ? " plain" : ""));
        JobSettings job;
        job.sourceFolder = site;
        job.destinationFolder = row.destination;
        job.companionData = !row.plain;
        job.pathMode = row.pathMode;
        const std::string expected = !row.warned ? ""
            : "Warning: with --plain, result links are relative to " + row.destination + ", where the search page is, "
              "not to " + site + ": they open no page there. Index into the source folder itself, leave --plain out, "
              "or give --path full or --path url.";
        EXPECT_EQ(plainLinksWarning(job), expected);
    }
}

}  // namespace
