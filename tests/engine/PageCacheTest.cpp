// The page cache: a job that takes unchanged pages from the cache writes, byte for byte,
// what a job that reads every page writes, whatever changed in between; a damaged or
// foreign cache is never trusted.

#include "CacheRecords.h"
#include "IndexEngine.h"
#include "PageCache.h"
#include "RacingFileSystem.h"
#include "TestFiles.h"
#include "WordCounting.h"
#include "WordDictionary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Every file a job wrote, by name, the pieces of indexed_text/ among them.
std::map<std::string, std::string> outputOf(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : folderEntries(folder)) {
        if (name == "indexed_text") {
            for (const std::string& piece : folderEntries(folder + "/indexed_text"))
                files["indexed_text/" + piece] = readFile(folder + "/indexed_text/" + piece);
            continue;
        }
        files[name] = readFile(folder + "/" + name);
    }
    return files;
}

// count words of filler text, each with a blank before it.
std::size_t openDescriptors()
{
    return folderEntries("/proc/self/fd").size();
}

std::string words(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += " filler" + std::to_string(i % 7);
    return text;
}

class PageCacheJobs : public ::testing::Test {
protected:
    PageCacheJobs()
    {
        tree.write("site/index.html", "<title>Home</title><h1>Welcome</h1><p>lamps and switches</p>");
        tree.write("site/b.htm", "<html lang=en><title>Lamps</title><p>A lamp lights rooms.</p>");
        tree.write("site/docs/c.html", "<title>Wiring</title><h2>Cables</h2><p>copper cable colours</p>");
        tree.write("site/docs/d.html", "<title>Straße</title><p>Über die Leitungen</p>");
    }

    // Runs the same job with the cache and without it and compares what they wrote and
    // the progress lines they showed; over damaged tables, also how often the pages were
    // opened.
    void expectSameOutput(const std::string& trace)
    {
        SCOPED_TRACE(trace);
        RecordingLog logs[2];
        std::atomic<int> pagesOpened[2] = {0, 0};
        const auto rowHook = fileSystem.before;  // the row's, for the cached job only
        for (bool cached : {true, false}) {
            fileSystem.before = [&, cached](const std::string& call, int at, const std::string& name) {
                if (call == "openForReading" && name.find(".htm") != std::string::npos)
                    ++pagesOpened[cached];
                if (cached && rowHook)
                    rowHook(call, at, name);
            };
            IndexEngine engine;
            engine.progressLog = &logs[cached];
            engine.fileSystem = &fileSystem;
            engine.sourceFolder = tree.path("site");
            engine.destinationFolder = tree.folder(cached ? "cached" : "fresh");
            engine.contentMode = contentMode;
            engine.pathMode = pathMode;
            engine.urlPrefix = urlPrefix;
            engine.excludePatterns = excludes;
            engine.companionData = true;
            engine.threadCount = 2;
            engine.cacheFolder = cached ? tree.path("cache/vantrelindexer/site") : "";
            engine.wholeWordIndex = wholeWordIndex;
            engine.leaveMemoryToExit = cached && leaveMemoryToExit;
            const std::size_t filesOpen = openDescriptors();
            ASSERT_TRUE(engine.buildIndex()) << engine.failure;
            if (engine.leaveMemoryToExit) {
                EXPECT_EQ(openDescriptors(), filesOpen) << "files left open by a job that leaves its memory";
            }
            EXPECT_EQ(engine.cacheProblem.empty(), !(cached && walksOverDamagedTables)) << engine.cacheProblem;
            if (cached) {
                keptOutput = engine.outputKept;
                pagesParsed = engine.pagesRead;
            }
        }
        if (walksOverDamagedTables) {
            EXPECT_EQ(pagesOpened[true], walksOverDamagedTables * pagesOpened[false]);
        } else if (rereads >= 0) {
            EXPECT_EQ(pagesOpened[true] > pagesOpened[false], rereads == 1) << "pages opened again for their texts";
        }
        cachedPagesOpened = pagesOpened[true];
        walksOverDamagedTables = 0;
        rereads = -1;
        fileSystem.before = nullptr;
        EXPECT_EQ(outputOf(tree.path("cached")), outputOf(tree.path("fresh")));
        EXPECT_EQ(logs[true].lines, logs[false].lines);
    }

public:
    TempTree tree;
    ContentMode contentMode = ContentMode::AllContent;
    PathMode pathMode = PathMode::RelativePath;
    std::string urlPrefix;
    std::vector<std::string> excludes;
    bool wholeWordIndex = false;
    bool leaveMemoryToExit = false;  // for the cached jobs
    // The next cached job finds its tables damaged and walks the site this many times,
    // reading every page each time.
    int walksOverDamagedTables = 0;
    // The next cached job opens some pages a second time to take their texts (1), or
    // takes every text it needs from the groups of its last output (0); -1: either.
    int rereads = -1;
    RacingFileSystem fileSystem;  // of the jobs; a row's hook is cleared after its jobs
    bool keptOutput = false;     // the last cached job left the output in place
    std::size_t pagesParsed = 0; // by the last cached job
    int cachedPagesOpened = 0;   // by the last cached job

    // Does damage to the cache's tables file (given by its path in the tree); the next
    // cached job must find it out.
    void damageTables(const std::function<void(const std::string&)>& damage)
    {
        for (const std::string& name : folderEntries(tree.path("cache/vantrelindexer/site")))
            if (name.rfind("ranges-", 0) == 0)
                damage("cache/vantrelindexer/site/" + name);
        walksOverDamagedTables = 1;
    }

    // Removes (change null) or changes the pieces of the store in the destination folder
    // that hold the text of, written anew.
    void changePieces(const std::string& folder, const std::string& of, const std::function<void(std::string&)>& change)
    {
        for (const std::string& name : folderEntries(tree.path(folder + "/indexed_text"))) {
            const std::string piece = folder + "/indexed_text/" + name;
            std::string bytes = readFile(tree.path(piece));
            if (bytes.find(of) == std::string::npos)
                continue;
            ::unlink(tree.path(piece).c_str());
            if (change) {
                change(bytes);
                tree.write(piece, bytes);
            }
        }
    }

    // Calls change with the path in the tree of each group of page texts the jobs wrote,
    // in both destinations: a name taken by other bytes makes the store choose another,
    // which a job without the cache must meet as well to write the same.
    void forEachTextGroup(const std::function<void(const std::string&)>& change)
    {
        for (const std::string folder : {"cached/indexed_text/", "fresh/indexed_text/"})
            for (const std::string& piece : folderEntries(tree.path(folder)))
                if (readFile(tree.path(folder + piece)).find("vantrelTexts(") != std::string::npos)
                    change(folder + piece);
    }

    // The sizes of the cache's packs, by name.
    std::map<std::string, off_t> packSizes()
    {
        std::map<std::string, off_t> sizes;
        for (const std::string& name : folderEntries(tree.path("cache/vantrelindexer/site")))
            if (name.rfind("ranges-", 0) == 0) {
                struct stat info {};
                ::stat(tree.path("cache/vantrelindexer/site/" + name).c_str(), &info);
                sizes[name] = info.st_size;
            }
        return sizes;
    }

    // Overwrites the cache's files whose names begin with prefix.
    void damageCache(const std::string& prefix)
    {
        for (const std::string& name : folderEntries(tree.path("cache/vantrelindexer/site")))
            if (name.rfind(prefix, 0) == 0)
                tree.write("cache/vantrelindexer/site/" + name, std::string(4096, 'x'));
    }
};

