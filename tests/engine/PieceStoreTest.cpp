// The store of pieces named by their bytes, and the page texts grouped into it: what is
// reused, what is never written through or removed, and how little a changed page
// changes.

#include "PieceStore.h"
#include "TestFiles.h"
#include "TermsText.h"
#include "TextGroups.h"
#include "WordIndex.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <set>
#include <sys/stat.h>
#include <time.h>
#include <tuple>

namespace {

const std::string kMark = "/* generator: VantrelIndexer */\n";

// The system's calls, with writes and flushes failing when asked, and the files flushed
// (by inode) and file systems flushed counted.
class WritesFail : public FileSystem {
public:
    bool failing = false;
    bool flushFails = false;
    int writes = 0;
    int opened = 0;  // files opened for reading
    std::multiset<ino_t> filesFlushed;
    int fileSystemsFlushed = 0;
    bool writeAll(int fd, std::string_view data) override
    {
        ++writes;
        return failing ? (errno = ENOSPC, false) : FileSystem::writeAll(fd, data);
    }
    int openForReading(int at, const std::string& name, bool followLink) override
    {
        {
            std::lock_guard<std::mutex> hold(lock);  // the store's flushing threads too
            ++opened;
        }
        return FileSystem::openForReading(at, name, followLink);
    }
    bool flushesCounted = false;  // only counted, not made: closed at once
    std::mutex lock;
    bool syncAndClose(int fd) override
    {
        struct stat info;
        if (::fstat(fd, &info) == 0) {
            std::lock_guard<std::mutex> hold(lock);
            filesFlushed.insert(info.st_ino);
        }
        if (flushFails)
            return ::close(fd), errno = EIO, false;
        return flushesCounted ? ::close(fd) == 0 : FileSystem::syncAndClose(fd);
    }
    // Non-zero: files without a name cannot be made, or not named, failing with this.
    int unnamedFails = 0, namingFails = 0;
    int unnamedMade = 0;
    int createUnnamed(int at, mode_t mode) override
    {
        ++unnamedMade;
        return unnamedFails ? (errno = unnamedFails, -1) : FileSystem::createUnnamed(at, mode);
    }
    bool nameUnnamed(int fd, int toAt, const std::string& to) override
    {
        return namingFails ? (errno = namingFails, false) : FileSystem::nameUnnamed(fd, toAt, to);
    }
    bool syncFileSystem(int folder) override
    {
        ++fileSystemsFlushed;
        return flushFails ? (errno = EIO, false) : flushesCounted || FileSystem::syncFileSystem(folder);
    }
};

class PieceStoreTest : public ::testing::Test {
protected:
    PieceStoreTest() : folder(::open(tree.folder("store").c_str(), O_RDONLY | O_DIRECTORY)), store(folder, tree.path("store"), files) {}
    ~PieceStoreTest() override { ::close(folder); }

    TempTree tree;
    WritesFail files;
    int folder;
    PieceStore store;
};

TEST(PieceNames, AreThirteenBase32DigitsAndFoundInText)
{
    for (const auto& [name, valid] : std::vector<std::pair<std::string, bool>>{
             {"abcdefghijk27.js", true}, {"abcdefghijk2.js", false}, {"abcdefghijk28.js", false},
             {"Abcdefghijk27.js", false}, {"abcdefghijk27.jsx", false}, {"../efghijk27.js", false}})
        EXPECT_EQ(PieceStore::isPieceName(name), valid) << name;
    std::set<std::string> names;
    PieceStore::namesIn("[\"abcdefghijk27.js\",\"zzzzzzzzzzzzz.js\"] xabcdefghijk27.js abcdefghijk27.js", names);
    EXPECT_EQ(names, (std::set<std::string>{"abcdefghijk27.js", "zzzzzzzzzzzzz.js"}));
    EXPECT_TRUE(PieceStore::isPieceName(pieceName("x")));
    EXPECT_NE(pieceName("x"), pieceName("y"));
    EXPECT_NE(pieceName("x"), pieceName("x", 1));
}

TEST_F(PieceStoreTest, InputsGiveTheChecksumOfTheirLengthsAndBytesHoweverTheyAreGathered)
{
    // Texts and numbers of every size about the block the inputs gather, in runs that
    // end on, before and past its end, each asked for its value on the way.
    std::string bytes;
    PieceInputs inputs;
    auto encoded = [&](std::int64_t value) { bytes.append(reinterpret_cast<const char*>(&value), sizeof value); };
    std::size_t checked = 0;
    for (const std::size_t size : {0, 1, 7, 8, 9, 1000, 1023, 1024, 1025, 2000, 2040, 2047, 2048, 2049, 5000, 3, 1030}) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            const std::string text(size, static_cast<char>('a' + (size + repeat) % 26));
            inputs.text(text);
            encoded(static_cast<std::int64_t>(size));
            bytes += text;
            inputs.number(-repeat);
            encoded(-repeat);
            if (++checked % 4 == 0) {
                ASSERT_EQ(inputs.value(), cacheChecksum(bytes)) << size << " " << repeat;
            }
        }
    }
    EXPECT_EQ(inputs.value(), cacheChecksum(bytes));
    EXPECT_EQ(PieceInputs().value(), cacheChecksum(""));
}

TEST_F(PieceStoreTest, TheSameBytesKeepTheirFileAndAreNotWrittenAgain)
{
    const std::string name = store.put(kMark + "one");
    EXPECT_EQ(name, pieceName(kMark + "one"));
    EXPECT_EQ(readFile(tree.path("store/" + name)), kMark + "one");
    PieceStore again(folder, tree.path("store"), files);
    const int writes = files.writes;
    EXPECT_EQ(again.put(kMark + "one"), name);
    EXPECT_EQ(files.writes, writes);
    EXPECT_EQ(again.reused(), 1u);
    EXPECT_TRUE(again.written().empty());
    EXPECT_EQ(folderEntries(tree.path("store")), std::vector<std::string>{name});
}

