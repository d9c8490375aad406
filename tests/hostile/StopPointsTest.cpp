// Stop requests at every progress line of a job, and from another thread at random
// moments, with one and two parsing threads: a stopped job leaves the old index files
// byte for byte, a job that completes leaves files that load, and no temporary file is
// ever left behind.

#include "IndexEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const std::string kOldWords = "var index=[[\"OLD\",0]\n];";
const std::string kOldDocs = "var docs=[[0,\"OLD\",\"old.htm\",\"01-01-2001\"]];";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Stops the job right after its n-th line (from 1); 0 never stops.
class StopAfterLine : public ProgressLog {
public:
    StopAfterLine(IndexEngine& engine, std::size_t n) : m_engine(engine), m_n(n) {}
    void append(const std::string& text) override
    {
        lines.push_back(text);
        if (lines.size() == m_n)
            m_engine.stopRequested.store(true);
    }
    std::vector<std::string> lines;

private:
    IndexEngine& m_engine;
    std::size_t m_n;
};

class CountingLog : public ProgressLog {
public:
    void append(const std::string& text) override
    {
        if (text == "Done!")
            pages.fetch_add(1, std::memory_order_relaxed);
        else if (text == "Creating index ...")
            walked = std::chrono::steady_clock::now();
    }
    std::atomic<int> pages{0};
    std::chrono::steady_clock::time_point walked;
};

class StopPoints : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vantrel-stops-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        site = root + "/site";
        out = root + "/out";
        ::mkdir(site.c_str(), 0755);
        ::mkdir(out.c_str(), 0755);
        engine.sourceFolder = site;
        engine.destinationFolder = out;
        engine.contentMode = ContentMode::AllContent;
        engine.threadCount = GetParam();
    }

    void TearDown() override { std::system(("rm -rf '" + root + "'").c_str()); }

    void page(const std::string& relative, const std::string& text)
    {
        std::string path = site + "/" + relative;
        for (std::size_t slash = site.size() + 1; (slash = path.find('/', slash)) != std::string::npos; ++slash)
            ::mkdir(path.substr(0, slash).c_str(), 0755);
        writeFile(path, text);
    }

    void putOldIndex()
    {
        writeFile(out + "/indexed_words.js", kOldWords);
        writeFile(out + "/indexed_docs.js", kOldDocs);
    }

    bool oldIndexIntact() const
    {
        return readFile(out + "/indexed_words.js") == kOldWords && readFile(out + "/indexed_docs.js") == kOldDocs;
    }

    std::vector<std::string> temporaries() const
    {
        std::vector<std::string> found;
        if (DIR* dir = ::opendir(out.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                std::string name = entry->d_name;
                if (name.find(".tmp") != std::string::npos)
                    found.push_back(name);
            }
            ::closedir(dir);
        }
        return found;
    }

    // The number of documents when both files load as scripts and agree, else -1.
    int loadedDocuments() const
    {
        std::string command = std::string("node '") + CHECK_INDEX_SCRIPT + "' '" + out + "' --count-only";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        char buffer[256] = {};
        std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, pipe);
        if (::pclose(pipe) != 0 || got == 0)
            return -1;
        int docs = -1;
        std::sscanf(buffer, "{\"docs\":%d", &docs);
        return docs;
    }

    IndexEngine engine;
    std::string root, site, out;
};

TEST_P(StopPoints, EveryLineOfAJob)
{
    page("a0.htm", "");  // no words: a stop right after it still writes both files
    for (int folder = 0; folder < 3; ++folder)
        for (int n = 0; n < 3; ++n)
            page("f" + std::to_string(folder) + "/p" + std::to_string(n) + ".htm",
                 "<title>Page " + std::to_string(n) + "</title><p>word" + std::to_string(folder) + " shared<p>");

    StopAfterLine full(engine, 0);
    engine.progressLog = &full;
    ASSERT_TRUE(engine.buildIndex());
    const std::size_t lineCount = full.lines.size();
    ASSERT_EQ(full.lines.back(), "Creating index ...");

    for (std::size_t n = 1; n <= lineCount; ++n) {
        SCOPED_TRACE("stop after line " + std::to_string(n) + ": " + full.lines[n - 1]);
        putOldIndex();
        StopAfterLine log(engine, n);
        engine.progressLog = &log;
        bool complete = engine.buildIndex();

        ASSERT_FALSE(log.lines.empty());
        EXPECT_EQ(log.lines.back(), "Creating index ...");
        int pages = 0;
        for (const std::string& line : log.lines)
            pages += line == "Done!";
        // Only pages without words recorded: nothing to rank, so nothing tests the flag.
        bool wordsRecorded = !engine.dictionary.empty();
        EXPECT_EQ(complete, !wordsRecorded);
        if (complete) {
            EXPECT_EQ(loadedDocuments(), pages);
        } else {
            EXPECT_TRUE(oldIndexIntact());
        }
        EXPECT_EQ(temporaries(), std::vector<std::string>{});
    }
}

TEST_P(StopPoints, FromAnotherThreadAtRandomMoments)
{
    for (int n = 0; n < 300; ++n)
        page("f" + std::to_string(n % 7) + "/p" + std::to_string(n) + ".htm",
             "<title>Page</title><meta name=keywords content=\"k" + std::to_string(n)
                 + "\"><p>some text here " + std::string(2000, 'x') + "<p>");
    CountingLog log;
    engine.progressLog = &log;
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(engine.buildIndex());
    // Stops land anywhere from the start to a little after the walk (the writing is
    // mostly waiting for the disk).
    auto walk = std::chrono::duration_cast<std::chrono::microseconds>(log.walked - started);

    std::mt19937 random(GetParam());
    int stopped = 0;
    for (int attempt = 0; attempt < 12; ++attempt) {
        putOldIndex();
        log.pages.store(0);
        auto delay = walk * (random() % 1000) / 800;
        std::atomic<bool> running{true};
        std::thread stopper([&] {
            auto until = std::chrono::steady_clock::now() + delay;
            while (running.load() && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            engine.stopRequested.store(true);
        });
        // The job clears the flag when it starts: only a stop after that counts.
        bool complete = engine.buildIndex();
        running.store(false);
        stopper.join();
        if (complete) {
            EXPECT_EQ(loadedDocuments(), log.pages.load());
        } else {
            ++stopped;
            EXPECT_TRUE(oldIndexIntact());
        }
        EXPECT_EQ(temporaries(), std::vector<std::string>{});
    }
    std::printf("stopped %d of 12 runs\n", stopped);
}

INSTANTIATE_TEST_SUITE_P(Threads, StopPoints, ::testing::Values(1u, 2u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return std::to_string(info.param) + "Threads";
                         });

}  // namespace
