#pragma once

#include "IndexTypes.h"
#include "ProgressLog.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Everything a front end chooses for one job.
struct JobSettings {
    std::string sourceFolder;       // as typed; relative texts against the working folder
    std::string destinationFolder;  // as typed
    ContentMode contentMode = ContentMode::Keywords;
    PathMode pathMode = PathMode::RelativePath;
    std::string urlPrefix;
    unsigned threadCount = 0;  // 0: one per processor
    PatternMatcher patternMatcher = PatternMatcher::Scanner;
    bool followOutside = false; // also walk pages and folders that links lead to outside the source
    bool overwrite = false;    // replace files of the same names that the program did not write
    bool companionData = true; // also write real titles, summaries, page texts and the word index for the page
    std::string language;      // the language of every page for the word index ("": each page's own)
    bool wholeWordIndex = false; // also write the word index whole (indexed_terms.js), for the checks
    std::size_t topFrom = 16384; // past this many pages the word index's head has a top (CompanionData)
    // The cache of what each page gave ("" for none; PageCache::folderFor() names the
    // user's for a destination): unchanged pages are not read again.
    std::string cacheFolder;
    // Globs of pages and folders to leave out, after the source folder's .vantrelignore
    // (see ExcludeRules.h).
    std::vector<std::string> excludes;
    // The process ends with this job: its memory is left to the process's end rather than
    // freed piece by piece (IndexEngine::leaveMemoryToExit).
    bool leaveMemoryToExit = false;
};

// The user's cache folder for a destination: under $XDG_CACHE_HOME (else ~/.cache),
// vantrelindexer/ and a name drawn from the destination's real path; "" when there is none.
std::string defaultCacheFolder(const std::string& destinationFolder);

// How a job ended.
enum class JobResult {
    Complete,    // the index and the search page are written
    Stopped,     // a stop request ended it; the old index stays
    NotWritten,  // an index file could not be written, or the job failed; the old index stays
    Refused,     // the destination holds files of the site's own that it may not replace, or
                 // a folder the program would write into that is not its own, or the
                 // ignore file or --exclude cannot be used (failure says why)
};

struct JobOutcome {
    JobResult result = JobResult::NotWritten;
    std::size_t pages = 0;
    std::size_t words = 0;
    std::size_t pagesOutside = 0;      // pages and folders outside the source, skipped
    std::size_t pagesOwnerMayNot = 0;  // pages the source folder's owner may not read, not published
    std::size_t textsCut = 0;          // page texts cut to keep the output within bounds
    std::size_t pagesWordsLeftOut = 0; // documents of a file reached again, listed without words
    std::size_t pagesRead = 0;         // pages read and parsed; the others came from the cache
    std::string cacheProblem;          // why the cache was not used or kept ("" when it was)
    LeftOutCounts leftOut;             // pages and folders left out, by why
    std::string failure;           // NotWritten: which file could not be written and why;
                                   // Refused by the exclude rules: what is wrong with them
    std::vector<std::string> outputFailures;  // search-page or companion files not written: "PATH: reason"
};

// The checks of the folder and option pages, in their order. The text of a problem is
// the message the user sees; None has none.
enum class SettingsProblem { None, Destination, Source, UrlPrefix };
std::string problemMessage(SettingsProblem problem);

// Whether text names a folder that exists and may be entered.
bool canEnterFolder(const std::string& folder);

// Checks destination, source and URL prefix. With createDestination, a destination that
// does not exist yet passes when it could be made.
SettingsProblem checkSettings(const JobSettings& settings, bool createDestination = false);

// Why the source folder's ignore file or the --exclude globs of settings cannot be used,
// naming the file or glob; "" when they can (or there are none). A job refuses to run
// with them.
std::string excludeProblem(const JobSettings& settings);

// What a job left out and why, as one sentence ("Left out: 3 pages and 1 folder by
// .vantrelignore, 2 pages marked noindex."); "" when it left nothing out.
std::string leftOutSummary(const LeftOutCounts& counts);

// Makes folder and the folders above it that are missing; true when it can be entered.
bool createFolders(const std::string& folder);

// The files in the destination that the job would replace but that the program did not
// write (a site's own search.html, say), as paths.
std::vector<std::string> foreignFiles(const JobSettings& settings);

// The folders in the destination that the job would write into but may not, each as
// "PATH: why" (a folder of page texts the program did not make, or that others may
// write). They are never used, not even with settings.overwrite.
std::vector<std::string> foreignFolders(const JobSettings& settings);

// Runs a whole job on the single engine: builds the index, copies the search-page files
// and reports the final line. Every event goes to log, in order. The job stops at its
// next safe point once stop is set, also when stop was set before the job began. Files
// of the site's own are replaced only with settings.overwrite.
JobOutcome runIndexJob(const JobSettings& settings, ProgressLog& log, const std::atomic<bool>& stop);

// Text as it may be shown or logged, in valid UTF-8 that neither drives a terminal nor
// reorders or breaks a line: bytes below 0x20, 0x7F and bytes that are not UTF-8 (a raw
// C1 byte among them) written as \xHH; the C1 controls U+0080 to U+009F, the line and
// paragraph separators and the bidirectional controls (U+061C, U+200E, U+200F, U+202A
// to U+202E, U+2066 to U+2069) as \u{XXXX}. Every front end shows names through it.
std::string printableText(std::string_view text);
