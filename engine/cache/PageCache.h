#pragma once

#include "FileSystem.h"
#include "FlatIndex.h"
#include "PieceStore.h"
#include "RankedWords.h"
#include "TextGroups.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>
#include <sys/stat.h>

// A page file as its open descriptor tells it: what must all stay the same for the page
// to count as unchanged. Times in nanoseconds; the change time catches a file whose
// modification time was set back.
struct PageFileKey {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;
    std::int64_t changed = 0;

    bool operator==(const PageFileKey& other) const
    {
        return device == other.device && inode == other.inode && size == other.size && modified == other.modified
            && changed == other.changed;
    }
    bool operator!=(const PageFileKey& other) const { return !(*this == other); }
    // The same file, whatever its size and times.
    bool sameFile(const PageFileKey& other) const { return device == other.device && inode == other.inode; }
};
PageFileKey pageFileKey(const struct stat& info);

// A text of a cached page: a view of the cache's bytes as they were read (its index, or
// the block of page records in a pack, which the cache keeps mapped while it stands), or
// a text of its own.
class CachedText {
public:
    CachedText() = default;
    // A text of its own, as a job's own entries have (implicit: they are made from strings).
    CachedText(std::string text) : m_own(std::move(text)) {}
    static CachedText viewOf(std::string_view bytes)
    {
        CachedText text;
        text.m_view = bytes;
        text.m_owned = false;
        return text;
    }
    CachedText& operator=(std::string text)
    {
        m_own = std::move(text);
        m_owned = true;
        return *this;
    }
    // Makes it a view of bytes that outlive it (as viewOf()), in place.
    void setView(std::string_view bytes)
    {
        m_view = bytes;
        m_owned = false;
    }
    std::string_view view() const { return m_owned ? std::string_view(m_own) : m_view; }
    operator std::string_view() const { return view(); }

private:
    std::string m_own;
    std::string_view m_view;
    bool m_owned = true;
};

// Where a page's text stands in the last output (TextGroups::Location): its group's piece,
// as a view of the record read where it was read from, and the entry's offset there.
struct CachedTextPlace {
    CachedText group;  // "" when none
    std::uint64_t offset = 0;

    CachedTextPlace() = default;
    CachedTextPlace(TextGroups::Location place) : group(std::move(place.group)), offset(place.offset) {}
    TextGroups::Location location() const { return {std::string(group.view()), offset}; }
};

// What reading a page gave, kept so that an unchanged page is not read again: its title,
// what a reader sees of it, and where its words, keys and text lie (its body).
struct CachedPage {
    PageFileKey key;
    std::uint64_t contentHash = 0;  // of the page's bytes as read
    // Changed within the time stamps' granularity of the job that read it: its key may
    // not tell a later change, so its bytes are compared before it is trusted.
    bool racy = false;
    bool tooComplex = false;
    bool englishPlurals = false;
    std::int32_t linkShare = 0;
    std::uint64_t textBytes = 0;
    CachedText title;         // upper-cased and escaped, as indexed_docs.js has it
    CachedText contentTitle;  // the title element as a reader sees it ("" when none)
    CachedText summary;
    CachedText language;
    // The facts of its text's entry (length 0: none kept), so that a group of texts that
    // stays needs no text read; whether the text was cut; and the group of the job's
    // output that holds the entry, from which a group written anew takes it back (checked
    // against the facts' checksum; "" when it is in none).
    TextGroups::EntryFacts textFacts;
    bool textCut = false;
    CachedTextPlace textPlace;
    // The body: in segment file number `segment`, at offset, its length and checksum.
    std::uint32_t segment = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint64_t checksum = 0;
};

// One document of the job that wrote the cache, in document order.
struct CachedDocument {
    CachedText path;           // as the walk joined it (a view of its block read, for the last job's)
    std::int32_t page = -1;    // its entry in pages(), or -1 when it was not read
    bool wordsEntered = false; // its words are in the tables
};