// A piece's stamp is the one it had when its bytes were known: written, found in place
// or taken; a file changed after that no longer matches it, so a later job reads it again.
TEST_F(PieceStoreTest, APieceIsStampedWhenItsBytesWereKnownNotLater)
{
    const std::string written = store.put(kMark + "written");
    PieceStore again(folder, tree.path("store"), files);
    const std::string found = again.put(kMark + "written");
    const std::string other = store.put(kMark + "taken");
    ASSERT_TRUE(again.reuse(other, store.stampWhenPut(other)));
    for (const auto& [what, name, by] : std::vector<std::tuple<const char*, std::string, PieceStore*>>{
             {"written", written, &store}, {"found in place", found, &again}, {"taken", other, &again}}) {
        EXPECT_FALSE(by->stampWhenPut(name).empty()) << what;
        EXPECT_EQ(by->stampWhenPut(name), by->stamp(name)) << what;
    }
    // Rewritten with other bytes of the same size after it was found.
    const std::string before = again.stampWhenPut(found);
    struct timespec pause = {0, 20'000'000};
    ::nanosleep(&pause, nullptr);
    std::ofstream(tree.path("store/" + found), std::ios::binary | std::ios::trunc) << kMark + "WRITTEN";
    EXPECT_EQ(again.stampWhenPut(found), before);
    EXPECT_NE(again.stamp(found), before);
    PieceStore third(folder, tree.path("store"), files);
    EXPECT_FALSE(third.reuse(found, before));
}

TEST_F(PieceStoreTest, ANameTakenByAnythingButThePieceIsLeftAloneAndTheNextNameTaken)
{
    const std::string piece = kMark + "piece";
    const std::string victim = tree.write("victim", "secret");
    const struct {
        const char* what;
        std::function<void(const std::string&)> take;
    } cases[] = {
        {"a link", [&](const std::string& path) { ::symlink(victim.c_str(), path.c_str()); }},
        {"a folder", [&](const std::string& path) { ::mkdir(path.c_str(), 0755); }},
        {"other bytes", [&](const std::string& path) { std::ofstream(path) << kMark + "other"; }},
        {"other bytes of the same size", [&](const std::string& path) { std::ofstream(path) << kMark + "pieCe"; }},
    };
    // Taken before the store listed its folder (the name is looked at before it is
    // written), or after (the name is written at once, never over what took it since);
    // the new file made without a name and then named, or, where the system cannot make
    // or name such a file, under a temporary name and renamed.
    const struct {
        const char* how;
        int unnamedFails, namingFails;
    } ways[] = {{"unnamed", 0, 0}, {"no unnamed files", EOPNOTSUPP, 0}, {"unnamed files not named", 0, ENOENT}};
    for (const auto& way : ways) {
        for (const bool afterListing : {false, true}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.what) + (afterListing ? ", after the listing, " : ", ") + way.how);
                files.unnamedFails = way.unnamedFails;
                files.namingFails = way.namingFails;
                files.unnamedMade = 0;
                TempTree other;
                const int at = ::open(other.folder("store").c_str(), O_RDONLY | O_DIRECTORY);
                PieceStore own(at, other.path("store"), files);
                const std::string first = other.path("store/" + pieceName(piece));
                if (afterListing) {
                    ASSERT_FALSE(own.put(kMark + "listed").empty());
                }
                c.take(first);
                EXPECT_EQ(own.put(piece), pieceName(piece, 1));
                EXPECT_EQ(readFile(other.path("store/" + pieceName(piece, 1))), piece);
                EXPECT_NE(readFile(first), piece);
                EXPECT_EQ(readFile(victim), "secret");
                EXPECT_EQ(own.written().count(pieceName(piece)), 0u);
                // Only the pieces and what took the name: no temporary file is left.
                EXPECT_EQ(folderEntries(other.path("store")).size(), afterListing ? 3u : 2u);
                // As readable as a file made under its name (the user's mask applies alike).
                struct stat placed, made;
                const std::string plain = other.write("plain", "");
                ASSERT_EQ(::stat(other.path("store/" + pieceName(piece, 1)).c_str(), &placed), 0);
                ASSERT_EQ(::stat(plain.c_str(), &made), 0);
                EXPECT_EQ(placed.st_mode, made.st_mode);
                // Every piece made unnamed, and a system that cannot asked once.
                EXPECT_EQ(files.unnamedMade, way.unnamedFails || way.namingFails || !afterListing ? 1 : 3);
                ::close(at);
            }
        }
    }
    // The piece itself, put there by another writer after the listing, is taken as it is.
    TempTree other;
    const int at = ::open(other.folder("store").c_str(), O_RDONLY | O_DIRECTORY);
    PieceStore own(at, other.path("store"), files);
    ASSERT_FALSE(own.put(kMark + "listed").empty());
    std::ofstream(other.path("store/" + pieceName(piece))) << piece;
    EXPECT_EQ(own.put(piece), pieceName(piece));
    EXPECT_EQ(own.reused(), 1u);
    EXPECT_EQ(own.written().count(pieceName(piece)), 0u);
    EXPECT_EQ(folderEntries(other.path("store")).size(), 2u);
    ::close(at);
}

TEST_F(PieceStoreTest, AFailedWriteSaysWhyAndLeavesNoFile)
{
    files.failing = true;
    EXPECT_EQ(store.put(kMark + "x"), "");
    EXPECT_EQ(store.error(), std::strerror(ENOSPC));
    EXPECT_EQ(store.failedPath(), tree.path("store/" + pieceName(kMark + "x")));
    EXPECT_TRUE(folderEntries(tree.path("store")).empty());
}