TEST_F(PageCacheJobs, WriteWhatAJobThatReadsEveryPageWrites)
{
    const struct {
        const char* change;
        std::function<void(PageCacheJobs&)> make;
    } changes[] = {
        {"nothing", [](PageCacheJobs&) {}},
        {"a page edited", [](PageCacheJobs& t) { t.tree.write("site/b.htm", "<title>Lamps</title><p>LED lamps now</p>"); }},
        // Read anew, its words as they were: the words file keeps the lines it had.
        {"a page saved days later as it was",
         [](PageCacheJobs& t) {
             t.tree.write("site/b.htm", readFile(t.tree.path("site/b.htm")), static_cast<long>(::time(nullptr)) + 3 * 86400);
         }},
        {"same size and time, other bytes",
         [](PageCacheJobs& t) {
             struct stat info;
             ::stat(t.tree.path("site/docs/c.html").c_str(), &info);
             t.tree.write("site/docs/c.html", "<title>Wiring</title><h2>Cables</h2><p>silver cable colours</p>",
                          info.st_mtime);
         }},
        {"a page renamed",
         [](PageCacheJobs& t) { ::rename(t.tree.path("site/b.htm").c_str(), t.tree.path("site/z.htm").c_str()); }},
        // Only the words of file names change: the runs inside the words kept for their
        // vocabulary piece no longer stand.
        {"a page renamed to words of its own",
         [](PageCacheJobs& t) { ::rename(t.tree.path("site/z.htm").c_str(), t.tree.path("site/quixotic-lanterns.htm").c_str()); }},
        {"a page before all others", [](PageCacheJobs& t) { t.tree.write("site/a.htm", "<title>First</title><p>first</p>"); }},
        {"a page removed", [](PageCacheJobs& t) { ::unlink(t.tree.path("site/docs/d.html").c_str()); }},
        {"new folders", [](PageCacheJobs& t) { t.tree.write("site/docs/new/deep/e.html", "<title>Deep</title><p>deep lamp</p>"); }},
        // The neighbours' texts in its group are those of the group written last time.
        {"a page edited again",
         [](PageCacheJobs& t) {
             t.rereads = 0;
             t.tree.write("site/docs/c.html", "<title>Wiring</title><h2>Cables</h2><p>brass cable colours</p>");
         }},
        // Groups changed between jobs, by accident or on purpose, are never trusted: the
        // texts they held are taken from the pages.
        {"groups of texts changed",
         [](PageCacheJobs& t) {
             t.rereads = 1;
             t.forEachTextGroup([&t](const std::string& group) {
                 std::string bytes = readFile(t.tree.path(group));
                 for (std::size_t at = bytes.find("\"text\":\""); at != std::string::npos; at = bytes.find("\"text\":\"", at + 1))
                     bytes[at + 9] = bytes[at + 9] == 'X' ? 'Y' : 'X';
                 t.tree.write(group, bytes);
             });
         }},
        {"groups of texts removed, a page edited",
         [](PageCacheJobs& t) {
             t.rereads = 1;
             t.forEachTextGroup([&t](const std::string& group) { ::unlink(t.tree.path(group).c_str()); });
             t.tree.write("site/b.htm", "<title>Lamps</title><p>lamps without groups</p>");
         }},
        {"groups of texts links to their copies",
         [](PageCacheJobs& t) {
             t.rereads = 1;
             t.forEachTextGroup([&t](const std::string& group) {
                 const std::string copy = t.tree.path("copy-" + group.substr(0, group.find('/')) + "-"
                                                      + group.substr(group.rfind('/') + 1));
                 ::rename(t.tree.path(group).c_str(), copy.c_str());
                 ::symlink(copy.c_str(), t.tree.path(group).c_str());
             });
         }},
        {"a hard link to a page", [](PageCacheJobs& t) { ::link(t.tree.path("site/index.html").c_str(), t.tree.path("site/docs/again.html").c_str()); }},
        {"a page asks not to be indexed",
         [](PageCacheJobs& t) {
             t.tree.write("site/docs/c.html", "<meta name=robots content=noindex><title>Wiring</title><p>copper</p>");
         }},
        {"and no longer asks",
         [](PageCacheJobs& t) { t.tree.write("site/docs/c.html", "<title>Wiring</title><p>copper wire</p>"); }},
        {"an ignore file", [](PageCacheJobs& t) { t.tree.write("site/.vantrelignore", "docs/new/\n"); }},
        {"an exclude besides", [](PageCacheJobs& t) { t.excludes = {"index.html"}; }},
        {"neither", [](PageCacheJobs& t) {
             t.excludes.clear();
             ::unlink(t.tree.path("site/.vantrelignore").c_str());
         }},
        // zeta ranks the short page first while pages are short, the long one once the
        // mean length has grown: the kept pages' order must follow.
        {"two pages share a word",
         [](PageCacheJobs& t) {
             t.tree.write("site/rank/long.html", "<p>zeta zeta" + words(198) + "</p>");
             t.tree.write("site/rank/short.html", "<p>zeta" + words(1) + "</p>");
         }},
        {"a longer page moves the mean",
         [](PageCacheJobs& t) { t.tree.write("site/rank/longer.html", "<p>" + words(3000) + "</p>"); }},
        {"titles only", [](PageCacheJobs& t) { t.contentMode = ContentMode::KeywordsTitles; }},
        {"all content again", [](PageCacheJobs& t) { t.contentMode = ContentMode::AllContent; }},
        {"full paths", [](PageCacheJobs& t) { t.pathMode = PathMode::FullPath; }},
        {"a damaged cache",
         [](PageCacheJobs& t) {
             const std::string index = t.tree.path("cache/vantrelindexer/site/index");
             std::string bytes = readFile(index);
             bytes[bytes.size() / 2] ^= 0x55;
             t.tree.write("cache/vantrelindexer/site/index", bytes);
         }},
        {"a cut cache",
         [](PageCacheJobs& t) {
             const std::string index = t.tree.path("cache/vantrelindexer/site/index");
             ::truncate(index.c_str(), 100);
         }},
        // Tables that cannot be read are found out before the walk: every page is read
        // once, with its lines shown once, nothing changed or not.
        {"damaged tables", [](PageCacheJobs& t) { t.damageTables([&t](const std::string& file) {
             std::string bytes = readFile(t.tree.path(file));
             bytes[bytes.size() - 2] ^= 0x20;  // in the ranges, which end a pack
             t.tree.write(file, bytes);
         }); }},
        {"cut tables, a page edited", [](PageCacheJobs& t) {
             t.damageTables([&t](const std::string& file) { ::truncate(t.tree.path(file).c_str(), 12); });
             t.tree.write("site/b.htm", "<title>Lamps</title><p>lamps cut short</p>");
         }},
        {"one piece of the tables damaged", [](PageCacheJobs& t) { t.damageTables([&t, first = true](const std::string& file) mutable {
             if (!first)
                 return;
             first = false;
             std::string bytes = readFile(t.tree.path(file));
             bytes.back() ^= 0x01;
             t.tree.write(file, bytes);
         }); }},
        {"tables gone", [](PageCacheJobs& t) {
             t.damageTables([&t](const std::string& file) { ::unlink(t.tree.path(file).c_str()); });
         }},
        {"tables a link to a copy", [](PageCacheJobs& t) { t.damageTables([&t](const std::string& file) {
             t.tree.write("copy", readFile(t.tree.path(file)));
             ::unlink(t.tree.path(file).c_str());
             ::symlink(t.tree.path("copy").c_str(), t.tree.path(file).c_str());
         }); }},
        // Pieces made from the same inputs as the last job's are taken only while they
        // are the files it wrote.
        {"the word shards removed from the destination", [](PageCacheJobs& t) { t.changePieces("cached", "vantrelWords(", nullptr); }},
        {"a document piece altered in both destinations, a page edited",
         [](PageCacheJobs& t) {
             for (const char* folder : {"cached", "fresh"})
                 t.changePieces(folder, "vantrelDocs(", [](std::string& bytes) { bytes[bytes.size() / 2] ^= 1; });
             t.tree.write("site/docs/c.html", "<title>Wiring</title><h2>Cables</h2><p>brass cable colours</p>");
         }},
        {"a vocabulary piece altered in both destinations",
         [](PageCacheJobs& t) {
             for (const char* folder : {"cached", "fresh"})
                 t.changePieces(folder, "vantrelKeys(", [](std::string& bytes) { bytes.insert(bytes.size() - 4, " "); });
         }},
        {"a title changed", [](PageCacheJobs& t) { t.tree.write("site/b.htm", "<title>Lanterns</title><p>LED lamps now</p>"); }},
        {"a summary changed",
         [](PageCacheJobs& t) {
             t.tree.write("site/b.htm", "<meta name=description content='Lamps for halls'><title>Lanterns</title><p>LED lamps now</p>");
         }},
        {"damaged page bodies",
         [](PageCacheJobs& t) {
             for (const std::string& name : folderEntries(t.tree.path("cache/vantrelindexer/site")))
                 if (name.rfind("segment-", 0) == 0)
                     t.tree.write("cache/vantrelindexer/site/" + name, std::string(4096, 'x'));
             t.tree.write("site/b.htm", "<title>Lamps</title><p>changed once more</p>");
             ::rename(t.tree.path("site/index.html").c_str(), t.tree.path("site/home.html").c_str());
         }},
    };
    for (const auto& change : changes) {
        change.make(*this);
        expectSameOutput(change.change);
    }
}