// The tables of the job that wrote the cache, ranked.
struct CachedTables {
    RankedWords words;      // indexed_words.js
    RankedWords keys;       // the keys of indexed_terms.js, in UTF-16 order
    RankedWords stemPairs;  // "stem\0key" of each page, with the pages that gave it
    std::vector<double> keyLengths;  // each document's uses of keys, by document index (kept in the index)
};

// Work a job did to compose its pieces, each result by the checksum of its inputs (the
// runs inside the words of each vocabulary piece: TermsText::KeptWork), taken back by the
// next job for the same inputs.
using KeptWork = std::vector<std::pair<std::uint64_t, std::string>>;
// The last job's work as the cache holds it: views of its files' bytes.
using KeptWorkViews = std::vector<std::pair<std::uint64_t, std::string_view>>;

// What else the job that wrote the cache left: its groups of page texts and what it
// wrote, so that a job over an unchanged site can tell that the output in place is its
// own and leave it as it stands.
struct CachedJob {
    std::vector<TextGroups::Written> textGroups;
    std::uint64_t documentsChecksum = 0;  // of the entries indexed_docs.js is written from
    std::string base;                     // of relative locations, in indexed_pages.js
    bool wholeWordIndex = false;          // indexed_terms.js was written
    std::uint64_t words = 0;              // in indexed_words.js
    // Each file written, by its path in the destination, with its stamp then (device,
    // inode, size, modification and change times).
    std::vector<std::pair<std::string, std::string>> files;
    // The lines of indexed_words.js, by range of the words table in order: their length
    // and checksum (the text of a range that stays is then found in the file written).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> wordLines;
    // The pieces of the store made by checksums of their inputs (word shards, vocabulary
    // and document pieces), which the next job takes as they stand for the same inputs.
    std::vector<PieceStore::Made> pieces;

    bool operator==(const CachedJob& other) const
    {
        return textGroups == other.textGroups && documentsChecksum == other.documentsChecksum && base == other.base
            && wholeWordIndex == other.wholeWordIndex && words == other.words && files == other.files
            && wordLines == other.wordLines && pieces == other.pieces;
    }
    bool operator!=(const CachedJob& other) const { return !(*this == other); }
};

// The cache of one destination: what each page gave and the tables of the last job, in
// a folder private to the user (see folderFor()). It is only ever a shortcut: a file
// that is missing, of another version or build, written with other settings, cut or
// damaged is thrown away whole and the job reads every page, as it would without it;
// a cache that cannot be written costs the next job its speed, nothing else.
//
// Files: "index" (a header with the format, the build and the settings, where each block
// of the pages' and of the documents' records lies, what the job wrote (compact: paths
// sharing their beginnings, stamps as their differences, pieces and groups of texts as
// the numbers of the files written), where each range of its tables lies and each page's
// length in keys, and a checksum of it all), mapped
// when read, written whole under a temporary name and renamed; the blocks of the pages'
// records (their titles, summaries, stamps and the places of their bodies and texts) and
// of the documents' (their paths and pages), the tables' ranges and the results of the
// work the job did to compose its pieces, each named by the checksum of its bytes, in
// pack files
// "ranges-N", one made by each job that writes any, holding only those it wrote (a range
// or result a job leaves as it stood stays where it lies, so an edit writes the few it
// changed; the index keeps each pack's stamp, which spares the next jobs the checksums of
// what it holds; a range changed here and there by a job is kept as its delta from the
// range it replaced); and segment files "segment-N" of page bodies, one made per job for the
// pages it read, each body with its own checksum. A segment or pack whose bytes are
// mostly no longer used has what is still used copied into the new one and is removed.
class PageCache {
public:
    // folder: this destination's cache folder; settings: every option that changes
    // what a page gives, as text.
    PageCache(std::string folder, std::string settings, FileSystem& fileSystem = FileSystem::real());
    ~PageCache();
    PageCache(const PageCache&) = delete;
    PageCache& operator=(const PageCache&) = delete;

    // The cache folder for a destination: $XDG_CACHE_HOME (an absolute path), else
    // $HOME/.cache, then vantrelindexer/ and a name drawn from the destination's real
    // path. "" when there is no home to put it in.
    static std::string folderFor(const std::string& destinationFolder);

