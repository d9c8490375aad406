#pragma once

#include "IndexTypes.h"
#include "PageContent.h"

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
// put in place with indexed_pages.js. Each job writes its page texts into a new folder named by a random stamp,
// which only the new indexed_pages.js names; older folders go once it is in place. A text
// that has not changed since the last job is the same file under a second name.
class CompanionData {
public:
    // The version of the format above; a search page refuses data of another.
    static constexpr int kFormat = 1;

    explicit CompanionData(std::string destinationFolder);
    ~CompanionData();
    CompanionData(const CompanionData&) = delete;
    CompanionData& operator=(const CompanionData&) = delete;

    // Makes the new folder for the page texts; false (error() says why) when it cannot.
    bool begin();

    // Writes the text and sections of document. Safe to call from several threads.
    void writePageText(std::int32_t document, const PageContent& content);

    // Keeps the title, summary and share of text in links of document, recorded in
    // document order.
    void recordPage(std::int32_t document, std::string title, std::string summary, int linkShare = 0);
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
    static void removeTextFolder(int parent, const std::string& name);

    std::string m_destination;
    std::string m_stamp;
    int m_textFolder = -1;  // indexed_text
    int m_stampFolder = -1;  // indexed_text/STAMP
    int m_previousFolder = -1;  // the newest folder of an earlier job, or -1
    std::vector<std::string> m_titles;
    std::vector<std::string> m_summaries;
    std::vector<int> m_linkShares;
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
