#pragma once

#include "FileSystem.h"
#include "IndexTypes.h"
#include "PageContent.h"
#include "PieceStore.h"
#include "PlaceWords.h"
#include "TextGroups.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

// The data the search page shows beside the two index files, written next to them:
//
//   indexed_pages.js            var pages={"format":2,"count":N,"check":"...","base":"...",
//                                          "words":"NAME"};
//   indexed_text/NAME           the head of the word index in pieces (TermsText::putPieces()),
//                               which names the shards, the documents in pieces
//                               (putDocuments()) and the rest; page texts a few to a file
//                               (see TextGroups.h); each piece named by its bytes (see
//                               PieceStore.h)
//
// "check" ties the file to the indexed_docs.js it was written with (see
// documentsCheck()), "base" leads from the search page to the pages of relative
// locations. A document piece holds, for each document, the group of its text and its
// place there: a file that stands for several documents (links, hard links) has its
// text written once, and the later documents name its place too.
// indexed_terms.js, the same word index whole (see TermsText.h), is put in place with
// indexed_pages.js only when it is asked for. A piece unchanged since the last job
// keeps its file; pieces that neither the new nor the previous index names go once the
// new one is in place, so a page opened on the previous index still finds them.
//
// indexed_text must be the program's own: made by it (it holds the mark file
// .vantrelindexer), owned by the user who runs it and writable by nobody else. Only
// files and folders that carry the mark are ever removed.
class CompanionData {
public:
    // The version of the format above; a search page refuses data of another.
    static constexpr int kFormat = 2;

    explicit CompanionData(std::string destinationFolder, FileSystem& fileSystem = FileSystem::real());
    ~CompanionData();
    CompanionData(const CompanionData&) = delete;
    CompanionData& operator=(const CompanionData&) = delete;

    // Why the folder of page texts in destinationFolder may not be used ("" when it is
    // missing or the program's own): it belongs to another user, others may write it,
    // or the program did not make it.
    static std::string textFolderProblem(const std::string& destinationFolder,
                                         FileSystem& fileSystem = FileSystem::real());

    // Opens (or makes) the folder of the pieces; false (error() says why) when it cannot.
    bool begin();

    // The entry of a page's text in its group (TextGroups::entryOf()). Safe on any thread.
    static std::string textEntry(const PageContent& content, std::size_t pageBytes, bool& cut);

    // Adds the text entry of document (a text cut to its bytes when cut), or makes it show
    // the text of first, an earlier document of the same file; in document order.
    void addText(std::int32_t document, std::string entry, bool cut, const TextGroups::EntryFacts* known = nullptr);
    void shareText(std::int32_t document, std::int32_t first);
    // The same for a text known by its facts alone (TextGroups::add()).
    void addText(std::int32_t document, const TextGroups::EntryFacts& facts, bool cut, TextGroups::Loader load);
    // Groups of the last job that may be taken as they stand (TextGroups::reuseFrom()),
    // and this job's, once finishTexts() or finish() wrote the last one.
    void reuseTexts(const std::vector<TextGroups::Written>& earlier);
    const std::vector<TextGroups::Written>& writtenTexts() const;
    // Writes the last group of texts, while what its entries are loaded from is at hand.
    void finishTexts();
    // Where the text of document stands in the groups written or taken (TextGroups::locate()),
    // and the entry of facts read back from such a place (TextGroups::readEntry()).
    TextGroups::Location textLocation(std::int32_t document) const;
    bool readText(const TextGroups::Location& where, const TextGroups::EntryFacts& facts, std::string& entry) const;

    // Page texts cut so far to stay within their bytes.
    std::size_t textsCut() const { return m_textsCut; }

    // Keeps the title, summary and share of text in links of document, recorded in
    // document order.
    void recordPage(std::int32_t document, std::string title, std::string summary, int linkShare = 0);
    // document shows the title, summary and share of links recorded for first, an
    // earlier document of the same file.
    void recordRepeat(std::int32_t document, std::int32_t first);
    const std::vector<int>& linkShares() const { return m_linkShares; }

    // The store the pieces of this job go to, once begin() succeeded.
    PieceStore* store() { return m_store.get(); }

    // Documents a document piece holds: document d stands in piece d / kDocumentGroup.
    static constexpr std::size_t kDocumentGroup = 16;
    // Documents a piece of what ranking reads of every page holds.
    static constexpr std::size_t kRankGroup = 4096;

