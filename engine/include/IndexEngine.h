#pragma once

#include "IndexTypes.h"
#include "ProgressLog.h"
#include "WordCounting.h"
#include "WordDictionary.h"
#include "WordIndex.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CompanionData;
class ExcludeRules;
class FileHandle;
class FileSystem;
class FolderWalker;
class PageCache;
class StagedFile;
struct CachedPage;
struct CachedTables;
struct PageFileKey;
class TermDictionary;
struct PageItem;
struct PageResult;
namespace PlaceWords {
struct Page;
}

// Everything one indexing job needs and produces: its settings, its stop flag, its
// progress log and its three tables. One per process (instance()); tests may make their
// own. Front ends run a job through runIndexJob() (IndexJob.h).
class IndexEngine {
public:
    IndexEngine();
    virtual ~IndexEngine();
    IndexEngine(const IndexEngine&) = delete;
    IndexEngine& operator=(const IndexEngine&) = delete;

    // The single engine, made on first use (thread-safe).
    static IndexEngine& instance();

    // Empties documents, wordIndex and dictionary; settings, stop flag and log stay.
    void resetTables();

    // The whole job: clear the stop flag, reset, walk, rank, write both index files.
    // True when the index was written completely; false when stopped, when a file could
    // not be written (its line says which) or when the job failed (failure says why).
    bool buildIndex();

    // Records every page of the tree below folder, in walk order, parsing pages on
    // threadCount threads.
    void walkFolder(const std::string& folder);

    // The page's title, upper-cased and escaped, "" for an empty title element, or
    // "Document has no name". Reports a page that opens but cannot be read.
    std::string readTitle(const std::string& path);

    // The words of one page by the indexing option, with its "Parsing"/"Done!" lines.
    PageWords parseDocument(const std::string& path);

    // Enters a page's words, with their weights, under its document index.
    void addPageWords(std::int32_t documentIndex, const PageWords& pageWords);

    // Builds wordIndex from dictionary; false when stopped.
    bool rankPostings();

    // Writes the text of indexed_words.js, from the ranked tables, to file (begun);
    // false when stopped or when the file failed (its error() says why). With the cache,
    // the lines of a range of words that stayed as the last job left it are taken from
    // the file it wrote, while that is still the file written and they have their
    // checksum.
    bool writeWordsText(StagedFile& file);
    // The bytes of that text gathered before they go to the file.
    static constexpr std::size_t kWordsPart = std::size_t(1) << 16;

    // The text of indexed_docs.js.
    void composeDocsText(std::string& text);

    // Tables.
    std::vector<DocumentEntry> documents;
    WordIndex wordIndex;
    WordDictionary dictionary;

    // Settings of a job, assigned by the caller before buildIndex().
    std::string destinationFolder;
    std::string sourceFolder;
    ContentMode contentMode = ContentMode::Keywords;
    PathMode pathMode = PathMode::RelativePath;
    std::string urlPrefix;
    std::atomic<bool> stopRequested{false};
    ProgressLog* progressLog = nullptr;

    // Pages parsed at once; 0 means one per processor. Results are the same for any value.
    unsigned threadCount = 0;
    PatternMatcher patternMatcher = PatternMatcher::Scanner;
    // Also walk pages and folders that links lead to outside the source folder; without
    // it they are skipped.
    bool followOutside = false;
    // Every file-system call of a job goes through it; null: the operating system's.
    FileSystem* fileSystem = nullptr;
    // Also write what the search page shows of each page: its real title, a summary,
    // its text and its sections (indexed_pages.js and indexed_text/), and the word index
    // of every script in pieces there.
    bool companionData = false;
    // With companionData, also write that word index whole (indexed_terms.js), for the
    // checks that compare the page's search over it with the search over the pieces;
    // without it an indexed_terms.js of ours left by an earlier job is removed.
    bool wholeWordIndex = false;
    // Past this many pages the head of that word index has a small top beside it.
    std::size_t topFrom = 16384;
    // The language of every page for that word index, as a language tag; "" to take each
    // page's declared language, else the one its text is detected to be in.
    std::string language;
    // The cache of what each page gave, for this destination (see PageCache::folderFor());
    // "" for none. Pages that have not changed since the job that wrote it are not read
    // (and not parsed when only their stamps changed: their bytes are compared), and only
    // the words of the pages that changed are ranked again; the files written are the
    // same byte for byte.
    std::string cacheFolder;
    // Globs of pages and folders to leave out besides those of the source folder's
    // ignore file (.vantrelignore), in its syntax without "!" (see ExcludeRules.h).
    std::vector<std::string> excludePatterns;
    // The process ends with the job (a command line's single run): what the job built
    // is not freed piece by piece but left to the process's end, reachable from the
    // engine (which is never destroyed). Its threads are joined and its files closed as
    // ever. Off for a front end that runs many jobs in one process.
    bool leaveMemoryToExit = false;
    // The stop flag of the run that asked for the job; buildIndex() never clears it.
    const std::atomic<bool>* runStopRequested = nullptr;

