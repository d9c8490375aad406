#include "IndexEngine.h"

#include "FolderWalker.h"
#include "PageFile.h"
#include "PagePatterns.h"
#include "PageScanner.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <new>
#include <mutex>
#include <system_error>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
const char* const kNoTitle = "Document has no name";

void appendNumber(std::string& text, std::int64_t value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}
}  // namespace

// ---------------------------------------------------------------------------------
// Word index

void WordIndex::reserve(std::size_t words, std::size_t documents)
{
    m_words.reserve(words);
    m_starts.reserve(words);
    m_documents.reserve(documents);
}

void WordIndex::startWord(std::string_view word)
{
    m_words.push_back(word);
    m_starts.push_back(m_documents.size());
}

void WordIndex::append(const WordIndex& other)
{
    const std::size_t offset = m_documents.size();
    m_words.insert(m_words.end(), other.m_words.begin(), other.m_words.end());
    for (std::size_t start : other.m_starts)
        m_starts.push_back(start + offset);
    m_documents.insert(m_documents.end(), other.m_documents.begin(), other.m_documents.end());
}

void WordIndex::clear()
{
    std::vector<std::string_view>().swap(m_words);
    std::vector<std::size_t>().swap(m_starts);
    std::vector<std::int32_t>().swap(m_documents);
}

// ---------------------------------------------------------------------------------
// Text helpers

std::string formatPageDate(std::int64_t secondsSinceEpoch)
{
    std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm fields{};
    if (::gmtime_r(&time, &fields) == nullptr)
        return {};
    long long year = static_cast<long long>(fields.tm_year) + 1900;
    if (year < 1 || year > 9999)
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "%02d-%02d-%04lld", fields.tm_mday, fields.tm_mon + 1, year);
    return text;
}