TEST_F(PieceStoreTest, AFewPiecesAreFlushedWithTheirFolderAndManyWithTheFileSystem)
{
    auto inodeOf = [this](const std::string& name) {
        struct stat info;
        ::stat(tree.path(name).c_str(), &info);
        return info.st_ino;
    };
    // written: pieces put anew; found: pieces put that were in place already; beside:
    // flushed on the store's own thread as they are written (from the first piece on, or
    // from the middle of them).
    // folder: given to the flushing threads once every piece is put, or before the
    // last piece (which has it flushed again).
    enum Beside { kNo, kFromFirst, kFromMiddle };
    enum Folder { kAtFlush, kAfterAll, kBeforeLast };
    const std::size_t many = PieceStore::kFlushedBeside;
    for (const auto& [written, found, flushFails, beside, folderBeside] :
         std::vector<std::tuple<std::size_t, std::size_t, bool, Beside, Folder>>{{3, 0, false, kFromFirst, kAfterAll},
                                                                                 {3, 0, false, kFromFirst, kBeforeLast},
                                                                                 {0, 2, false, kNo, kAtFlush},
                                                                                 {3, 2, false, kNo, kAtFlush},
                                                                                 {PieceStore::kFlushedOneByOne, 0, false, kNo, kAtFlush},
                                                                                 {PieceStore::kFlushedOneByOne + 1, 0, false, kNo, kAtFlush},
                                                                                 {3, 0, true, kNo, kAtFlush},
                                                                                 {PieceStore::kFlushedOneByOne + 1, 0, true, kNo, kAtFlush},
                                                                                 {0, 2, false, kFromFirst, kAtFlush},
                                                                                 {3, 2, false, kFromFirst, kAtFlush},
                                                                                 {many, 0, false, kFromFirst, kAtFlush},
                                                                                 {many, 0, false, kFromMiddle, kAtFlush},
                                                                                 {many + 1, 0, false, kFromFirst, kAtFlush},
                                                                                 {many + 1, 0, false, kFromMiddle, kAtFlush},
                                                                                 {3, 0, true, kFromFirst, kAtFlush}}) {
        const std::string row = std::to_string(written) + " written, " + std::to_string(found) + " found"
            + (flushFails ? ", flushes fail" : "") + (beside == kFromFirst ? ", beside" : beside == kFromMiddle ? ", beside from the middle" : "")
            + (folderBeside == kAfterAll ? ", folder beside" : folderBeside == kBeforeLast ? ", folder beside before the last" : "");
        const std::string folder = "store" + std::to_string(written) + "-" + std::to_string(found) + "-"
            + std::to_string(flushFails) + "-" + std::to_string(beside) + "-" + std::to_string(folderBeside);
        const int fd = ::open(tree.folder(folder).c_str(), O_RDONLY | O_DIRECTORY);
        PieceStore before(fd, tree.path(folder), files);
        for (std::size_t i = 0; i < found; ++i)
            before.put(kMark + "found " + std::to_string(i));
        files.filesFlushed.clear();
        files.fileSystemsFlushed = 0;
        files.flushFails = flushFails;
        files.flushesCounted = beside != kNo;
        PieceStore store(fd, tree.path(folder), files);
        if (beside == kFromFirst)
            store.flushBeside();
        std::multiset<ino_t> expected;
        for (std::size_t i = 0; i < found; ++i)
            store.put(kMark + "found " + std::to_string(i));
        for (std::size_t i = 0; i < written; ++i) {
            if (beside == kFromMiddle && i == written / 2)
                store.flushBeside();
            if (folderBeside == kBeforeLast && i + 1 == written) {
                store.flushFolderBeside();
                expected.insert(inodeOf(folder));
            }
            expected.insert(inodeOf(folder + "/" + store.put(kMark + "written " + std::to_string(i))));
        }
        expected.insert(inodeOf(folder));
        if (folderBeside == kAfterAll) {
            // Flushed beside before flush() is asked for.
            store.flushFolderBeside();
            for (int wait = 0; wait < 1000; ++wait) {
                {
                    std::lock_guard<std::mutex> hold(files.lock);
                    if (files.filesFlushed.count(inodeOf(folder)))
                        break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            std::lock_guard<std::mutex> hold(files.lock);
            EXPECT_EQ(files.filesFlushed.count(inodeOf(folder)), 1u) << row;
        }
        const std::size_t oneByOne = beside == kNo ? PieceStore::kFlushedOneByOne : PieceStore::kFlushedBeside;
        EXPECT_EQ(store.flush(), !flushFails) << row;
        EXPECT_EQ(store.error().empty(), !flushFails) << row;
        if (flushFails) {
            // No flush starts after one failed; beside, those already in flight end.
            const std::size_t flushes = files.filesFlushed.size() + files.fileSystemsFlushed;
            EXPECT_GE(flushes, 1u) << row;
            EXPECT_LE(flushes, beside == kNo ? 1u : PieceStore::kFlushingThreads) << row;
        } else if (written == 0) {
            EXPECT_TRUE(files.filesFlushed.empty() && files.fileSystemsFlushed == 0) << row;
        } else if (written <= oneByOne) {
            EXPECT_EQ(files.filesFlushed, expected) << row;
            EXPECT_EQ(files.fileSystemsFlushed, 0) << row;
        } else {
            // Those flushed beside before the store knew they were many may be any.
            if (beside == kNo) {
                EXPECT_TRUE(files.filesFlushed.empty()) << row;
            }
            EXPECT_EQ(files.filesFlushed.count(inodeOf(folder)), 0u) << row;
            EXPECT_EQ(files.fileSystemsFlushed, 1) << row;
        }
        ::close(fd);
    }
}

TEST_F(PieceStoreTest, OnlyMarkedPiecesOfOursThatNothingNamesAreRemoved)
{
    // One thread, and four sharing out dropped pieces enough for all of them.
    for (const unsigned threads : {1u, 4u}) {
        const std::string folder = "removed" + std::to_string(threads);
        const int fd = ::open(tree.folder(folder).c_str(), O_RDONLY | O_DIRECTORY);
        PieceStore pieces(fd, tree.path(folder), files);
        const std::string kept = pieces.put(kMark + "kept");
        for (int i = 0; i < 40; ++i)
            pieces.put(kMark + "dropped " + std::to_string(i));
        tree.write(folder + "/" + pieceName("unmarked"), "unmarked");
        tree.write(folder + "/notapiece.js", kMark);
        ::symlink(tree.path(folder + "/" + kept).c_str(), tree.path(folder + "/" + pieceName("link")).c_str());
        pieces.removeAllBut({kept}, threads);
        std::vector<std::string> left = {kept, pieceName("unmarked"), "notapiece.js", pieceName("link")};
        std::sort(left.begin(), left.end());
        EXPECT_EQ(folderEntries(tree.path(folder)), left) << threads;
        EXPECT_EQ(readFile(tree.path(folder + "/" + kept)), kMark + "kept") << threads;
        ::close(fd);
    }
}

// The entry of a page text of a third of a group's floor: three fill a group to it.
std::string pageEntry(const std::string& text)
{
    return "{\"text\":\"" + text + std::string(TextGroups::kGroupFloor / 3, ' ') + "\",\"sections\":[]}";
}

// Groups of texts as TextGroups writes them: the names, in order, for entries.
std::vector<std::string> groupsOf(PieceStore& store, const std::vector<std::string>& entries,
                                  std::vector<std::pair<std::int32_t, std::int32_t>>* places = nullptr)
{
    TextGroups groups(store);
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_TRUE(groups.add(static_cast<std::int32_t>(i), entries[i]));
    EXPECT_TRUE(groups.finish());
    if (places)
        *places = groups.places();
    return groups.groups();
}

// Groups end where FNV-1a (32 bits) of an entry is 0 modulo 4; the facts keep that
// value, worked out eight bytes at a time. Every length up to three words, each byte
// value in each place, and texts of every kind must give what the byte chain gives.
TEST(TextGroupEnds, AreFnv1aOfTheEntryModuloFour)
{
    auto chain = [](std::string_view bytes) {
        std::uint32_t hash = 2166136261u;
        for (char c : bytes) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 16777619u;
        }
        return hash % TextGroups::kGroupPages;
    };
    std::vector<std::string> entries = {"", "{\"text\":\"\",\"sections\":[]}", "Gr\xC3\xBC\xC3\x9F", std::string(1, '\0')};
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::size_t length = 0; length <= 25; ++length)
        for (int round = 0; round < 40; ++round) {
            std::string bytes(length, '\0');
            for (char& c : bytes) {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                c = static_cast<char>(state >> 56);
            }
            entries.push_back(bytes);
        }
    for (int value = 0; value < 256; ++value)
        for (std::size_t at = 0; at < 9; ++at) {
            std::string bytes(9, 'a');
            bytes[at] = static_cast<char>(value);
            entries.push_back(bytes);
        }
    for (const std::string& entry : entries)
        ASSERT_EQ(TextGroups::factsOf(entry).end, chain(entry)) << testing::PrintToString(entry);
}