    // Opens the folder (made 0700 when missing; refused when it is a link, not the
    // user's own, or others may enter it) and reads the last job's cache; what does not
    // match is dropped. False when the folder cannot be used at all (problem() says why).
    bool open();
    const std::string& problem() const { return m_problem; }

    const std::vector<CachedPage>& pages() const { return m_pages; }
    const std::vector<CachedDocument>& documents() const { return m_documents; }
    // What the last job wrote, as read (empty once save() put another job's in its place).
    const CachedJob& job() const { return m_job; }
    // Reads the tables of the last job: false when a range cannot be read or is not the
    // range the index names (then the cache must not be used). A range's bytes are run
    // through their checksum and its offsets and document numbers checked, unless its
    // pack still has the stamp it had when they were last known, long enough before
    // jobStart (nanoseconds, by the clock that stamps files) that a change since would
    // have moved it: then its counts alone are checked. Called before a job takes any
    // page from the cache, so that a damaged cache is found out before the walk, never
    // after it.
    bool loadTables(std::int64_t jobStart);
    // Drops what was read: the job goes on as if the cache had been empty.
    void forget();
    // How many of the files save() no longer needs it removes at once (removeFiles()).
    void setRemovalsAtOnce(unsigned removals) { m_removalsAtOnce = removals; }
    // Whether the index names tables of the last job.
    bool hasTables() const { return m_hasTables; }
    // The names of the ranges of the words table, in order.
    const std::vector<std::string>& wordPieces() const { return m_tableNames[0]; }
    const CachedTables& tables() const { return m_tables; }
    // The work the last job kept, as views of its packs (which the cache keeps mapped
    // while it stands): empty when there is none, or when a result is not the bytes the
    // index names (then the work is done again; nothing else depends on it). A result is
    // run through its checksum unless its pack was checked or is known by its stamp.
    const KeptWorkViews& keptWork();
    // The page entry of a file, or null.
    const CachedPage* find(const PageFileKey& key) const;
    // The body of a page, checked; false when it cannot be read or does not match.
    bool readBody(const CachedPage& page, std::string& body) const;

    // Adds the body of a page read by this job to the new segment and sets where it lies
    // in page. Safe from several threads. False when it cannot be written (the page is
    // then not kept).
    bool addBody(std::string_view body, CachedPage& page);

    // What saving new tables takes of their ranges, worked out from the tables and the
    // last job's ranges alone: each range's name (the checksum of its bytes, for one
    // written anew) and, for one written anew that the last job's range of the same first
    // word gives with a small change, that delta. Reads the cache without changing it, so
    // it may run on a thread of its own while the job goes on, until save() is called
    // (nothing else that changes the cache may be called meanwhile).
    struct TableRange {
        std::string name;
        std::string base;   // of a delta worked out here: the range it is of ("" when none)
        std::string delta;  // its bytes
        std::string deltaName;
    };
    struct NamedTables {
        const CachedTables* tables = nullptr;  // the tables they were worked out for
        std::vector<TableRange> ranges[3];     // words, keys, stem pairs
    };
    NamedTables nameTables(const CachedTables& tables) const;

    // Replaces the cache with the new job's: its pages (each body either added by this
    // job or one of the old cache's), documents, tables (null: the last job's stand) and
    // what it wrote, and the work it kept (null: the last job's stands, unread). Old
    // bodies in mostly unused segments are copied first; segments nothing uses any more
    // are removed. Nothing is written when nothing changed (but for the stamps of pieces
    // that this job checked whole and found old enough to be trusted from now on). named:
    // nameTables() of tables, when worked out beforehand (else, or when it is of other
    // tables, it is worked out here).
    bool save(std::vector<CachedPage> pages, std::vector<CachedDocument> documents, const CachedTables* tables,
              const CachedJob& job, const KeptWork* work = nullptr, const NamedTables* named = nullptr);

    // Does what the destructor must besides freeing memory: closes the cache's files and
    // removes a segment no save() named. Nothing else may be called after it.
    void closeFiles();