std::string escapeTitle(std::string_view title)
{
    std::string escaped;
    escaped.reserve(title.size());
    for (char c : title) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '"': escaped += "\\\""; break;
        case '\n':
        case '\r': escaped += ' '; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string escapeLocation(std::string_view location)
{
    std::string escaped;
    escaped.reserve(location.size());
    for (char c : location) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '"': escaped += "\\\""; break;
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// ---------------------------------------------------------------------------------
// Engine

IndexEngine::IndexEngine() { resetTables(); }

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
}

unsigned IndexEngine::threadsToUse() const
{
    return threadCount ? threadCount : std::max(1u, std::thread::hardware_concurrency());
}

void IndexEngine::appendLine(const std::string& line)
{
    if (progressLog)
        progressLog->append(line);
}

namespace {
TitleMatch findPageTitle(std::string_view upperText, PatternMatcher matcher)
{
    if (matcher == PatternMatcher::Scanner)
        return PageScanner::findTitle(upperText);
    TitleMatch title;
    PagePatterns::instance().findTitle(upperText, title);  // keeps the last title found
    return title;
}

// False when the pattern library gave up part of the way through.
bool countPageWords(std::string_view upperText, ContentMode mode, PatternMatcher matcher,
                    PageWords& pageWords)
{
    if (matcher == PatternMatcher::Scanner) {
        PageScanner::countPageWords(upperText, mode, pageWords);
        return true;
    }
    return PagePatterns::instance().countPageWords(upperText, mode, pageWords);
}
}  // namespace

std::string IndexEngine::readTitle(const std::string& path)
{
    PageText page;
    switch (page.read(path)) {
    case PageRead::CannotOpen: return kNoTitle;
    case PageRead::CannotRead: appendLine("Cann't read file " + path + "!"); return kNoTitle;
    case PageRead::Read: break;
    }
    toUpperInPlace(page.data(), page.length());
    TitleMatch title = findPageTitle(page.text(), patternMatcher);
    return title.found ? escapeTitle(title.text) : kNoTitle;
}

PageWords IndexEngine::parseDocument(const std::string& path)
{
    PageWords pageWords;
    appendLine("Parsing " + path + "...");
    PageText page;
    switch (page.read(path)) {
    case PageRead::CannotOpen: break;
    case PageRead::CannotRead: appendLine("Cann't read file!"); break;
    case PageRead::Read:
        toUpperInPlace(page.data(), page.length());
        if (!countPageWords(page.text(), contentMode, patternMatcher, pageWords))
            appendLine("Page too complex, indexed in part!");
        break;
    }
    appendLine("Done!");
    return pageWords;
}

void IndexEngine::addPageWords(std::int32_t documentIndex, const PageWords& pageWords)
{
    dictionary.addPage(documentIndex, pageWords);
}

// What reading one page gave: everything its title and word passes produce. Made on any
// thread; recorded in document order by recordPage().
struct IndexEngine::PageResult {
    PageRead read = PageRead::CannotOpen;
    std::string title = kNoTitle;
    PageWords words;
    bool tooComplex = false;
};

// Each page is read once and shared by the title and word passes.
IndexEngine::PageResult IndexEngine::analysePage(const std::string& path) const
{
    PageResult result;
    PageText page;
    result.read = page.read(path);
    if (result.read != PageRead::Read)
        return result;
    toUpperInPlace(page.data(), page.length());
    try {
        TitleMatch title = findPageTitle(page.text(), patternMatcher);
        if (title.found)
            result.title = escapeTitle(title.text);
        result.tooComplex = !countPageWords(page.text(), contentMode, patternMatcher, result.words);
    } catch (const std::bad_alloc&) {
        // A page whose words do not fit in memory keeps those counted so far.
        result.tooComplex = true;
    }
    return result;
}

std::string IndexEngine::locationOf(const std::string& pagePath) const
{
    if (pathMode != PathMode::RelativePath && pathMode != PathMode::UrlPrefix)
        return pagePath;
    std::string relative = pagePath.substr(std::min(sourceFolder.size() + 1, pagePath.size()));
    if (pathMode == PathMode::RelativePath)
        return relative;
    std::string location = urlPrefix;
    std::replace(location.begin(), location.end(), '\\', '/');
    location += '/';
    location += relative;
    return location;
}

void IndexEngine::recordPage(const PageItem& page, PageResult& result)
{
    if (result.read == PageRead::CannotRead)
        appendLine("Cann't read file " + page.path + "!");
    documents.push_back(DocumentEntry{std::move(result.title), locationOf(page.path),
                                      formatPageDate(page.modified)});
    auto documentIndex = static_cast<std::int32_t>(documents.size() - 1);
    appendLine("Parsing " + page.path + "...");
    if (result.read == PageRead::CannotRead)
        appendLine("Cann't read file!");
    if (result.tooComplex)
        appendLine("Page too complex, indexed in part!");
    appendLine("Done!");
    addPageWords(documentIndex, result.words);
}

namespace {
// Reads pages ahead of the recorder on worker threads. Pages are handed out in walk
// order and taken back in the same order; the taking thread parses queued pages itself
// while it waits, so all threads stay busy. analyse(item, thread) learns which thread
// runs it: 0 for the taking thread, 1 to threads - 1 for the workers.
template <typename Item, typename Result, typename Analyse>
class PagePipeline {
public:
    PagePipeline(unsigned threads, std::size_t window, Analyse analyse)
        : m_window(window), m_analyse(std::move(analyse))
    {
        try {
            for (unsigned i = 1; i < threads; ++i)
                m_workers.emplace_back([this, i] { work(i); });
        } catch (...) {
            // Fewer workers only means less speed: the taking thread parses the rest.
        }
    }

    ~PagePipeline()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        for (std::thread& worker : m_workers)
            worker.join();
    }

    bool hasRoom() const { return m_slots.size() < m_window; }
    bool empty() const { return m_slots.empty(); }

    void submit(Item item)
    {
        auto slot = std::make_unique<Slot>();
        slot->item = std::move(item);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_slots.push_back(std::move(slot));
        }
        m_changed.notify_one();
    }

    // Waits for the oldest page, helping with later ones meanwhile, and hands it over.
    void takeFront(Item& item, Result& result)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Slot* front = m_slots.front().get();
        while (front->state != Slot::Ready) {
            if (Slot* slot = claimNext()) {
                lock.unlock();
                slot->result = m_analyse(slot->item, 0);
                lock.lock();
                slot->state = Slot::Ready;
                continue;
            }
            m_changed.wait(lock);
        }
        std::unique_ptr<Slot> slot = std::move(m_slots.front());
        m_slots.pop_front();
        --m_claimed;
        lock.unlock();
        item = std::move(slot->item);
        result = std::move(slot->result);
    }

private:
    struct Slot {
        enum State { Queued, Parsing, Ready } state = Queued;
        Item item;
        Result result;
    };

    // The oldest queued page, marked as being parsed; null when none waits. Called
    // with the mutex held.
    Slot* claimNext()
    {
        if (m_claimed >= m_slots.size())
            return nullptr;
        Slot* slot = m_slots[m_claimed++].get();
        slot->state = Slot::Parsing;
        return slot;
    }

    void work(unsigned thread)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            Slot* slot = nullptr;
            m_changed.wait(lock, [&] { return m_closing || (slot = claimNext()) != nullptr; });
            if (!slot)
                return;
            lock.unlock();
            Result result = m_analyse(slot->item, thread);
            lock.lock();
            slot->result = std::move(result);
            slot->state = Slot::Ready;
            m_changed.notify_all();
        }
    }

    const std::size_t m_window;
    Analyse m_analyse;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Slot>> m_slots;  // in walk order
    std::size_t m_claimed = 0;                  // slots [0, m_claimed) are parsing or ready
    bool m_closing = false;
    std::vector<std::thread> m_workers;
};
}  // namespace