TEST_F(PageCacheJobs, WriteAWordsFileOfManyPartsFromKeptAndComposedLines)
{
    // A words file of several parts, each written as it fills: lines kept from the last
    // file and lines composed anew meet within parts and across their ends.
    std::string many;
    const std::size_t count = 3 * IndexEngine::kWordsPart / 12;
    for (std::size_t i = 0; i < count; ++i)
        many += " w" + std::to_string(i);
    tree.write("site/many.html", "<p>" + many + "</p>");
    const struct {
        const char* change;
        std::function<void(PageCacheJobs&)> make;
    } changes[] = {
        {"the first job", [](PageCacheJobs&) {}},
        {"a small page edited", [](PageCacheJobs& t) { t.tree.write("site/b.htm", "<title>Lamps</title><p>w5 lamps</p>"); }},
        {"a word amid the many changed",
         [&many](PageCacheJobs& t) { t.tree.write("site/many.html", "<p>" + many.substr(0, many.size() / 2) + " lampshade " + many.substr(many.size() / 2) + "</p>"); }},
        {"a page removed", [](PageCacheJobs& t) { ::unlink(t.tree.path("site/b.htm").c_str()); }},
        {"the words' last part short",
         [](PageCacheJobs& t) {
             std::string fewer;
             for (std::size_t i = 0; i < 5200; ++i)
                 fewer += " w" + std::to_string(i);
             t.tree.write("site/many.html", "<p>" + fewer + "</p>");
         }},
    };
    for (const auto& change : changes) {
        change.make(*this);
        expectSameOutput(change.change);
        // The last line has no comma, however the lines fell into parts.
        const std::string words = readFile(tree.path("fresh/indexed_words.js"));
        EXPECT_EQ(words.substr(words.size() - 4), "]\n];") << change.change;
        EXPECT_EQ(words.find("],\n]"), std::string::npos) << change.change;
    }
    EXPECT_GT(readFile(tree.path("cached/indexed_words.js")).size(), IndexEngine::kWordsPart);
}

TEST_F(PageCacheJobs, FindOutTablesWrittenOverOnceTheirStampsVouchForThem)
{
    // A piece of the tables whose file keeps the stamp it had when its bytes were last
    // checked, long enough before, is not checked again; one written over since, or one
    // written within the stamps' granularity, is, whatever the times say.
    auto flipOne = [this](bool setTimesBack) {
        damageTables([this, setTimesBack, first = true](const std::string& file) mutable {
            if (!first)
                return;
            first = false;
            std::string bytes = readFile(tree.path(file));
            bytes.back() ^= 0x01;  // past what the piece's own checks look at
            struct stat before;
            ::stat(tree.path(file).c_str(), &before);
            tree.write(file, bytes);
            if (setTimesBack) {
                const struct timespec times[2] = {before.st_atim, before.st_mtim};
                ::utimensat(AT_FDCWD, tree.path(file).c_str(), times, 0);
            }
        });
    };
    const struct {
        const char* change;
        bool frozen;   // every file's times are the present second, as a coarse clock tells them
        bool settled;  // a job checked the pieces long after they were written
        bool setTimesBack;
    } rows[] = {
        {"a piece written over within its stamp's granularity", true, false, false},
        {"a piece written over once its stamp was settled", false, true, false},
        {"a piece written over, its modification time set back", false, true, true},
    };
    int round = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.change);
        fileSystem.ageSeconds = row.frozen ? 0 : 3600;
        fileSystem.frozenSeconds = row.frozen ? static_cast<long>(::time(nullptr)) : 0;
        tree.write("site/b.htm", "<title>Lamps</title><p>round " + std::string(++round, '!') + "</p>");
        expectSameOutput("the cache filled again");
        if (row.settled) {
            // The same words again: every piece is checked and kept, with its stamp.
            tree.write("site/docs/c.html", readFile(tree.path("site/docs/c.html")));
            expectSameOutput("the pieces checked and their stamps kept");
        }
        flipOne(row.setTimesBack);
        expectSameOutput(row.change);
    }
}

