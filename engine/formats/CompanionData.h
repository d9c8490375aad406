#pragma once

#include "FileSystem.h"
#include "IndexTypes.h"
#include "PageContent.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// The data the search page shows beside the two index files, written next to them:
//
//   indexed_pages.js            var pages={"format":1,"count":N,"check":"...","base":"...",
//                                          "text":"indexed_text/STAMP/","titles":[...],
//                                          "summaries":[...]};
//   indexed_text/STAMP/N.js     vantrelText(N,{"text":"...","sections":[[start,"anchor",
//                                          "heading"],...]});
//
// "check" ties the file to the indexed_docs.js it was written with (see
// documentsCheck()), "base" leads from the search page to the pages of relative
// locations. indexed_terms.js, the word index of every script (see TermsText.h), is
// put in place with indexed_pages.js. Each job writes its page texts into a new folder
// named by a random stamp, which only the new indexed_pages.js names; older folders go once it is in place. A text
// that has not changed since the last job is the same file under a second name. A file
// that stands for several documents (links, hard links) has its text written once; the
// others name it in "shared":{"N":FIRST,...}, which is left out when there are none.
//
// indexed_text must be the program's own: made by it (it holds the mark file
// .vantrelindexer), owned by the user who runs it and writable by nobody else. Only
// files and folders that carry the mark, or that this job made, are ever removed.
class CompanionData {
public:
    // The version of the format above; a search page refuses data of another.
    static constexpr int kFormat = 1;

    explicit CompanionData(std::string destinationFolder, FileSystem& fileSystem = FileSystem::real());
    ~CompanionData();
    CompanionData(const CompanionData&) = delete;
    CompanionData& operator=(const CompanionData&) = delete;

    // Why the folder of page texts in destinationFolder may not be used ("" when it is
    // missing or the program's own): it belongs to another user, others may write it,
    // or the program did not make it.
    static std::string textFolderProblem(const std::string& destinationFolder,
                                         FileSystem& fileSystem = FileSystem::real());

    // Makes the new folder for the page texts; false (error() says why) when it cannot.
    bool begin();

    // Writes the text and sections of document, cut to the bytes its page may cost:
    // kMaxPageTextBytes of text as written, and twice pageBytes (the page's own) for the
    // whole file. Safe to call from several threads.
    void writePageText(std::int32_t document, const PageContent& content, std::size_t pageBytes);

    // document shows the text written for first, an earlier document of the same file.
    void shareText(std::int32_t document, std::int32_t first);

    // Page texts cut so far to stay within their bytes.
    std::size_t textsCut() const { return m_textsCut; }

    // Keeps the title, summary and share of text in links of document, recorded in
    // document order.
    void recordPage(std::int32_t document, std::string title, std::string summary, int linkShare = 0);
    // document shows the title, summary and share of links recorded for first, an
    // earlier document of the same file.
    void recordRepeat(std::int32_t document, std::int32_t first);
    const std::vector<int>& linkShares() const { return m_linkShares; }

    // Puts indexed_terms.js (holding termsText) and indexed_pages.js in place for
    // documents and removes the page texts of earlier jobs. base: the way from the
    // destination to relative locations, URL-encoded.
    bool finish(const std::vector<DocumentEntry>& documents, const std::string& base, const std::string& termsText);

    // Removes this job's page texts (the job wrote no index); done when the object ends
    // unless finish() succeeded.
    void discard();

    // The path and the reason of the first failure.
    const std::string& failedPath() const { return m_failedPath; }
    const std::string& error() const { return m_error; }

private:
    void fail(const std::string& path, int error);
    int openPreviousFolder() const;
    void removeTextFolder(int parent, const std::string& name);

    FileSystem& m_fileSystem;
    std::string m_destination;
    int m_destinationFolder = -1;
    std::string m_stamp;
    int m_textFolder = -1;  // indexed_text
    int m_stampFolder = -1;  // indexed_text/STAMP
    int m_previousFolder = -1;  // the newest folder of an earlier job, or -1
    std::vector<std::string> m_titles;
    std::vector<std::string> m_summaries;
    std::vector<int> m_linkShares;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_shared;  // document, first
    std::atomic<std::size_t> m_textsCut{0};
    bool m_finished = false;
    std::mutex m_mutex;
    std::string m_failedPath;
    std::string m_error;
};

// A fingerprint of the documents table that the search page can compute from `docs`
// whatever charset it reads the file in: FNV-1a over the ASCII bytes of each location,
// a line feed, the date and a line feed, as eight hex digits.
std::string documentsCheck(const std::vector<DocumentEntry>& documents);

// The base of relative locations: the URL path from the destination folder to the
// source folder, by their real paths; "" when either cannot be resolved.
std::string pagesBase(const std::string& destinationFolder, const std::string& sourceFolder);

// The URL path that leads from the folder `from` to the folder `to` (real paths), each
// byte but unreserved ones and "/" %-encoded, ending in "/"; "" for the same folder.
std::string relativeFolderUrl(const std::string& from, const std::string& to);

// How many bytes of escaped (script string text as appendScriptString writes it) to keep
// so that at most limit are kept without splitting an escape or a character; units
// receives the UTF-16 code units they stand for.
std::size_t scriptTextCut(std::string_view escaped, std::size_t limit, std::uint32_t& units);
