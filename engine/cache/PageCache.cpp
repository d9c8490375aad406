// The cache of a destination: the results of the pages a job read and the ranked tables
// of its index, kept in the user's private cache folder for the next job.

#include "PageCache.h"

#include "BuildId.h"
#include "CacheRecords.h"
#include "FolderWalker.h"
#include "StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_set>

namespace {
const char* const kMagic = "VantrelIndexer page cache\n";
constexpr std::uint32_t kFormat = 11;
const char* const kIndexName = "index";
const char* const kSegmentPrefix = "segment-";
const char* const kTablesPrefix = "tables-";
const char* const kWorkPrefix = "work-";
// Time stamps are trusted only for files last changed this long before a job started:
// coarser clocks (some file systems keep whole or even two seconds) could hide a change
// made in the same tick as the read.
constexpr std::int64_t kStampGranularity = 2'000'000'000;

std::int64_t nanoseconds(const struct timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// Whether a number names a segment file: "segment-" and decimal digits.
bool segmentNumber(const std::string& name, std::uint32_t& number)
{
    const std::size_t prefix = std::strlen(kSegmentPrefix);
    if (name.size() <= prefix || name.size() > prefix + 9 || name.compare(0, prefix, kSegmentPrefix) != 0)
        return false;
    number = 0;
    for (std::size_t i = prefix; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        number = number * 10 + static_cast<std::uint32_t>(name[i] - '0');
    }
    return true;
}

// A piece of the tables, or the file of the kept work, is named by the checksum of its
// bytes after its prefix.
std::string checksumName(const char* prefix, std::uint64_t checksum)
{
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(checksum));
    return prefix + std::string(hex);
}

std::string tablesName(std::uint64_t checksum)
{
    return checksumName(kTablesPrefix, checksum);
}

// Whether a name is one checksumName() gives with prefix: nothing else is ever opened as
// a piece or as the kept work.
bool isChecksumName(const char* prefix, const std::string& name)
{
    const std::size_t length = std::strlen(prefix);
    return name.size() == length + 16 && name.compare(0, length, prefix) == 0
        && std::all_of(name.begin() + static_cast<std::ptrdiff_t>(length), name.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isTablesName(const std::string& name)
{
    return isChecksumName(kTablesPrefix, name);
}

// The kept work as its file holds it: a count, then each result's checksum of inputs and
// bytes; "" when there is none.
std::string workBytes(const KeptWork& work)
{
    std::string bytes;
    if (work.empty())
        return bytes;
    RecordWriter out(bytes);
    out.number<std::uint64_t>(work.size());
    for (const auto& done : work) {
        out.number(done.first);
        out.text(done.second);
    }
    return bytes;
}

// Pieces of tables larger than this are not read.
constexpr std::uint64_t kLargestPiece = std::uint64_t(1) << 34;
// Bodies are written to their segment in writes of about this many bytes.
constexpr std::size_t kSegmentWrite = 1 << 20;

std::string segmentName(std::uint32_t number)
{
    return kSegmentPrefix + std::to_string(number);
}

void writeKey(RecordWriter& out, const PageFileKey& key)
{
    out.number(key.device);
    out.number(key.inode);
    out.number(key.size);
    out.number(key.modified);
    out.number(key.changed);
}

PageFileKey readKey(RecordReader& in)
{
    PageFileKey key;
    key.device = in.number<std::uint64_t>();
    key.inode = in.number<std::uint64_t>();
    key.size = in.number<std::int64_t>();
    key.modified = in.number<std::int64_t>();
    key.changed = in.number<std::int64_t>();
    return key;
}

// The pieces of the store named by their inputs, each a checksum, a name and a stamp.
void writeMadePieces(RecordWriter& out, const std::vector<PieceStore::Made>& pieces)
{
    out.number<std::uint64_t>(pieces.size());
    for (const PieceStore::Made& piece : pieces) {
        out.number(piece.inputs);
        out.text(piece.name);
        out.text(piece.stamp);
    }
}

void readMadePieces(RecordReader& in, std::vector<PieceStore::Made>& pieces)
{
    pieces.resize(in.count(sizeof(std::uint64_t) + 2));
    for (PieceStore::Made& piece : pieces) {
        piece.inputs = in.number<std::uint64_t>();
        piece.name = in.text();
        piece.stamp = in.text();
        if (!PieceStore::isPieceName(piece.name))
            in.fail();
    }
}

// Where a page's text stands in the output: the group's piece and the entry's offset.
void writeTextPlace(RecordWriter& out, const TextGroups::Location& place)
{
    out.text(place.group);
    out.number(place.offset);
}

TextGroups::Location readTextPlace(RecordReader& in)
{
    TextGroups::Location place;
    place.group = in.text();
    place.offset = in.number<std::uint64_t>();
    return place;
}

// Why an open folder may not hold the cache: "" when it is the user's and nobody
// else's.
std::string privacyProblem(FileSystem& fileSystem, int folder)
{
    struct stat info;
    if (!fileSystem.statAt(folder, "", info, false) || !S_ISDIR(info.st_mode))
        return "it is no folder";
    if (info.st_uid != ::geteuid())
        return "it belongs to another user";
    if (info.st_mode & (S_IRWXG | S_IRWXO))
        return "other users may enter it";
    return {};
}
}  // namespace

PageFileKey pageFileKey(const struct stat& info)
{
    PageFileKey key;
    key.device = info.st_dev;
    key.inode = info.st_ino;
    key.size = info.st_size;
    key.modified = nanoseconds(info.st_mtim);
    key.changed = nanoseconds(info.st_ctim);
    return key;
}

bool PageCache::racyAt(const PageFileKey& key, std::int64_t jobStart)
{
    return std::max(key.modified, key.changed) >= jobStart - kStampGranularity;
}

PageCache::PageCache(std::string folder, std::string settings, FileSystem& fileSystem)
    : m_folder(std::move(folder)), m_settings(std::move(settings)), m_fileSystem(fileSystem)
{
}

PageCache::~PageCache()
{
    if (m_newSegmentFd >= 0) {
        // Not saved: nothing will name its bodies.
        m_fileSystem.close(m_newSegmentFd);
        m_fileSystem.remove(m_folderFd, segmentName(m_newSegment));
    }
    for (const auto& segment : m_segments)
        if (segment.second >= 0)
            m_fileSystem.close(segment.second);
    if (m_folderFd >= 0)
        m_fileSystem.close(m_folderFd);
}

std::string PageCache::folderFor(const std::string& destinationFolder)
{
    std::string root;
    const char* cacheHome = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    if (cacheHome && cacheHome[0] == '/')
        root = cacheHome;
    else if (home && home[0] == '/')
        root = std::string(home) + "/.cache";
    else
        return {};
    std::string real = realPath(destinationFolder);
    if (real.empty())
        real = destinationFolder;
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(cacheChecksum(real)));
    return root + "/vantrelindexer/" + name;
}

bool PageCache::openFolder()
{
    // Every folder from the cache root on is made private when missing, and entered
    // without following a link; the last two (vantrelindexer/ and this destination's) must
    // be the user's own and closed to others.
    const std::size_t last = m_folder.rfind('/');
    const std::size_t parent = last == std::string::npos || last == 0 ? std::string::npos : m_folder.rfind('/', last - 1);
    if (parent == std::string::npos || parent == 0) {
        m_problem = "no cache folder";
        return false;
    }
    const std::string root = m_folder.substr(0, parent);
    FileHandle at(m_fileSystem, m_fileSystem.openFolder(AT_FDCWD, root, true));
    if (!at && errno == ENOENT) {
        // The cache root ($HOME/.cache) itself, made as the user's own like any folder above.
        for (std::size_t slash = root.find('/', 1); slash != std::string::npos || !at; slash = root.find('/', slash + 1)) {
            const std::string part = slash == std::string::npos ? root : root.substr(0, slash);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                break;
            if (slash == std::string::npos) {
                at = FileHandle(m_fileSystem, m_fileSystem.openFolder(AT_FDCWD, root, true));
                break;
            }
        }
    }
    if (!at) {
        m_problem = root + ": " + std::strerror(errno);
        return false;
    }
    for (const std::string& name : {m_folder.substr(parent + 1, last - parent - 1), m_folder.substr(last + 1)}) {
        if (!m_fileSystem.makeFolder(at.fd(), name, 0700) && errno != EEXIST) {
            m_problem = std::strerror(errno);
            return false;
        }
        FileHandle inner(m_fileSystem, m_fileSystem.openFolder(at.fd(), name, false));
        if (!inner) {
            m_problem = std::strerror(errno);
            return false;
        }
        if (const std::string problem = privacyProblem(m_fileSystem, inner.fd()); !problem.empty()) {
            m_problem = "not used: " + problem;
            return false;
        }
        at = std::move(inner);
    }
    m_folderFd = at.release();
    return true;
}

bool PageCache::open()
{
    if (!openFolder()) {
        m_problem = m_folder + ": " + m_problem;
        return false;
    }
    load();
    return true;
}

bool PageCache::readOwnFile(const std::string& name, std::size_t least, std::string& bytes) const
{
    FileHandle file(m_fileSystem, m_fileSystem.openForReading(m_folderFd, name, false));
    struct stat info;
    if (!file || !m_fileSystem.statAt(file.fd(), "", info, false) || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || info.st_size < static_cast<off_t>(least) || static_cast<std::uint64_t>(info.st_size) > kLargestPiece)
        return false;
    bytes.resize(static_cast<std::size_t>(info.st_size));
    return m_fileSystem.readFully(file.fd(), bytes.data(), bytes.size(), 0);
}

void PageCache::load()
{
    // Read whole and checked against the checksum at its end before any of it is taken;
    // the pages' texts stay in it as views (a string for each cost most of the reading).
    std::string bytes;
    if (!readOwnFile(kIndexName, sizeof(std::uint64_t), bytes))
        return;
    const std::size_t body = bytes.size() - sizeof(std::uint64_t);
    std::uint64_t written = 0;
    std::memcpy(&written, bytes.data() + body, sizeof written);
    if (cacheChecksum(std::string_view(bytes).substr(0, body)) != written)
        return;
    RecordReader in(std::string_view(bytes).substr(0, body));
    if (in.text() != kMagic || in.number<std::uint32_t>() != kFormat || in.text() != VANTREL_BUILD_ID
        || in.text() != m_settings)
        return;
    std::vector<CachedPage> pages(in.count(100));
    for (CachedPage& page : pages) {
        page.key = readKey(in);
        page.contentHash = in.number<std::uint64_t>();
        page.racy = in.number<std::uint8_t>() != 0;
        page.tooComplex = in.number<std::uint8_t>() != 0;
        page.englishPlurals = in.number<std::uint8_t>() != 0;
        page.linkShare = in.number<std::int32_t>();
        page.textBytes = in.number<std::uint64_t>();
        page.title = CachedText::viewOf(in.textView());
        page.contentTitle = CachedText::viewOf(in.textView());
        page.summary = CachedText::viewOf(in.textView());
        page.language = CachedText::viewOf(in.textView());
        page.textFacts.end = in.number<std::uint32_t>();
        page.textFacts.length = in.number<std::uint64_t>();
        page.textFacts.checksum = in.number<std::uint64_t>();
        page.textCut = in.number<std::uint8_t>() != 0;
        page.textPlace = readTextPlace(in);
        page.segment = in.number<std::uint32_t>();
        page.offset = in.number<std::uint64_t>();
        page.length = in.number<std::uint64_t>();
        page.checksum = in.number<std::uint64_t>();
    }
    std::vector<CachedDocument> documents(in.count(6));
    for (CachedDocument& document : documents) {
        document.path = CachedText::viewOf(in.textView());
        document.page = in.number<std::int32_t>();
        document.wordsEntered = in.number<std::uint8_t>() != 0;
        if (document.page < -1 || document.page >= static_cast<std::int64_t>(pages.size()))
            in.fail();
    }
    CachedJob job;
    job.textGroups.resize(in.count(sizeof(std::uint64_t) + 2));
    for (TextGroups::Written& group : job.textGroups) {
        group.entries = in.number<std::uint64_t>();
        group.name = in.text();
        group.stamp = in.text();
    }
    job.documentsChecksum = in.number<std::uint64_t>();
    job.base = in.text();
    job.wholeWordIndex = in.number<std::uint8_t>() != 0;
    job.words = in.number<std::uint64_t>();
    job.files.resize(in.count(2));
    for (auto& file : job.files) {
        file.first = in.text();
        file.second = in.text();
    }
    job.wordLines.resize(in.count(16));
    for (auto& lines : job.wordLines) {
        lines.first = in.number<std::uint64_t>();
        lines.second = in.number<std::uint64_t>();
    }
    readMadePieces(in, job.pieces);
    std::string workName = in.text();
    if (!workName.empty() && !isChecksumName(kWorkPrefix, workName))
        in.fail();
    const bool hasTables = in.number<std::uint8_t>() != 0;
    std::vector<std::string> tableNames[3];
    std::unordered_map<std::string, PieceStamp> pieceStamps;
    for (std::vector<std::string>& names : tableNames) {
        names.resize(in.count(1 + 5 * sizeof(std::uint64_t) + 1));
        for (std::string& name : names) {
            name = in.text();
            PieceStamp stamp;
            stamp.key = readKey(in);
            stamp.racy = in.number<std::uint8_t>() != 0;
            if (!isTablesName(name))
                in.fail();
            pieceStamps[name] = stamp;
        }
    }
    std::vector<double> keyLengths;
    in.array(keyLengths);
    if (keyLengths.size() > documents.size())
        in.fail();
    if (in.failed() || !in.atEnd())
        return;
    // The views point into the string's own buffer, which a move keeps.
    m_indexBytes = std::move(bytes);
    m_pages = std::move(pages);
    m_documents = std::move(documents);
    m_job = std::move(job);
    m_hasTables = hasTables;
    for (int t = 0; t < 3; ++t)
        m_tableNames[t] = std::move(tableNames[t]);
    m_pieceStamps = std::move(pieceStamps);
    m_workName = std::move(workName);
    m_tables.keyLengths = std::move(keyLengths);
    m_byInode.reserve(m_pages.size());
    for (std::size_t i = 0; i < m_pages.size(); ++i)
        m_byInode.emplace(m_pages[i].key.inode ^ (m_pages[i].key.device << 40), i);
}

bool PageCache::loadTables(std::int64_t jobStart)
{
    if (m_tablesLoaded || (!m_hasTables && m_documents.empty()))
        return true;  // read before, or a cache with nothing in it
    if (!m_hasTables)
        return false;
    // Each piece is mapped, not copied (fresh memory cleared for a copy cost more than
    // the reading), and checked before any of it is used: its checksum must be the one in
    // its name, and its counts, offsets and documents those of a range. That goes through
    // every page of 55 MB on a large site, which a job in which nothing changed never
    // reads otherwise, so a piece whose file still has the stamp it had when its bytes
    // were last checked or written, taken longer than the stamps' granularity after it
    // changed, is taken by its counts alone: a write since, cut or not, would have moved
    // its size or times. The pieces are never written again under their names (a new
    // piece goes in under a temporary name and is renamed; an old one is unlinked), so a
    // mapping keeps the bytes checked.
    const auto documentLimit = static_cast<std::int32_t>(std::min<std::size_t>(m_documents.size(), INT32_MAX));
    RankedWords* tables[3] = {&m_tables.words, &m_tables.keys, &m_tables.stemPairs};
    for (int t = 0; t < 3; ++t) {
        tables[t]->clear();
        for (const std::string& name : m_tableNames[t]) {
            FileHandle file(m_fileSystem, m_fileSystem.openForReading(m_folderFd, name, false));
            struct stat info;
            if (!file || !m_fileSystem.statAt(file.fd(), "", info, false) || !S_ISREG(info.st_mode)
                || info.st_uid != ::geteuid() || info.st_size <= 0 || static_cast<std::uint64_t>(info.st_size) > kLargestPiece)
                return false;
            const auto size = static_cast<std::size_t>(info.st_size);
            const void* mapped = m_fileSystem.mapForReading(file.fd(), size);
            if (!mapped)
                return false;
            const std::shared_ptr<const std::uint64_t[]> block(static_cast<const std::uint64_t*>(mapped),
                                                                [size](const std::uint64_t* at) {
                                                                    ::munmap(const_cast<std::uint64_t*>(at), size);
                                                                });
            const PageFileKey key = pageFileKey(info);
            PieceStamp& stamp = m_pieceStamps[name];
            const bool known = !stamp.racy && stamp.key == key;
            RankedWords::Range range;
            if ((!known && tablesName(cacheChecksum(std::string_view(static_cast<const char*>(mapped), size))) != name)
                || !RankedWords::Range::fromBlock(block, size, documentLimit, range, known))
                return false;
            // Kept for the next job when this one writes the index (a job that writes
            // nothing checks the same piece again).
            if (!known) {
                stamp = PieceStamp{key, racyAt(key, jobStart)};
                m_stampsLearned = m_stampsLearned || !stamp.racy;
            }
            range.piece = name;
            tables[t]->ranges().push_back(std::move(range));
        }
    }
    m_tablesLoaded = true;
    return true;
}

void PageCache::forget()
{
    m_pages.clear();
    m_documents.clear();
    m_byInode.clear();
    m_tables = CachedTables();
    m_job = CachedJob();
    m_hasTables = false;
    for (std::vector<std::string>& names : m_tableNames)
        names.clear();
    m_pieceStamps.clear();
    m_stampsLearned = false;
    m_tablesLoaded = false;
    m_workName.clear();
    m_work.clear();
    m_workRead = true;
    m_workIntact = false;
}

const KeptWork& PageCache::keptWork()
{
    if (m_workRead)
        return m_work;
    // Read whole and taken only when its bytes have the checksum its name gives; a file
    // that is not what the index names leaves the work to be done again.
    m_workRead = true;
    std::string bytes;
    if (m_workName.empty() || !readOwnFile(m_workName, 1, bytes))
        return m_work;
    if (checksumName(kWorkPrefix, cacheChecksum(bytes)) != m_workName)
        return m_work;
    RecordReader in(bytes);
    KeptWork work(in.count(sizeof(std::uint64_t) + 1));
    for (auto& done : work) {
        done.first = in.number<std::uint64_t>();
        done.second = in.text();
    }
    if (in.failed() || !in.atEnd())
        return m_work;
    m_work = std::move(work);
    m_workIntact = true;
    return m_work;
}

bool PageCache::writeWork(const KeptWork& work, std::string& name)
{
    // Named by the checksum of its bytes, written under a name nobody can predict and
    // renamed: a file this job found whole under the same name already holds them.
    const std::string bytes = workBytes(work);
    name = bytes.empty() ? std::string() : checksumName(kWorkPrefix, cacheChecksum(bytes));
    if (name.empty() || (name == m_workName && m_workIntact))
        return true;
    const std::string temporary = "work." + unpredictableDigits();
    const int fd = m_fileSystem.createNew(m_folderFd, temporary, 0600);
    bool done = fd >= 0 && m_fileSystem.writeAll(fd, bytes);
    if (fd >= 0)
        m_fileSystem.close(fd);
    done = done && m_fileSystem.rename(m_folderFd, temporary, m_folderFd, name);
    if (!done)
        m_fileSystem.remove(m_folderFd, temporary);
    return done;
}

bool PageCache::writeTables(const CachedTables& tables, std::vector<std::string> (&names)[3])
{
    // A range read from a piece stays in it; the others are written, each under a name
    // nobody can predict, then renamed to the checksum of its bytes.
    const RankedWords* written[3] = {&tables.words, &tables.keys, &tables.stemPairs};
    for (int t = 0; t < 3; ++t) {
        names[t].clear();
        for (const RankedWords::Range& range : written[t]->ranges()) {
            if (!range.piece.empty()) {
                names[t].push_back(range.piece);
                continue;
            }
            const std::string_view bytes = range.bytes();
            const std::string name = tablesName(cacheChecksum(bytes));
            const std::string temporary = "tables." + unpredictableDigits();
            const int fd = m_fileSystem.createNew(m_folderFd, temporary, 0600);
            bool done = fd >= 0 && m_fileSystem.writeAll(fd, bytes);
            done = done && m_fileSystem.rename(m_folderFd, temporary, m_folderFd, name);
            // Its stamp once renamed (a rename moves the change time): the bytes just
            // written are known, though only until the granularity has passed.
            struct stat info;
            done = done && m_fileSystem.statAt(fd, "", info, false);
            if (fd >= 0)
                m_fileSystem.close(fd);
            if (!done) {
                m_fileSystem.remove(m_folderFd, temporary);
                return false;
            }
            m_pieceStamps[name] = PieceStamp{pageFileKey(info), true};
            names[t].push_back(name);
        }
    }
    return true;
}

const CachedPage* PageCache::find(const PageFileKey& key) const
{
    const auto found = m_byInode.find(key.inode ^ (key.device << 40));
    if (found == m_byInode.end() || m_pages[found->second].key != key)
        return nullptr;
    return &m_pages[found->second];
}

int PageCache::segmentDescriptor(std::uint32_t segment) const
{
    auto found = m_segments.find(segment);
    if (found == m_segments.end()) {
        int fd = m_fileSystem.openForReading(m_folderFd, segmentName(segment), false);
        struct stat info;
        if (fd >= 0 && (!m_fileSystem.statAt(fd, "", info, false) || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())) {
            m_fileSystem.close(fd);
            fd = -1;
        }
        found = m_segments.emplace(segment, fd).first;
    }
    return found->second;
}

bool PageCache::readBody(const CachedPage& page, std::string& body) const
{
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = segmentDescriptor(page.segment);
    }
    if (fd < 0 || page.length > (std::uint64_t(1) << 40))
        return false;
    body.resize(page.length);
    return m_fileSystem.readFully(fd, body.data(), body.size(), static_cast<off_t>(page.offset))
        && cacheChecksum(body) == page.checksum;
}

