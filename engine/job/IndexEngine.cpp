// One indexing job on the engine: the walk feeding the page pipeline, the recording of
// pages in walk order, the ranking of the words and the writing of the index pair.

#include "IndexEngine.h"

#include "CompanionData.h"
#include "DocumentNumbers.h"
#include "ExcludeRules.h"
#include "FileSystem.h"
#include "FolderWalker.h"
#include "IndexText.h"
#include "PageAnalysis.h"
#include "PagePipeline.h"
#include "PageTerms.h"
#include "RobotsMeta.h"
#include "StagedFile.h"
#include "TermsText.h"
#include "WordRules.h"

#include <algorithm>
#include <climits>
#include <map>
#include <new>
#include <thread>
#include <unistd.h>

IndexEngine::IndexEngine() : m_terms(std::make_unique<TermDictionary>()) { resetTables(); }

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
    rules.exclude = m_excludeRules && !m_excludeRules->empty() ? m_excludeRules.get() : nullptr;
    FolderWalker walker(folder, rules, files());
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
    struct QueuedPage {
        PageItem page;
        std::size_t place = 0;          // in walk order, from 0
        std::size_t firstPlace = 0;     // of the first page of the same file
        bool repeated = false;          // the file was reached before
        bool wordsLeftOut = false;
    };
    // What a page thread gives the recorder: the page's result, its number and the entry
    // of its text (or the document whose text it shares).
    struct NumberedPage {
        PageResult result;
        std::int32_t document = -1;      // -1: left out, it asks not to be indexed
        std::int32_t sharesTextOf = -1;  // the first document of its file, when recorded
        std::string textEntry;
        bool textCut = false;
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
    std::map<FileKey, std::size_t> firstPlaces;
    std::atomic<std::size_t> outside{0}, ownerMayNot{0};
    std::size_t submitted = 0, taken = 0;
    DocumentNumbers numbers(static_cast<std::int32_t>(documents.size()));
    CompanionData* companion = m_companion.get();
    auto analyse = [this, &threadWords, &threadTerms, &walker, &outside, &ownerMayNot, &numbers, companion](
                       const QueuedPage& queued, unsigned thread) {
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
        NumberedPage numbered;
        PageResult& result = numbered.result;
        int fd = -1;
        const PageOpening opening = walker.openPage(queued.page, fd);
        if (opening == PageOpening::Outside || opening == PageOpening::Changed)
            ++outside;
        else if (opening == PageOpening::OwnerMayNot)
            ++ownerMayNot;
        FileHandle file(files(), fd);
        if (queued.wordsLeftOut) {
            // Judged like any page, but not read: it is the file read for an earlier
            // document, and is left out when that one was.
            const std::int32_t first = numbers.numberOf(queued.firstPlace);
            settling.settle(first >= 0);
            if (first < 0)
                return numbered;
            numbered.document = numbers.numberOf(queued.place);
            numbered.sharesTextOf = first;
            result.read = file ? PageRead::Read : PageRead::CannotOpen;
            return numbered;
        }
        PageText page;
        const PageRead read = file ? page.read(file.fd(), files()) : PageRead::CannotOpen;
        file.reset();
        const bool noindex = read == PageRead::Read && asksNotToBeIndexed(page.text());
        settling.settle(!noindex);
        if (noindex)
            return numbered;
        const bool readContent = companion && read == PageRead::Read;
        result = analysePage(page, read, PagePasses::TitleAndWords, contentMode, patternMatcher, readContent);
        const std::int32_t document = numbered.document = numbers.numberOf(queued.place);
        threadWords[thread].addPage(document, result.words);
        result.words.clear();
        if (readContent) {
            ThreadTerms& own = *threadTerms[thread];
            own.counter.countPage(result.content, own.page);
            own.terms.addPage(document, own.page);
            result.content.placed = PlacedText();
        }
        // The text becomes its entry in a group here, which the recorder adds in document
        // order; a text of the same file recorded before (unless that one was left out)
        // is shared instead. Only the title and summary stay.
        const std::int32_t first = readContent && queued.repeated ? numbers.numberOf(queued.firstPlace) : -1;
        numbered.sharesTextOf = first;
        if (readContent && first < 0)
            numbered.textEntry = CompanionData::textEntry(result.content, result.textBytes, numbered.textCut);
        std::string().swap(result.content.scriptText);
        std::vector<PageSection>().swap(result.content.sections);
        return numbered;
    };
    {
        PagePipeline<QueuedPage, NumberedPage, decltype(analyse)> pipeline(threads, 4 * threads, analyse);
        bool walked = false;
        QueuedPage queued;
        for (;;) {
            while (!walked && pipeline.hasRoom()) {
                if (walker.next(queued.page)) {
                    queued.place = submitted++;
                    auto first = firstPlaces.emplace(queued.page.file, queued.place);
                    queued.firstPlace = first.first->second;
                    queued.repeated = !first.second;
                    queued.wordsLeftOut = false;
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
            NumberedPage numbered;
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
                else
                    companion->addText(numbered.document, std::move(numbered.textEntry), numbered.textCut);
            }
            if (queued.wordsLeftOut && result.read == PageRead::Read) {
                // The first document of the file is recorded: its title stands for this one.
                result.title = documents[static_cast<std::size_t>(numbered.sharesTextOf)].title;
                ++pagesWordsLeftOut;
                recordPage(queued.page, result, numbered.sharesTextOf);
            } else {
                recordPage(queued.page, result);
            }
        }
    }
    pagesOutside += walker.skippedOutside() + outside;
    pagesOwnerMayNot += ownerMayNot;
    const LeftOutCounts& walkerLeftOut = walker.leftOut();
    leftOut.pagesByIgnoreFile += walkerLeftOut.pagesByIgnoreFile;
    leftOut.foldersByIgnoreFile += walkerLeftOut.foldersByIgnoreFile;
    leftOut.pagesByExclude += walkerLeftOut.pagesByExclude;
    leftOut.foldersByExclude += walkerLeftOut.foldersByExclude;
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
    return wordIndex.rank(dictionary, threadsToUse(), stopSignal());
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
    leftOut = LeftOutCounts();
    failure.clear();
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
            if (!m_companion->begin())
                companionFailed();
        }
        walkFolder(sourceFolder);
        report(ProgressKind::CreatingIndex);
        written = rankPostings() && writeIndexFiles();
        if (written && m_companion)
            finishCompanion();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // Without a new index the new page texts go; the old index stays as it was.
    m_companion.reset();
    return written;
}

void IndexEngine::finishCompanion()
{
    // The index is in place: the job runs to its end, so nothing stops the ranking here.
    const std::atomic<bool> never{false};
    m_terms->groupEnglishPlurals();
    m_terms->scorePostings();
    WordIndex keys;
    keys.rank(m_terms->keys(), threadsToUse(), StopSignal(never), WordRules::lessByUtf16);
    m_terms->releasePostings();  // ranked into keys: not held beside the text composed next
    std::string termsText;
    TermsText::compose(documents, keys, m_terms->stemmedKeys(), m_companion->linkShares(), termsText);
    PieceStore* store = m_companion->store();
    const std::string wordsHead = store ? TermsText::putPieces(documents, keys, m_terms->stemmedKeys(), m_companion->linkShares(), *store) : "";
    keys.clear();
    m_terms->clear();
    const std::string base = pathMode == PathMode::RelativePath ? pagesBase(destinationFolder, sourceFolder) : "";
    textsCut = m_companion->textsCut();
    if (!m_companion->finish(documents, base, termsText, wordsHead))
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