    // What the last job saw besides its tables.
    std::size_t pagesOutside = 0;      // pages and folders outside the source, skipped
    std::size_t pagesOwnerMayNot = 0;  // pages the source folder's owner may not read, not read
    std::size_t textsCut = 0;          // page texts cut to the bytes their page may cost
    std::size_t pagesWordsLeftOut = 0; // later documents of a file reached again, listed without words
    LeftOutCounts leftOut;             // pages and folders left out, by why

    // What the later documents of a file reached again (links, hard links) may add to the
    // bytes of the pages read once before they are listed without words: half the bytes
    // read once, plus this.
    static constexpr std::int64_t kRepeatedBytes = 1 << 20;
    std::string failure;               // why the job failed, when no line says it
    std::size_t pagesRead = 0;         // pages read and parsed (not taken from the cache)
    std::size_t wordsIndexed = 0;      // words in indexed_words.js (also when it stood as it was)
    bool outputKept = false;           // nothing changed: the files in place were left as they stood
    std::string cacheProblem;          // why the cache could not be used or kept ("" when it was)

private:
    // repeatOf: the earlier document of the same file whose title and summary stand for it.
    void recordPage(const PageItem& page, PageResult& result, std::int32_t repeatOf = -1);
    FileSystem& files() const;
    std::string locationOf(const std::string& pagePath) const;
    // Why one of the two files could not be written.
    struct FileFailure {
        ProgressKind kind = ProgressKind::WordsFileFailed;
        std::string path, reason;
    };
    bool writeIndexFiles(FileFailure& failure);
    // The two files and the companion data; written: whether the two files are in place.
    void writeOutput(bool& written);
    void companionFailed();
    // Composes the companion data and puts it in place once indexWritten() says that the
    // two files are.
    void finishCompanion(const std::function<bool()>& indexWritten);
    // The keys of the word index ranked, with their stem pairs and English plural pairs;
    // false when stop was requested first.
    struct RankedKeys;
    bool rankKeys(const StopSignal& stop, RankedKeys& ranked);
    // With a thread to spare, starts ranking the keys beside the job's own work (the
    // design's two files, the document pieces), which finishCompanion() then waits for.
    void startRankingKeys();
    struct KeysBeside;
    std::unique_ptr<KeysBeside> m_keysBeside;    // from the walk's end to finishCompanion()
    // The word index in pieces, with the titles, file names and summaries its shards hold;
    // the head's name, or "" when a piece could not be written; a large site's top
    // (TermsText::putPieces()) goes to wordsTop, and the entries of its lists of shards to
    // wordsTopLists.
    // placesInputs: CompanionData::placeInputs() of the documents, whose placePages() are
    // gathered only when a piece needs them.
    std::string putWordPieces(const RankedKeys& ranked, std::uint64_t placesInputs, std::string_view documentsField,
                              std::string& wordsTop, std::string& wordsTopLists);
    unsigned threadsToUse() const;
    void report(ProgressKind kind, const std::string& path = {}, const std::string& reason = {});
    StopSignal stopSignal() const { return StopSignal(stopRequested, runStopRequested); }

    std::string m_startFolder;  // the working folder when the job started, for full paths
    std::unique_ptr<CompanionData> m_companion;  // during a job with companionData
    std::unique_ptr<TermDictionary> m_terms;     // its word index
    struct CacheUse;
    std::unique_ptr<CacheUse> m_cache;           // during a job with a cacheFolder
    struct StartedWalk;
    std::unique_ptr<StartedWalk> m_walk;         // from before the cache is opened to the walk's end
    // Starts walking folder ahead of the recorder, which walkFolder() takes it from.
    void startWalk(const std::string& folder);
    // Joins the job's threads and lets go of what it built (or, leaveMemoryToExit,
    // closes its files and keeps it in m_leftToExit).
    void endJob();
    std::vector<std::shared_ptr<void>> m_leftToExit;
    std::unique_ptr<CachedTables> m_tables;      // the ranked tables of the job
    std::vector<bool> m_englishDocuments;        // documents whose keys group as English
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_wordLines;  // of indexed_words.js: CachedJob::wordLines
    void openCache();
    void saveCache();
    // Whether the ranked tables are the last job's as the cache holds them: no page gave
    // words anew and every document that gave words kept its number.
    bool tablesAsBefore() const;
    // Sets where each page the cache keeps finds its text in the output written.
    void placeCachedTexts();
    void startCacheUse();
    bool outputStands();
    // A checksum of the documents' entries, which indexed_docs.js is written from alone:
    // the same for the same file, without the file composed.
    std::uint64_t documentsChecksum() const;
    std::vector<std::pair<std::string, std::string>> writtenFileStamps();
    // A file of the destination that the last job wrote, open, while it has the stamp that
    // job left it with (else none), and its size.
    FileHandle openOwnFile(const std::string& name, std::uint64_t& size);
    // The cache's entry of a page known by its status as listed, without opening it (its
    // key set), or null when the page must be opened and judged by its descriptor.
    const CachedPage* listedHit(const PageItem& page, const FolderWalker& walker, bool withTexts, PageFileKey& key) const;
    std::unique_ptr<ExcludeRules> m_excludeRules;  // of the job in hand
};