bool PageCache::openNewSegment()
{
    std::vector<FolderEntry> entries;
    m_fileSystem.listFolder(m_folderFd, entries);
    std::uint32_t highest = 0, number;
    for (const FolderEntry& entry : entries)
        if (segmentNumber(entry.name, number))
            highest = std::max(highest, number);
    for (const CachedPage& page : m_pages)
        highest = std::max(highest, page.segment);
    m_newSegment = highest + 1;
    m_newSegmentFd = m_fileSystem.createNew(m_folderFd, segmentName(m_newSegment), 0600);
    m_newSegmentSize = 0;
    return m_newSegmentFd >= 0;
}

bool PageCache::addBody(std::string_view body, CachedPage& page)
{
    const std::uint64_t checksum = cacheChecksum(body);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_folderFd < 0 || (m_newSegmentFd < 0 && (m_newSegment != 0 || !openNewSegment())))
        return false;
    // Bodies go out in large writes: one write per page cost a system call each, made
    // while the other threads waited for the lock.
    m_newSegmentBuffer.append(body);
    if (m_newSegmentBuffer.size() >= kSegmentWrite && !writeSegmentBuffer())
        return false;
    page.segment = m_newSegment;
    page.offset = m_newSegmentSize;
    page.length = body.size();
    page.checksum = checksum;
    m_newSegmentSize += body.size();
    return true;
}