TEST_F(PieceStoreTest, ShortTextsShareAFileUpToTheFloorAndNoGroupPassesItsBytesByMoreThanAText)
{
    // Tiny texts, texts of a third of the floor, and texts of nearly the most a group holds.
    for (const std::size_t length : {std::size_t(0), TextGroups::kGroupFloor / 3, TextGroups::kGroupBytes - 64}) {
        SCOPED_TRACE(length);
        std::vector<std::string> entries;
        for (int i = 0; i < 400; ++i)
            entries.push_back("{\"text\":\"page " + std::to_string(i) + std::string(length, ' ') + "\",\"sections\":[]}");
        const std::vector<std::string> names = groupsOf(store, entries);
        std::size_t texts = 0;
        for (std::size_t g = 0; g < names.size(); ++g) {
            const std::string group = readFile(tree.path("store/" + names[g]));
            const std::size_t count = static_cast<std::size_t>(std::count(group.begin(), group.end(), '\n')) - 1;
            texts += count;
            if (g + 1 < names.size()) {
                EXPECT_GE(group.size(), TextGroups::kGroupFloor) << g;
            }
            EXPECT_LT(group.size(), TextGroups::kGroupBytes + entries[0].size() + 64) << g;
            if (length >= TextGroups::kGroupBytes / 2) {
                EXPECT_EQ(count, 1u) << g;
            }
        }
        EXPECT_EQ(texts, entries.size());
    }
}