void IndexEngine::walkFolder(const std::string& folder)
{
    FolderWalker walker(folder);
    const unsigned threads = threadsToUse();
    PageItem page;
    if (threads <= 1) {
        while (walker.next(page)) {
            if (stopping())
                return;
            PageResult result = analysePage(page.path);
            recordPage(page, result);
        }
        return;
    }

    // Each thread merges the words of the pages it parses into a dictionary of its own,
    // under the page's document number (its place in walk order); the recorder only
    // appends entries and lines. The dictionaries are joined once the walk has ended,
    // without the pages parsed ahead of a stop.
    struct QueuedPage {
        PageItem page;
        std::int32_t document = 0;
    };
    std::vector<WordDictionary> threadWords(threads);
    std::int32_t submitted = static_cast<std::int32_t>(documents.size());
    auto analyse = [this, &threadWords](const QueuedPage& queued, unsigned thread) {
        PageResult result = analysePage(queued.page.path);
        threadWords[thread].addPage(queued.document, result.words);
        result.words.clear();
        return result;
    };
    {
        PagePipeline<QueuedPage, PageResult, decltype(analyse)> pipeline(threads, 4 * threads, analyse);
        bool walked = false;
        QueuedPage queued;
        for (;;) {
            while (!walked && pipeline.hasRoom()) {
                if (walker.next(queued.page)) {
                    queued.document = submitted++;
                    pipeline.submit(std::move(queued));
                } else {
                    walked = true;
                }
            }
            if (pipeline.empty() || stopping())
                break;  // pages parsed ahead of a stop are dropped unrecorded
            PageResult result;
            pipeline.takeFront(queued, result);
            recordPage(queued.page, result);
        }
    }
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
}

namespace {
// Ranks the words order[begin, end) of table into index, each word's documents by
// descending weight; false when a stop was found.
bool rankWords(const WordTable<Postings>& table, const std::vector<std::uint32_t>& order, std::size_t begin,
               std::size_t end, WordIndex& index, const std::atomic<bool>& stop)
{
    auto stopping = [&stop] { return stop.load(std::memory_order_relaxed); };
    std::size_t postingCount = 0;
    for (std::size_t k = begin; k < end; ++k)
        postingCount += table.entries()[order[k]].value.size();
    index.reserve(end - begin, postingCount);
    std::vector<Posting> working;
    for (std::size_t k = begin; k < end; ++k) {
        if (stopping())
            return false;
        const auto& entry = table.entries()[order[k]];
        working.clear();
        working.reserve(entry.value.size());
        for (const Posting& posting : entry.value) {
            if (stopping())
                return false;
            working.push_back(posting);
        }
        // Highest weight first; equal weights in ascending document order, as a stable
        // sort of postings in document order gives them (postings of pages parsed on
        // several threads arrive in no fixed order).
        std::sort(working.begin(), working.end(), [](const Posting& a, const Posting& b) {
            return a.weight > b.weight || (a.weight == b.weight && a.document < b.document);
        });
        index.startWord(table.wordOf(entry));
        for (const Posting& posting : working) {
            if (stopping())
                return false;
            index.appendDocument(posting.document);
        }
    }
    return true;
}
}  // namespace

bool IndexEngine::rankPostings()
{
    const WordTable<Postings>& table = dictionary.table();
    const std::vector<std::uint32_t> order = table.sortedIndexes();
    // With more than one thread, the words after the one that holds the middle posting
    // are ranked beside the first half and appended after it.
    std::size_t split = order.size();
    if (threadsToUse() > 1) {
        std::size_t postingCount = 0;
        for (const auto& entry : table.entries())
            postingCount += entry.value.size();
        std::size_t seen = 0;
        for (split = 0; split < order.size() && seen < postingCount / 2; ++split)
            seen += table.entries()[order[split]].value.size();
    }
    WordIndex tail;
    bool tailRanked = true;
    std::thread helper;
    if (split < order.size()) {
        try {
            helper = std::thread([&] { tailRanked = rankWords(table, order, split, order.size(), tail, stopRequested); });
        } catch (const std::system_error&) {
            split = order.size();  // no thread to be had: rank it all here
        }
    }
    bool headRanked = rankWords(table, order, 0, split, wordIndex, stopRequested);
    if (helper.joinable())
        helper.join();
    if (!headRanked || !tailRanked)
        return false;
    wordIndex.append(tail);
    return true;
}