bool PageCache::writeSegmentBuffer()
{
    const bool written = m_fileSystem.writeAll(m_newSegmentFd, m_newSegmentBuffer);
    m_newSegmentBuffer.clear();
    if (!written) {
        // The file's end is no longer known: none of its bodies is kept.
        m_fileSystem.close(m_newSegmentFd);
        m_fileSystem.remove(m_folderFd, segmentName(m_newSegment));
        m_newSegmentFd = -1;
        m_newSegmentLost = true;
    }
    return written;
}

bool PageCache::save(std::vector<CachedPage> pages, std::vector<CachedDocument> documents, const CachedTables* tables,
                     const CachedJob& job, const KeptWork* work)
{
    if (m_folderFd < 0)
        return false;
    auto samePage = [](const CachedPage& a, const CachedPage& b) {
        return a.key == b.key && a.racy == b.racy && a.segment == b.segment && a.offset == b.offset
            && a.textPlace.group == b.textPlace.group && a.textPlace.offset == b.textPlace.offset;
    };
    auto sameDocument = [](const CachedDocument& a, const CachedDocument& b) {
        return a.path.view() == b.path.view() && a.page == b.page && a.wordsEntered == b.wordsEntered;
    };
    // A piece whose stamp this job came to trust is worth an index written again: every
    // later job would run its bytes through the checksum once more.
    if (!tables && !work && !m_stampsLearned && (&job == &m_job || job == m_job) && m_newSegmentFd < 0 && std::equal(pages.begin(), pages.end(), m_pages.begin(), m_pages.end(), samePage)
        && std::equal(documents.begin(), documents.end(), m_documents.begin(), m_documents.end(), sameDocument))
        return true;  // what is on disk says it all
    // Segments whose bodies are mostly unused now: their live bodies move to the new
    // segment, so that the cache stays within about twice what it holds.
    std::map<std::uint32_t, std::uint64_t> used;
    for (const CachedPage& page : pages)
        used[page.segment] += page.length;
    std::map<std::uint32_t, bool> sparse;  // by segment, looked at once
    std::string body;
    for (CachedPage& page : pages) {
        if (page.segment == m_newSegment && m_newSegment != 0)
            continue;
        auto found = sparse.find(page.segment);
        if (found == sparse.end()) {
            struct stat info;
            const int fd = segmentDescriptor(page.segment);
            found = sparse.emplace(page.segment, fd < 0 || !m_fileSystem.statAt(fd, "", info, false)
                                                     || 2 * used[page.segment] < static_cast<std::uint64_t>(info.st_size))
                        .first;
        }
        if (found->second && !(readBody(page, body) && addBody(body, page))) {
            page.segment = 0;  // lost: the entry goes below
            page.length = 0;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_newSegmentFd >= 0 && writeSegmentBuffer()) {
            m_fileSystem.close(m_newSegmentFd);
            m_newSegmentFd = -1;
        }
    }
    std::vector<std::int32_t> kept(pages.size(), -1);
    std::vector<CachedPage> live;
    live.reserve(pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (pages[i].segment == 0 || (m_newSegmentLost && pages[i].segment == m_newSegment))
            continue;
        kept[i] = static_cast<std::int32_t>(live.size());
        live.push_back(std::move(pages[i]));
    }
    for (CachedDocument& document : documents)
        if (document.page >= 0)
            document.page = kept[document.page];

    // The tables first, under a name of their own: the index in place names the old ones
    // until the new index replaces it.
    std::vector<std::string> newTables[3] = {m_tableNames[0], m_tableNames[1], m_tableNames[2]};
    if (tables && !writeTables(*tables, newTables))
        return false;
    std::string newWork = m_workName;
    if (work && !writeWork(*work, newWork))
        return false;
    const std::vector<double>& keyLengths = tables ? tables->keyLengths : m_tables.keyLengths;
    // Written whole under a name nobody can predict, then renamed over the old index.
    const std::string temporary = "index." + unpredictableDigits();
    const int fd = m_fileSystem.createNew(m_folderFd, temporary, 0600);
    bool written = fd >= 0;
    if (written) {
        RecordWriter out(m_fileSystem, fd);
        out.text(kMagic);
        out.number(kFormat);
        out.text(VANTREL_BUILD_ID);
        out.text(m_settings);
        out.number<std::uint64_t>(live.size());
        for (const CachedPage& page : live) {
            writeKey(out, page.key);
            out.number(page.contentHash);
            out.number<std::uint8_t>(page.racy);
            out.number<std::uint8_t>(page.tooComplex);
            out.number<std::uint8_t>(page.englishPlurals);
            out.number(page.linkShare);
            out.number(page.textBytes);
            out.text(page.title);
            out.text(page.contentTitle);
            out.text(page.summary);
            out.text(page.language);
            out.number(page.textFacts.end);
            out.number(page.textFacts.length);
            out.number(page.textFacts.checksum);
            out.number<std::uint8_t>(page.textCut);
            writeTextPlace(out, page.textPlace);
            out.number(page.segment);
            out.number(page.offset);
            out.number(page.length);
            out.number(page.checksum);
        }
        out.number<std::uint64_t>(documents.size());
        for (const CachedDocument& document : documents) {
            out.text(document.path);
            out.number(document.page);
            out.number<std::uint8_t>(document.wordsEntered);
        }
        out.number<std::uint64_t>(job.textGroups.size());
        for (const TextGroups::Written& group : job.textGroups) {
            out.number(group.entries);
            out.text(group.name);
            out.text(group.stamp);
        }
        out.number(job.documentsChecksum);
        out.text(job.base);
        out.number<std::uint8_t>(job.wholeWordIndex);
        out.number(job.words);
        out.number<std::uint64_t>(job.files.size());
        for (const auto& file : job.files) {
            out.text(file.first);
            out.text(file.second);
        }
        out.number<std::uint64_t>(job.wordLines.size());
        for (const auto& lines : job.wordLines) {
            out.number(lines.first);
            out.number(lines.second);
        }
        writeMadePieces(out, job.pieces);
        out.text(newWork);
        out.number<std::uint8_t>(tables || m_hasTables);
        for (const std::vector<std::string>& names : newTables) {
            out.number<std::uint64_t>(names.size());
            for (const std::string& name : names) {
                out.text(name);
                const auto stamp = m_pieceStamps.find(name);
                writeKey(out, stamp == m_pieceStamps.end() ? PageFileKey() : stamp->second.key);
                out.number<std::uint8_t>(stamp == m_pieceStamps.end() || stamp->second.racy);
            }
        }
        out.array(keyLengths);
        out.number(out.checksum());
        written = out.flush();
        m_fileSystem.close(fd);
    }
    written = written && m_fileSystem.rename(m_folderFd, temporary, m_folderFd, kIndexName);
    if (!written) {
        m_fileSystem.remove(m_folderFd, temporary);
        return false;
    }
    m_newSegment = 0;  // named by the index now: kept
    m_newSegmentLost = false;
    m_stampsLearned = false;
    m_hasTables = m_hasTables || tables;
    for (int t = 0; t < 3; ++t)
        m_tableNames[t] = std::move(newTables[t]);
    if (&job != &m_job)
        m_job = job;
    if (newWork != m_workName) {
        m_workName = std::move(newWork);
        m_work.clear();
        m_workRead = false;
        m_workIntact = false;
    }
    removeUnusedSegments(live);
    return true;
}

