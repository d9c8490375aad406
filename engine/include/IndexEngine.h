#pragma once

#include "IndexTypes.h"
#include "ProgressLog.h"
#include "WordCounting.h"
#include "WordDictionary.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class PageText;
struct PageItem;

// For each word in byte order, its documents best first. Flat, so a site with millions
// of postings costs three vectors.
class WordIndex {
public:
    std::size_t size() const { return m_words.size(); }
    bool empty() const { return m_words.empty(); }
    std::string_view word(std::size_t i) const { return m_words[i]; }
    // The documents of word i, in ranked order.
    const std::int32_t* documentsBegin(std::size_t i) const { return m_documents.data() + m_starts[i]; }
    const std::int32_t* documentsEnd(std::size_t i) const
    {
        return m_documents.data() + (i + 1 < m_starts.size() ? m_starts[i + 1] : m_documents.size());
    }

    void reserve(std::size_t words, std::size_t documents);
    void startWord(std::string_view word);
    void appendDocument(std::int32_t document) { m_documents.push_back(document); }
    // Adds the words of other after the last word.
    void append(const WordIndex& other);
    void clear();

private:
    std::vector<std::string_view> m_words;  // views of the dictionary's words
    std::vector<std::size_t> m_starts;
    std::vector<std::int32_t> m_documents;
};

// Which matcher runs the patterns over a page.
enum class PatternMatcher : std::uint8_t {
    Scanner,       // the hand-written scanners: linear, never give up
    RegexLibrary,  // Boost.Regex, the reference
};

// Everything one indexing job needs and produces. One per process (instance()); tests
// may make their own.
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

    // The whole job: reset, walk, rank, write both index files. True when the index was
    // written completely; false when stopped or a file could not be written.
    bool buildIndex();

    // Records every page of the tree below folder, in walk order.
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

    // The text of indexed_words.js; false when stopped.
    bool composeWordsText(std::string& text);

    // The text of indexed_docs.js.
    void composeDocsText(std::string& text);

    // Writes text to destinationFolder + fileName through a temporary file renamed into
    // place; on any failure appends failureLine, leaves the old file and returns false.
    bool writeIndexFile(const std::string& fileName, const std::string& text,
                        const std::string& failureLine);

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

private:
    struct PageResult;
    PageResult analysePage(const std::string& path) const;
    void recordPage(const PageItem& page, PageResult& result);
    std::string locationOf(const std::string& pagePath) const;
    bool buildTables();
    unsigned threadsToUse() const;
    bool writeIndexFiles();
    void appendLine(const std::string& line);
    bool stopping() const { return stopRequested.load(std::memory_order_relaxed); }
};


// The date of a modification time as "dd-MM-yyyy" in UTC, or "" outside years 1 to 9999.
std::string formatPageDate(std::int64_t secondsSinceEpoch);

// Escapes a title for a JavaScript string: backslash and quote escaped, line breaks
// turned into blanks.
std::string escapeTitle(std::string_view title);

// Escapes a location for a JavaScript string: backslash and quote escaped, line feed
// and carriage return as \n and \r.
std::string escapeLocation(std::string_view location);