    // Whether a file stamped at the given times (nanoseconds) may change again without
    // its times telling, seen from a job that started at jobStart.
    static bool racyAt(const PageFileKey& key, std::int64_t jobStart);

private:
    bool openFolder();
    void load();
    // Reads the pages' records from their blocks (m_pageBlocks): false when a block cannot
    // be read, is not the bytes its name gives, or the blocks do not hold count pages.
    bool loadPages(std::uint64_t count);
    // Reads the documents' records from their blocks (m_documentBlocks), once the pages are
    // read: false as loadPages(), or when a document names no page read.
    bool loadDocuments(std::uint64_t count);
    // Maps the whole of the cache's file name when it is a regular file of this user's, of
    // at least least bytes and no larger than a piece may be: null when it cannot; info
    // set to its stat.
    std::shared_ptr<const char> mapOwnFile(const std::string& name, std::size_t least, struct stat& info) const;
    struct MappedPack;
    // A pack named by the index, mapped once: null when it cannot be. With learn, a pack
    // whose stamp is not the one recorded gets its stamp now, and learned its size when
    // that stamp is old enough to be trusted by the next job.
    MappedPack* mapPack(std::uint32_t number, bool learn, std::uint64_t& learned);
    struct RangePlace;
    // The bytes of a range or result where place puts them, in its pack (mapped as
    // mapPack() does, pack set to it): no data when the pack cannot be mapped or does not
    // hold them.
    std::string_view placedBytes(const RangePlace& place, bool learn, std::uint64_t& learned, const MappedPack*& pack);
    // The bytes place puts in pack: no data when there is no pack or it does not hold them.
    static std::string_view bytesIn(const MappedPack* pack, const RangePlace& place);
    bool openNewSegment();
    bool writeSegmentBuffer();
    int segmentDescriptor(std::uint32_t segment) const;
    void removeUnusedSegments(const std::vector<CachedPage>& pages);
    // The results of the kept work: their inputs and the names of their bytes ("" for none).
    using WorkNames = std::vector<std::pair<std::uint64_t, std::string>>;
    // Puts what the new index names and no pack holds (or only a pack mostly unused, or a
    // small one of no range, which then goes) into one new pack: the pages' blocks (their
    // bytes, with their names where known, else "": blockNames set to them), the tables' ranges (null: the last job's
    // stand) and the kept work's results (null: the last job's stand).
    // A range of the tables kept as its delta from another: their names, each placed.
    struct RangeDelta {
        std::string base;
        std::string delta;
    };
    using RangeDeltas = std::unordered_map<std::string, RangeDelta>;
    // Ranges written anew that their predecessors give with a small delta are put as that
    // delta (deltas: the new index's ranges kept so, by name).
    bool writePacks(const CachedTables* tables, const NamedTables* named, const KeptWork* work,
                    const std::vector<std::string_view>& blocks, std::vector<std::string>& blockNames,
                    std::vector<std::string> (&names)[3], WorkNames& workNames, RangeDeltas& deltas);
    // The bytes of a range or result of the last job's in a pack already mapped (no data
    // when it is not, or does not hold them): maps nothing, changes nothing.
    std::string_view mappedBytes(const std::string& name) const;
    // The range a delta gives, in memory of its own (known: its base and delta were taken
    // by their packs' stamps): false when either cannot be read or does not match.
    bool rangeOfDelta(const RangeDelta& delta, std::uint64_t& learned,
                      std::shared_ptr<const std::uint64_t[]>& block, std::size_t& size, bool& known);
    bool writePack(const std::vector<std::string_view>& ranges, std::uint32_t& pack);
    // Forgets the kept work, and where its results lie (a range's place stays).
    void dropWork();
    std::uint32_t newFileNumber(const char* prefix, std::uint32_t highest) const;

