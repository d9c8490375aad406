#pragma once

#include "IndexTypes.h"
#include "ProgressLog.h"

#include <atomic>
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
    bool stayInside = false;   // skip pages and folders whose real path lies outside the source
    bool overwrite = false;    // replace files of the same names that the program did not write
    bool companionData = true; // also write real titles, summaries, page texts and the word index for the page
    std::string language;      // the language of every page for the word index ("": each page's own)
};

// How a job ended.
enum class JobResult {
    Complete,    // the index and the search page are written
    Stopped,     // a stop request ended it; the old index stays
    NotWritten,  // an index file could not be written, or the job failed; the old index stays
    Refused,     // the destination holds files of the site's own that it may not replace
};

struct JobOutcome {
    JobResult result = JobResult::NotWritten;
    std::size_t pages = 0;
    std::size_t words = 0;
    std::size_t pagesOutside = 0;  // skipped with stayInside
    std::string failure;           // NotWritten: which file could not be written and why
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

// Makes folder and the folders above it that are missing; true when it can be entered.
bool createFolders(const std::string& folder);

// The files in the destination that the job would replace but that the program did not
// write (a site's own search.html, say), as paths.
std::vector<std::string> foreignFiles(const JobSettings& settings);

// Runs a whole job on the single engine: builds the index, copies the search-page files
// and reports the final line. Every event goes to log, in order. The job stops at its
// next safe point once stop is set, also when stop was set before the job began. Files
// of the site's own are replaced only with settings.overwrite.
JobOutcome runIndexJob(const JobSettings& settings, ProgressLog& log, const std::atomic<bool>& stop);

// A path as it may be shown or logged: every byte below 0x20 and 0x7F written as \xHH,
// so that no name can move the cursor, recolour a terminal or start a line of its own.
std::string printablePath(std::string_view path);