bool IndexEngine::composeWordsText(std::string& text)
{
    text = "var index=[";
    for (std::size_t i = 0; i < wordIndex.size(); ++i) {
        if (stopping())
            return false;
        text += "[\"";
        text += wordIndex.word(i);
        text += "\",";
        for (const std::int32_t* d = wordIndex.documentsBegin(i); d != wordIndex.documentsEnd(i); ++d) {
            if (stopping())
                return false;
            appendNumber(text, *d);
            text += ',';
        }
        if (text.back() == ',')
            text.pop_back();
        text += "],\n";
    }
    if (text.size() > 11)
        text.erase(text.size() - 2, 1);
    text += "];";
    return true;
}

void IndexEngine::composeDocsText(std::string& text)
{
    text = "var docs=[";
    for (std::size_t k = 0; k < documents.size(); ++k) {
        const DocumentEntry& entry = documents[k];
        text += '[';
        appendNumber(text, static_cast<std::int64_t>(k));
        text += ",\"";
        text += entry.title;
        text += "\",\"";
        text += escapeLocation(entry.location);
        text += "\",\"";
        text += entry.date;
        text += "\"],";
    }
    if (!documents.empty())
        text.pop_back();
    text += "];";
}

namespace {
bool writeAll(int fd, const char* data, std::size_t length)
{
    while (length > 0) {
        ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// A target that exists but may not be written, or is marked read-only for everybody,
// must not be replaced.
bool targetIsReadOnly(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0)
        return false;
    if (S_ISDIR(info.st_mode))
        return true;
    if (::stat(path.c_str(), &info) == 0)
        return ::access(path.c_str(), W_OK) != 0 || (info.st_mode & 0222) == 0;
    return false;
}
}  // namespace

namespace {
enum class Staged { Written, TargetReadOnly, Failed };

// Removes a temporary file unless it was renamed into place.
struct TemporaryFile {
    std::string path;
    ~TemporaryFile()
    {
        if (!path.empty())
            ::unlink(path.c_str());
    }
    bool renameTo(const std::string& target)
    {
        if (::rename(path.c_str(), target.c_str()) != 0)
            return false;
        path.clear();
        return true;
    }
};

// Writes text completely (flushed and closed) to a new temporary file in folder, to be
// renamed over folder + fileName.
Staged stageFile(const std::string& folder, const std::string& fileName, const std::string& text,
                 TemporaryFile& temporary)
{
    if (targetIsReadOnly(folder + fileName))
        return Staged::TargetReadOnly;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        std::string path = folder + "/." + fileName.substr(fileName.rfind('/') + 1) + ".tmp-"
            + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            temporary.path = path;
        else if (errno != EEXIST)
            break;
    }
    if (fd < 0)
        return Staged::Failed;
    bool ok = writeAll(fd, text.data(), text.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    return ok ? Staged::Written : Staged::Failed;
}
}  // namespace

bool IndexEngine::writeIndexFile(const std::string& fileName, const std::string& text,
                                 const std::string& failureLine)
{
    TemporaryFile temporary;
    bool written = stageFile(destinationFolder, fileName, text, temporary) == Staged::Written
        && temporary.renameTo(destinationFolder + fileName);
    if (!written)
        appendLine(failureLine);
    return written;
}

bool IndexEngine::buildIndex()
{
    stopRequested.store(false, std::memory_order_relaxed);
    resetTables();
    if (sourceFolder.empty() || destinationFolder.empty())
        return false;
    try {
        return buildTables() && writeIndexFiles();
    } catch (const std::exception&) {
        // Out of memory or threads: the old index stays as it was.
        return false;
    }
}

bool IndexEngine::buildTables()
{
    walkFolder(sourceFolder);
    appendLine("Creating index ...");
    return rankPostings();
}

bool IndexEngine::writeIndexFiles()
{
    const std::string wordsFile = "/indexed_words.js", docsFile = "/indexed_docs.js";
    const std::string wordsFailure = "Can't create index file!", docsFailure = "Can't create dictionary file!";
    std::string text;
    if (!composeWordsText(text))
        return false;
    TemporaryFile words, docs;
    if (stageFile(destinationFolder, wordsFile, text, words) != Staged::Written) {
        appendLine(wordsFailure);
        return false;
    }
    // The documents file is written out before the words file replaces the old one, so a
    // disk or size limit that runs out on it leaves the old pair whole. Only a documents
    // file that may not be replaced at all leaves the new words file beside the old one.
    composeDocsText(text);
    Staged docsStaged = stageFile(destinationFolder, docsFile, text, docs);
    if (docsStaged == Staged::Failed) {
        appendLine(docsFailure);
        return false;
    }
    if (!words.renameTo(destinationFolder + wordsFile)) {
        appendLine(wordsFailure);
        return false;
    }
    if (docsStaged != Staged::Written || !docs.renameTo(destinationFolder + docsFile)) {
        appendLine(docsFailure);
        return false;
    }
    return true;
}
