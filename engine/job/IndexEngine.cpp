// One indexing job on the engine: the walk feeding the page pipeline, the recording of
// pages in walk order, the ranking of the words and the writing of the index pair.

#include "IndexEngine.h"

#include "CacheRecords.h"
#include "CompanionData.h"
#include "DocumentNumbers.h"
#include "ExcludeRules.h"
#include "FileSystem.h"
#include "FolderWalker.h"
#include "IndexText.h"
#include "PageAnalysis.h"
#include "PageBody.h"
#include "PageCache.h"
#include "PagePipeline.h"
#include "PageTerms.h"
#include "RankedWords.h"
#include "RobotsMeta.h"
#include "StagedFile.h"
#include "TermsText.h"
#include "WalkAhead.h"
#include "WordRules.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <fcntl.h>
#include <future>
#include <new>
#include <optional>
#include <thread>
#include <unordered_map>
#include <time.h>
#include <unistd.h>

// A job's use of the cache: the last job's, and what this one will leave.
struct IndexEngine::CacheUse {
    std::unique_ptr<PageCache> cache;
    std::int64_t jobStart = 0;  // nanoseconds, by the clock that stamps files
    // The last job's documents by path: the first of each.
    FlatIndex previousByPath;
    std::vector<std::int32_t> newDocumentOf;  // by the last job's document: its number now, or -1
    std::vector<CachedPage> pages;            // of this job
    std::vector<CachedDocument> documents;
    std::size_t pagesEntered = 0;             // pages whose words were entered anew
    FlatIndex pageOfFile;                     // pages by file (device, inode)
    TermsText::KeptWork work;                 // the last job's work on the pieces, and this job's
    bool workTaken = false;                   // the last job's is in work (read only to compose pieces)
    // What saving takes that is worked out on a thread of its own once the keys are
    // ranked, while the word pieces are composed: the new tables' ranges named
    // (PageCache::nameTables()), the documents' checksum and the pages' places in the
    // groups of texts. Waited for before the cache is saved or goes (declared after it
    // and the pages: the thread reads the one and writes the other).
    struct SaveBeside {
        PageCache::NamedTables named;
        std::uint64_t documentsChecksum = 0;
    };
    std::future<SaveBeside> beside;

    // The last job's document of path, or -1.
    std::int32_t previousOf(std::string_view path) const
    {
        const auto& previous = cache->documents();
        return previousByPath.find(FlatIndex::hashOf(path), [&](std::int32_t d) {
            return previous[static_cast<std::size_t>(d)].path.view() == path;
        });
    }

    // The page the last job read for its document `previous` (-1: none), or null.
    const CachedPage* pageOfPrevious(std::int32_t previous) const
    {
        if (previous < 0)
            return nullptr;
        const std::int32_t page = cache->documents()[static_cast<std::size_t>(previous)].page;
        return page < 0 ? nullptr : &cache->pages()[static_cast<std::size_t>(page)];
    }
};

namespace {
const std::vector<std::int32_t> kNoDocuments;
}  // namespace

struct IndexEngine::RankedKeys {
    WordTable<char> stemmedKeys;  // entries "stem\0key"
    WordIndex keys;
    std::vector<TermsText::StemOfKey> plurals;
    std::uint64_t inputs = 0;  // TermsText::keysInputsOf() of the three, or 0
    TermsText::StemGroups groups;  // TermsText::stemGroupsOf() of the three, when grouped
    bool grouped = false;
};

// The keys ranked on a thread of their own. Abandoned and joined when the job ends
// without reaching finishCompanion(), before the tables the thread reads go.
struct IndexEngine::KeysBeside {
    std::atomic<bool> abandoned{false};
    RankedKeys ranked;
    std::future<void> done;

    ~KeysBeside()
    {
        abandoned.store(true, std::memory_order_relaxed);
        if (done.valid())
            done.wait();
    }
    // The keys once ranked; what the thread threw is thrown here.
    RankedKeys& take()
    {
        done.get();
        return ranked;
    }
};

IndexEngine::IndexEngine() : m_terms(std::make_unique<TermDictionary>()), m_tables(std::make_unique<CachedTables>())
{
    resetTables();
}

IndexEngine::~IndexEngine() = default;

IndexEngine& IndexEngine::instance()
{
    // Never destroyed: the process's end frees nothing of it piece by piece (a front end
    // that runs many jobs lets each job's memory go at the next job's start), and what it
    // holds stays reachable to a leak checker.
    static IndexEngine* const engine = new IndexEngine;
    return *engine;
}

void IndexEngine::resetTables()
{
    std::vector<DocumentEntry>().swap(documents);
    wordIndex.clear();
    dictionary.clear();
    m_terms->clear();
    *m_tables = CachedTables();
    std::vector<bool>().swap(m_englishDocuments);
}

unsigned IndexEngine::threadsToUse() const
{
    return threadCount ? threadCount : std::max(1u, std::thread::hardware_concurrency());
}

void IndexEngine::report(ProgressKind kind, const std::string& path, const std::string& reason)
{
    if (progressLog)
        progressLog->report(ProgressEvent{kind, path, reason});
}

std::string IndexEngine::readTitle(const std::string& path)
{
    PageResult result = analysePage(path, PagePasses::Title, contentMode, patternMatcher);
    reportTitlePass(result, path, progressLog);
    return std::move(result.title);
}

PageWords IndexEngine::parseDocument(const std::string& path)
{
    PageResult result = analysePage(path, PagePasses::Words, contentMode, patternMatcher);
    reportWordPass(result, path, progressLog);
    return std::move(result.words);
}

void IndexEngine::addPageWords(std::int32_t documentIndex, const PageWords& pageWords)
{
    dictionary.addPage(documentIndex, pageWords);
}

std::string IndexEngine::locationOf(const std::string& pagePath) const
{
    if (pathMode != PathMode::RelativePath && pathMode != PathMode::UrlPrefix) {
        // A full path is a link only when it is absolute.
        if (!pagePath.empty() && pagePath[0] != '/' && !m_startFolder.empty())
            return m_startFolder + "/" + pagePath;
        return pagePath;
    }
    std::string relative = pagePath.substr(std::min(sourceFolder.size() + 1, pagePath.size()));
    if (pathMode == PathMode::RelativePath)
        return relative;
    std::string location = urlPrefix;
    std::replace(location.begin(), location.end(), '\\', '/');
    if (location.empty() || location.back() != '/')
        location += '/';
    location += relative;
    return location;
}

// The lines of a page come out exactly as readTitle() and parseDocument() give them,
// with the page's entry made between the two.
void IndexEngine::recordPage(const PageItem& page, PageResult& result, std::int32_t repeatOf)
{
    reportTitlePass(result, page.path, progressLog);
    documents.push_back(DocumentEntry{std::move(result.title), locationOf(page.path),
                                      IndexText::formatPageDate(page.modified)});
    const auto document = static_cast<std::int32_t>(documents.size() - 1);
    if (m_companion && repeatOf >= 0)
        m_companion->recordRepeat(document, repeatOf);
    else if (m_companion)
        m_companion->recordPage(document, displayTitle(result, page.path), std::move(result.content.summary),
                                result.content.linkShare);
    reportWordPass(result, page.path, progressLog);
}