    std::string m_folder;
    std::string m_settings;
    FileSystem& m_fileSystem;
    unsigned m_removalsAtOnce = 1;
    int m_folderFd = -1;
    std::string m_problem;
    std::shared_ptr<const char> m_indexBytes;  // the index as mapped
    std::uint64_t m_indexSize = 0;
    std::vector<CachedPage> m_pages;
    // The blocks of the pages' records in the packs, in the pages' order: their names and
    // how many pages each holds.
    struct PageBlock {
        std::string name;
        std::uint32_t pages = 0;
    };
    // The bytes of each block (of pages' or documents' records), found and checked: false
    // when one cannot be read, is not the bytes its name gives, or cannot hold its count of
    // records of at least leastRecord bytes.
    bool blockBytes(const std::vector<PageBlock>& blocks, std::size_t leastRecord, std::vector<std::string_view>& bytes);
    std::vector<PageBlock> m_pageBlocks;
    // By index of pages(): 1 + the block that it begins, or 0 (empty once save() changed
    // the blocks).
    std::vector<std::uint32_t> m_blockOfPage;
    // The block of the last job's that pages from first on begin with, record for record
    // and cut where it was cut: null when there is none.
    const PageBlock* unchangedBlock(const std::vector<CachedPage>& pages, std::size_t first) const;
    // The blocks of the documents' records, in document order, as the pages' (pages: how
    // many documents each holds), and whether documents() are what they hold (not once
    // save() changed them).
    std::vector<PageBlock> m_documentBlocks;
    bool m_documentsInBlocks = false;
    bool m_pagesLost = false;  // the index named blocks that could not be read
    std::uint64_t m_learnedBytes = 0;  // of blocks checked whole in packs old enough to be trusted next time
    std::vector<CachedDocument> m_documents;
    CachedTables m_tables;
    CachedJob m_job;
    bool m_jobInPlace = true;  // m_job is what the index in place holds (not once save() wrote another)
    bool m_hasTables = false;                 // the index names tables
    std::vector<std::string> m_tableNames[3];  // their ranges' names: words, keys, stem pairs
    WorkNames m_workNames;  // the kept work's results, in their order
    KeptWorkViews m_work;
    bool m_workRead = false;
    // Where each range named lies: its pack, offset (a multiple of 8) and length.
    struct RangePlace {
        std::uint32_t pack = 0;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    std::unordered_map<std::string, RangePlace> m_rangePlaces;
    RangeDeltas m_rangeDeltas;  // the tables' ranges not placed whole, by name
    // Each pack's file when its ranges' bytes were last known to have the checksums in
    // their names, and whether that was within the stamps' granularity (then its stamp
    // does not vouch for them: they are checked again).
    struct PackStamp {
        PageFileKey key;
        bool racy = true;
    };
    std::map<std::uint32_t, PackStamp> m_packStamps;
    // The packs mapped by this cache: whether their stamp vouches for their bytes, or
    // every range and result the index names in them was run through its checksum.
    struct MappedPack {
        std::shared_ptr<const char> bytes;
        std::size_t size = 0;
        bool known = false;
        bool checked = false;
    };
    std::map<std::uint32_t, MappedPack> m_packs;
    std::vector<std::shared_ptr<const char>> m_retiredPacks;  // of packs gone, still viewed
    // Ranges checked whole by this job whose packs may be taken by their stamps from now
    // on: enough bytes of them that every later job would check again to be worth an
    // index written for them alone.
    bool m_stampsLearned = false;
    bool m_tablesLoaded = false;
    std::int64_t m_jobStart = 0;  // as loadTables() was given it
    FlatIndex m_byFile;  // pages() by file (device and inode): the first of each
    // The first of pages() whose file (device and inode) is key's, or -1.
    std::int32_t pageOfFile(const PageFileKey& key) const;
    mutable std::map<std::uint32_t, int> m_segments;  // open segment files by number
    std::uint32_t m_newSegment = 0;
    int m_newSegmentFd = -1;
    std::uint64_t m_newSegmentSize = 0;
    std::string m_newSegmentBuffer;  // its bodies not yet written
    bool m_newSegmentLost = false;   // a write failed: the bodies given to it are not kept
    mutable std::mutex m_mutex;
};
