// A stop after every progress line of a job, with one and two parsing threads, and stops
// through the run's own flag: a stopped job leaves the old index byte for byte, a job
// that completes has indexed exactly the pages it reported, and no temporary file stays.

#include "IndexEngine.h"
#include "IndexJob.h"
#include "IndexText.h"
#include "RankedWords.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kIndexFiles = {"indexed_docs.js", "indexed_words.js"};

class StopPoints : public SiteJob, public ::testing::WithParamInterface<unsigned> {
protected:
    StopPoints()
    {
        tree.write("site/a0.htm", "");  // no words: a stop right after it must stop all the same
        for (int folder = 0; folder < 3; ++folder)
            for (int n = 0; n < 3; ++n)
                tree.write("site/f" + std::to_string(folder) + "/p" + std::to_string(n) + ".htm",
                           "<title>Page " + std::to_string(n) + "</title><p>word" + std::to_string(folder) + "<p>");
        engine.contentMode = ContentMode::AllContent;
        engine.threadCount = GetParam();
    }
    bool oldIndexKept() const { return index() == "old wordsold docs"; }
};

TEST_P(StopPoints, AfterEveryLineOfAJob)
{
    RecordingLog full;
    engine.progressLog = &full;
    ASSERT_TRUE(engine.buildIndex());
    ASSERT_EQ(full.lines.back(), "Creating index ...");

    for (std::size_t n = 1; n <= full.lines.size(); ++n) {
        SCOPED_TRACE("stop after line " + std::to_string(n) + ": " + full.lines[n - 1]);
        putOldIndex();
        RecordingLog log;
        log.onLine = [&](const std::string&) {
            if (log.lines.size() == n)
                engine.stopRequested = true;
        };
        engine.progressLog = &log;
        const bool complete = engine.buildIndex();

        ASSERT_GE(log.lines.size(), n);
        EXPECT_TRUE(std::equal(log.lines.begin(), log.lines.begin() + n, full.lines.begin()));
        EXPECT_EQ(log.lines.back(), "Creating index ...");
        const auto pages = std::count_if(log.lines.begin(), log.lines.end(),
                                         [](const std::string& line) { return line.rfind("Parsing ", 0) == 0; });
        EXPECT_EQ(std::count_if(log.lines.begin() + n, log.lines.end(),
                                [](const std::string& line) { return line.rfind("Parsing ", 0) == 0; }),
                  0);
        // Every stop before the words are ranked is found, with or without words so far.
        EXPECT_FALSE(complete) << pages << " pages";
        EXPECT_TRUE(oldIndexKept());
        EXPECT_EQ(folderEntries(tree.path("out")), kIndexFiles);
    }
}

// The command line's stops during a job come through the run's flag too (hostile_cli.py).
TEST_P(StopPoints, ARunsStopSetBeforeTheJobStartsWritesNothing)
{
    JobSettings settings = this->settings();
    settings.contentMode = engine.contentMode;
    putOldIndex();
    std::atomic<bool> stop{true};
    RecordingLog log;
    EXPECT_EQ(runIndexJob(settings, log, stop).result, JobResult::Stopped);
    EXPECT_EQ(log.lines, std::vector<std::string>{"Indexing interrupted!"});
    EXPECT_TRUE(oldIndexKept());
}

// The ranking tests the stop before its first word (a site without words stops too) and
// before each word; the words text at its own points.
TEST_P(StopPoints, RankingAndWordsTextStopAtTheirTestPoints)
{
    PageWords page;
    countWords("LAMP SWITCH", WordPlace::Other, page);
    WordDictionary dictionary, none;
    dictionary.addPage(0, page);
    std::atomic<bool> stop{false};
    RankedWords ranked, unused;
    auto rank = [&](WordDictionary& added, RankedWords& result) {
        return RankedWords::update(RankedWords(), {}, added, nullptr, PostingRank(), GetParam(), StopSignal(stop), result);
    };
    ASSERT_TRUE(rank(dictionary, ranked));
    WordIndex index;
    ranked.fillIndex(index);
    stop = true;
    EXPECT_FALSE(rank(none, unused));
    std::string text;
    EXPECT_FALSE(IndexText::composeWordsText(index, StopSignal(stop), text));
    EXPECT_FALSE(rank(dictionary, unused));
}

INSTANTIATE_TEST_SUITE_P(Threads, StopPoints, ::testing::Values(1u, 2u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return std::to_string(info.param) + "Threads";
                         });

}  // namespace