FileSystem& IndexEngine::files() const
{
    return fileSystem ? *fileSystem : FileSystem::real();
}

// The walk of a job's tree, started ahead of the recorder on a thread of its own: the
// folders' listings and statuses run beside the pages' work (for pages the cache knows,
// nearly all of it), and beside the opening of the cache before the first page is taken.
struct IndexEngine::StartedWalk {
    StartedWalk(const std::string& root, const WalkRules& rules, FileSystem& fileSystem, bool onItsOwnThread)
        : folder(root), walker(root, rules, fileSystem), ahead(walker, onItsOwnThread)
    {
    }
    std::string folder;
    FolderWalker walker;
    WalkAhead ahead;  // destroyed first: its thread ends before the walker goes
};

void IndexEngine::startWalk(const std::string& folder)
{
    m_walk.reset();
    WalkRules rules;
    rules.followOutside = followOutside;
    rules.outputFolder = destinationFolder;
    rules.exclude = m_excludeRules && !m_excludeRules->empty() ? m_excludeRules.get() : nullptr;
    m_walk = std::make_unique<StartedWalk>(folder, rules, files(), threadsToUse() > 1);
}

void IndexEngine::walkFolder(const std::string& folder)
{
    if (!m_walk || m_walk->folder != folder)
        startWalk(folder);
    FolderWalker& walker = m_walk->walker;
    WalkAhead& ahead = m_walk->ahead;
    const unsigned threads = threadsToUse();
    const StopSignal stop = stopSignal();

    // Each thread enters the words of the pages it parses into a dictionary of its own,
    // under the page's document number (its place in walk order among the pages kept);
    // the recorder appends entries and lines, and the pages' texts to their groups, which
    // are cut in document order. The dictionaries are joined once the walk has ended,
    // without the pages parsed ahead of a stop. A page that asks not to be indexed gets
    // no number and no lines; the pages after it are numbered on. A file that the walk
    // reaches again (links, hard links) keeps the text written for its first document,
    // which is chosen here, in walk order. Its later documents keep their words while
    // what they add stays small beside the site (kRepeatedBytes); beyond that they are
    // listed with the first one's title and text but without words, and are not read
    // again, so that links to one large page cannot make the index grow without bound.
    // With a cache, a page whose file has not changed is taken from it instead of read
    // (and one whose stamp alone changed, once its bytes are found to be those read for
    // its path last time, instead of parsed), and one whose words stand in the last
    // job's tables enters none.
    struct QueuedPage {
        PageItem page;
        std::size_t place = 0;          // in walk order, from 0
        std::size_t firstPlace = 0;     // of the first page of the same file
        bool repeated = false;          // the file was reached before
        bool wordsLeftOut = false;
        std::int32_t previous = -1;     // the last job's document of the same path, or -1
    };
    // What a page thread gives the recorder: the page's result, its number and the entry
    // of its text (or the document whose text it shares), and what the cache keeps of it.
    struct NumberedPage {
        PageResult result;
        std::int32_t document = -1;      // -1: left out, it asks not to be indexed
        std::int32_t sharesTextOf = -1;  // the first document of its file, when recorded
        std::string textEntry;
        bool textCut = false;
        CachedPage entry;                // what the cache keeps of it
        bool cached = false;             // entry is filled in (read anew or found in the cache)
        bool textLater = false;          // its text entry is loaded from the cache if its group needs it
        bool kept = false;               // its words are in the last job's tables under its old number
        bool wordsEntered = false;       // it gave words to the tables (read, not left out)
        bool english = false;            // its keys group by the English plural rule
    };
    std::int64_t distinctBytes = 0, repeatedBytes = 0;
    std::vector<WordDictionary> threadWords(threads);
    // The companion word index likewise, with a term counter (and its stemmers) per thread.
    struct ThreadTerms {
        explicit ThreadTerms(const std::string& language) : counter(language) {}
        TermCounter counter;
        TermDictionary terms;
        PageTerms page;
    };
    std::vector<std::unique_ptr<ThreadTerms>> threadTerms;
    for (unsigned i = 0; i < threads && m_companion; ++i)
        threadTerms.push_back(std::make_unique<ThreadTerms>(language));
    // The first place of each file walked, by the files of the places.
    FlatIndex firstPlaces;
    std::vector<FileKey> placeFiles;
    std::atomic<std::size_t> outside{0}, ownerMayNot{0}, read{0};
    std::size_t submitted = 0, taken = 0;
    DocumentNumbers numbers(static_cast<std::int32_t>(documents.size()));
    CompanionData* companion = m_companion.get();
    CacheUse* cacheUse = m_cache.get();
    // Fills numbered (as it was made) for queued; listed: the cache's page known by its
    // listing, already looked up (null: looked up here), with its key.
    auto analyseInto = [this, &threadWords, &threadTerms, &walker, &outside, &ownerMayNot, &read, &numbers, companion,
                        cacheUse](const QueuedPage& queued, unsigned thread, NumberedPage& numbered,
                                  const CachedPage* listed, const PageFileKey& listedKey) {
        // The page's place is settled however this ends, so that no later page waits in vain.
        struct Settling {
            DocumentNumbers& numbers;
            std::size_t place;
            bool settled = false;
            void settle(bool kept)
            {
                numbers.settle(place, kept);
                settled = true;
            }
            ~Settling()
            {
                if (!settled)
                    numbers.settle(place, true);
            }
        } settling{numbers, queued.place};
        PageResult& result = numbered.result;
        // The file actually opened is looked up in the cache: one whose device, inode,
        // size and times are those it had when it was read is not read again, unless it
        // changed so close to that job's start that its times could not tell (then its
        // bytes are compared). Pages that ask not to be indexed are not kept there.
        FileHandle file;
        PageFileKey key = listedKey;
        bool keyed = false;
        bool opened = false;
        auto openFile = [&] {
            opened = true;
            int fd = -1;
            const PageOpening opening = walker.openPage(queued.page, fd);
            if (opening == PageOpening::Outside || opening == PageOpening::Changed)
                ++outside;
            else if (opening == PageOpening::OwnerMayNot)
                ++ownerMayNot;
            file = FileHandle(files(), fd);
            struct stat info;
            keyed = cacheUse && file && files().statAt(file.fd(), "", info, true);
            if (keyed)
                key = pageFileKey(info);
        };
        const CachedPage* hit = listed ? listed
            : queued.wordsLeftOut      ? nullptr
                                       : listedHit(queued.page, walker, companion != nullptr, key);
        keyed = hit != nullptr;
        if (!hit)
            openFile();
        if (queued.wordsLeftOut) {
            // Judged like any page, but not read: it is the file read for an earlier
            // document, and is left out when that one was.
            const std::int32_t first = numbers.numberOf(queued.firstPlace);
            settling.settle(first >= 0);
            if (first < 0)
                return;
            numbered.document = numbers.numberOf(queued.place);
            numbered.sharesTextOf = first;
            result.read = file ? PageRead::Read : PageRead::CannotOpen;
            return;
        }
        if (opened && keyed)
            hit = cacheUse->cache->find(key);
        PageText page;
        PageRead pageRead = PageRead::CannotOpen;
        bool readAlready = false;
        std::uint64_t readHash = 0;  // of the bytes as read, once read
        auto readToCompare = [&] {
            pageRead = page.read(file.fd(), files());
            readAlready = true;
            if (pageRead == PageRead::Read)
                readHash = cacheChecksum(page.text());
        };
        if (hit && hit->racy) {
            readToCompare();
            if (pageRead != PageRead::Read || readHash != hit->contentHash)
                hit = nullptr;
        }
        // A file that misses by its key but holds the bytes of the page the last job read
        // at the same path (touched, saved unchanged, copied afresh with new inodes) is
        // that page: its record is taken under the new key, and is not parsed again.
        const CachedPage* samePath = opened && keyed ? cacheUse->pageOfPrevious(queued.previous) : nullptr;
        if (!hit && samePath) {
            if (!readAlready)
                readToCompare();
            if (pageRead == PageRead::Read && readHash == samePath->contentHash)
                hit = samePath;
        }
        PageBody body;
        if (hit && companion && hit->textFacts.length == 0)
            hit = nullptr;  // its text could be placed among the groups only once read
        if (hit) {
            numbered.kept = hit == cacheUse->pageOfPrevious(queued.previous)
                && cacheUse->cache->documents()[static_cast<std::size_t>(queued.previous)].wordsEntered;
            // A page whose words stay needs no body. Its text is known by its entry's facts
            // until its group must be written anew (it may well stay as it was): then it is
            // taken back from the group of the last job's output that holds it.
            numbered.textLater = companion != nullptr;
            std::string bytes;
            if (!numbered.kept && !(cacheUse->cache->readBody(*hit, bytes) && readPageBody(bytes, body)))
                hit = nullptr;
        }
        // The first document of the same file, once this page's place is settled.
        auto firstDocument = [&] { return companion && queued.repeated ? numbers.numberOf(queued.firstPlace) : -1; };
        if (hit) {
            file.reset();
            settling.settle(true);
            const std::int32_t first = firstDocument();
            const std::int32_t document = numbered.document = numbers.numberOf(queued.place);
            result.read = PageRead::Read;
            result.title = hit->title;
            result.tooComplex = hit->tooComplex;
            result.textBytes = hit->textBytes;
            result.content.title = hit->contentTitle;
            result.content.summary = hit->summary;
            result.content.linkShare = hit->linkShare;
            result.content.language = hit->language;
            if (!numbered.kept) {
                threadWords[thread].addPage(document, body.words);
                if (companion)
                    threadTerms[thread]->terms.addPage(document, body.terms);
            }
            numbered.english = hit->englishPlurals;
            numbered.entry = *hit;
            numbered.entry.key = key;
            numbered.entry.racy = PageCache::racyAt(key, cacheUse->jobStart);
            numbered.cached = true;
            numbered.sharesTextOf = first;
        } else {
            numbered.kept = false;
            numbered.textLater = false;
            if (!opened)
                openFile();  // its body in the cache could not be used
            if (!readAlready)
                pageRead = file ? page.read(file.fd(), files()) : PageRead::CannotOpen;
            file.reset();
            const bool noindex = pageRead == PageRead::Read && asksNotToBeIndexed(page.text());
            settling.settle(!noindex);
            if (noindex)
                return;
            if (pageRead == PageRead::Read)
                ++read;
            const std::int32_t first = firstDocument();
            // Of the bytes as read: the analysis may change the text in place.
            const std::uint64_t contentHash =
                keyed && pageRead == PageRead::Read ? (readAlready ? readHash : cacheChecksum(page.text())) : 0;
            const bool readContent = companion && pageRead == PageRead::Read;
            result = analysePage(page, pageRead, PagePasses::TitleAndWords, contentMode, patternMatcher, readContent);
            const std::int32_t document = numbered.document = numbers.numberOf(queued.place);
            threadWords[thread].addPage(document, result.words);
            PageTerms* terms = nullptr;
            if (readContent) {
                ThreadTerms& own = *threadTerms[thread];
                own.counter.countPage(result.content, own.page);
                own.terms.addPage(document, own.page);
                result.content.placed = PlacedText();
                terms = &own.page;
                numbered.english = own.page.englishPlurals;
            }
            // The text becomes its entry in a group here, which the recorder adds in
            // document order; a text of the same file recorded before (unless that one was
            // left out) is shared instead. The cache keeps the entry either way.
            numbered.sharesTextOf = first;
            if (readContent && (first < 0 || keyed))
                numbered.textEntry = CompanionData::textEntry(result.content, result.textBytes, numbered.textCut);
            if (keyed && pageRead == PageRead::Read) {
                CachedPage& entry = numbered.entry;
                entry.key = key;
                entry.contentHash = contentHash;
                entry.racy = PageCache::racyAt(key, cacheUse->jobStart);
                entry.tooComplex = result.tooComplex;
                entry.englishPlurals = terms && terms->englishPlurals;
                entry.linkShare = result.content.linkShare;
                entry.textBytes = result.textBytes;
                entry.title = result.title;
                entry.contentTitle = result.content.title;
                entry.summary = result.content.summary;
                entry.language = result.content.language;
                if (readContent) {
                    entry.textFacts = TextGroups::factsOf(numbered.textEntry);
                    entry.textCut = numbered.textCut;
                }
                // One buffer per thread, kept from page to page: a body is composed
                // without growing a new string step by step.
                thread_local std::string bytes;
                bytes.clear();
                writePageBody(result.words, terms, bytes);
                numbered.cached = cacheUse->cache->addBody(bytes, entry);
            }
            if (first >= 0)
                std::string().swap(numbered.textEntry);
            result.words.clear();
        }
        numbered.wordsEntered = result.read == PageRead::Read;
        // Only the title and summary stay.
        std::string().swap(result.content.scriptText);
        std::vector<PageSection>().swap(result.content.sections);
    };
    auto analyse = [&analyseInto](const QueuedPage& queued, unsigned thread) {
        NumberedPage numbered;
        analyseInto(queued, thread, numbered, nullptr, PageFileKey());
        return numbered;
    };

    // What the next job's cache keeps of a recorded page: its entry (once per file) and
    // its document; a page whose words stay in the tables keeps them under its new number.
    // The entry is moved there: the recorder is done with it.
    auto recordCacheEntry = [this, cacheUse](const QueuedPage& queued, NumberedPage& numbered) {
        CachedDocument document{queued.page.path, -1, numbered.wordsEntered};
        if (numbered.cached) {
            const PageFileKey& key = numbered.entry.key;
            auto& pages = cacheUse->pages;
            const auto next = static_cast<std::int32_t>(pages.size());
            document.page = cacheUse->pageOfFile.insert(FlatIndex::hashOf(key.device, key.inode), next, [&](std::int32_t page) {
                return pages[static_cast<std::size_t>(page)].key.sameFile(key);
            });
            if (document.page == next)
                pages.push_back(std::move(numbered.entry));
        }
        if (numbered.wordsEntered && !numbered.kept)
            ++cacheUse->pagesEntered;
        if (numbered.kept)
            cacheUse->newDocumentOf[static_cast<std::size_t>(queued.previous)] = static_cast<std::int32_t>(documents.size());
        cacheUse->documents.push_back(std::move(document));
    };
    // The text entry of a page taken from the cache, for a group that must be written:
    // from the group of the last job's output that held it, or, should that be changed or
    // gone, from the page itself, opened as the walk opens any page.
    auto cachedText = [this, &walker, companion](const PageItem& page, const CachedPage& entry) {
        // Only what finding the text needs (not the page's path, nor its status): the
        // loader is made for every page kept, and most are never called.
        struct Opening {
            FolderHandle folder;
            std::string name;
            FileKey file;
            bool throughLink;
        };
        return [this, &walker, companion, opening = Opening{page.folder, page.name, page.file, page.throughLink},
                place = entry.textPlace, facts = entry.textFacts](std::string& text) {
            if (companion->readText(place.location(), facts, text))
                return true;
            PageItem opened;
            opened.folder = opening.folder;
            opened.name = opening.name;
            opened.file = opening.file;
            opened.throughLink = opening.throughLink;
            int fd = -1;
            walker.openPage(opened, fd);
            FileHandle file(files(), fd);
            PageText pageText;
            const PageRead pageRead = file ? pageText.read(file.fd(), files()) : PageRead::CannotOpen;
            if (pageRead != PageRead::Read)
                return false;
            PageResult result = analysePage(pageText, pageRead, PagePasses::TitleAndWords, contentMode, patternMatcher, true);
            bool cut = false;
            text = CompanionData::textEntry(result.content, result.textBytes, cut);
            return true;
        };
    };
    {
        PagePipeline<QueuedPage, NumberedPage, decltype(analyse)> pipeline(threads, 4 * threads, analyse);
        bool walked = false;
        QueuedPage queued;
        for (;;) {
            NumberedPage numbered;
            bool takenHere = false;
            while (!walked && pipeline.hasRoom()) {
                if (ahead.next(queued.page)) {
                    queued.place = submitted++;
                    const FileKey file = queued.page.file;
                    placeFiles.push_back(file);
                    queued.firstPlace = static_cast<std::size_t>(firstPlaces.insert(
                        FlatIndex::hashOf(file.first, file.second), static_cast<std::int32_t>(queued.place),
                        [&](std::int32_t place) { return placeFiles[static_cast<std::size_t>(place)] == file; }));
                    queued.repeated = queued.firstPlace != queued.place;
                    queued.wordsLeftOut = false;
                    queued.previous = -1;
                    if (cacheUse)
                        queued.previous = cacheUse->previousOf(queued.page.path);
                    if (!queued.repeated)
                        distinctBytes += queued.page.size;
                    else if (repeatedBytes + queued.page.size <= distinctBytes / 2 + kRepeatedBytes)
                        repeatedBytes += queued.page.size;
                    else
                        queued.wordsLeftOut = true;
                    // A page the cache knows by its listing is not read: handing it to a
                    // thread and back cost more than taking it (two wake-ups a page). With
                    // no page ahead of it, every number before it is settled, so it is
                    // taken here at once, in walk order.
                    PageFileKey listedKey;
                    const CachedPage* listed = pipeline.empty() && !queued.wordsLeftOut
                        ? listedHit(queued.page, walker, companion != nullptr, listedKey)
                        : nullptr;
                    if (listed) {
                        analyseInto(queued, 0, numbered, listed, listedKey);
                        takenHere = true;
                        break;
                    }
                    pipeline.submit(std::move(queued));
                } else {
                    walked = true;
                }
            }
            if ((!takenHere && pipeline.empty()) || stop.requested())
                break;  // pages parsed ahead of a stop are dropped unrecorded
            if (!takenHere)
                pipeline.takeFront(queued, numbered);
            ++taken;
            if (numbered.document < 0) {
                ++leftOut.pagesNoindex;
                continue;
            }
            PageResult& result = numbered.result;
            if (companion && result.read == PageRead::Read) {
                if (numbered.sharesTextOf >= 0)
                    companion->shareText(numbered.document, numbered.sharesTextOf);
                else if (numbered.textLater)
                    companion->addText(numbered.document, numbered.entry.textFacts, numbered.entry.textCut,
                                       cachedText(queued.page, numbered.entry));
                else
                    companion->addText(numbered.document, std::move(numbered.textEntry), numbered.textCut,
                                       numbered.cached && numbered.entry.textFacts.length ? &numbered.entry.textFacts : nullptr);
            }
            if (cacheUse)
                recordCacheEntry(queued, numbered);
            if (queued.wordsLeftOut && result.read == PageRead::Read) {
                // The first document of the file is recorded: its title stands for this one.
                result.title = documents[static_cast<std::size_t>(numbered.sharesTextOf)].title;
                ++pagesWordsLeftOut;
                recordPage(queued.page, result, numbered.sharesTextOf);
            } else {
                recordPage(queued.page, result);
            }
            m_englishDocuments.push_back(numbered.english && numbered.wordsEntered);
        }
        ahead.finish();
    }
    // The last group of texts is written while the walker can still open its pages.
    if (companion && !stop.requested())
        companion->finishTexts();
    pagesOutside += walker.skippedOutside() + outside;
    pagesRead += read;
    pagesOwnerMayNot += ownerMayNot;
    const LeftOutCounts& walkerLeftOut = walker.leftOut();
    leftOut.pagesByIgnoreFile += walkerLeftOut.pagesByIgnoreFile;
    leftOut.foldersByIgnoreFile += walkerLeftOut.foldersByIgnoreFile;
    leftOut.pagesByExclude += walkerLeftOut.pagesByExclude;
    leftOut.foldersByExclude += walkerLeftOut.foldersByExclude;
    m_walk.reset();
    const auto recorded = static_cast<std::int32_t>(documents.size());
    if (dictionary.empty() && taken == submitted) {
        // Every parsed page was recorded: the largest dictionary becomes the engine's as
        // it stands, and only the others are joined into it.
        auto largest = std::max_element(threadWords.begin(), threadWords.end(),
                                        [](const WordDictionary& a, const WordDictionary& b) { return a.size() < b.size(); });
        std::swap(dictionary, *largest);
    }
    for (WordDictionary& words : threadWords) {
        dictionary.merge(words, recorded);
        words.clear();
    }
    if (m_terms->empty() && taken == submitted && !threadTerms.empty()) {
        auto largest = std::max_element(threadTerms.begin(), threadTerms.end(), [](const auto& a, const auto& b) {
            return a->terms.keys().size() < b->terms.keys().size();
        });
        std::swap(*m_terms, (*largest)->terms);
    }
    for (auto& own : threadTerms) {
        m_terms->merge(own->terms, recorded);
        own->terms.clear();
    }
}