TEST_F(PieceStoreTest, AChangedAddedOrRemovedPageChangesAtMostTwoGroups)
{
    std::vector<std::string> entries;
    for (int i = 0; i < 400; ++i)
        entries.push_back(pageEntry("page " + std::to_string(i)));
    std::vector<std::pair<std::int32_t, std::int32_t>> places;
    const std::vector<std::string> before = groupsOf(store, entries, &places);
    // At least three texts fill a group to its floor, and one in kGroupPages ends it then.
    EXPECT_GT(before.size(), 400u / (3 + TextGroups::kGroupPages * 2));
    EXPECT_LT(before.size(), 400u / 3);
    // Every entry stands where its place says.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string group = readFile(tree.path("store/" + before[places[i].first]));
        std::size_t at = group.find('[') + 1;
        for (int k = 0; k < places[i].second; ++k)
            at = group.find(",\n", at) + 2;
        EXPECT_EQ(group.compare(at, entries[i].size(), entries[i]), 0) << i;
    }
    const std::set<std::string> old(before.begin(), before.end());
    // A page taken away may leave no new group at all (when it was a group of its own).
    const struct {
        const char* what;
        std::size_t fewest;
        std::function<void(std::vector<std::string>&)> change;
    } cases[] = {
        {"changed", 1, [](std::vector<std::string>& e) { e[200] = pageEntry("changed"); }},
        {"added", 1, [](std::vector<std::string>& e) { e.insert(e.begin() + 200, pageEntry("new")); }},
        {"removed", 0, [](std::vector<std::string>& e) { e.erase(e.begin() + 200); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> changed = entries;
        c.change(changed);
        std::size_t added = 0;
        for (const std::string& name : groupsOf(store, changed))
            added += !old.count(name);
        EXPECT_GE(added, c.fewest);
        EXPECT_LE(added, 2u);
    }
}

TEST_F(PieceStoreTest, GroupsOfTheLastJobAreNamedWithoutReadingTheirTexts)
{
    std::vector<std::string> entries;
    for (int i = 0; i < 400; ++i)
        entries.push_back(pageEntry("page " + std::to_string(i)));
    TextGroups first(store);
    for (std::size_t i = 0; i < entries.size(); ++i)
        ASSERT_TRUE(first.add(static_cast<std::int32_t>(i), entries[i]));
    ASSERT_TRUE(first.finish());
    const std::vector<TextGroups::Written> written = first.written();
    // A job that knows the unchanged texts by their facts alone loads them only for the
    // groups it must write again; its groups are those of a job given every text.
    const struct {
        const char* what;
        std::size_t fewestLoads, mostLoads;
        std::function<void(std::vector<std::string>&)> change;
    } cases[] = {
        {"nothing changed", 0, 0, [](std::vector<std::string>&) {}},
        {"a text changed", 0, 12, [](std::vector<std::string>& e) { e[200] = "{\"text\":\"changed\",\"sections\":[]}"; }},
        {"a piece written again since", 1, 40,
         [&](std::vector<std::string>&) {
             const std::string path = tree.path("store/" + written[10].name);
             const std::string bytes = readFile(path);
             ::unlink(path.c_str());
             std::ofstream(path) << bytes;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> changed = entries;
        c.change(changed);
        std::size_t loads = 0;
        TextGroups again(store);
        again.reuseFrom(written);
        for (std::size_t i = 0; i < changed.size(); ++i) {
            const auto document = static_cast<std::int32_t>(i);
            if (changed[i] != entries[i])
                ASSERT_TRUE(again.add(document, changed[i]));
            else
                ASSERT_TRUE(again.add(document, TextGroups::factsOf(entries[i]), [&loads, &entries, i](std::string& entry) {
                    ++loads;
                    entry = entries[i];
                    return true;
                }));
        }
        ASSERT_TRUE(again.finish());
        EXPECT_EQ(again.groups(), groupsOf(store, changed));
        EXPECT_GE(loads, c.fewestLoads);
        EXPECT_LE(loads, c.mostLoads);
    }
}

// pageCount pages, each on common, from the last to the first.
std::vector<DocumentEntry> siteOfACommonKey(std::int32_t pageCount, std::vector<std::int32_t>& common)
{
    std::vector<DocumentEntry> documents;
    for (std::int32_t d = 0; d < pageCount; ++d) {
        documents.push_back({"T", "p" + std::to_string(d) + ".html", "01-01-2026"});
        common.push_back(pageCount - 1 - d);
    }
    return documents;
}

// The keys "also", "common" and "commons" on the pages given each.
WordIndex keysOf(const std::vector<std::int32_t>& also, const std::vector<std::int32_t>& common,
                 const std::vector<std::int32_t>& commons, std::string_view alsoKey = "also")
{
    WordIndex keys;
    keys.appendWord(alsoKey, also.data(), also.data() + also.size());
    keys.appendWord("common", common.data(), common.data() + common.size());
    keys.appendWord("commons", commons.data(), commons.data() + commons.size());
    return keys;
}

TEST_F(PieceStoreTest, AShardWritesItsKeysPagesAsDecimalNumbers)
{
    // Each number of digits, at both ends, with zeros inside.
    const std::vector<std::int32_t> pages = {0,     9,      10,     99,     100,    105,     999,     1000,    1005,
                                             9999,  10000,  10050,  99999,  100000, 100005,  999999,  1000000,
                                             2147483647};
    WordIndex keys;
    keys.appendWord("word", pages.data(), pages.data() + pages.size());
    const std::vector<DocumentEntry> documents = {{"T", "p.html", "01-01-2026"}};
    PieceStore into(folder, tree.path("store"), files);
    const std::string head = readFile(tree.path("store/" + TermsText::putPieces(documents, keys, {}, {}, into, "\"docs\":[]")));
    const std::size_t at = head.find("[\"word\",\"") + 9;
    const std::string shard = readFile(tree.path("store/" + head.substr(at, head.find('"', at) - at)));
    std::string expected = "[\"word\"";
    for (const std::int32_t page : pages)
        expected += "," + std::to_string(page);
    EXPECT_NE(shard.find(expected + "]"), std::string::npos) << shard;
}

TEST_F(PieceStoreTest, ACommonKeysShardHasItsBestPagesBeside)
{
    // "common" is on every page, best first from the last, and in the title of page 0
    // (its last) and the file name of the page it lists first; it ends the shard that
    // "also" (on two pages) begins. "commons", of its stem group, is in the title of page
    // 1 and the file name of page 2; "rare", outside the group, in the title of page 4;
    // "commonplace", no key but a word "common" begins, in the title of page 5.
    // "commons" and "rare", on two pages each, make the next shard: too few pages for a
    // best piece.
    const std::int32_t pageCount = 5000;
    std::vector<std::int32_t> common, rare = {3, 9};
    std::vector<DocumentEntry> documents = siteOfACommonKey(pageCount, common);
    PlaceWords::Table table;
    table["common"].titles.push_back({0, 2});
    table["common"].names.push_back({pageCount - 1, 1, 1});
    table["commons"].titles.push_back({1, 2});
    table["commons"].names.push_back({2, 1, 1});
    table["rare"].titles.push_back({4, 2});
    table["commonplace"].titles.push_back({5, 2});
    // Summaries of "common" on every page but page 7, of "also" on page 3.
    for (std::int32_t d = 0; d < pageCount; ++d)
        if (d != 7)
            table["common"].summaries.push_back(d);
    table["also"].summaries = {3};
    std::vector<TermsText::StemOfKey> stems = {{"common", 1}, {"common", 2}};
    TermsText::Places places{1, [&](const PlaceWords::KeyFilter&, bool) -> const PlaceWords::Table& { return table; },
                             [&] { return table; }};
    auto put = [&](PieceStore& into) {
        WordIndex keys;
        keys.appendWord("also", rare.data(), rare.data() + rare.size());
        keys.appendWord("common", common.data(), common.data() + common.size());
        keys.appendWord("commons", rare.data(), rare.data() + rare.size());
        keys.appendWord("rare", rare.data(), rare.data() + rare.size());
        return TermsText::putPieces(documents, keys, {}, {}, into, "\"docs\":[]", &places, nullptr, stems);
    };
    const std::string headName = put(store);
    ASSERT_NE(headName, "");
    const std::string head = readFile(tree.path("store/" + headName));
    const std::size_t at = head.find("[\"also\",\"");
    ASSERT_NE(at, std::string::npos) << head;
    const std::string entry = head.substr(at, head.find(']', at) + 1 - at);
    // ["also","SHARD.js",2,"BEST.js"]: the best piece named fourth.
    ASSERT_EQ(entry.size(), std::string("[\"also\",\"\",2,\"\"]").size() + 2 * (PieceStore::kNameDigits + 3)) << entry;
    const std::string best = readFile(tree.path("store/" + entry.substr(entry.size() - 2 - PieceStore::kNameDigits - 3, PieceStore::kNameDigits + 3)));
    std::string pagesText;
    for (std::size_t r = 0; r < TermsText::kBest; ++r)
        pagesText += ',' + std::to_string(common[r]);
    // The pages past them whose title or file name holds a key of the group or a word the
    // key begins, each after the step from the place before (the first pages' end to
    // begin with), in list order; the page named by "common" is among the first. The
    // piece says it placed the words its key begins.
    EXPECT_NE(best.find("[\"also\",3,9],\n[\"common\"" + pagesText + "]],\n\"count\":" + std::to_string(pageCount) + ",\n\"placed\":[" +
                        std::to_string(pageCount - 5 - static_cast<std::int32_t>(TermsText::kBest)) + ",5,3,2,1,1,1,0],\n\"prefixed\":1,\n\"groups\""),
              std::string::npos)
        << best.substr(best.find("\"count\""), 200);
    // The key's summaries as the bits of a set of pages (shorter than their list: page d
    // the bit d % 8 of byte d / 8, in base64), the other keys' as lists.
    std::string bits = "f///";  // 0x7f 0xff 0xff: all but page 7
    for (std::int32_t d = 24; d + 24 <= pageCount; d += 24)
        bits += "////";
    EXPECT_NE(best.find("\"summaries\":[[\"also\",3],\n[\"common\"]],\n\"summaryBits\":\"" + bits + "/w==\"});"), std::string::npos)
        << best.substr(best.rfind("\"count\""), 200);
    const std::size_t rareAt = head.find("[\"commons\",\"");
    ASSERT_NE(rareAt, std::string::npos);
    EXPECT_EQ(head.find(']', rareAt) + 1 - rareAt, std::string("[\"commons\",\"\",2]").size() + PieceStore::kNameDigits + 3) << head;

    // A later job of the same keys takes the best piece it finds, and writes it again when
    // it was removed.
    const std::vector<PieceStore::Made> made = store.made();
    const std::string bestName = entry.substr(entry.size() - 2 - PieceStore::kNameDigits - 3, PieceStore::kNameDigits + 3);
    for (bool removed : {false, true}) {
        if (removed)
            ::unlink(tree.path("store/" + bestName).c_str());
        PieceStore again(folder, tree.path("store"), files);
        again.madeBefore(made);
        EXPECT_EQ(put(again), headName);
        EXPECT_EQ(readFile(tree.path("store/" + bestName)), best) << removed;
    }
    // A key that leaves the group changes what the piece places: it is not taken.
    stems.pop_back();
    PieceStore again(folder, tree.path("store"), files);
    again.madeBefore(made);
    const std::string changed = put(again);
    ASSERT_NE(changed, "");
    EXPECT_EQ(readFile(tree.path("store/" + changed)).find(bestName), std::string::npos);
}

TEST_F(PieceStoreTest, ABestPieceComposedAgainPlacesThePagesTheLastJobFoundForTheSameTitlesAndNames)
{
    // "common" is on every page, "commons" of its stem group in the title of page 1 and
    // the file name of page 2000: the best piece of "common" places them. "commons" is
    // in the next shard, on pages of its own.
    const std::int32_t pageCount = 5001;  // the last byte of the bits kept is not full
    std::vector<std::int32_t> common, few = {3, 9}, other = {4, 8};
    std::vector<DocumentEntry> documents = siteOfACommonKey(pageCount, common);
    PlaceWords::Table table;
    table["commons"].titles.push_back({1, 2});
    table["commons"].names.push_back({2000, 1, 1});
    int tablesAsked = 0;
    TermsText::Places places{1, [&](const PlaceWords::KeyFilter&, bool) -> const PlaceWords::Table& {
                                 ++tablesAsked;
                                 return table;
                             },
                             [&] { return table; }};
    const std::vector<TermsText::StemOfKey> stems = {{"common", 1}, {"common", 2}};
    std::vector<std::pair<std::uint64_t, std::string>> keptWork;
    std::vector<PieceStore::Made> made;
    // The best piece's text, from a job that takes the last job's work and pieces (or
    // neither).
    auto bestOf = [&](bool withWork) {
        const WordIndex keys = keysOf(few, common, other);
        TermsText::KeptWork work;
        work.takeEarlier(keptWork);
        tablesAsked = 0;
        PieceStore into(folder, tree.path("store"), files);
        if (withWork)  // else every piece is composed, none taken by its inputs
            into.madeBefore(made);
        const std::string headName =
            TermsText::putPieces(documents, keys, {}, {}, into, "\"docs\":[]", &places, withWork ? &work : nullptr, stems);
        if (withWork) {
            keptWork = std::move(work.kept);
            made = into.made();
        }
        const std::string head = readFile(tree.path("store/" + headName));
        const std::size_t at = head.find("[\"also\",\"");
        const std::string entry = head.substr(at, head.find(']', at) + 1 - at);
        return readFile(tree.path("store/" + entry.substr(entry.size() - 2 - PieceStore::kNameDigits - 3, PieceStore::kNameDigits + 3)));
    };
    const std::string first = bestOf(true);
    const std::size_t placedAt = first.find("\"placed\":[");
    ASSERT_EQ(first.substr(placedAt, first.find(']', placedAt) + 1 - placedAt),
              "\"placed\":[" + std::to_string(pageCount - 2000 - TermsText::kBest) + ",2000,1999,1]");
    // Each case but the first drops a page from "common", so that its best piece is
    // composed again; asked: whether the table was made for it.
    const struct {
        const char* what;
        bool asked;
        std::function<void()> change;
    } cases[] = {
        {"another shard's key, the best piece taken as it stands", false, [&] { other = {5, 8}; }},
        {"the titles and names as they were", false, [] {}},
        {"a title changed", true,
         [&] {
             table["commons"].titles = {{1, 2}, {1500, 2}};
             places.inputs = 2;
         }},
        // Kept work is taken only in its shape: a bit for each page, none past the last,
        // then a byte of 0 or 1 (whether the words the key begins were placed).
        {"kept pages past the last page", true,
         [&] {
             for (auto& done : keptWork)
                 if (done.second.size() == (pageCount + 7) / 8 + 1)
                     done.second[done.second.size() - 2] = '\xfe';
         }},
        {"kept pages cut short", true,
         [&] {
             for (auto& done : keptWork)
                 if (done.second.size() == (pageCount + 7) / 8 + 1)
                     done.second.pop_back();
         }},
        {"kept pages with a last byte neither 0 nor 1", true,
         [&] {
             for (auto& done : keptWork)
                 if (done.second.size() == (pageCount + 7) / 8 + 1)
                     done.second.back() = '\2';
         }},
    };
    for (std::size_t c = 0; c < std::size(cases); ++c) {
        SCOPED_TRACE(cases[c].what);
        cases[c].change();
        if (c > 0)
            common.erase(common.begin() + static_cast<std::ptrdiff_t>(c));
        const std::string best = bestOf(true);
        EXPECT_EQ(tablesAsked > 0, cases[c].asked);
        EXPECT_EQ(best, bestOf(false));
    }
}

TEST_F(PieceStoreTest, BestAndVocabularyPiecesAreComposedAgainOnlyWhereTheirBytesChange)
{
    // "also" (two pages) and "common" (every page, best first from the last) make a shard,
    // "commons" (of its stem group, in the title of page 1 and the file name of page
    // 2000, which "common" lists past its first kBest) the next.
    const std::int32_t pageCount = 5001;
    std::vector<std::int32_t> common, few = {3, 9}, other = {4, 8};
    std::vector<DocumentEntry> documents = siteOfACommonKey(pageCount, common);
    std::string alsoKey = "also";
    PlaceWords::Table table;
    table["commons"].titles.push_back({1, 2});
    table["commons"].names.push_back({2000, 1, 1});
    TermsText::Places places{1, [&](const PlaceWords::KeyFilter&, bool) -> const PlaceWords::Table& { return table; },
                             [&] { return table; }};
    const std::vector<TermsText::StemOfKey> stems = {{"common", 1}, {"common", 2}};
    std::vector<std::pair<std::uint64_t, std::string>> keptWork;
    std::vector<PieceStore::Made> made;
    struct Pieces {
        std::string best, vocabulary;                 // their bytes
        std::uint64_t bestMade = 0, vocabularyMade = 0;  // the inputs they were made or taken by
    };
    // A job that takes the last job's work and pieces, or one that knows neither.
    auto put = [&](bool withWork) {
        const WordIndex keys = keysOf(few, common, other, alsoKey);
        TermsText::KeptWork work;
        work.takeEarlier(keptWork);
        PieceStore into(folder, tree.path("store"), files);
        if (withWork)
            into.madeBefore(made);
        const std::string head = readFile(tree.path(
            "store/" + TermsText::putPieces(documents, keys, {}, {}, into, "\"docs\":[]", &places, withWork ? &work : nullptr, stems)));
        const auto nameAfter = [&](const std::string& lead) {
            const std::size_t at = head.find(lead);
            return at == std::string::npos ? std::string() : head.substr(at + lead.size(), PieceStore::kNameDigits + 3);
        };
        const std::string alsoEntry = "[\"" + alsoKey + "\",\"" + nameAfter("[\"" + alsoKey + "\",\"") + "\",2,\"";
        const std::string bestName = nameAfter(alsoEntry), vocabularyName = nameAfter("\"vocabulary\":[[\"");
        Pieces pieces{readFile(tree.path("store/" + bestName)), readFile(tree.path("store/" + vocabularyName))};
        for (const PieceStore::Made& piece : into.made()) {
            pieces.bestMade = piece.name == bestName ? piece.inputs : pieces.bestMade;
            pieces.vocabularyMade = piece.name == vocabularyName ? piece.inputs : pieces.vocabularyMade;
        }
        if (withWork) {
            keptWork = std::move(work.kept);
            made = into.made();
        }
        return pieces;
    };
    // The first job finds no placed pages kept: its best piece is named by its shard's
    // inputs. The next (another shard's key changed, so that the pieces are not taken
    // whole) names it by what it shows.
    put(true);
    other = {5, 8};
    Pieces last = put(true);
    ASSERT_NE(last.best.find("\"placed\":["), std::string::npos);
    ASSERT_NE(last.vocabulary.find("vantrelKeys("), std::string::npos);
    // Each case changes the pages of a key; taken: whether each piece is the last job's,
    // taken by the same inputs (else composed).
    const struct {
        const char* what;
        bool bestTaken, vocabularyTaken;
        std::function<void()> change;
    } cases[] = {
        {"common's pages past its first, no placed page among them", true, true,
         [&] { std::swap(common[2500], common[2501]); }},
        {"a placed page moved past common's first pages", false, true, [&] { std::swap(common[3000], common[3001]); }},
        {"common's first pages", false, true, [&] { std::swap(common[0], common[1]); }},
        {"common's last page dropped", false, false, [&] { common.pop_back(); }},
        {"also's pages, as many", false, true, [&] { few = {3, 10}; }},
        {"also's word, of the same length, on the same pages", false, false, [&] { alsoKey = "alsp"; }},
        {"commons, of the next shard and vocabulary piece, on a page fewer", true, true, [&] { other = {4}; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        const Pieces edited = put(true), fresh = put(false);
        EXPECT_EQ(edited.best, fresh.best);
        EXPECT_EQ(edited.vocabulary, fresh.vocabulary);
        EXPECT_EQ(edited.bestMade == last.bestMade, c.bestTaken);
        EXPECT_EQ(edited.vocabularyMade == last.vocabularyMade, c.vocabularyTaken);
        last = edited;
    }
}

TEST_F(PieceStoreTest, WordPiecesOfTheLastJobAreTakenWhereTheirInputsStay)
{
    // Keys enough for many shards and vocabulary pieces; key k is on pages k % 50 and
    // (k + 1) % 50, and "stem\0key" pairs group every tenth key with the next.
    std::vector<std::string> words;
    std::vector<std::vector<std::int32_t>> pages;
    for (int k = 0; k < 6000; ++k) {
        char word[16];
        std::snprintf(word, sizeof word, "k%05d", k);
        words.emplace_back(word);
        pages.push_back({k % 50, (k + 1) % 50});
    }
    WordTable<char> stemmed;
    for (int k = 0; k + 1 < 6000; k += 10) {
        stemmed.findOrInsert(words[k] + std::string(1, '\0') + words[k]);
        stemmed.findOrInsert(words[k] + std::string(1, '\0') + words[k + 1]);
    }
    std::vector<DocumentEntry> documents;
    for (int d = 0; d < 50; ++d)
        documents.push_back({"PAGE " + std::to_string(d), "p" + std::to_string(d) + ".html", "01-01-2026"});
    PlaceWords::Table table;
    table["k00007"].titles.push_back({3, 2});
    table["k04000"].summaries.push_back(5);
    int tablesAsked = 0;
    TermsText::Places places{1, [&](const PlaceWords::KeyFilter&, bool) -> const PlaceWords::Table& {
                                 ++tablesAsked;
                                 return table;
                             },
                             [&] { return table; }};
    // The work a job hands on (the runs inside the words of each vocabulary piece, the
    // places of each shard, the title and file-name words), taken back by the next job
    // that knows the earlier pieces; a job that knows none hands on nothing.
    std::vector<std::pair<std::uint64_t, std::string>> keptWork;
    auto put = [&](PieceStore& into, const std::vector<PieceStore::Made>* before) {
        WordIndex keys;
        for (std::size_t k = 0; k < words.size(); ++k)
            keys.appendWord(words[k], pages[k].data(), pages[k].data() + pages[k].size());
        TermsText::KeptWork work;
        if (before) {
            into.madeBefore(*before);
            work.takeEarlier(keptWork);
        }
        tablesAsked = 0;
        // A job that knows the earlier pieces works out the runs inside words and the
        // in-word, gram and near pieces on a second thread, one that knows none on its own.
        const std::string head = TermsText::putPieces(documents, keys, stemmed, {}, into, "\"docs\":[]", &places, &work,
                                                      {}, {}, nullptr, before ? 2 : 1);
        if (before)
            keptWork = std::move(work.kept);
        return head;
    };
    const std::vector<PieceStore::Made> made0;
    // Damages the bytes of everything kept.
    auto damageKeptWork = [&](const std::function<void(std::string&)>& damage) {
        for (auto& done : keptWork)
            damage(done.second);
    };
    ASSERT_NE(put(store, &made0), "");
    std::vector<PieceStore::Made> made = store.made();
    ASSERT_FALSE(keptWork.empty());
    ASSERT_GT(made.size(), 8u);

    // written: pieces written anew at most (the head among them, and the link, near and
    // run pieces, never made from inputs: a key whose count changes changes its near
    // piece; a key added changes the in-word pieces of the runs no other key holds);
    // asked: whether the places were cut (not when only keys changed: the last job's
    // places of each shard's range are taken); whole: whether the pieces are all taken
    // by their stamps, the head alone put (when nothing but the documents changed).
    const auto removeFirst = [this](const std::string& call) {
        for (const std::string& name : folderEntries(tree.path("store")))
            if (readFile(tree.path("store/" + name)).find(call) != std::string::npos) {
                ::unlink(tree.path("store/" + name).c_str());
                break;
            }
    };
    const struct {
        const char* what;
        std::size_t written;
        bool asked;
        std::function<void()> change;
        bool whole = false;
    } cases[] = {
        {"nothing changed", 0, false, [] {}, true},
        {"a page's date", 1, false, [&] { documents[7].date = "02-01-2026"; }, true},
        {"a page's date again", 1, false, [&] { documents[7].date = "03-01-2026"; }, true},
        {"a near piece removed from the folder", 1, false, [&] { removeFirst("vantrelNear("); }},
        // Its text was left to compose where the store is, as the last job made it.
        {"an in-word piece removed from the folder", 1, false, [&] { removeFirst("vantrelInWord("); }},
        {"one key's pages", 4, false, [&] { pages[3000] = {7}; }},
        {"a key added", 7, false,
         [&] {
             words.insert(words.begin() + 4501, "k04500a");
             pages.insert(pages.begin() + 4501, {1});
         }},
        {"a title or summary", 1000, true, [&] { places.inputs = 2; }},
        // Words that are no keys change the runs inside the words of their vocabulary piece.
        {"a file-name word added", 1000, true,
         [&] {
             table["k02500zyxw"].names.push_back({4, 1, 1});
             places.inputs = 3;
         }},
        {"a title word gone", 1000, true,
         [&] {
             table.erase("k00007");
             places.inputs = 4;
         }},
        // Kept work is taken only in its shape: ascending lists, texts of their lengths.
        {"kept work cut short, a key's pages", 4, true,
         [&] {
             pages[3001] = {8};
             damageKeptWork([](std::string& bytes) {
                 if (!bytes.empty())
                     bytes.pop_back();
             });
         }},
        {"kept work twice over, a key's pages", 4, true,
         [&] {
             pages[3002] = {9};
             damageKeptWork([](std::string& bytes) { bytes += bytes; });
         }},
        {"a shard removed from the folder", 2, true,
         [&] { ::unlink(tree.path("store/" + made[2].name).c_str()); }},
        {"a shard altered in the folder", 2, true,
         [&] {
             const std::string path = tree.path("store/" + made[1].name);
             std::string bytes = readFile(path);
             bytes[bytes.size() / 2] ^= 1;
             ::unlink(path.c_str());
             std::ofstream(path) << bytes;
         }},
        {"the vocabulary's piece removed", 2, true,
         [&] {
             for (const PieceStore::Made& piece : made)
                 if (readFile(tree.path("store/" + piece.name)).find("vantrelKeys(") != std::string::npos) {
                     ::unlink(tree.path("store/" + piece.name).c_str());
                     break;
                 }
         }},
    };
    for (std::size_t c = 0; c < std::size(cases); ++c) {
        SCOPED_TRACE(cases[c].what);
        cases[c].change();
        files.writes = 0;
        files.opened = 0;
        const auto workBefore = keptWork;
        PieceStore again(folder, tree.path("store"), files);
        const std::string head = put(again, &made);
        EXPECT_LE(static_cast<std::size_t>(files.writes), cases[c].written);
        EXPECT_EQ(tablesAsked > 0, cases[c].asked);
        if (cases[c].whole) {
            EXPECT_LE(files.opened, 1) << "pieces read besides the head";
            // Handed on as the last job kept it, in its order: the cache's file of it stays.
            EXPECT_EQ(keptWork, workBefore);
        }
        // Byte for byte what a job that knows no earlier piece puts into the same folder:
        // it finds every piece in place.
        files.writes = 0;
        PieceStore whole(folder, tree.path("store"), files);
        EXPECT_EQ(put(whole, nullptr), head);
        EXPECT_EQ(files.writes, 0);
        made = again.made();
    }
}

TEST_F(PieceStoreTest, AnEntryIsReadBackFromItsGroupOnlyWhileTheGroupHoldsItsBytes)
{
    std::vector<std::string> entries;
    for (int i = 0; i < 40; ++i)
        entries.push_back("{\"text\":\"page " + std::to_string(i) + std::string(static_cast<std::size_t>(i) * 97, 'x') + "\",\"sections\":[]}");
    TextGroups written(store), taken(store);
    for (std::size_t i = 0; i < entries.size(); ++i)
        ASSERT_TRUE(written.add(static_cast<std::int32_t>(i), entries[i]));
    ASSERT_TRUE(written.finish());
    // A later job that takes every group as it stands finds each entry where it was.
    taken.reuseFrom(written.written());
    for (std::size_t i = 0; i < entries.size(); ++i)
        ASSERT_TRUE(taken.add(static_cast<std::int32_t>(i), TextGroups::factsOf(entries[i]), [](std::string&) { return false; }));
    ASSERT_TRUE(taken.finish());
    for (const TextGroups* groups : {&written, &taken})
        for (std::size_t i = 0; i < entries.size(); ++i) {
            std::string entry;
            const TextGroups::Location where = groups->locate(static_cast<std::int32_t>(i));
            EXPECT_TRUE(TextGroups::readEntry(store, where, TextGroups::factsOf(entries[i]), entry)) << i;
            EXPECT_EQ(entry, entries[i]);
        }
    const TextGroups::Location where = written.locate(30);
    const std::string path = tree.path("store/" + where.group);
    const std::string bytes = readFile(path);
    const struct {
        const char* change;
        std::function<void(TextGroups::Location&)> make;
    } cases[] = {
        {"a byte of the entry changed", [&](TextGroups::Location& at) { tree.write("store/" + at.group, std::string(bytes).replace(at.offset + 12, 1, "y")); }},
        {"the group cut within the entry", [&](TextGroups::Location& at) { ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(at.offset + entries[30].size() - 10)), 0); }},
        {"the group removed", [&](TextGroups::Location&) { ::unlink(path.c_str()); }},
        {"a link to a copy", [&](TextGroups::Location&) {
             tree.write("copy", bytes);
             ::unlink(path.c_str());
             ASSERT_EQ(::symlink(tree.path("copy").c_str(), path.c_str()), 0);
         }},
        {"a pipe", [&](TextGroups::Location&) {
             ::unlink(path.c_str());
             ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
         }},
        {"an offset beyond the group", [](TextGroups::Location& at) { at.offset = ~std::uint64_t(0) - 8; }},
        {"a name that is not a piece's", [](TextGroups::Location& at) { at.group = "../copy"; }},
    };
    for (const auto& c : cases) {
        ::unlink(path.c_str());
        tree.write("store/" + where.group, bytes);
        TextGroups::Location at = where;
        c.make(at);
        std::string entry;
        EXPECT_FALSE(TextGroups::readEntry(store, at, TextGroups::factsOf(entries[30]), entry)) << c.change;
    }
}

}  // namespace