TEST_F(PageCacheJobs, RecordTheStampsOfRangesCheckedByAJobThatWritesNothingWhenTheyOutweighTheIndex)
{
    // The ranges a job wrote are checked whole by the next; once that one found them old
    // enough, it writes the cache's index again with their pack's stamp, even with nothing
    // else to write, when they outweigh the index, so that the jobs after it take them by
    // the stamp alone; a small block is checked again by each job instead.
    fileSystem.ageSeconds = 3600;
    std::string many;
    for (int i = 0; i < 4000; ++i)
        many += " lamp" + std::to_string(i);
    const struct {
        const char* change;
        std::function<void(PageCacheJobs&)> make;
        bool indexWritten;
    } rows[] = {
        {"the first job", [](PageCacheJobs&) {}, true},
        {"nothing: its ranges checked whole, outweighing the compact index", [](PageCacheJobs&) {}, true},
        {"a page's date moved: its block of records alone written", [](PageCacheJobs& t) {
             const struct timeval times[2] = {{86400, 0}, {86400, 0}};
             ::utimes(t.tree.path("site/b.htm").c_str(), times);
         }, true},
        {"nothing: a small block checked whole", [](PageCacheJobs&) {}, false},
        {"a page of many words", [&many](PageCacheJobs& t) { t.tree.write("site/many.html", "<p>" + many + "</p>"); }, true},
        {"nothing: its ranges checked whole", [](PageCacheJobs&) {}, true},
        {"nothing again: the ranges taken by their stamps", [](PageCacheJobs&) {}, false},
    };
    for (const auto& row : rows) {
        row.make(*this);
        struct stat before {};
        ::stat(tree.path("cache/vantrelindexer/site/index").c_str(), &before);
        expectSameOutput(row.change);
        struct stat after {};
        ASSERT_EQ(::stat(tree.path("cache/vantrelindexer/site/index").c_str(), &after), 0) << row.change;
        EXPECT_EQ(after.st_ino != before.st_ino, row.indexWritten) << row.change;
    }
}

TEST_F(PageCacheJobs, WriteOnlyTheRangesAnEditChangesAndCompactPacksMostlyUnused)
{
    // A job writes the ranges it changed into a pack of its own and leaves the others
    // where they lie; a pack whose ranges are mostly no longer used has the rest moved
    // into the new one and goes, so that edits in a row do not pile up packs, and each
    // job's output stays that of a job reading every page (a range moved and lost, or
    // placed wrong, would throw the cache away or change the output).
    auto wordsOf = [](const std::string& stem, int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += " " + stem + std::to_string(i);
        return "<p>" + text + "</p>";
    };
    // Keys first in order, enough for ranges that no edit below changes.
    tree.write("site/first.html", wordsOf("aardvark", 1500));
    tree.write("site/many.html", wordsOf("lamp", 3000));
    expectSameOutput("the first job");
    auto packs = [this] { return packSizes(); };
    const auto first = packs();
    ASSERT_EQ(first.size(), 1u);
    // The words and the stem pairs are a range each on a site this small, written again
    // by any edit: the first pack's ranges of keys, still used, move.
    tree.write("site/b.htm", "<title>Lamps</title><p>lamp lights</p>");
    expectSameOutput("a small edit");
    EXPECT_EQ(packs().size(), 1u);
    EXPECT_FALSE(packs().count(first.begin()->first));
    tree.write("site/many.html", wordsOf("zebra", 3000));
    expectSameOutput("most words changed");
    for (int edit = 1; edit <= 6; ++edit) {
        tree.write("site/b.htm", "<title>Lamps</title><p>lamp edit" + std::to_string(edit) + " zz" + std::string(edit, 'q') + "</p>");
        expectSameOutput("edit " + std::to_string(edit));
        EXPECT_LE(packs().size(), 3u) << "edit " << edit;
    }
}

TEST_F(PageCacheJobs, KeepALongRangeAnEditChangedAsItsDeltaAndNeverTakeADamagedOne)
{
    // The long lists of a site's common words, which any edit changes here and there, are
    // written as deltas from the lists the last job had, not whole; edits in a row stay
    // deltas of the same lists, each job's output that of a job reading every page; a delta
    // whose bytes changed throws the tables away.
    // Each page holds the same 60 words, some of them more often than others.
    auto common = [](int more) {
        std::string text = "<title>Page</title><p>";
        for (int word = 0; word < 60; ++word)
            for (int again = 0; again <= (word + more) % 4; ++again)
                text += " common" + std::to_string(word);
        return text + "</p>";
    };
    for (int i = 0; i < 300; ++i)
        tree.write("site/many/p" + std::to_string(i) + ".html", common(i));
    expectSameOutput("the first job");
    auto packs = [this] { return packSizes(); };
    const off_t whole = packs().begin()->second;
    std::string newest;
    for (int edit = 1; edit <= 4; ++edit) {
        const auto before = packs();
        tree.write("site/many/p7.html", common(edit) + " edit" + std::to_string(edit));
        expectSameOutput("edit " + std::to_string(edit));
        off_t written = 0;
        for (const auto& [name, size] : packs())
            if (!before.count(name)) {
                written += size;
                newest = name;
            }
        EXPECT_LT(written, whole / 3) << "edit " << edit;  // whole again, the lists alone are over half
    }
    // A byte of a delta's own bytes changed: the new word, among the last of the pack's
    // (which ends with the ranges' deltas, after the pages' records).
    std::string bytes = readFile(tree.path("cache/vantrelindexer/site/" + newest));
    const std::size_t word = bytes.rfind("edit4");
    ASSERT_NE(word, std::string::npos);
    bytes[word + 1] = 'X';
    tree.write("cache/vantrelindexer/site/" + newest, bytes);
    walksOverDamagedTables = 1;
    expectSameOutput("a delta damaged");
}

TEST_F(PageCacheJobs, OpenOnlyThePagesWhoseFilesChangedOrCannotBeJudgedByTheirEntry)
{
    // Files long unchanged are known by their folder entries' status: the cached job opens
    // only what changed, and an entry that became a link is opened and judged by the file
    // it leads to, never taken for the page the cache kept under that key.
    fileSystem.ageSeconds = 60;
    const struct {
        const char* change;
        int opened;  // pages the cached job opens (a link: once refused, once followed)
        std::function<void(PageCacheJobs&)> make;
    } changes[] = {
        {"the first job", 4, [](PageCacheJobs&) {}},
        {"nothing", 0, [](PageCacheJobs&) {}},
        {"a page edited", 1, [](PageCacheJobs& t) { t.tree.write("site/b.htm", "<title>Lamps</title><p>lamps aged</p>"); }},
        {"a page swapped for a link to another", 2,
         [](PageCacheJobs& t) {
             ::unlink(t.tree.path("site/docs/d.html").c_str());
             ::symlink("c.html", t.tree.path("site/docs/d.html").c_str());
         }},
        // A new link changes the file's change time: both of its names are read.
        {"a page swapped for a hard link to another", 2,
         [](PageCacheJobs& t) {
             ::unlink(t.tree.path("site/docs/d.html").c_str());
             ::link(t.tree.path("site/index.html").c_str(), t.tree.path("site/docs/d.html").c_str());
         }},
        {"a page renamed", 1,  // a rename changes the change time too
         [](PageCacheJobs& t) { ::rename(t.tree.path("site/b.htm").c_str(), t.tree.path("site/y.htm").c_str()); }},
    };
    for (const auto& change : changes) {
        change.make(*this);
        expectSameOutput(change.change);
        EXPECT_EQ(cachedPagesOpened, change.opened) << change.change;
    }
}

TEST_F(PageCacheJobs, LeaveAJobsMemoryToTheProcessEndWithEveryFileClosedAndTheCacheWhole)
{
    // A job that leaves its memory to the process's end (a command line's single run)
    // still closes every file it opened and saves a cache the next job can take.
    leaveMemoryToExit = true;
    expectSameOutput("the first job");
    tree.write("site/b.htm", "<title>Lamps</title><p>lamps aged</p>");
    expectSameOutput("a page edited");
    EXPECT_EQ(pagesParsed, 1u);
    ::unlink(tree.path("site/docs/c.html").c_str());
    expectSameOutput("a page removed");
    expectSameOutput("nothing changed");
    EXPECT_TRUE(keptOutput);
}

