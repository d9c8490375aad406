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
            text += "Search page: " + printableText(job.destinationFolder) + "/search.html\n";
        break;
    case JobResult::Stopped:
        text = formatted("Indexing interrupted: %s in %.2f s. The old index is kept.\n", made, seconds);
        break;
    case JobResult::NotWritten:
    case JobResult::Refused: break;  // said on standard error
    }
    if (const std::string leftOut = leftOutSummary(outcome.leftOut); !leftOut.empty())
        text += leftOut + "\n";
    if (outcome.pagesOutside)
        text += counted(outcome.pagesOutside, "page or folder outside the source folder was skipped",
                        "pages or folders outside the source folder were skipped")
              + (job.followOutside ? "." : " (links that lead out; --follow-outside follows them).") + "\n";
    if (outcome.pagesOwnerMayNot)
        text += counted(outcome.pagesOwnerMayNot, "page that the source folder's owner may not read was",
                        "pages that the source folder's owner may not read were")
              + " not published.\n";
    if (outcome.textsCut)
        text += counted(outcome.textsCut, "page text was", "page texts were")
              + " cut to keep the output within bounds.\n";
    if (outcome.pagesWordsLeftOut)
        text += counted(outcome.pagesWordsLeftOut, "page reached again through links was listed without its words",
                        "pages reached again through links were listed without their words")
              + ", to keep the output within bounds.\n";
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
    return "Warning: with --plain, result links are relative to " + printableText(job.destinationFolder)
         + ", where the search page is, not to " + printableText(job.sourceFolder)
         + ": they open no page there. Index into the source folder itself, leave --plain out, or give "
           "--path full or --path url.";
}
