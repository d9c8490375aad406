// One indexing job on the engine: the walk feeding the page pipeline, the recording of
// pages in walk order, the ranking of the words and the writing of the index pair.

#include "IndexEngine.h"

#include "CacheRecords.h"
#include "CompanionData.h"
#include "FileSystem.h"
#include "FolderWalker.h"
#include "IndexText.h"
#include "PageAnalysis.h"
#include "PageBody.h"
#include "PageCache.h"
#include "PagePipeline.h"
#include "PageTerms.h"
#include "RankedWords.h"
#include "StagedFile.h"
#include "TermsText.h"
#include "WordRules.h"

#include <algorithm>
#include <climits>
#include <map>
#include <new>
#include <thread>
#include <unordered_map>
#include <time.h>
#include <unistd.h>

// A job's use of the cache: the last job's, and what this one will leave.
struct IndexEngine::CacheUse {
    std::unique_ptr<PageCache> cache;
    std::int64_t jobStart = 0;  // nanoseconds, by the clock that stamps files
    std::unordered_map<std::string, std::int32_t> previousByPath;  // the last job's documents
    std::vector<std::int32_t> newDocumentOf;  // by the last job's document: its number now, or -1
    std::vector<CachedPage> pages;            // of this job
    std::vector<CachedDocument> documents;
    std::size_t pagesEntered = 0;             // pages whose words were entered anew
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::int32_t> pageOfFile;  // device, inode -> pages
};

namespace {
// What the pipeline hands the recorder for a page besides its result.
struct AnalysedPage {
    PageResult result;
    CachedPage entry;            // what the cache keeps of it
    bool cached = false;         // entry is filled in (read anew or found in the cache)
    bool kept = false;           // its words are in the last job's tables under its old number
    bool wordsEntered = false;   // it gave words to the tables (read, not left out)
    bool english = false;        // its keys group by the English plural rule
};

const std::vector<std::int32_t> kNoDocuments;
}  // namespace

IndexEngine::IndexEngine() : m_terms(std::make_unique<TermDictionary>()), m_tables(std::make_unique<CachedTables>())
{
    resetTables();
}

IndexEngine::~IndexEngine() = default;

