// What the command line says once a job is over, and the one warning it gives before a
// job whose links cannot work.

#include "Summary.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
std::string formatted(const char* format, const std::string& counts, double seconds)
{
    char text[256];
    std::snprintf(text, sizeof text, format, counts.c_str(), seconds);
    return text;
}

// The folder's path with every link resolved, or the text as given when it has none.
std::string realFolder(const std::string& folder)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : folder;
}
}  // namespace

std::string counted(std::size_t count, const std::string& one, const std::string& many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string jobSummary(const JobSettings& job, const JobOutcome& outcome, double seconds, std::size_t unreadable)
{
    const std::string made = counted(outcome.pages, "page", "pages") + ", " + counted(outcome.words, "word", "words");
    std::string text;
    switch (outcome.result) {
    case JobResult::Complete:
        text = formatted("Indexing complete: %s in %.2f s.\n", made, seconds);
        if (outcome.words == 0)
            text += job.contentMode == ContentMode::Keywords
                        ? "No words were indexed: none of the pages has META keywords. --content titles, headers or "
                          "all indexes more.\n"
                        : "No words were indexed.\n";
        if (outcome.outputFailures.empty())
            text += "Search page: " + printablePath(job.destinationFolder) + "/search.html\n";
        break;
    case JobResult::Stopped:
        text = formatted("Indexing interrupted: %s in %.2f s. The old index is kept.\n", made, seconds);
        break;
    case JobResult::NotWritten:
    case JobResult::Refused: break;  // said on standard error
    }
    if (outcome.pagesOutside)
        text += counted(outcome.pagesOutside, "page or folder outside the source folder was skipped.",
                        "pages or folders outside the source folder were skipped.")
              + "\n";
    if (unreadable)
        text += counted(unreadable, "page", "pages") + " could not be read whole; --verbose lists "
              + (unreadable == 1 ? "it" : "them") + ".\n";
    return text;
}

std::string plainLinksWarning(const JobSettings& job)
{
    if (job.companionData || job.pathMode != PathMode::RelativePath
        || realFolder(job.sourceFolder) == realFolder(job.destinationFolder))
        return {};
    return "Warning: with --plain, result links are relative to " + printablePath(job.destinationFolder)
         + ", where the search page is, not to " + printablePath(job.sourceFolder)
         + ": they open no page there. Index into the source folder itself, leave --plain out, or give "
           "--path full or --path url.";
}
