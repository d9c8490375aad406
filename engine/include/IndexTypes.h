#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// Which parts of a page are indexed. Stored as one byte; values 4 to 255 index nothing.
enum class ContentMode : std::uint8_t {
    Keywords = 0,               // content of META keywords tags
    KeywordsTitles = 1,         // ... plus the text after TITLE tags
    KeywordsTitlesHeaders = 2,  // ... plus the text after TITLE and H1 to H9 tags
    AllContent = 3,             // ... plus the text after every tag
};

// How a page's location is written. Values 3 to 255 behave as FullPath.
enum class PathMode : std::uint8_t {
    FullPath = 0,
    RelativePath = 1,
    UrlPrefix = 2,
};

// Which matcher runs the patterns over a page.
enum class PatternMatcher : std::uint8_t {
    Scanner,       // the hand-written scanners: linear, never give up
    RegexLibrary,  // Boost.Regex, the reference
};

// Why a page or a folder of the source tree was left out of a job.
enum class LeftOutBy : std::uint8_t {
    Nothing,
    IgnoreFile,     // a pattern of the source folder's .vantrelignore
    ExcludeOption,  // an --exclude pattern
    Noindex,        // the page asks robots not to index it (<meta name="robots" content="noindex">)
};

// What a job left out, and why. Folders left out are not entered: their pages are not counted.
struct LeftOutCounts {
    std::size_t pagesByIgnoreFile = 0;
    std::size_t foldersByIgnoreFile = 0;
    std::size_t pagesByExclude = 0;
    std::size_t foldersByExclude = 0;
    std::size_t pagesNoindex = 0;

    void count(LeftOutBy by, bool folder)
    {
        if (by == LeftOutBy::IgnoreFile)
            ++(folder ? foldersByIgnoreFile : pagesByIgnoreFile);
        else if (by == LeftOutBy::ExcludeOption)
            ++(folder ? foldersByExclude : pagesByExclude);
        else if (by == LeftOutBy::Noindex)
            ++pagesNoindex;
    }
    bool any() const
    {
        return pagesByIgnoreFile || foldersByIgnoreFile || pagesByExclude || foldersByExclude || pagesNoindex;
    }
};

// One indexed page. Its position in the document table is its document index.
struct DocumentEntry {
    std::string title;     // upper-cased and escaped for a JavaScript string literal
    std::string location;  // link text by path mode (escaped only when written out)
    std::string date;      // "dd-MM-yyyy" of the UTC modification time, or empty

    bool operator==(const DocumentEntry& other) const
    {
        return title == other.title && location == other.location && date == other.date;
    }
};

// The counters of one word on one page, by the place where it stood. 64-bit so that
// no page, however large, can overflow them.
struct WordCounts {
    std::int64_t keywordOrTitle = 0;  // META keywords content, text after a TITLE tag
    std::int64_t other = 0;           // text after any other tag
    std::int64_t h1 = 0;
    std::int64_t h2 = 0;
    std::int64_t h3 = 0;
    std::int64_t link = 0;  // text of links outside headings: the companion word index only
};

// A stop request as a job sees it: the engine's own flag, or the flag of the run that
// asked for the job, which the job never clears, so a stop that comes before the job
// starts is not lost.
class StopSignal {
public:
    explicit StopSignal(const std::atomic<bool>& engineFlag, const std::atomic<bool>* runFlag = nullptr)
        : m_engineFlag(engineFlag), m_runFlag(runFlag)
    {
    }

    bool requested() const
    {
        return m_engineFlag.load(std::memory_order_relaxed)
            || (m_runFlag && m_runFlag->load(std::memory_order_relaxed));
    }

private:
    const std::atomic<bool>& m_engineFlag;
    const std::atomic<bool>* m_runFlag;
};