    // Writes the last group of page texts and puts the documents into store() in pieces
    // of kDocumentGroup, each entry what the page shows of one result:
    //
    //   vantrelDocs([["TITLE","location","date","real title","summary","GROUP.js",place],...]);
    //
    // the title and location as a page reads them from indexed_docs.js (its bytes taken
    // as windows-1252), the page text's group and its place there ("" and -1 for none).
    // Also what the ranking of the page reads of every page, kRankGroup a piece,
    //
    //   vantrelRanks([["title",  "file name","date","summary"],...]);
    //
    // the title its words are taken from (null for a page without one), the location's
    // last part as shown, the date and the summary's first kMaxRankedSummary UTF-16 units.
    // The groups of page texts are named in one more piece, vantrelGroups(["NAME.js",...]);,
    // which the page never loads: the next job reads it to keep them.
    // Returns what the head of the word index says of them, "groups":"NAME.js",
    // "docGroup":kDocumentGroup,"docs":["NAME.js",...],"rankGroup":kRankGroup,"ranks":[...]
    // and, when locations are URLs, "urlPrefix" (the length of the prefix they share, up
    // to its last "/"); or "" when a piece could not be written (error() says why).
    std::string putDocuments(const std::vector<DocumentEntry>& documents);
    // Past setTopFrom() documents (16,384 by default), the same with the document pieces'
    // names in list pieces of kDocumentListGroup names (PieceStore::putLists()),
    // "docListGroup":N,"docLists":["NAME.js",...] in place of "docs", for the top of the
    // head; else "".
    const std::string& topDocumentsField() const { return m_topDocumentsField; }
    void setTopFrom(std::size_t documents) { m_topFrom = documents; }
    static constexpr std::size_t kDocumentListGroup = 256;
    static constexpr std::size_t kMaxRankedSummary = 400;

    // A checksum of all that placePages() gives, worked out without copying it (after a
    // typical edit the pages themselves are never asked for). Once asked for,
    // indexed_pages.js no longer names the ranking pieces (the page loads them only to
    // order by date; the head names them).
    std::uint64_t placeInputs(const std::vector<DocumentEntry>& documents);
    // What the ranking pieces hold of titles, file names and summaries, page by page, to
    // be cut key by key for the word shards (PlaceWords::of()).
    std::vector<PlaceWords::Page> placePages(const std::vector<DocumentEntry>& documents) const;

    // Puts indexed_pages.js in place for documents, with indexed_terms.js holding
    // *termsText when it is given (else an indexed_terms.js of ours goes once the pages
    // file is in place: the pieces hold its words), and removes the page texts of earlier
    // jobs. base: the way from the destination to relative locations, URL-encoded;
    // wordsHead: the name of the head of the word index in pieces, already put into
    // store() ("" when it failed); wordsTop: the name of its top, for a large site, or "".
    bool finish(const std::vector<DocumentEntry>& documents, const std::string& base, const std::string* termsText,
                const std::string& wordsHead, const std::string& wordsTop = {}, const std::string& wordsTopLists = {});

    // Leaves the index in place as it stands (a job that changed nothing) and removes, as
    // finish() would, the pieces it does not name.
    void keepInPlace();

    // Has the work that waits for the disk done beside the job from now on: new pieces
    // flushed as they are written (PieceStore::flushBeside()), and the pieces that
    // finish() removes removed on a thread of their own, which the destructor waits for.
    void workBeside();

    // Removes the pieces this job wrote that the index in place does not name (the job
    // wrote no index); done when the object ends unless finish() succeeded.
    void discard();

    // Does what the destructor must besides freeing memory: waits for the removals and
    // the flushes beside, discards an unfinished job's pieces and closes the folders.
    // Nothing else may be called after it.
    void closeFiles();

    // The path and the reason of the first failure.
    const std::string& failedPath() const { return m_failedPath; }
    const std::string& error() const { return m_error; }

private:
    void fail(const std::string& path, int error);
    void removeEarlierVersionsFolders();
    void removeUnnamed(const std::set<std::string>& keep);
    void storeFailed();
    bool putRows(std::size_t count, std::size_t group, const char* open, std::string& names,
                 const std::function<void(std::string&, std::size_t)>& writeRow,
                 const std::function<void(PieceInputs&, std::size_t)>& addInputs);
    // Adds to inputs all that a row of document d is written from, but its text's place.
    bool putDocumentLists(const std::string& field, std::size_t docsAt, std::size_t count);
    void addPageInputs(PieceInputs& inputs, const std::vector<DocumentEntry>& documents, std::size_t d) const;

    FileSystem& m_fileSystem;
    std::string m_destination;
    int m_destinationFolder = -1;
    int m_textFolder = -1;  // indexed_text
    std::unique_ptr<PieceStore> m_store;
    std::unique_ptr<TextGroups> m_texts;
    std::set<std::string> m_previousPieces;  // named by the indexed_pages.js in place
    std::set<std::string> m_previousStamps;  // its folder of texts, written by an earlier version
    std::vector<std::string> m_titles;
    std::vector<std::string> m_summaries;
    std::string m_topDocumentsField;
    std::size_t m_topFrom = 16384;
    std::string m_rankPieces;  // the names of the ranking pieces, quoted, comma separated
    bool m_placesInShards = false;  // indexed_pages.js leaves them out
    std::vector<int> m_linkShares;
    std::size_t m_textsCut = 0;
    bool m_finished = false;
    bool m_workBeside = false;
    std::thread m_remover;  // removing what finish() left behind
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