bool IndexEngine::rankPostings()
{
    // The last job's ranked words, renumbered, with the words of the pages entered anew;
    // without a cache all of them are new.
    static const RankedWords none;
    const bool cached = m_cache && m_cache->cache;
    if (!RankedWords::update(cached ? m_cache->cache->tables().words : none,
                             cached ? m_cache->newDocumentOf : kNoDocuments, dictionary, nullptr, PostingRank(),
                             threadsToUse(), stopSignal(),
                             m_tables->words))
        return false;
    m_tables->words.fillIndex(wordIndex);
    return true;
}

bool IndexEngine::writeWordsText(StagedFile& file)
{
    // Where the last job's lines of each of its ranges stand in the file it wrote: a
    // range that stays has its lines read from there, the rest of the file not read at
    // all.
    struct Lines {
        std::uint64_t offset, length, checksum;
    };
    std::unordered_map<std::string, Lines> before;
    std::uint64_t writtenSize = 0;
    FileHandle written;
    if (m_cache && m_cache->cache && (written = openOwnFile("indexed_words.js", writtenSize))) {
        const auto& pieces = m_cache->cache->wordPieces();
        const auto& lines = m_cache->cache->job().wordLines;
        std::uint64_t offset = IndexText::kWordsTextHead.size();
        for (std::size_t k = 0; k < pieces.size() && pieces.size() == lines.size(); ++k) {
            before.emplace(pieces[k], Lines{offset, lines[k].first, lines[k].second});
            offset += lines[k].first;
        }
    }
    const StopSignal stop = stopSignal();
    m_wordLines.clear();
    // The text goes to the file a part at a time, each part as it fills: the kept lines
    // pass through one small buffer that stays in the processor's cache, rather than a
    // buffer of the whole file's size, cleared, filled and then copied out.
    std::string text;
    text.reserve(2 * kWordsPart);
    text = IndexText::kWordsTextHead;
    bool partWritten = false;
    for (const RankedWords::Range& range : m_tables->words.ranges()) {
        const std::size_t start = text.size();
        const auto found = range.piece.empty() ? before.end() : before.find(range.piece);
        std::uint64_t checksum = 0;
        if (found != before.end() && found->second.length <= writtenSize
            && found->second.offset <= writtenSize - found->second.length) {
            const auto length = static_cast<std::size_t>(found->second.length);
            text.resize(start + length);
            // Lines not read whole are never taken, whatever checksum the cache gives.
            const bool read = files().readFully(written.fd(), text.data() + start, length,
                                                static_cast<off_t>(found->second.offset));
            if (read)
                checksum = cacheChecksum(std::string_view(text).substr(start));
            if (!read || checksum != found->second.checksum)
                text.resize(start);
        }
        if (text.size() == start) {
            for (std::size_t i = 0; i < range.words(); ++i)
                if (!IndexText::appendWordLine(text, range.word(i), range.documents() + range.postingsBegin(i),
                                               range.documents() + range.postingsEnd(i), stop))
                    return false;
            checksum = cacheChecksum(std::string_view(text).substr(start));
        }
        if (stop.requested())
            return false;
        m_wordLines.emplace_back(text.size() - start, checksum);
        if (text.size() >= kWordsPart) {
            // The last line's ",\n" stays behind: the closing takes that comma away,
            // whether more lines follow in this part or none do.
            if (!file.append(std::string_view(text).substr(0, text.size() - 2)))
                return false;
            text.erase(0, text.size() - 2);
            partWritten = true;
        }
    }
    IndexText::closeWordsText(text, partWritten);
    return file.append(text);
}