TEST_F(PageCacheJobs, LeaveAnUnchangedOutputInPlaceOnlyWhileItIsTheirOwn)
{
    // kept: whether the cached job leaves the files in place rather than writing them.
    const struct {
        const char* change;
        bool kept;
        std::function<void(PageCacheJobs&)> make;
    } changes[] = {
        {"the first job", false, [](PageCacheJobs&) {}},
        {"nothing", true, [](PageCacheJobs&) {}},
        {"the words file edited", false,
         [](PageCacheJobs& t) { t.tree.write("cached/indexed_words.js", "var index=[];"); }},
        {"a group of texts removed", false,
         [](PageCacheJobs& t) {
             for (const std::string& piece : folderEntries(t.tree.path("cached/indexed_text")))
                 if (readFile(t.tree.path("cached/indexed_text/" + piece)).find("vantrelTexts(") != std::string::npos)
                     ::unlink(t.tree.path("cached/indexed_text/" + piece).c_str());
         }},
        {"nothing again", true, [](PageCacheJobs&) {}},
        {"another destination path", false, [](PageCacheJobs& t) { t.pathMode = PathMode::FullPath; }},
        {"links under a URL", false,
         [](PageCacheJobs& t) {
             t.pathMode = PathMode::UrlPrefix;
             t.urlPrefix = "https://lamps.example/";
         }},
        // Only the documents' locations change.
        {"links under another URL", false, [](PageCacheJobs& t) { t.urlPrefix = "https://lamps.example/v2/"; }},
        {"the whole word index asked for", false, [](PageCacheJobs& t) { t.wholeWordIndex = true; }},
        {"and no longer", false, [](PageCacheJobs& t) { t.wholeWordIndex = false; }},
        // The page's neighbours keep their words and their texts come from the group
        // written last time: the damaged bodies are not needed.
        {"damaged bodies, one page edited", false,
         [](PageCacheJobs& t) {
             t.damageCache("segment-");
             t.tree.write("site/b.htm", "<title>Lamps</title><p>lamps once more</p>");
         }},
        // The whole cache is dropped, its kept work with it.
        {"damaged tables, one page edited", false,
         [](PageCacheJobs& t) {
             t.damageCache("ranges-");
             t.walksOverDamagedTables = 1;
             t.tree.write("site/docs/c.html", "<title>Wiring</title><p>tin cable</p>");
         }},
        {"nothing after that", true, [](PageCacheJobs&) {}},
        {"nothing at last", true, [](PageCacheJobs&) {}},
    };
    for (const auto& change : changes) {
        change.make(*this);
        expectSameOutput(change.change);
        EXPECT_EQ(keptOutput, change.kept) << change.change;
    }
}

TEST_F(PageCacheJobs, TakeAPageWhoseStampAloneChangedWithoutParsingIt)
{
    // A page touched, saved unchanged or copied afresh misses the cache by its key: its
    // bytes, compared with those read at its path last time, decide whether it is parsed.
    // Its date follows its new time, so a move to another day is written and a move
    // within the day leaves the output in place; the new key spares the next job the
    // comparison.
    fileSystem.ageSeconds = 3600;        // every time as seen is an hour back
    const long noon = 1'592'222'400;     // 2020-06-15 12:00 UTC
    const std::vector<std::string> pages = {"site/index.html", "site/b.htm", "site/docs/c.html", "site/docs/d.html"};
    auto setTimes = [this](const std::string& page, long seconds) {
        const timeval times[2] = {{seconds, 0}, {seconds, 0}};
        ::utimes(tree.path(page).c_str(), times);
    };
    const struct {
        const char* change;
        std::size_t parsed;  // pages the cached job parses
        int opened;          // pages it opens
        bool kept;           // it leaves the output in place
        std::function<void(PageCacheJobs&)> make;
    } rows[] = {
        {"the first job", 4, 4, false, [&](PageCacheJobs&) { for (const auto& page : pages) setTimes(page, noon); }},
        {"every page touched within its day", 0, 4, true,
         [&](PageCacheJobs&) { for (const auto& page : pages) setTimes(page, noon + 1800); }},
        {"nothing since", 0, 0, true, [](PageCacheJobs&) {}},
        {"a page touched to the next day", 0, 1, false, [&](PageCacheJobs&) { setTimes("site/b.htm", noon + 86400); }},
        // New inodes for every page, renamed into place, each with its time.
        {"the site copied afresh, times kept", 0, 4, true,
         [&](PageCacheJobs& t) {
             for (const auto& page : pages) {
                 struct stat info;
                 ::stat(t.tree.path(page).c_str(), &info);
                 t.tree.write("copy", readFile(t.tree.path(page)), info.st_mtime);
                 ::rename(t.tree.path("copy").c_str(), t.tree.path(page).c_str());
             }
         }},
        {"a page's bytes changed, its size kept", 1, 1, false,
         [&](PageCacheJobs& t) {
             t.tree.write("site/docs/c.html", "<title>Wiring</title><h2>Cables</h2><p>silver cable colours</p>", noon + 600);
         }},
        // Times as a clock too coarse to see a change tells them: a page changed at the
        // same size keeps its key, and only its bytes tell.
        {"the clock frozen", 0, 4, false, [](PageCacheJobs& t) { t.fileSystem.frozenSeconds = static_cast<long>(::time(nullptr)); }},
        {"a page's bytes changed within its stamp's granularity", 1, 4, false,
         [](PageCacheJobs& t) { t.tree.write("site/docs/c.html", "<title>Wiring</title><h2>Cables</h2><p>bronze cable colours</p>"); }},
        {"the clock running again, a page touched", 0, 4, false, [&](PageCacheJobs& t) {
             t.fileSystem.frozenSeconds = 0;
             setTimes("site/b.htm", noon + 2 * 86400);
         }},
        {"that page edited", 1, 1, false,
         [&](PageCacheJobs& t) { t.tree.write("site/b.htm", "<title>Lamps</title><p>LED lamps at last</p>", noon + 2 * 86400); }},
    };
    for (const auto& row : rows) {
        row.make(*this);
        expectSameOutput(row.change);
        EXPECT_EQ(pagesParsed, row.parsed) << row.change;
        EXPECT_EQ(cachedPagesOpened, row.opened) << row.change;
        EXPECT_EQ(keptOutput, row.kept) << row.change;
    }
}