IndexEngine& IndexEngine::instance()
{
    static IndexEngine engine;
    return engine;
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

void IndexEngine::walkFolder(const std::string& folder)
{
    WalkRules rules;
    rules.followOutside = followOutside;
    rules.outputFolder = destinationFolder;
    FolderWalker walker(folder, rules, files());
    const unsigned threads = threadsToUse();
    const StopSignal stop = stopSignal();

    // Each thread enters the words of the pages it parses into a dictionary of its own,
    // under the page's document number (its place in walk order); the recorder only
    // appends entries and lines. The dictionaries are joined once the walk has ended,
    // without the pages parsed ahead of a stop. A file that the walk reaches again
    // (links, hard links) keeps the text written for its first document, which is
    // chosen here, in walk order. Its later documents keep their words while what they
    // add stays small beside the site (kRepeatedBytes); beyond that they are listed with
    // the first one's title and text but without words, and are not read again, so that
    // links to one large page cannot make the index grow without bound.
    struct QueuedPage {
        PageItem page;
        std::int32_t document = 0;
        std::int32_t sharesTextOf = -1;
        bool wordsLeftOut = false;
        std::int32_t previous = -1;  // the last job's document of the same path, or -1
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
    std::map<FileKey, std::int32_t> firstDocuments;
    std::atomic<std::size_t> outside{0}, ownerMayNot{0};
    auto submitted = static_cast<std::int32_t>(documents.size());
    CompanionData* companion = m_companion.get();
    CacheUse* cacheUse = m_cache.get();
    std::atomic<std::size_t> read{0};
    auto analyse = [this, &threadWords, &threadTerms, &walker, &outside, &ownerMayNot, &read, companion, cacheUse](
                       const QueuedPage& queued, unsigned thread) {
        AnalysedPage analysed;
        PageResult& result = analysed.result;
        int fd = -1;
        const PageOpening opening = walker.openPage(queued.page, fd);
        if (opening == PageOpening::Outside || opening == PageOpening::Changed)
            ++outside;
        else if (opening == PageOpening::OwnerMayNot)
            ++ownerMayNot;
        FileHandle file(files(), fd);
        if (queued.wordsLeftOut) {
            // Judged like any page, but not read: it is the file read for an earlier document.
            result.read = file ? PageRead::Read : PageRead::CannotOpen;
            if (file && companion)
                companion->shareText(queued.document, queued.sharesTextOf);
            return analysed;
        }
        // The file actually opened is looked up in the cache: one whose device, inode,
        // size and times are those it had when it was read is not read again, unless it
        // changed so close to that job's start that its times could not tell (then its
        // bytes are compared).
        PageFileKey key;
        struct stat info;
        const bool keyed = cacheUse && file && files().statAt(file.fd(), "", info, true);
        if (keyed)
            key = pageFileKey(info);
        const CachedPage* hit = keyed ? cacheUse->cache->find(key) : nullptr;
        PageText page;
        PageRead pageRead = PageRead::CannotOpen;
        bool readAlready = false;
        if (hit && hit->racy) {
            pageRead = page.read(file.fd(), files());
            readAlready = true;
            if (pageRead != PageRead::Read || cacheChecksum(page.text()) != hit->contentHash)
                hit = nullptr;
        }
        PageBody body;
        if (hit) {
            const auto& previous = cacheUse->cache->documents();
            const std::int32_t before = queued.previous;
            analysed.kept = before >= 0 && previous[before].wordsEntered && previous[before].page >= 0
                && cacheUse->cache->pages()[previous[before].page].key == key;
            std::string bytes;
            if ((!analysed.kept || companion)
                && !(cacheUse->cache->readBody(*hit, bytes) && readPageBody(bytes, body)))
                hit = nullptr;
        }
        if (hit) {
            file.reset();
            result.read = PageRead::Read;
            result.title = hit->title;
            result.tooComplex = hit->tooComplex;
            result.textBytes = hit->textBytes;
            result.content.title = hit->contentTitle;
            result.content.summary = hit->summary;
            result.content.linkShare = hit->linkShare;
            result.content.language = hit->language;
            result.content.scriptText = std::move(body.scriptText);
            result.content.sections = std::move(body.sections);
            if (!analysed.kept) {
                threadWords[thread].addPage(queued.document, body.words);
                if (companion)
                    threadTerms[thread]->terms.addPage(queued.document, body.terms);
            }
            analysed.english = hit->englishPlurals;
            analysed.entry = *hit;
            analysed.entry.racy = PageCache::racyAt(key, cacheUse->jobStart);
            analysed.cached = true;
        } else {
            analysed.kept = false;
            if (!readAlready)
                pageRead = file ? page.read(file.fd(), files()) : PageRead::CannotOpen;
            file.reset();
            if (pageRead == PageRead::Read)
                ++read;
            const std::uint64_t contentHash = keyed && pageRead == PageRead::Read ? cacheChecksum(page.text()) : 0;
            const bool readContent = companion && pageRead == PageRead::Read;
            result = analysePage(page, pageRead, PagePasses::TitleAndWords, contentMode, patternMatcher, readContent);
            threadWords[thread].addPage(queued.document, result.words);
            PageTerms* terms = nullptr;
            if (readContent) {
                ThreadTerms& own = *threadTerms[thread];
                own.counter.countPage(result.content, own.page);
                own.terms.addPage(queued.document, own.page);
                result.content.placed = PlacedText();
                terms = &own.page;
                analysed.english = own.page.englishPlurals;
            }
            if (keyed && pageRead == PageRead::Read) {
                CachedPage& entry = analysed.entry;
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
                std::string bytes;
                writePageBody(result.words, terms, readContent ? &result.content : nullptr, bytes);
                analysed.cached = cacheUse->cache->addBody(bytes, entry);
            }
            result.words.clear();
        }
        analysed.wordsEntered = result.read == PageRead::Read;
        // The text goes to its file from here, or is the one written for the same file
        // before; only the title and summary stay.
        if (companion && result.read == PageRead::Read && queued.sharesTextOf >= 0)
            companion->shareText(queued.document, queued.sharesTextOf);
        else if (companion && result.read == PageRead::Read)
            companion->writePageText(queued.document, result.content, result.textBytes);
        std::string().swap(result.content.scriptText);
        std::vector<PageSection>().swap(result.content.sections);
        return analysed;
    };
    // What the next job's cache keeps of a recorded page: its entry (once per file) and
    // its document; a page whose words stay in the tables keeps them under its new number.
    auto recordCacheEntry = [this, cacheUse](const QueuedPage& queued, const AnalysedPage& analysed) {
        CachedDocument document{queued.page.path, -1, analysed.wordsEntered};
        if (analysed.cached) {
            const auto file = std::make_pair(analysed.entry.key.device, analysed.entry.key.inode);
            auto found = cacheUse->pageOfFile.emplace(file, static_cast<std::int32_t>(cacheUse->pages.size()));
            if (found.second)
                cacheUse->pages.push_back(analysed.entry);
            document.page = found.first->second;
        }
        if (analysed.wordsEntered && !analysed.kept)
            ++cacheUse->pagesEntered;
        if (analysed.kept)
            cacheUse->newDocumentOf[static_cast<std::size_t>(queued.previous)] = static_cast<std::int32_t>(documents.size());
        cacheUse->documents.push_back(std::move(document));
    };
    {
        PagePipeline<QueuedPage, AnalysedPage, decltype(analyse)> pipeline(threads, 4 * threads, analyse);
        bool walked = false;
        QueuedPage queued;
        for (;;) {
            while (!walked && pipeline.hasRoom()) {
                if (walker.next(queued.page)) {
                    queued.document = submitted++;
                    auto first = firstDocuments.emplace(queued.page.file, queued.document);
                    queued.sharesTextOf = first.second ? -1 : first.first->second;
                    queued.wordsLeftOut = false;
                    queued.previous = -1;
                    if (cacheUse) {
                        const auto found = cacheUse->previousByPath.find(queued.page.path);
                        if (found != cacheUse->previousByPath.end())
                            queued.previous = found->second;
                    }
                    if (first.second)
                        distinctBytes += queued.page.size;
                    else if (repeatedBytes + queued.page.size <= distinctBytes / 2 + kRepeatedBytes)
                        repeatedBytes += queued.page.size;
                    else
                        queued.wordsLeftOut = true;
                    pipeline.submit(std::move(queued));
                } else {
                    walked = true;
                }
            }
            if (pipeline.empty() || stop.requested())
                break;  // pages parsed ahead of a stop are dropped unrecorded
            AnalysedPage analysed;
            pipeline.takeFront(queued, analysed);
            PageResult& result = analysed.result;
            if (cacheUse)
                recordCacheEntry(queued, analysed);
            if (queued.wordsLeftOut && result.read == PageRead::Read) {
                // The first document of the file is recorded: its title stands for this one.
                result.title = documents[static_cast<std::size_t>(queued.sharesTextOf)].title;
                ++pagesWordsLeftOut;
                recordPage(queued.page, result, queued.sharesTextOf);
            } else {
                recordPage(queued.page, result);
            }
            m_englishDocuments.push_back(analysed.english && analysed.wordsEntered);
        }
    }
    pagesOutside += walker.skippedOutside() + outside;
    pagesRead += read;
    pagesOwnerMayNot += ownerMayNot;
    const auto recorded = static_cast<std::int32_t>(documents.size());
    if (dictionary.empty() && recorded == submitted) {
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
    if (m_terms->empty() && recorded == submitted && !threadTerms.empty()) {
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
                             cached ? m_cache->newDocumentOf : kNoDocuments, dictionary, nullptr, threadsToUse(), stopSignal(),
                             m_tables->words))
        return false;
    m_tables->words.fillIndex(wordIndex);
    return true;
}

bool IndexEngine::composeWordsText(std::string& text)
{
    return IndexText::composeWordsText(wordIndex, stopSignal(), text);
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
    failure.clear();
    cacheProblem.clear();
    m_cache.reset();
    if (sourceFolder.empty() || destinationFolder.empty())
        return false;
    char working[PATH_MAX];
    m_startFolder = ::getcwd(working, sizeof working) ? working : "";
    bool written = false;
    try {
        if (companionData) {
            m_companion = std::make_unique<CompanionData>(destinationFolder, files());
            if (!m_companion->begin())
                companionFailed();
        }
        openCache();
        walkFolder(sourceFolder);
        report(ProgressKind::CreatingIndex);
        written = rankPostings() && writeIndexFiles();
        const bool companionWritten = companionData && m_companion;
        if (written && m_companion)
            finishCompanion();
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
    m_companion.reset();
    m_cache.reset();
    return written;
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
    if (!use->cache->open()) {
        cacheProblem = use->cache->problem();
        return;
    }
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    use->jobStart = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    const auto& previous = use->cache->documents();
    use->newDocumentOf.assign(previous.size(), -1);
    for (std::size_t d = 0; d < previous.size(); ++d)
        use->previousByPath.emplace(previous[d].path, static_cast<std::int32_t>(d));
    m_cache = std::move(use);
}

void IndexEngine::saveCache()
{
    if (!m_cache)
        return;
    // The tables are those on disk when no page gave words anew and every document kept
    // its number.
    const auto& renumbered = m_cache->newDocumentOf;
    bool tablesChanged = m_cache->pagesEntered > 0 || renumbered.size() != documents.size();
    for (std::size_t d = 0; d < renumbered.size() && !tablesChanged; ++d)
        tablesChanged = renumbered[d] != static_cast<std::int32_t>(d) && m_cache->cache->documents()[d].wordsEntered;
    if (m_cache->documents.size() != documents.size()
        || !m_cache->cache->save(std::move(m_cache->pages), std::move(m_cache->documents), *m_tables, tablesChanged))
        cacheProblem = cacheFolder + ": the cache could not be written";
}

void IndexEngine::finishCompanion()
{
    // The index is in place: the job runs to its end, so nothing stops the ranking here.
    const std::atomic<bool> never{false};
    static const RankedWords none;
    const bool cached = m_cache && m_cache->cache;
    const std::vector<std::int32_t>& renumbered = cached ? m_cache->newDocumentOf : kNoDocuments;
    RankedWords::update(cached ? m_cache->cache->tables().keys : none, renumbered, m_terms->keys(),
                        WordRules::lessByUtf16, threadsToUse(), StopSignal(never), m_tables->keys);
    RankedWords::update(cached ? m_cache->cache->tables().stemPairs : none, renumbered, m_terms->stemPairs(),
                        nullptr, threadsToUse(), StopSignal(never), m_tables->stemPairs);
    m_terms->clear();
    WordTable<char> stemmedKeys;
    for (std::size_t i = 0; i < m_tables->stemPairs.size(); ++i)
        stemmedKeys.findOrInsert(m_tables->stemPairs.word(i));
    addEnglishPluralPairs(m_tables->keys, m_englishDocuments, stemmedKeys);
    WordIndex keys;
    m_tables->keys.fillIndex(keys);
    std::string termsText;
    TermsText::compose(documents, keys, stemmedKeys, m_companion->linkShares(), termsText);
    keys.clear();
    const std::string base = pathMode == PathMode::RelativePath ? pagesBase(destinationFolder, sourceFolder) : "";
    textsCut = m_companion->textsCut();
    if (!m_companion->finish(documents, base, termsText))
        companionFailed();
}

void IndexEngine::companionFailed()
{
    report(ProgressKind::OutputFailed, m_companion->failedPath(), m_companion->error());
    m_companion.reset();
}

bool IndexEngine::writeIndexFiles()
{
    std::string text;
    if (!composeWordsText(text))
        return false;
    // Once the words text is complete the job runs to its end: no stop is tested here.
    StagedFile::removeStaleFiles(destinationFolder, files());
    auto failed = [this](ProgressKind kind, const StagedFile& file) {
        report(kind, file.target(), file.error());
        return false;
    };
    // Both files are written out before either replaces its old one, and the old words
    // file is kept until the documents file is in place, so the pair on disk always
    // belongs together.
    StagedFile words(destinationFolder + "/indexed_words.js", files());
    if (!words.write(text))
        return failed(ProgressKind::WordsFileFailed, words);
    composeDocsText(text);
    StagedFile docs(destinationFolder + "/indexed_docs.js", files());
    if (!docs.write(text))
        return failed(ProgressKind::DocsFileFailed, docs);
    std::string().swap(text);
    if (!words.replaceTarget(true))
        return failed(ProgressKind::WordsFileFailed, words);
    if (!docs.replaceTarget()) {
        words.restoreOld();
        return failed(ProgressKind::DocsFileFailed, docs);
    }
    return true;
}