void PageCache::removeUnusedSegments(const std::vector<CachedPage>& pages)
{
    std::vector<bool> inUse;
    for (const CachedPage& page : pages) {
        if (page.segment >= inUse.size())
            inUse.resize(page.segment + 1);
        inUse[page.segment] = true;
    }
    std::unordered_set<std::string> named;
    for (const std::vector<std::string>& names : m_tableNames)
        named.insert(names.begin(), names.end());
    std::vector<FolderEntry> entries;
    m_fileSystem.listFolder(m_folderFd, entries);
    std::vector<std::string> unused;
    std::uint32_t number;
    for (FolderEntry& entry : entries) {
        if ((segmentNumber(entry.name, number) && !(number < inUse.size() && inUse[number]))
            || (entry.name.rfind(kTablesPrefix, 0) == 0 && !named.count(entry.name))
            || (entry.name.rfind(kWorkPrefix, 0) == 0 && entry.name != m_workName)
            // and files left by a job that was killed
            || (entry.name.rfind("work.", 0) == 0 && areUnpredictableDigits(entry.name.substr(5)))
            || (entry.name.rfind("tables.", 0) == 0 && areUnpredictableDigits(entry.name.substr(7)))
            || (entry.name.rfind("index.", 0) == 0 && areUnpredictableDigits(entry.name.substr(6))))
            unused.push_back(std::move(entry.name));
    }
    removeFiles(m_fileSystem, m_folderFd, unused, m_removalsAtOnce);
}