FileHandle IndexEngine::openOwnFile(const std::string& name, std::uint64_t& size)
{
    // Only a file the last job wrote, as it left it (its stamp then), never through a link.
    const auto& written = m_cache->cache->job().files;
    const auto stamp = std::find_if(written.begin(), written.end(), [&name](const auto& file) { return file.first == name; });
    FileHandle file(files(), files().openForReading(AT_FDCWD, destinationFolder + "/" + name, false));
    if (stamp == written.end() || !file || fileStamp(files(), file.fd(), "") != stamp->second)
        return FileHandle();
    struct stat info;
    if (!files().statAt(file.fd(), "", info, false) || info.st_size <= 0)
        return FileHandle();
    size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

void IndexEngine::composeDocsText(std::string& text)
{
    IndexText::composeDocsText(documents, text);
}

bool IndexEngine::buildIndex()
{
    stopRequested.store(false, std::memory_order_relaxed);
    resetTables();
    pagesOutside = 0;
    pagesOwnerMayNot = 0;
    textsCut = 0;
    pagesWordsLeftOut = 0;
    pagesRead = 0;
    wordsIndexed = 0;
    outputKept = false;
    leftOut = LeftOutCounts();
    failure.clear();
    cacheProblem.clear();
    m_cache.reset();
    if (sourceFolder.empty() || destinationFolder.empty())
        return false;
    // A bad ignore file or --exclude leaves the old index as it was: nothing the site
    // meant to leave out is ever published by mistake.
    m_excludeRules = std::make_unique<ExcludeRules>();
    if (!ExcludeRules::load(files(), sourceFolder, excludePatterns, *m_excludeRules, failure))
        return false;
    char working[PATH_MAX];
    m_startFolder = ::getcwd(working, sizeof working) ? working : "";
    bool written = false;
    try {
        if (companionData) {
            m_companion = std::make_unique<CompanionData>(destinationFolder, files());
            m_companion->setTopFrom(topFrom);
            if (!m_companion->begin())
                companionFailed();
            else if (threadsToUse() > 1)
                m_companion->workBeside();
        }
        startWalk(sourceFolder);
        openCache();
        walkFolder(sourceFolder);
        report(ProgressKind::CreatingIndex);
        if (outputStands()) {
            // Nothing changed since the job that wrote the files in place: they stand.
            outputKept = true;
            written = true;
            wordsIndexed = static_cast<std::size_t>(m_cache->cache->job().words);
            if (m_companion) {
                textsCut = m_companion->textsCut();
                m_companion->keepInPlace();
            }
            saveCache();
            endJob();
            return true;
        }
        startRankingKeys();
        const bool companionWritten = companionData && m_companion;
        if (rankPostings())
            writeOutput(written);
        wordsIndexed = wordIndex.size();
        // The cache is kept only for a job whose output is whole: its tables are those
        // of the files written.
        if (written && (!companionData || (companionWritten && m_companion)))
            saveCache();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // Without a new index the new page texts go; the old index stays as it was.
    endJob();
    return written;
}

void IndexEngine::endJob()
{
    m_keysBeside.reset();
    if (m_cache && m_cache->beside.valid())
        m_cache->beside.wait();
    m_walk.reset();
    if (leaveMemoryToExit) {
        // The threads are joined and the files closed as ever; the memory is left to the
        // process's end, reachable from the engine.
        if (m_companion)
            m_companion->closeFiles();
        if (m_cache && m_cache->cache)
            m_cache->cache->closeFiles();
        m_leftToExit.emplace_back(std::move(m_cache));
        m_leftToExit.emplace_back(std::move(m_companion));
        return;
    }
    // The cache's tables let go while the pieces no index names are still being removed.
    m_cache.reset();
    m_companion.reset();
}

void IndexEngine::openCache()
{
    if (cacheFolder.empty())
        return;
    // Every option that changes what a page gives; the path options and the walk's rules
    // only change which documents there are and where they link, which each job works out anew.
    std::string settings = "content " + std::to_string(static_cast<int>(contentMode)) + "\nmatcher "
        + std::to_string(static_cast<int>(patternMatcher)) + "\ncompanion " + (companionData ? "1" : "0")
        + "\nlanguage " + language + "\n";
    auto use = std::make_unique<CacheUse>();
    use->cache = std::make_unique<PageCache>(cacheFolder, settings, files());
    if (threadsToUse() > 1)
        use->cache->setRemovalsAtOnce(kRemovalsAtOnce);
    if (!use->cache->open()) {
        cacheProblem = use->cache->problem();
        return;
    }
    // The tables are read here, once: tables that cannot be read would leave the pages
    // taken from the cache without their words, so such a cache is dropped before the
    // first page, and the walk reads every page once, as without a cache.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    use->jobStart = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    if (!use->cache->loadTables(use->jobStart)) {
        cacheProblem = cacheFolder + ": the cache's tables could not be read; every page was read";
        use->cache->forget();
    }
    m_cache = std::move(use);
    startCacheUse();
}

void IndexEngine::startCacheUse()
{
    CacheUse& use = *m_cache;
    const auto& previous = use.cache->documents();
    use.newDocumentOf.assign(previous.size(), -1);
    use.previousByPath.clear();
    use.pages.clear();
    use.documents.clear();
    use.pagesEntered = 0;
    use.pageOfFile.clear();
    // About as many as the last job's: filled without being moved again and again.
    use.pages.reserve(use.cache->pages().size() + use.cache->pages().size() / 8);
    use.documents.reserve(previous.size() + previous.size() / 8);
    use.previousByPath.reserve(previous.size());
    if (m_companion)
        m_companion->reuseTexts(use.cache->job().textGroups);
    if (PieceStore* store = m_companion ? m_companion->store() : nullptr)
        store->madeBefore(use.cache->job().pieces);
    use.work = TermsText::KeptWork();
    use.workTaken = false;
    for (std::size_t d = 0; d < previous.size(); ++d) {
        const std::string_view path = previous[d].path;
        use.previousByPath.insert(FlatIndex::hashOf(path), static_cast<std::int32_t>(d), [&](std::int32_t other) {
            return previous[static_cast<std::size_t>(other)].path.view() == path;
        });
    }
}

const CachedPage* IndexEngine::listedHit(const PageItem& page, const FolderWalker& walker, bool withTexts,
                                        PageFileKey& key) const
{
    // A regular file listed in its folder (no link), readable by the site's owner, whose
    // device, inode, size and times are those the cache read long enough ago, is that
    // file as read then: it is not opened. One changed within the stamps' granularity has
    // its bytes compared, and so is opened; a link is judged by the file it opens.
    if (!m_cache || !walker.listedAsReadable(page))
        return nullptr;
    const PageFileKey listed = pageFileKey(page.listed);
    const CachedPage* hit = m_cache->cache->find(listed);
    if (!hit || hit->racy || (withTexts && hit->textFacts.length == 0))
        return nullptr;
    key = listed;
    return hit;
}

bool IndexEngine::outputStands()
{
    // Every page was taken from the cache under its old number, the tables are those on
    // disk, and the files written from them are still those the last job left.
    if (!m_cache || stopSignal().requested() || m_cache->documents.size() != documents.size())
        return false;
    const CachedJob& before = m_cache->cache->job();
    if (before.files.empty() || (m_companion && m_companion->writtenTexts() != before.textGroups))
        return false;
    const auto& renumbered = m_cache->newDocumentOf;
    if (m_cache->pagesEntered > 0 || renumbered.size() != documents.size())
        return false;
    for (std::size_t d = 0; d < renumbered.size(); ++d)
        if (renumbered[d] != static_cast<std::int32_t>(d) && m_cache->cache->documents()[d].wordsEntered)
            return false;
    const std::string base = m_companion && pathMode == PathMode::RelativePath ? pagesBase(destinationFolder, sourceFolder) : "";
    if (documentsChecksum() != before.documentsChecksum || base != before.base
        || (m_companion && wholeWordIndex != before.wholeWordIndex))
        return false;
    // The pieces are looked at in the store's folder, already open, not by their whole
    // path; a group of texts that the walk took has been stamped then and is not again.
    const PieceStore* store = m_companion ? m_companion->store() : nullptr;
    const std::string pieces = "indexed_text/";
    for (const auto& file : before.files) {
        const bool piece = store && file.first.compare(0, pieces.size(), pieces) == 0;
        if ((piece ? store->stampWhenPut(file.first.substr(pieces.size()))
                   : fileStamp(files(), AT_FDCWD, destinationFolder + "/" + file.first))
            != file.second)
            return false;
    }
    return true;
}

std::uint64_t IndexEngine::documentsChecksum() const
{
    // Each field led by its length, all in one buffer hashed at once.
    std::string fields;
    fields.reserve(documents.size() * 64);
    RecordWriter out(fields);
    out.number<std::uint64_t>(documents.size());
    for (const DocumentEntry& entry : documents) {
        out.text(entry.title);
        out.text(entry.location);
        out.text(entry.date);
    }
    return cacheChecksum(fields);
}

std::vector<std::pair<std::string, std::string>> IndexEngine::writtenFileStamps()
{
    // The two files, and with companion data its two files and every piece they name.
    // The pieces' stamps are those the store took when it put them.
    std::vector<std::string> names = {"indexed_words.js", "indexed_docs.js"};
    if (companionData && m_companion) {
        names.push_back("indexed_pages.js");
        names.push_back("indexed_terms.js");
    }
    std::vector<std::pair<std::string, std::string>> stamps;
    for (const std::string& name : names)
        stamps.emplace_back(name, fileStamp(files(), AT_FDCWD, destinationFolder + "/" + name));
    if (companionData && m_companion)
        if (const PieceStore* store = m_companion->store())
            for (const std::string& piece : store->named())
                stamps.emplace_back("indexed_text/" + piece, store->stampWhenPut(piece));
    return stamps;
}

void IndexEngine::saveCache()
{
    if (!m_cache)
        return;
    const bool tablesChanged = !tablesAsBefore();
    const bool worked = m_cache->beside.valid();
    const CacheUse::SaveBeside beside = worked ? m_cache->beside.get() : CacheUse::SaveBeside();
    // The last job's record stands as it is when its output does: not copied.
    CachedJob fresh;
    const CachedJob& job = outputKept ? m_cache->cache->job() : fresh;
    if (!outputKept) {
        if (m_companion)
            fresh.textGroups = m_companion->writtenTexts();
        fresh.documentsChecksum = worked ? beside.documentsChecksum : documentsChecksum();
        fresh.base = m_companion && pathMode == PathMode::RelativePath ? pagesBase(destinationFolder, sourceFolder) : "";
        fresh.words = wordsIndexed;
        fresh.wholeWordIndex = m_companion && wholeWordIndex;
        fresh.files = writtenFileStamps();
        fresh.wordLines = m_wordLines;
        if (const PieceStore* store = m_companion ? m_companion->store() : nullptr)
            fresh.pieces = store->made();
    }
    if (!worked)
        placeCachedTexts();
    const bool newTables = !outputKept && (tablesChanged || !m_cache->cache->hasTables());
    // The work kept for the pieces goes with a job that composed them; one that left its
    // output in place, or made no pieces, leaves the last job's as it stands.
    const KeptWork* work = !outputKept && m_cache->workTaken ? &m_cache->work.kept : nullptr;
    if (m_cache->documents.size() != documents.size()
        || !m_cache->cache->save(std::move(m_cache->pages), std::move(m_cache->documents), newTables ? m_tables.get() : nullptr,
                                 job, work, &beside.named))
        cacheProblem = cacheFolder + ": the cache could not be written";
}

bool IndexEngine::tablesAsBefore() const
{
    if (!m_cache || m_cache->pagesEntered > 0 || m_cache->newDocumentOf.size() != documents.size())
        return false;
    const auto& renumbered = m_cache->newDocumentOf;
    for (std::size_t d = 0; d < renumbered.size(); ++d)
        if (renumbered[d] != static_cast<std::int32_t>(d) && m_cache->cache->documents()[d].wordsEntered)
            return false;
    return true;
}

void IndexEngine::placeCachedTexts()
{
    // Each kept page's text is found next time in the group this job wrote or took for
    // its first document with text; the documents of one file share that place.
    std::vector<CachedPage>& pages = m_cache->pages;
    std::vector<bool> placed(pages.size(), false);
    for (std::size_t d = 0; d < m_cache->documents.size(); ++d) {
        const std::int32_t page = m_cache->documents[d].page;
        if (page < 0 || placed[static_cast<std::size_t>(page)])
            continue;
        TextGroups::Location where = m_companion ? m_companion->textLocation(static_cast<std::int32_t>(d)) : TextGroups::Location();
        placed[static_cast<std::size_t>(page)] = !where.group.empty();
        pages[static_cast<std::size_t>(page)].textPlace = std::move(where);
    }
}

void IndexEngine::writeOutput(bool& written)
{
    FileFailure failure;
    auto reportFailure = [this, &failure] {
        if (!failure.path.empty())
            report(failure.kind, failure.path, failure.reason);
    };
    if (!m_companion || threadsToUse() < 2) {
        written = writeIndexFiles(failure);
        reportFailure();
        if (written && m_companion)
            finishCompanion([] { return true; });
        return;
    }
    // The two files are written on a thread of their own while the companion data is
    // composed, which needs nothing of them: the words file's bytes and the waits for
    // the disk overlap the pieces' work. The companion's head, which makes its pieces the
    // index's, is put in place only once the two files are; without them the pieces
    // composed are discarded.
    std::future<bool> beside = std::async(std::launch::async, [this, &failure] { return writeIndexFiles(failure); });
    auto indexWritten = [&] {
        if (beside.valid()) {
            written = beside.get();
            reportFailure();
        }
        return written;
    };
    try {
        finishCompanion(indexWritten);
    } catch (...) {
        if (beside.valid()) {
            try {
                written = beside.get();
            } catch (...) {
                written = false;
            }
        }
        throw;
    }
    indexWritten();
}

bool IndexEngine::rankKeys(const StopSignal& stop, RankedKeys& ranked)
{
    static const RankedWords none;
    const bool cached = m_cache && m_cache->cache;
    const std::vector<std::int32_t>& renumbered = cached ? m_cache->newDocumentOf : kNoDocuments;
    // Each document's length: the last job's for the pages whose keys stay, this job's
    // for the others; the keys' scores weigh them against the mean.
    std::vector<double>& lengths = m_tables->keyLengths;
    lengths.assign(documents.size(), 0);
    if (cached) {
        const std::vector<double>& before = m_cache->cache->tables().keyLengths;
        for (std::size_t d = 0; d < renumbered.size() && d < before.size(); ++d)
            if (renumbered[d] >= 0)
                lengths[static_cast<std::size_t>(renumbered[d])] = before[d];
    }
    const std::vector<double>& entered = m_terms->lengths();
    for (std::size_t d = 0; d < entered.size() && d < lengths.size(); ++d)
        if (entered[d] > 0)
            lengths[d] = entered[d];
    double total = 0;
    std::size_t pages = 0;
    for (double length : lengths)
        if (length > 0) {
            total += length;
            ++pages;
        }
    const PostingRank byScore{&lengths, pages ? total / static_cast<double>(pages) : 0,
                              cached ? &m_cache->cache->tables().keyLengths : nullptr};
    if (!RankedWords::update(cached ? m_cache->cache->tables().keys : none, renumbered, m_terms->keys(),
                             WordRules::lessByUtf16, byScore, threadsToUse(), stop, m_tables->keys,
                             RankedWords::kScoredRangePostings)
        || !RankedWords::update(cached ? m_cache->cache->tables().stemPairs : none, renumbered, m_terms->stemPairs(),
                                nullptr, PostingRank(), threadsToUse(), stop, m_tables->stemPairs))
        return false;
    m_terms->clear();
    m_tables->stemPairs.forEachWord([&ranked](std::string_view pair, const std::int32_t*, const double*, std::size_t) {
        ranked.stemmedKeys.findOrInsert(pair);
    });
    m_tables->keys.fillIndex(ranked.keys);
    ranked.plurals = englishPluralPairs(ranked.keys, m_englishDocuments);
    // Worked out here, beside the job where a thread is to spare, for the pieces taken
    // whole (TermsText::putPieces()), and the stem groups for those composed. Keys that
    // are the last job's (a page's date moved, a page touched) nearly always leave the
    // pieces to be taken whole, which need no groups: putPieces() works them out itself
    // should it compose pieces all the same.
    if (m_cache)
        ranked.inputs = TermsText::keysInputsOf(ranked.keys, ranked.stemmedKeys, ranked.plurals);
    ranked.grouped = !(m_cache && m_cache->cache->hasTables() && tablesAsBefore());
    if (ranked.grouped)
        ranked.groups = TermsText::stemGroupsOf(ranked.keys, ranked.stemmedKeys, ranked.plurals);
    return true;
}

void IndexEngine::startRankingKeys()
{
    // The keys' ranking reads the walk's dictionaries and the cache's tables alone, and
    // the design's two files and the document pieces need no key: with a thread to spare
    // they are written while it runs.
    if (!companionData || !m_companion || threadsToUse() < 2)
        return;
    m_keysBeside = std::make_unique<KeysBeside>();
    KeysBeside& beside = *m_keysBeside;
    beside.done = std::async(std::launch::async, [this, &beside] { rankKeys(StopSignal(beside.abandoned), beside.ranked); });
}

void IndexEngine::finishCompanion(const std::function<bool()>& indexWritten)
{
    // The index is in place, or being put in place: the job runs to its end, so nothing
    // stops the ranking here.
    const std::atomic<bool> never{false};
    PieceStore* store = m_companion->store();
    const std::string documentsField = store ? m_companion->putDocuments(documents) : "";
    // What the word pieces take of the pages, and the last job's work on them, read
    // while the keys may still be ranked beside.
    std::uint64_t placesInputs = 0;
    if (!documentsField.empty()) {
        placesInputs = m_companion->placeInputs(documents);
        if (m_cache && !m_cache->workTaken) {
            // The last job's work: views of the cache's mapped packs, which outlive the job.
            m_cache->work.takeEarlier(m_cache->cache->keptWork());
            m_cache->workTaken = true;
        }
    }
    RankedKeys rankedHere;
    if (!m_keysBeside)
        rankKeys(StopSignal(never), rankedHere);
    RankedKeys& ranked = m_keysBeside ? m_keysBeside->take() : rankedHere;
    // The tables are whole now, and the groups of texts cut: with a thread to spare their
    // ranges are named for the cache (the checksums of the ranges written anew, the deltas
    // of those changed a little), the documents' checksum worked out and the pages' texts
    // placed while the word pieces are composed, rather than after them. The documents,
    // the tables, the groups and the cache stay as they are until the cache is saved.
    if (m_cache && m_cache->cache && threadsToUse() > 1) {
        const bool tablesChanged = !tablesAsBefore();
        m_cache->beside = std::async(std::launch::async, [this, tablesChanged] {
            CacheUse::SaveBeside beside;
            beside.documentsChecksum = documentsChecksum();
            placeCachedTexts();
            if (tablesChanged)
                beside.named = m_cache->cache->nameTables(*m_tables);
            return beside;
        });
    }
    std::string termsText;
    if (wholeWordIndex)
        TermsText::compose(documents, ranked.keys, ranked.stemmedKeys, m_companion->linkShares(), termsText,
                           ranked.plurals);
    std::string wordsTop, wordsTopLists;
    const std::string wordsHead = documentsField.empty()
                                      ? ""
                                      : putWordPieces(ranked, placesInputs, documentsField, wordsTop, wordsTopLists);
    ranked.keys.clear();
    const std::string base = pathMode == PathMode::RelativePath ? pagesBase(destinationFolder, sourceFolder) : "";
    textsCut = m_companion->textsCut();
    // Every piece is put: their folder is flushed beside while the two files are waited for.
    if (store && !wordsHead.empty())
        store->flushFolderBeside();
    if (!indexWritten())
        return;
    if (!m_companion->finish(documents, base, wholeWordIndex ? &termsText : nullptr, wordsHead, wordsTop,
                              wordsTopLists))
        companionFailed();
}

std::string IndexEngine::putWordPieces(const RankedKeys& ranked, std::uint64_t placesInputs,
                                       std::string_view documentsField, std::string& wordsTop,
                                       std::string& wordsTopLists)
{
    // The titles, file names and summaries are gathered and cut key by key only when a
    // piece must be composed, and only the keys of the shards composed enter the table: a
    // job whose shards' inputs are all those of the last job's leaves them.
    TermsText::Places places;
    places.inputs = placesInputs;
    std::optional<std::vector<PlaceWords::Page>> pages;
    auto pagesPlaced = [&]() -> const std::vector<PlaceWords::Page>& {
        if (!pages)
            pages = m_companion->placePages(documents);
        return *pages;
    };
    std::optional<PlaceWords::Table> table;
    places.table = [&](const PlaceWords::KeyFilter& wanted, bool summaries) -> const PlaceWords::Table& {
        if (!table)
            table = PlaceWords::of(pagesPlaced(), wanted, summaries);
        return *table;
    };
    places.titleAndNameWords = [&] { return PlaceWords::of(pagesPlaced(), nullptr, false); };
    return TermsText::putPieces(documents, ranked.keys, ranked.stemmedKeys, m_companion->linkShares(),
                                *m_companion->store(), documentsField, &places, m_cache ? &m_cache->work : nullptr,
                                ranked.plurals, m_companion->topDocumentsField(), &wordsTop, threadsToUse(),
                                ranked.inputs, ranked.grouped ? &ranked.groups : nullptr, &wordsTopLists);
}

void IndexEngine::companionFailed()
{
    report(ProgressKind::OutputFailed, m_companion->failedPath(), m_companion->error());
    m_companion.reset();
}

bool IndexEngine::writeIndexFiles(FileFailure& failure)
{
    StagedFile::removeStaleFiles(destinationFolder, files());
    auto failed = [&failure](ProgressKind kind, const StagedFile& file) {
        failure = FileFailure{kind, file.target(), file.error()};
        return false;
    };
    // Both files are written out before either replaces its old one, and the old words
    // file is kept until the documents file is in place, so the pair on disk always
    // belongs together. Each is flushed only once both are written: the disk takes the
    // words while the documents are composed.
    StagedFile words(destinationFolder + "/indexed_words.js", files());
    if (!words.begin())
        return failed(ProgressKind::WordsFileFailed, words);
    if (!writeWordsText(words))
        return words.error().empty() ? false : failed(ProgressKind::WordsFileFailed, words);
    // Once the words text is complete the job runs to its end: no stop is tested here.
    std::string text;
    composeDocsText(text);
    StagedFile docs(destinationFolder + "/indexed_docs.js", files());
    if (!docs.begin() || !docs.append(text))
        return failed(ProgressKind::DocsFileFailed, docs);
    std::string().swap(text);
    if (!words.finish())
        return failed(ProgressKind::WordsFileFailed, words);
    if (!docs.finish())
        return failed(ProgressKind::DocsFileFailed, docs);
    if (!words.replaceTarget(true))
        return failed(ProgressKind::WordsFileFailed, words);
    if (!docs.replaceTarget()) {
        words.restoreOld();
        return failed(ProgressKind::DocsFileFailed, docs);
    }
    return true;
}