TEST(PageCache, IsPrivateToTheUserAndRefusesAFolderOthersMayEnter)
{
    TempTree tree;
    tree.write("site/a.htm", "<title>A</title>");
    IndexEngine engine;
    engine.sourceFolder = tree.path("site");
    engine.destinationFolder = tree.folder("out");
    engine.cacheFolder = tree.path("cache/vantrelindexer/site");
    ASSERT_TRUE(engine.buildIndex());
    for (const char* folder : {"cache/vantrelindexer", "cache/vantrelindexer/site"}) {
        struct stat info;
        ASSERT_EQ(::lstat(tree.path(folder).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
    for (const std::string& name : folderEntries(tree.path("cache/vantrelindexer/site"))) {
        struct stat info;
        ASSERT_EQ(::lstat(tree.path("cache/vantrelindexer/site/" + name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }

    const struct {
        const char* setUp;
        std::function<void()> make;
    } refused[] = {
        {"others may enter", [&] { ::chmod(tree.path("cache/vantrelindexer/site").c_str(), 0777); }},
        {"a link", [&] {
             std::system(("rm -rf '" + tree.path("cache/vantrelindexer/site") + "'").c_str());
             tree.folder("elsewhere");
             ::chmod(tree.path("elsewhere").c_str(), 0700);
             ::symlink(tree.path("elsewhere").c_str(), tree.path("cache/vantrelindexer/site").c_str());
         }},
    };
    for (const auto& row : refused) {
        row.make();
        EXPECT_TRUE(engine.buildIndex()) << row.setUp;  // a cache that cannot be used costs only speed
        EXPECT_NE(engine.cacheProblem, "") << row.setUp;
    }
    EXPECT_TRUE(folderEntries(tree.path("elsewhere")).empty());
}

TEST(PageCache, KeepsWorkInPacksWritingOnlyNewResultsAndNeverTakesDamagedOnes)
{
    TempTree tree;
    const std::string folder = tree.path("cache/vantrelindexer/site");
    const KeptWork work = {{7, "runs of piece seven"}, {9, std::string("\0bytes\n", 7)}, {11, ""}};
    // save: the work given (null: the last job's stands); then what a new cache reads.
    auto saveThenRead = [&folder](const KeptWork* given) {
        {
            PageCache cache(folder, "settings");
            EXPECT_TRUE(cache.open());
            cache.keptWork();
            EXPECT_TRUE(cache.save({}, {}, nullptr, CachedJob(), given));
        }
        PageCache again(folder, "settings");
        EXPECT_TRUE(again.open());
        KeptWork read;
        for (const auto& [inputs, bytes] : again.keptWork())
            read.emplace_back(inputs, std::string(bytes));
        return read;
    };
    auto packs = [&folder] {
        std::vector<std::string> names;
        for (const std::string& name : folderEntries(folder))
            if (name.rfind("ranges-", 0) == 0)
                names.push_back(name);
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(saveThenRead(&work), work);
    const std::vector<std::string> first = packs();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(saveThenRead(nullptr), work);
    EXPECT_EQ(saveThenRead(&work), work);
    EXPECT_EQ(packs(), first) << "nothing new: no pack written";
    // A result that stays is not written again: the new pack holds the new one alone.
    const KeptWork other = {{7, "runs of piece seven"}, {8, "other"}};
    EXPECT_EQ(saveThenRead(&other), other);
    ASSERT_EQ(packs().size(), 2u);
    EXPECT_EQ(readFile(folder + "/" + packs().back()), "other");
    // A result whose bytes changed in place (same length, cut, other bytes) is not taken,
    // and the same work is then written anew rather than named where it lies.
    auto damage = [&](bool cut) {
        std::string path;
        for (const std::string& pack : packs())
            if (readFile(folder + "/" + pack).find("seven") != std::string::npos)
                path = folder + "/" + pack;
        std::string damaged = readFile(path);
        if (cut)
            damaged.resize(8);
        else
            damaged[damaged.find("seven")] = 'S';
        tree.write(path.substr(tree.path("").size()), damaged);
    };
    for (const bool cut : {false, true}) {
        damage(cut);
        {
            PageCache cache(folder, "settings");
            EXPECT_TRUE(cache.open());
            EXPECT_TRUE(cache.keptWork().empty()) << cut;
            EXPECT_TRUE(cache.save({}, {}, nullptr, CachedJob(), &other));
        }
        EXPECT_EQ(saveThenRead(nullptr), other) << cut;
        // Found damaged by a job that then keeps no work: the index names none of it.
        damage(cut);
        {
            PageCache cache(folder, "settings");
            EXPECT_TRUE(cache.open());
            EXPECT_TRUE(cache.keptWork().empty()) << cut;
            CachedJob job;
            job.documentsChecksum = 1;
            EXPECT_TRUE(cache.save({}, {}, nullptr, job, nullptr));
        }
        EXPECT_TRUE(saveThenRead(nullptr).empty()) << cut;
        EXPECT_EQ(saveThenRead(&other), other) << cut;
    }
    const KeptWork none;
    EXPECT_EQ(saveThenRead(&none), none);
}

TEST(PageCache, KeepsPageRecordsInBlocksSoThatAnEditWritesItsOwnAndADamagedBlockIsNeverTaken)
{
    // The pages' records lie in blocks in the packs, cut at ends drawn from the pages' own
    // files: a page edited, added or removed rewrites a block or two, not all of them;
    // small packs of blocks are gathered into the next one even when no job writes the
    // tables, so that they do not pile up one a job; a block whose
    // bytes changed throws the cache's pages away, never taken.
    TempTree tree;
    const std::string folder = tree.path("cache/vantrelindexer/site");
    std::vector<CachedPage> pages(4000);
    std::vector<std::string> titles;
    {
        PageCache cache(folder, "settings");
        ASSERT_TRUE(cache.open());
        for (std::size_t i = 0; i < pages.size(); ++i) {
            pages[i].key.device = 3;
            pages[i].key.inode = 1000 + i * 7;
            titles.push_back("TITLE OF PAGE " + std::to_string(i));
            pages[i].title = titles.back();
            pages[i].summary = "a summary of page " + std::to_string(i);
            ASSERT_TRUE(cache.addBody("body " + std::to_string(i), pages[i]));
        }
        CachedTables tables;
        ASSERT_TRUE(cache.save(pages, {}, &tables, CachedJob()));
    }
    auto packs = [&folder] {
        std::map<std::string, off_t> sizes;
        for (const std::string& name : folderEntries(folder))
            if (name.rfind("ranges-", 0) == 0) {
                struct stat info {};
                ::stat((folder + "/" + name).c_str(), &info);
                sizes[name] = info.st_size;
            }
        return sizes;
    };
    const off_t allBlocks = packs().begin()->second;
    // Saves the pages as given to what a new cache read, then checks what a cache reads
    // back and the bytes of the pack written (none: 0).
    auto change = [&](const char* what, const std::function<void(std::vector<CachedPage>&)>& make) {
        SCOPED_TRACE(what);
        std::vector<CachedPage> expected;
        const auto before = packs();
        {
            PageCache cache(folder, "settings");
            ASSERT_TRUE(cache.open());
            ASSERT_TRUE(cache.loadTables(0));
            expected = cache.pages();
            for (CachedPage& page : expected) {  // its own texts, to be compared once the cache is gone
                page.title = std::string(page.title.view());
                page.summary = std::string(page.summary.view());
            }
            make(expected);
            ASSERT_TRUE(cache.save(expected, {}, nullptr, CachedJob()));
        }
        off_t written = 0;
        for (const auto& [name, size] : packs())
            if (!before.count(name))
                written += size;
        EXPECT_LT(written, allBlocks / 4);
        EXPECT_LE(packs().size(), 7u) << "packs of blocks pile up";
        PageCache again(folder, "settings");
        ASSERT_TRUE(again.open());
        ASSERT_EQ(again.pages().size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(again.pages()[i].key, expected[i].key) << i;
            EXPECT_EQ(again.pages()[i].title.view(), expected[i].title.view()) << i;
            EXPECT_EQ(again.pages()[i].summary.view(), expected[i].summary.view()) << i;
        }
    };
    // Each change in another block, so that every pack written keeps a block in use.
    for (int round = 0; round < 6; ++round) {
        change("a page edited", [round](std::vector<CachedPage>& p) {
            p[700 + round * 431].title = "EDITED " + std::to_string(round);
            p[700 + round * 431].key.modified += 1;
        });
        change("a page added", [round](std::vector<CachedPage>& p) {
            CachedPage added = p[10];
            added.key.inode = 99 + static_cast<std::uint64_t>(round);
            added.title = std::string("ADDED");
            p.insert(p.begin() + 400 + round * 547, added);
        });
        change("a page removed", [round](std::vector<CachedPage>& p) { p.erase(p.begin() + 1200 + round * 389); });
    }
    // A title changed in place, within the block's structure: the pages are not taken, and
    // the job is told before its walk.
    for (const auto& [name, size] : packs()) {
        std::string bytes = readFile(folder + "/" + name);
        const std::size_t at = bytes.find("TITLE OF PAGE 5");
        if (at != std::string::npos) {
            bytes[at] = 'X';
            tree.write("cache/vantrelindexer/site/" + name, bytes);
        }
    }
    PageCache damaged(folder, "settings");
    ASSERT_TRUE(damaged.open());
    EXPECT_TRUE(damaged.pages().empty());
    EXPECT_FALSE(damaged.loadTables(0));
}

TEST(PageCache, NamesNoBodyOfASegmentThatCouldNotBeWritten)
{
    // Bodies are written in large writes: one that fails loses the bodies given before it
    // too, and the saved cache must name none of them.
    struct SegmentWritesFail : FileSystem {
        bool writeAll(int fd, std::string_view data) override
        {
            return data.size() == 3 * 400'000 ? (errno = ENOSPC, false) : FileSystem::writeAll(fd, data);
        }
    } files;
    TempTree tree;
    const std::string folder = tree.path("cache/vantrelindexer/site");
    std::vector<CachedPage> pages(6);
    std::vector<CachedDocument> documents;
    {
        PageCache cache(folder, "settings", files);
        ASSERT_TRUE(cache.open());
        // Three of 400,000 bytes fill the first write, which fails: the segment is gone,
        // and no later body is taken.
        for (std::size_t i = 0; i < pages.size(); ++i) {
            pages[i].key.inode = i + 1;
            const bool added = cache.addBody(std::string(400'000, static_cast<char>('a' + i)), pages[i]);
            EXPECT_EQ(added, i < 2) << i;
            documents.push_back(CachedDocument{"p" + std::to_string(i), added ? static_cast<std::int32_t>(i) : -1, true});
        }
        CachedTables tables;
        ASSERT_TRUE(cache.save(pages, documents, &tables, CachedJob()));
    }
    PageCache again(folder, "settings", files);
    ASSERT_TRUE(again.open());
    std::string body;
    for (const CachedPage& page : again.pages())
        EXPECT_TRUE(again.readBody(page, body)) << page.key.inode;
    EXPECT_TRUE(again.pages().empty());
}

TEST(PageCache, KeepsDocumentsInBlocksSoThatAnEditWritesNoneOfThemAndAChangedPathIsNeverTaken)
{
    // The documents' records lie in blocks too: a page edited, added or removed, or a
    // document without a page removed, writes a block or two of them (or moves a small
    // pack's), not every block after it, whose pages all moved by one; every document comes back with its own page, none or one it
    // shares; a path changed in place throws the documents and pages away.
    TempTree tree;
    const std::string folder = tree.path("cache/vantrelindexer/site");
    std::vector<CachedPage> pages;
    std::vector<CachedDocument> documents;
    {
        PageCache cache(folder, "settings");
        ASSERT_TRUE(cache.open());
        for (int i = 0; i < 3000; ++i) {
            // Every tenth document has no page, some share the page before (links).
            std::int32_t page = -1;
            if (i % 25 == 12) {
                page = static_cast<std::int32_t>(pages.size() - 1);
            } else if (i % 10 != 9) {
                pages.emplace_back();
                pages.back().key.inode = 5000 + static_cast<std::uint64_t>(i);
                ASSERT_TRUE(cache.addBody("body " + std::to_string(i), pages.back()));
                page = static_cast<std::int32_t>(pages.size() - 1);
            }
            documents.push_back(CachedDocument{"docs/page-" + std::to_string(i) + ".html", page, i % 3 != 0});
        }
        CachedTables tables;
        ASSERT_TRUE(cache.save(pages, documents, &tables, CachedJob()));
    }
    // Paths written into the packs that were not there before the change.
    auto pathsWritten = [&folder](const std::set<std::string>& before) {
        std::size_t paths = 0;
        for (const std::string& name : folderEntries(folder))
            if (name.rfind("ranges-", 0) == 0 && !before.count(name)) {
                const std::string bytes = readFile(folder + "/" + name);
                for (std::size_t at = 0; (at = bytes.find("docs/page-", at)) != std::string::npos; ++at)
                    ++paths;
            }
        return paths;
    };
    // Each change leaves at least 1,800 documents after it: a change that rewrote every
    // block after it would write more than the bound.
    auto change = [&](const char* what, std::size_t mostPaths,
                      const std::function<void(std::vector<CachedPage>&, std::vector<CachedDocument>&)>& make) {
        SCOPED_TRACE(what);
        const auto entries = folderEntries(folder);
        const std::set<std::string> before(entries.begin(), entries.end());
        std::vector<CachedPage> nowPages;
        std::vector<CachedDocument> nowDocuments;
        {
            PageCache cache(folder, "settings");
            ASSERT_TRUE(cache.open());
            ASSERT_TRUE(cache.loadTables(0));
            nowPages = cache.pages();
            for (const CachedDocument& document : cache.documents())
                nowDocuments.push_back(CachedDocument{std::string(document.path.view()), document.page, document.wordsEntered});
            make(nowPages, nowDocuments);
            ASSERT_TRUE(cache.save(nowPages, nowDocuments, nullptr, CachedJob()));
        }
        EXPECT_LE(pathsWritten(before), mostPaths);
        PageCache again(folder, "settings");
        ASSERT_TRUE(again.open());
        ASSERT_EQ(again.documents().size(), nowDocuments.size());
        for (std::size_t d = 0; d < nowDocuments.size(); ++d) {
            const CachedDocument& read = again.documents()[d];
            EXPECT_EQ(read.path.view(), nowDocuments[d].path.view()) << d;
            EXPECT_EQ(read.wordsEntered, nowDocuments[d].wordsEntered) << d;
            ASSERT_EQ(read.page, nowDocuments[d].page) << d;
            if (read.page >= 0) {
                EXPECT_EQ(again.pages()[static_cast<std::size_t>(read.page)].key, nowPages[static_cast<std::size_t>(read.page)].key) << d;
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        change("a page edited", 600, [round](std::vector<CachedPage>& p, std::vector<CachedDocument>&) {
            p[100 + static_cast<std::size_t>(round) * 900].key.modified += 1;
        });
        change("a page added", 600, [round](std::vector<CachedPage>& p, std::vector<CachedDocument>& d) {
            const std::size_t at = 300 + static_cast<std::size_t>(round) * 500;
            const std::int32_t page = d[at].page;
            ASSERT_GE(page, 0);
            CachedPage added = p[static_cast<std::size_t>(page)];
            added.key.inode = 90 + static_cast<std::uint64_t>(round);
            p.insert(p.begin() + page, added);
            for (CachedDocument& document : d)
                if (document.page >= page)
                    ++document.page;
            d.insert(d.begin() + static_cast<std::ptrdiff_t>(at), CachedDocument{"docs/added-" + std::to_string(round), page, true});
        });
        change("a document without a page removed", 600, [round](std::vector<CachedPage>&, std::vector<CachedDocument>& d) {
            auto gone = std::find_if(d.begin() + 400 + round * 400, d.end(), [](const CachedDocument& document) { return document.page < 0; });
            ASSERT_NE(gone, d.end());
            d.erase(gone);
        });
    }
    for (const std::string& name : folderEntries(folder)) {
        if (name.rfind("ranges-", 0) != 0)
            continue;
        std::string bytes = readFile(folder + "/" + name);
        const std::size_t at = bytes.find("docs/page-77.");
        if (at != std::string::npos) {
            bytes[at + 10] = '8';
            tree.write("cache/vantrelindexer/site/" + name, bytes);
        }
    }
    PageCache damaged(folder, "settings");
    ASSERT_TRUE(damaged.open());
    EXPECT_TRUE(damaged.documents().empty());
    EXPECT_TRUE(damaged.pages().empty());
    EXPECT_FALSE(damaged.loadTables(0));
}

}  // namespace

TEST(PageCache, KeepsWhatAJobWroteCompactlyAndRefusesAForgedIndex)
{
    // What a job wrote comes back as it was saved, whatever its stamps, paths and pieces:
    // stamps as differences (times going back, numbers wrapping, stamps of another form),
    // paths sharing more than the longest share kept, pieces and groups that are files
    // written and some that are not. An index whose path shares more than that is forged,
    // checksum or not, and thrown away.
    TempTree tree;
    const std::string folder = tree.path("cache/vantrelindexer/site");
    auto stamp = [](std::int64_t inode, std::int64_t size, std::int64_t modified, std::int64_t changed) {
        const std::int64_t fields[] = {2049, inode, size, modified / 1'000'000'000, modified % 1'000'000'000,
                                       changed / 1'000'000'000, changed % 1'000'000'000};
        return std::string(reinterpret_cast<const char*>(fields), sizeof fields);
    };
    auto pieceName = [](int i) {
        return "abcdefghijq" + std::string(1, static_cast<char>('a' + i / 26)) + static_cast<char>('a' + i % 26) + ".js";
    };
    CachedJob job;
    job.files.emplace_back("indexed_words.js", stamp(9'000'000, 123456, 1'700'000'000'123'456'789, 1'700'000'000'123'456'789));
    job.files.emplace_back("indexed_docs.js", stamp(12, -1, INT64_MAX, INT64_MIN));
    job.files.emplace_back("odd stamp", "");
    job.files.emplace_back("odd stamp 2", "a stamp of another form");
    job.files.emplace_back(std::string(400, 'a'), stamp(7, 0, 5, 4));
    job.files.emplace_back(std::string(300, 'a') + "b", stamp(8, 1, 4, 5));
    for (int i = 0; i < 40; ++i)
        job.files.emplace_back("indexed_text/" + pieceName(i), stamp(5000 - i * 37, 900 + i * i, 1'700'000'100'000'000'000 + i * 7'777'777,
                                                                     1'700'000'100'000'000'000 + i * 7'777'777 + (i % 3)));
    for (int i = 0; i < 40; i += 2)
        job.textGroups.push_back(TextGroups::Written{static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull, pieceName(i),
                                                     job.files[6 + static_cast<std::size_t>(i)].second});
    job.textGroups.push_back(TextGroups::Written{1, pieceName(3), "not its file's stamp"});
    job.textGroups.push_back(TextGroups::Written{2, "not a file.js", ""});
    for (int i = 1; i < 40; i += 2)
        job.pieces.push_back(PieceStore::Made{static_cast<std::uint64_t>(i) << 40, pieceName(i), job.files[6 + static_cast<std::size_t>(i)].second});
    job.pieces.push_back(PieceStore::Made{3, pieceName(5), stamp(1, 2, 3, 4)});
    job.pieces.push_back(PieceStore::Made{4, "zzzzzzzzzzzzz.js", "a stamp"});
    job.documentsChecksum = 42;
    {
        PageCache cache(folder, "settings");
        ASSERT_TRUE(cache.open());
        ASSERT_TRUE(cache.save({}, {}, nullptr, job));
    }
    {
        PageCache again(folder, "settings");
        ASSERT_TRUE(again.open());
        EXPECT_TRUE(again.job() == job);
    }
    // The second long path, kept as sharing the longest share (255) and 45 bytes more, made
    // to share 300 of the path before it: the same path, refused.
    std::string index = readFile(folder + "/index");
    const std::string kept = std::string("\xff\x01\x2e") + std::string(45, 'a') + "b";
    const std::size_t at = index.find(kept);
    ASSERT_NE(at, std::string::npos);
    index.replace(at, kept.size(), std::string("\xac\x02\x01") + "b");
    const std::uint64_t checksum = cacheChecksum(std::string_view(index).substr(0, index.size() - sizeof checksum));
    index.replace(index.size() - sizeof checksum, sizeof checksum, reinterpret_cast<const char*>(&checksum), sizeof checksum);
    tree.write("cache/vantrelindexer/site/index", index);
    PageCache forged(folder, "settings");
    ASSERT_TRUE(forged.open());
    EXPECT_TRUE(forged.job() == CachedJob());
}

TEST(PageCache, SavesTablesUnderTheNamesWorkedOutBeforehandOnlyForThoseTables)
{
    // A job names its new tables' ranges (nameTables()) on a thread of its own before it
    // saves: save() takes those names for the tables they were worked out for, and names
    // any other tables itself, so that no range is placed under another's name.
    TempTree tree;
    const std::string folder = tree.path("cache/vantrelindexer/site");
    const std::vector<CachedDocument> documents = {CachedDocument{std::string("a.html"), -1, true}};
    auto tablesOf = [](const std::string& text) {
        auto tables = std::make_unique<CachedTables>();
        WordDictionary added;
        PageWords words;
        countWords(text, WordPlace::Other, words);
        added.addPage(0, words);
        const std::atomic<bool> never{false};
        EXPECT_TRUE(RankedWords::update(RankedWords(), {}, added, nullptr, PostingRank(), 1, StopSignal(never),
                                        tables->words));
        return tables;
    };
    auto wordsOf = [](const RankedWords& table) {
        std::vector<std::string> words;
        table.forEachWord([&words](std::string_view word, const std::int32_t*, const double*, std::size_t) {
            words.emplace_back(word);
        });
        return words;
    };
    const auto first = tablesOf("LAMP SWITCH CABLE");
    const auto second = tablesOf("COPPER WIRING COLOURS");
    ASSERT_EQ(first->words.ranges().size(), second->words.ranges().size());
    for (const bool named : {true, false}) {
        const CachedTables& saved = named ? *first : *second;
        {
            PageCache cache(folder, "settings");
            ASSERT_TRUE(cache.open());
            const PageCache::NamedTables names = cache.nameTables(*first);
            ASSERT_TRUE(cache.save({}, documents, &saved, CachedJob(), nullptr, &names));
        }
        PageCache again(folder, "settings");
        ASSERT_TRUE(again.open());
        ASSERT_TRUE(again.loadTables(0)) << named;
        EXPECT_EQ(wordsOf(again.tables().words), wordsOf(saved.words)) << named;
    }
}
