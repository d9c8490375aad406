// The cache of a destination: the results of the pages a job read and the ranked tables
// of its index, kept in the user's private cache folder for the next job.

#include "PageCache.h"

#include "BuildId.h"
#include "ByteDelta.h"
#include "CacheRecords.h"
#include "FolderWalker.h"
#include "StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <set>
#include <unordered_set>

namespace {
const char* const kMagic = "VantrelIndexer page cache\n";
constexpr std::uint32_t kFormat = 19;
const char* const kIndexName = "index";
const char* const kSegmentPrefix = "segment-";
const char* const kTablesPrefix = "tables-";  // of a range's or result's name, and of the files of caches before packs
const char* const kPackPrefix = "ranges-";
const char* const kWorkPrefix = "work-";  // of the file of the kept work of caches before it lay in packs
// Time stamps are trusted only for files last changed this long before a job started:
// coarser clocks (some file systems keep whole or even two seconds) could hide a change
// made in the same tick as the read.
constexpr std::int64_t kStampGranularity = 2'000'000'000;

std::int64_t nanoseconds(const struct timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// Whether a name is a numbered file's: the prefix ("segment-", "ranges-") and decimal
// digits.
bool fileNumber(const char* prefixText, const std::string& name, std::uint32_t& number)
{
    const std::size_t prefix = std::strlen(prefixText);
    if (name.size() <= prefix || name.size() > prefix + 9 || name.compare(0, prefix, prefixText) != 0)
        return false;
    number = 0;
    for (std::size_t i = prefix; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        number = number * 10 + static_cast<std::uint32_t>(name[i] - '0');
    }
    return true;
}

bool segmentNumber(const std::string& name, std::uint32_t& number)
{
    return fileNumber(kSegmentPrefix, name, number);
}

// A range of the tables, or a result of the kept work, is named by the checksum of its
// bytes after its prefix.
std::string checksumName(const char* prefix, std::uint64_t checksum)
{
    // By hand: a job names thousands (snprintf cost a thousand instructions each).
    static const char digits[] = "0123456789abcdef";
    std::string name(prefix);
    const std::size_t at = name.size();
    name.resize(at + 16);
    for (std::size_t i = 16; i-- > 0; checksum >>= 4)
        name[at + i] = digits[checksum & 15];
    return name;
}

std::string tablesName(std::uint64_t checksum)
{
    return checksumName(kTablesPrefix, checksum);
}

// Whether a name is one checksumName() gives with prefix: nothing else is ever placed in
// a pack.
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

// The checksum a range's name (tablesName()) gives, as the index keeps it.
std::uint64_t checksumOfName(const std::string& name)
{
    std::uint64_t checksum = 0;
    for (std::size_t i = std::strlen(kTablesPrefix); i < name.size(); ++i)
        checksum = checksum << 4 | static_cast<std::uint64_t>(name[i] <= '9' ? name[i] - '0' : name[i] - 'a' + 10);
    return checksum;
}

// The fewest bytes a range's place takes in the index: its checksum and three varints.
constexpr std::size_t kLeastPlaced = sizeof(std::uint64_t) + 3;

// Packs of ranges larger than this are not read.
constexpr std::uint64_t kLargestPiece = std::uint64_t(1) << 34;
// Ranges checked whole are worth an index written only to record their packs' stamps
// when they are this many times the index's size: fewer are checked again by each job
// more cheaply than the index is written (a checksum of mapped bytes against a write of
// new ones; the next job that writes the index records them anyway).
constexpr std::uint64_t kStampsWorthAnIndex = 4;
// Ranges lie in their packs at offsets that are multiples of this (their numbers are
// read in place).
constexpr std::uint64_t kRangeAlignment = 8;
// A range of the tables that a job changed is kept as its delta from the range it
// replaced when it is at least this large and the delta at most this share of it; else
// (a delta grown past that over several jobs among them) it is written whole, and the
// next jobs' deltas are of it.
constexpr std::size_t kLeastDeltaRange = 4096;
constexpr std::size_t kDeltaShare = 8;
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

// The index's record of what the last job wrote is most of its bytes, and an edit writes
// it whole, so it is kept compact:
// - the files' paths each as the length of what it shares with the path before it (at
//   most kLongestShared bytes, so that no path read is longer than its bytes allow for
//   much) and the rest;
// - their stamps (PieceStore's: device, inode, size, modification and change times, seven
//   numbers) as varints of their differences from the stamp before, the change time from
//   the stamp's own modification time; a stamp of another form as it is;
// - the pieces made and the groups of texts, every one of them a file written under
//   indexed_text/ with the stamp it has there, as the number of that file in the list.
constexpr std::size_t kLongestShared = 255;
constexpr std::size_t kStampFields = 7;
constexpr std::string_view kPiecesFolder = "indexed_text/";

std::uint64_t zigzag(std::uint64_t difference)
{
    return (difference << 1) ^ (0 - (difference >> 63));
}

std::uint64_t unzigzag(std::uint64_t value)
{
    return (value >> 1) ^ (0 - (value & 1));
}

void writeStamp(RecordWriter& out, std::string_view stamp, std::uint64_t (&previous)[kStampFields])
{
    if (stamp.size() != sizeof previous) {
        out.number<std::uint8_t>(0);
        out.text(stamp);
        return;
    }
    std::uint64_t fields[kStampFields];
    std::memcpy(fields, stamp.data(), sizeof fields);
    out.number<std::uint8_t>(1);
    for (std::size_t f = 0; f < kStampFields; ++f)
        out.varint(zigzag(fields[f] - (f >= 5 ? fields[f - 2] : previous[f])));
    std::memcpy(previous, fields, sizeof fields);
}

void readStamp(RecordReader& in, std::string& stamp, std::uint64_t (&previous)[kStampFields])
{
    const auto form = in.number<std::uint8_t>();
    if (form == 0) {
        stamp = in.text();
        return;
    }
    if (form != 1) {
        in.fail();
        return;
    }
    std::uint64_t fields[kStampFields];
    for (std::size_t f = 0; f < kStampFields; ++f)
        fields[f] = unzigzag(in.varint()) + (f >= 5 ? fields[f - 2] : previous[f]);
    std::memcpy(previous, fields, sizeof fields);
    stamp.assign(reinterpret_cast<const char*>(fields), sizeof fields);
}

using WrittenFiles = std::vector<std::pair<std::string, std::string>>;

void writeFiles(RecordWriter& out, const WrittenFiles& files)
{
    out.number<std::uint64_t>(files.size());
    std::string_view before;
    std::uint64_t stamp[kStampFields] = {};
    for (const auto& [path, fileStamp] : files) {
        std::size_t shared = 0;
        const std::size_t most = std::min({path.size(), before.size(), kLongestShared});
        while (shared < most && path[shared] == before[shared])
            ++shared;
        out.varint(shared);
        out.text(std::string_view(path).substr(shared));
        writeStamp(out, fileStamp, stamp);
        before = path;
    }
}

void readFiles(RecordReader& in, WrittenFiles& files)
{
    files.resize(in.count(3));
    std::uint64_t stamp[kStampFields] = {};
    for (std::size_t i = 0; i < files.size() && !in.failed(); ++i) {
        const auto shared = in.varint();
        if (shared > kLongestShared || (i > 0 ? shared > files[i - 1].first.size() : shared > 0)) {
            in.fail();
            break;
        }
        std::string& path = files[i].first;
        if (shared > 0)
            path.assign(files[i - 1].first, 0, static_cast<std::size_t>(shared));
        path += in.text();
        readStamp(in, files[i].second, stamp);
    }
}

// The files written under indexed_text/, by their names there: their numbers in the list.
std::unordered_map<std::string_view, std::size_t> piecesWritten(const WrittenFiles& files)
{
    std::unordered_map<std::string_view, std::size_t> pieces;
    pieces.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].first.compare(0, kPiecesFolder.size(), kPiecesFolder) == 0)
            pieces.emplace(std::string_view(files[i].first).substr(kPiecesFolder.size()), i);
    return pieces;
}

// A piece's name and stamp: 1 + the number of the file written as it, or 0 and both.
void writePieceOf(RecordWriter& out, const std::unordered_map<std::string_view, std::size_t>& pieces,
                  const WrittenFiles& files, const std::string& name, const std::string& stamp)
{
    const auto found = pieces.find(name);
    if (found != pieces.end() && files[found->second].second == stamp) {
        out.varint(found->second + 1);
        return;
    }
    out.varint(0);
    out.text(name);
    out.text(stamp);
}

void readPieceOf(RecordReader& in, const WrittenFiles& files, std::string& name, std::string& stamp)
{
    const auto file = in.varint();
    if (file == 0) {
        name = in.text();
        stamp = in.text();
    } else if (file <= files.size() && files[file - 1].first.compare(0, kPiecesFolder.size(), kPiecesFolder) == 0) {
        name = files[file - 1].first.substr(kPiecesFolder.size());
        stamp = files[file - 1].second;
    } else {
        in.fail();
    }
}

// Where a page's text stands in the output: the group's piece and the entry's offset.
void writeTextPlace(RecordWriter& out, const CachedTextPlace& place)
{
    out.text(place.group);
    out.number(place.offset);
}

// The group's name is a view of the record's bytes, as the page's texts are.
void readTextPlace(RecordReader& in, CachedTextPlace& place)
{
    place.group.setView(in.textView());
    place.offset = in.number<std::uint64_t>();
}

// A page's record, as its block holds it.
void writePage(RecordWriter& out, const CachedPage& page)
{
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

// The smallest record writePage() gives: a count of records no block can hold fails.
constexpr std::size_t kLeastPageRecord = 100;

// The page records are cut into blocks, each named by the checksum of its bytes and
// placed in the packs as a range is: a block ends after a page whose file (device and
// inode) hashes to 0 modulo kBlockEvery once it holds kBlockLeast pages, or at kBlockMost.
// The ends follow the pages' own files, not their places among the pages, so an edited,
// added or removed page changes the block that holds it (and the next one, when that page
// ended it), and every other block keeps its bytes, name and place: an edit writes a block
// or two of records, not the records of every page.
constexpr std::size_t kBlockLeast = 8;
constexpr unsigned kBlockEveryBits = 5;  // 1 page in 32
constexpr std::size_t kBlockMost = 128;

bool endsBlock(const CachedPage& page, std::size_t held)
{
    if (held >= kBlockMost)
        return true;
    const std::uint64_t mixed = (page.key.inode ^ (page.key.device << 40)) * 0x9E3779B97F4A7C15ull;
    return held >= kBlockLeast && (mixed >> (64 - kBlockEveryBits)) == 0;
}

// Whether two pages give the same record (writePage()): every field it writes is equal.
bool sameRecord(const CachedPage& a, const CachedPage& b)
{
    return a.key == b.key && a.contentHash == b.contentHash && a.racy == b.racy && a.tooComplex == b.tooComplex
        && a.englishPlurals == b.englishPlurals && a.linkShare == b.linkShare && a.textBytes == b.textBytes
        && a.title.view() == b.title.view() && a.contentTitle.view() == b.contentTitle.view()
        && a.summary.view() == b.summary.view() && a.language.view() == b.language.view()
        && a.textFacts == b.textFacts && a.textCut == b.textCut
        && a.textPlace.group.view() == b.textPlace.group.view() && a.textPlace.offset == b.textPlace.offset
        && a.segment == b.segment && a.offset == b.offset && a.length == b.length && a.checksum == b.checksum;
}

// Reads a page's record; its texts are views of the block's bytes.
void readPage(RecordReader& in, CachedPage& page)
{
    page.key = readKey(in);
    page.contentHash = in.number<std::uint64_t>();
    page.racy = in.number<std::uint8_t>() != 0;
    page.tooComplex = in.number<std::uint8_t>() != 0;
    page.englishPlurals = in.number<std::uint8_t>() != 0;
    page.linkShare = in.number<std::int32_t>();
    page.textBytes = in.number<std::uint64_t>();
    page.title.setView(in.textView());
    page.contentTitle.setView(in.textView());
    page.summary.setView(in.textView());
    page.language.setView(in.textView());
    page.textFacts.end = in.number<std::uint32_t>();
    page.textFacts.length = in.number<std::uint64_t>();
    page.textFacts.checksum = in.number<std::uint64_t>();
    page.textCut = in.number<std::uint8_t>() != 0;
    readTextPlace(in, page.textPlace);
    page.segment = in.number<std::uint32_t>();
    page.offset = in.number<std::uint64_t>();
    page.length = in.number<std::uint64_t>();
    page.checksum = in.number<std::uint64_t>();
}

// How a document's record gives its page. Pages are kept in the order of the documents
// that first read them, so nearly every document's page is the one after the last page
// so given ("next", whatever the pages before: a page added or removed before it leaves
// its record as it was); one that shares an earlier page (a link) names it by how far
// back it lies from the next.
struct DocumentPage {
    enum Kind : std::uint8_t { kNone = 0, kNext = 1, kNamed = 2 };
    Kind kind = kNone;
    std::int32_t back = 0;  // kNamed's
    bool operator==(const DocumentPage& other) const { return kind == other.kind && back == other.back; }
};

std::vector<DocumentPage> documentPages(const std::vector<CachedDocument>& documents)
{
    std::vector<DocumentPage> pages(documents.size());
    std::int64_t next = 0;
    for (std::size_t d = 0; d < documents.size(); ++d) {
        if (documents[d].page < 0)
            continue;
        if (documents[d].page == next) {
            pages[d].kind = DocumentPage::kNext;
            ++next;
        } else {
            pages[d] = DocumentPage{DocumentPage::kNamed, static_cast<std::int32_t>(next - documents[d].page)};
        }
    }
    return pages;
}

// A document's record, as its block holds it.
void writeDocument(RecordWriter& out, const CachedDocument& document, DocumentPage page)
{
    out.text(document.path);
    out.number<std::uint8_t>(static_cast<std::uint8_t>((document.wordsEntered ? 1 : 0) | (page.kind << 1)));
    if (page.kind == DocumentPage::kNamed)
        out.number(page.back);
}

// The smallest record writeDocument() gives.
constexpr std::size_t kLeastDocumentRecord = 2;

// The documents' records are cut into blocks as the pages' are, by their paths: an edit
// that adds, removes or renames no page names every block as it stood, and one that does
// writes the block (or two) that holds it.
bool endsDocumentBlock(const CachedDocument& document, std::size_t held)
{
    if (held >= kBlockMost)
        return true;
    return held >= kBlockLeast && (cacheChecksum(document.path) >> (64 - kBlockEveryBits)) == 0;
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
    closeFiles();
}

void PageCache::closeFiles()
{
    if (m_newSegmentFd >= 0) {
        // Not saved: nothing will name its bodies.
        m_fileSystem.close(m_newSegmentFd);
        m_fileSystem.remove(m_folderFd, segmentName(m_newSegment));
        m_newSegmentFd = -1;
    }
    for (const auto& segment : m_segments)
        if (segment.second >= 0)
            m_fileSystem.close(segment.second);
    m_segments.clear();
    if (m_folderFd >= 0)
        m_fileSystem.close(m_folderFd);
    m_folderFd = -1;
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

std::shared_ptr<const char> PageCache::mapOwnFile(const std::string& name, std::size_t least, struct stat& info) const
{
    FileHandle file(m_fileSystem, m_fileSystem.openForReading(m_folderFd, name, false));
    if (!file || !m_fileSystem.statAt(file.fd(), "", info, false) || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || info.st_size <= 0 || info.st_size < static_cast<off_t>(least)
        || static_cast<std::uint64_t>(info.st_size) > kLargestPiece)
        return nullptr;
    const auto length = static_cast<std::size_t>(info.st_size);
    const void* mapped = m_fileSystem.mapForReading(file.fd(), length);
    if (!mapped)
        return nullptr;
    return std::shared_ptr<const char>(static_cast<const char*>(mapped),
                                       [length](const char* at) { ::munmap(const_cast<char*>(at), length); });
}

void PageCache::load()
{
    // Mapped (a copy into memory cleared for it cost more than the rest of the reading)
    // and checked against the checksum at its end before any of it is taken; the pages'
    // texts stay in it as views (a string for each cost most of the reading). The index
    // is never written in place (a new one is renamed over it), so the mapping keeps the
    // bytes checked.
    struct stat info;
    std::shared_ptr<const char> mapped = mapOwnFile(kIndexName, sizeof(std::uint64_t), info);
    if (!mapped)
        return;
    const auto size = static_cast<std::size_t>(info.st_size);
    const std::string_view bytes(mapped.get(), size);
    const std::size_t body = bytes.size() - sizeof(std::uint64_t);
    std::uint64_t written = 0;
    std::memcpy(&written, bytes.data() + body, sizeof written);
    if (cacheChecksum(bytes.substr(0, body)) != written)
        return;
    RecordReader in(bytes.substr(0, body));
    if (in.text() != kMagic || in.number<std::uint32_t>() != kFormat || in.text() != VANTREL_BUILD_ID
        || in.text() != m_settings)
        return;
    // The pages' records lie in blocks in the packs (read below, once the packs are
    // known): here, how many pages there are and each block's count of them and place.
    std::unordered_map<std::string, RangePlace> rangePlaces;
    // A range's name is its checksum; its pack, offset and length are varints.
    auto readPlaced = [&in, &rangePlaces](std::string& name) {
        name = tablesName(in.number<std::uint64_t>());
        RangePlace place;
        const auto pack = in.varint();
        place.pack = static_cast<std::uint32_t>(pack);
        place.offset = in.varint();
        place.length = in.varint();
        if (pack > UINT32_MAX)
            in.fail();
        // A name placed twice must be placed alike: one range's bytes.
        const auto placed = rangePlaces.emplace(name, place);
        if (!isTablesName(name) || place.offset % kRangeAlignment != 0 || place.length == 0
            || place.length > kLargestPiece || place.offset > kLargestPiece - place.length
            || (!placed.second
                && (placed.first->second.pack != place.pack || placed.first->second.offset != place.offset
                    || placed.first->second.length != place.length)))
            in.fail();
    };
    // A count of records, then the blocks that hold them, each with its count and place.
    auto readBlocks = [&in, &readPlaced](std::vector<PageBlock>& blocks) {
        const auto records = in.number<std::uint64_t>();
        blocks.resize(in.count(sizeof(std::uint32_t) + kLeastPlaced));
        std::uint64_t blocked = 0;
        for (PageBlock& block : blocks) {
            block.pages = in.number<std::uint32_t>();
            readPlaced(block.name);
            blocked += block.pages;
        }
        if (blocked != records)
            in.fail();
        return records;
    };
    std::vector<PageBlock> pageBlocks;
    const auto pageCount = readBlocks(pageBlocks);
    // The documents' records lie in blocks too (read once the pages are).
    std::vector<PageBlock> documentBlocks;
    const auto documentCount = readBlocks(documentBlocks);
    CachedJob job;
    readFiles(in, job.files);
    job.textGroups.resize(in.count(sizeof(std::uint64_t) + 1));
    for (TextGroups::Written& group : job.textGroups) {
        group.entries = in.number<std::uint64_t>();
        readPieceOf(in, job.files, group.name, group.stamp);
    }
    job.documentsChecksum = in.number<std::uint64_t>();
    job.base = in.text();
    job.wholeWordIndex = in.number<std::uint8_t>() != 0;
    job.words = in.number<std::uint64_t>();
    job.wordLines.resize(in.count(16));
    for (auto& lines : job.wordLines) {
        lines.first = in.number<std::uint64_t>();
        lines.second = in.number<std::uint64_t>();
    }
    job.pieces.resize(in.count(sizeof(std::uint64_t) + 1));
    for (PieceStore::Made& piece : job.pieces) {
        piece.inputs = in.number<std::uint64_t>();
        readPieceOf(in, job.files, piece.name, piece.stamp);
        if (!PieceStore::isPieceName(piece.name))
            in.fail();
    }
    const bool hasTables = in.number<std::uint8_t>() != 0;
    std::vector<std::string> tableNames[3];
    std::unordered_map<std::string, RangeDelta> rangeDeltas;
    for (std::vector<std::string>& names : tableNames) {
        names.resize(in.count(1 + kLeastPlaced));
        for (std::string& name : names) {
            if (in.number<std::uint8_t>() == 0) {
                readPlaced(name);
                continue;
            }
            // A range kept as its delta from a range placed whole.
            name = in.text();
            RangeDelta delta;
            readPlaced(delta.base);
            readPlaced(delta.delta);
            const auto added = rangeDeltas.emplace(name, delta);
            if (!isTablesName(name)
                || (!added.second && (added.first->second.base != delta.base || added.first->second.delta != delta.delta)))
                in.fail();
        }
    }
    // A name is a range placed whole or one kept as a delta, never both.
    for (const auto& [name, delta] : rangeDeltas)
        if (rangePlaces.count(name))
            in.fail();
    // The kept work's results, each placed as a range is; one of no bytes has no name.
    WorkNames workNames(in.count(sizeof(std::uint64_t) + 1));
    for (auto& [inputs, name] : workNames) {
        inputs = in.number<std::uint64_t>();
        if (in.number<std::uint8_t>() != 0)
            readPlaced(name);
    }
    std::map<std::uint32_t, PackStamp> packStamps;
    for (std::uint64_t packs = in.count(sizeof(std::uint32_t) + 5 * sizeof(std::uint64_t) + 1); packs > 0; --packs) {
        const auto number = in.number<std::uint32_t>();
        PackStamp stamp;
        stamp.key = readKey(in);
        stamp.racy = in.number<std::uint8_t>() != 0;
        packStamps[number] = stamp;
    }
    std::vector<double> keyLengths;
    in.array(keyLengths);
    if (keyLengths.size() > documentCount)
        in.fail();
    if (in.failed() || !in.atEnd())
        return;
    // The views point into the mapping, which lives as long as the cache.
    m_indexBytes = std::move(mapped);
    m_indexSize = size;
    m_job = std::move(job);
    m_hasTables = hasTables;
    for (int t = 0; t < 3; ++t)
        m_tableNames[t] = std::move(tableNames[t]);
    m_rangePlaces = std::move(rangePlaces);
    m_rangeDeltas = std::move(rangeDeltas);
    m_packStamps = std::move(packStamps);
    m_workNames = std::move(workNames);
    m_tables.keyLengths = std::move(keyLengths);
    m_pageBlocks = std::move(pageBlocks);
    m_documentBlocks = std::move(documentBlocks);
    if (!loadPages(pageCount) || !loadDocuments(documentCount)) {
        // The index stands but its pages cannot be taken: the job is told, as of tables
        // that cannot be read (loadTables()), and reads every page.
        m_pages.clear();
        m_documents.clear();
        m_pagesLost = true;
        return;
    }
    m_byFile.reserve(m_pages.size());
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        const PageFileKey& key = m_pages[i].key;
        m_byFile.insert(FlatIndex::hashOf(key.device, key.inode), static_cast<std::int32_t>(i),
                        [&](std::int32_t other) { return m_pages[static_cast<std::size_t>(other)].key.sameFile(key); });
    }
}

std::int32_t PageCache::pageOfFile(const PageFileKey& key) const
{
    return m_byFile.find(FlatIndex::hashOf(key.device, key.inode),
                         [&](std::int32_t page) { return m_pages[static_cast<std::size_t>(page)].key.sameFile(key); });
}

bool PageCache::blockBytes(const std::vector<PageBlock>& blocks, std::size_t leastRecord, std::vector<std::string_view>& bytes)
{
    // Each run through its checksum unless its pack's stamp vouches for it, as a range is.
    bytes.reserve(blocks.size());
    for (const PageBlock& block : blocks) {
        const MappedPack* pack = nullptr;
        const std::string_view placed = placedBytes(m_rangePlaces.at(block.name), true, m_learnedBytes, pack);
        if (!placed.data() || block.pages > placed.size() / leastRecord
            || (!pack->known && tablesName(cacheChecksum(placed)) != block.name))
            return false;
        bytes.push_back(placed);
    }
    return true;
}

bool PageCache::loadPages(std::uint64_t count)
{
    // Each block is run through its checksum unless its pack's stamp vouches for it, as a
    // range is, and read in place: its records' texts are views of the pack's mapping,
    // which the cache keeps while it stands. Times are judged from now (a job starts
    // after it opens the cache, so this is never later than its start).
    if (m_jobStart == 0) {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        m_jobStart = static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }
    // Every block is found and checked first: the count of pages, no more than their bytes
    // can hold, is then known to be worth the memory.
    std::vector<std::string_view> blocks;
    if (!blockBytes(m_pageBlocks, kLeastPageRecord, blocks))
        return false;
    std::vector<CachedPage> pages(static_cast<std::size_t>(count));
    std::size_t next = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        RecordReader in(blocks[b]);
        for (std::uint32_t i = 0; i < m_pageBlocks[b].pages && !in.failed(); ++i)
            readPage(in, pages[next++]);
        if (in.failed() || !in.atEnd())
            return false;
    }
    m_pages = std::move(pages);
    m_blockOfPage.assign(m_pages.size(), 0);
    std::size_t first = 0;
    for (std::size_t b = 0; b < m_pageBlocks.size(); first += m_pageBlocks[b++].pages)
        if (m_pageBlocks[b].pages > 0)
            m_blockOfPage[first] = static_cast<std::uint32_t>(b + 1);
    return true;
}

bool PageCache::loadDocuments(std::uint64_t count)
{
    // As the pages' blocks: the paths are views of the packs' mappings.
    std::vector<std::string_view> blocks;
    if (!blockBytes(m_documentBlocks, kLeastDocumentRecord, blocks))
        return false;
    std::vector<CachedDocument> documents(static_cast<std::size_t>(count));
    const auto pageCount = static_cast<std::int64_t>(m_pages.size());
    std::size_t next = 0;
    std::int64_t nextPage = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        RecordReader in(blocks[b]);
        for (std::uint32_t i = 0; i < m_documentBlocks[b].pages && !in.failed(); ++i, ++next) {
            CachedDocument& document = documents[next];
            document.path.setView(in.textView());
            const auto flags = in.number<std::uint8_t>();
            const auto kind = flags >> 1;
            const std::int64_t page = kind == DocumentPage::kNext ? nextPage++
                : kind == DocumentPage::kNamed                    ? nextPage - in.number<std::int32_t>()
                                                                  : -1;
            if (kind > DocumentPage::kNamed || page < -1 || page >= pageCount || (kind != DocumentPage::kNone && page < 0))
                in.fail();
            document.page = static_cast<std::int32_t>(page);
            document.wordsEntered = (flags & 1) != 0;
        }
        if (in.failed() || !in.atEnd())
            return false;
    }
    m_documents = std::move(documents);
    m_documentsInBlocks = true;
    return true;
}

const PageCache::PageBlock* PageCache::unchangedBlock(const std::vector<CachedPage>& pages, std::size_t first) const
{
    const std::int32_t found = pageOfFile(pages[first].key);
    if (found < 0 || static_cast<std::size_t>(found) >= m_blockOfPage.size() || m_blockOfPage[static_cast<std::size_t>(found)] == 0)
        return nullptr;
    const auto start = static_cast<std::size_t>(found);
    const PageBlock& block = m_pageBlocks[m_blockOfPage[start] - 1];
    if (pages.size() - first < block.pages)
        return nullptr;
    for (std::size_t i = 0; i < block.pages; ++i)
        if (!sameRecord(pages[first + i], m_pages[start + i]))
            return nullptr;
    // Cut as it was: at its last page's end, or at the end of the pages in both jobs.
    const std::size_t after = first + block.pages;
    if (!endsBlock(pages[after - 1], block.pages) && (after != pages.size() || start + block.pages != m_pages.size()))
        return nullptr;
    return &block;
}

PageCache::MappedPack* PageCache::mapPack(std::uint32_t number, bool learn, std::uint64_t& learned)
{
    auto found = m_packs.find(number);
    if (found != m_packs.end())
        return &found->second;
    MappedPack pack;
    struct stat info;
    pack.bytes = mapOwnFile(kPackPrefix + std::to_string(number), 0, info);
    if (!pack.bytes)
        return nullptr;
    pack.size = static_cast<std::size_t>(info.st_size);
    const PageFileKey key = pageFileKey(info);
    const auto stamp = m_packStamps.find(number);
    pack.known = stamp != m_packStamps.end() && !stamp->second.racy && stamp->second.key == key;
    if (!pack.known && learn) {
        PackStamp& learnt = m_packStamps[number];
        learnt = PackStamp{key, racyAt(key, m_jobStart)};
        if (!learnt.racy)
            learned += pack.size;
    }
    return &m_packs.emplace(number, std::move(pack)).first->second;
}

std::string_view PageCache::placedBytes(const RangePlace& place, bool learn, std::uint64_t& learned,
                                        const MappedPack*& pack)
{
    pack = mapPack(place.pack, learn, learned);
    return bytesIn(pack, place);
}

std::string_view PageCache::bytesIn(const MappedPack* pack, const RangePlace& place)
{
    if (!pack || place.length > pack->size || place.offset > pack->size - place.length)
        return {};
    return std::string_view(pack->bytes.get() + place.offset, static_cast<std::size_t>(place.length));
}

bool PageCache::loadTables(std::int64_t jobStart)
{
    if (m_pagesLost)
        return false;
    if (m_tablesLoaded || (!m_hasTables && m_documents.empty()))
        return true;  // read before, or a cache with nothing in it
    if (!m_hasTables)
        return false;
    m_jobStart = jobStart;
    // Each pack is mapped, not copied (fresh memory cleared for a copy cost more than the
    // reading), and each range checked before any of it is used: its checksum must be the
    // one in its name, and its counts, offsets and documents those of a range. That goes
    // through every page of 55 MB on a large site, which a job in which nothing changed
    // never reads otherwise, so the ranges of a pack whose file still has the stamp it had
    // when they were last checked or written, taken longer than the stamps' granularity
    // after it changed, are taken by their counts alone: a write since, cut or not, would
    // have moved its size or times. Packs are never written again under their names (a
    // new one goes in under a temporary name and is renamed; an old one is unlinked), so a
    // mapping keeps the bytes checked. Only the ranges named are read: the rest of a pack
    // is never touched.
    // Bytes checked whole in packs old enough to be trusted next time (the pages' blocks
    // among them).
    std::uint64_t learned = m_learnedBytes;
    const auto documentLimit = static_cast<std::int32_t>(std::min<std::size_t>(m_documents.size(), INT32_MAX));
    RankedWords* tables[3] = {&m_tables.words, &m_tables.keys, &m_tables.stemPairs};
    for (int t = 0; t < 3; ++t) {
        tables[t]->clear();
        for (const std::string& name : m_tableNames[t]) {
            std::shared_ptr<const std::uint64_t[]> block;
            std::size_t size = 0;
            bool known = false;
            if (const auto delta = m_rangeDeltas.find(name); delta != m_rangeDeltas.end()) {
                if (!rangeOfDelta(delta->second, learned, block, size, known))
                    return false;
            } else {
                const MappedPack* pack = nullptr;
                const std::string_view bytes = placedBytes(m_rangePlaces.at(name), true, learned, pack);
                if (!bytes.data() || (!pack->known && tablesName(cacheChecksum(bytes)) != name))
                    return false;
                // The block shares the pack's mapping, which lives while any of its ranges does.
                block = std::shared_ptr<const std::uint64_t[]>(pack->bytes, reinterpret_cast<const std::uint64_t*>(bytes.data()));
                size = bytes.size();
                known = pack->known;
            }
            RankedWords::Range range;
            if (!RankedWords::Range::fromBlock(std::move(block), size, documentLimit, range, known))
                return false;
            range.piece = name;
            tables[t]->ranges().push_back(std::move(range));
        }
    }
    // The kept work's results in packs whose stamps do not vouch for them are checked now
    // too, before such a pack's stamp is trusted by the next job; one that does not match
    // leaves the work to be done again.
    for (const auto& [inputs, name] : m_workNames) {
        const MappedPack* pack = nullptr;
        if (name.empty())
            continue;
        const std::string_view bytes = placedBytes(m_rangePlaces.at(name), true, learned, pack);
        if (!bytes.data() || (!pack->known && tablesName(cacheChecksum(bytes)) != name)) {
            dropWork();
            break;
        }
    }
    for (auto& [number, pack] : m_packs)
        pack.checked = true;
    // Kept for the next job when this one writes the index (a job that writes nothing
    // checks the same ranges again).
    m_stampsLearned = learned > 0 && learned >= kStampsWorthAnIndex * m_indexSize;
    m_tablesLoaded = true;
    return true;
}

bool PageCache::rangeOfDelta(const RangeDelta& delta, std::uint64_t& learned,
                             std::shared_ptr<const std::uint64_t[]>& block, std::size_t& size, bool& known)
{
    // The base and the delta are each run through their checksum unless their pack's stamp
    // vouches for them: the range they give is then theirs, and needs no checksum of its own.
    const MappedPack* basePack = nullptr;
    const MappedPack* deltaPack = nullptr;
    const std::string_view base = placedBytes(m_rangePlaces.at(delta.base), true, learned, basePack);
    const std::string_view changes = placedBytes(m_rangePlaces.at(delta.delta), true, learned, deltaPack);
    if (!base.data() || !changes.data() || (!basePack->known && tablesName(cacheChecksum(base)) != delta.base)
        || (!deltaPack->known && tablesName(cacheChecksum(changes)) != delta.delta))
        return false;
    size = ByteDelta::sizeOf(base, changes);
    if (size == 0)
        return false;
    std::shared_ptr<std::uint64_t[]> bytes;
    try {
        bytes.reset(new std::uint64_t[(size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t)]);
    } catch (const std::bad_alloc&) {
        return false;
    }
    char* out = reinterpret_cast<char*>(bytes.get());
    known = basePack->known && deltaPack->known;
    if (!ByteDelta::apply(base, changes, out))
        return false;
    block = std::move(bytes);
    return true;
}

void PageCache::forget()
{
    m_pages.clear();
    m_pageBlocks.clear();
    m_blockOfPage.clear();
    m_documentBlocks.clear();
    m_documentsInBlocks = false;
    m_pagesLost = false;
    m_learnedBytes = 0;
    m_documents.clear();
    m_byFile.clear();
    m_tables = CachedTables();
    m_job = CachedJob();
    m_jobInPlace = false;
    m_hasTables = false;
    for (std::vector<std::string>& names : m_tableNames)
        names.clear();
    m_rangePlaces.clear();
    m_rangeDeltas.clear();
    m_packStamps.clear();
    m_stampsLearned = false;
    m_tablesLoaded = false;
    m_workNames.clear();
    m_work.clear();
    m_workRead = true;
    for (auto& pack : m_packs)
        m_retiredPacks.push_back(std::move(pack.second.bytes));
    m_packs.clear();
}

void PageCache::dropWork()
{
    // Where one result is not what its name gives (damaged, cut), none of the others is
    // taken as lying where the index says either: the work is done again and written anew.
    std::unordered_set<std::string_view> ranges;
    for (const std::vector<std::string>& names : m_tableNames)
        ranges.insert(names.begin(), names.end());
    for (const auto& [name, delta] : m_rangeDeltas) {
        ranges.insert(delta.base);
        ranges.insert(delta.delta);
    }
    for (const PageBlock& block : m_pageBlocks)
        ranges.insert(block.name);
    for (const PageBlock& block : m_documentBlocks)
        ranges.insert(block.name);
    for (const auto& [inputs, name] : m_workNames)
        if (!ranges.count(name))
            m_rangePlaces.erase(name);
    m_workNames.clear();
}

const KeptWorkViews& PageCache::keptWork()
{
    if (m_workRead)
        return m_work;
    // Views of the packs, which stay mapped while the cache stands; a result is run
    // through its checksum here only when its pack was neither checked with the tables nor
    // known by its stamp.
    m_workRead = true;
    KeptWorkViews work;
    work.reserve(m_workNames.size());
    std::uint64_t learned = 0;
    for (const auto& [inputs, name] : m_workNames) {
        std::string_view bytes;
        if (!name.empty()) {
            const MappedPack* pack = nullptr;
            bytes = placedBytes(m_rangePlaces.at(name), false, learned, pack);
            if (!bytes.data() || (!pack->known && !pack->checked && tablesName(cacheChecksum(bytes)) != name)) {
                dropWork();
                return m_work;
            }
        }
        work.emplace_back(inputs, bytes);
    }
    m_work = std::move(work);
    return m_work;
}

std::string_view PageCache::mappedBytes(const std::string& name) const
{
    const auto place = m_rangePlaces.find(name);
    if (place == m_rangePlaces.end())
        return {};
    const auto pack = m_packs.find(place->second.pack);
    return bytesIn(pack != m_packs.end() ? &pack->second : nullptr, place->second);
}

PageCache::NamedTables PageCache::nameTables(const CachedTables& tables) const
{
    NamedTables named;
    named.tables = &tables;
    const RankedWords* written[3] = {&tables.words, &tables.keys, &tables.stemPairs};
    const RankedWords* before[3] = {&m_tables.words, &m_tables.keys, &m_tables.stemPairs};
    for (int t = 0; t < 3; ++t) {
        // A range written anew is kept as its delta from the last job's range that began
        // with the same word (from that range's own base when it was a delta too, so that
        // a delta is never of another), while the delta stays small. The bases lie in
        // packs mapped when the tables were read.
        std::unordered_map<std::string_view, const std::string*> bases;
        if (m_tablesLoaded)
            for (const RankedWords::Range& range : before[t]->ranges()) {
                const auto kept = m_rangeDeltas.find(range.piece);
                const std::string& base = kept != m_rangeDeltas.end() ? kept->second.base : range.piece;
                if (range.words() > 0 && m_rangePlaces.count(base))
                    bases.emplace(range.word(0), &base);
            }
        std::vector<TableRange>& ranges = named.ranges[t];
        ranges.reserve(written[t]->ranges().size());
        for (const RankedWords::Range& range : written[t]->ranges()) {
            TableRange out;
            out.name = range.piece.empty() ? tablesName(cacheChecksum(range.bytes())) : range.piece;
            const bool anew = !m_rangePlaces.count(out.name) && !m_rangeDeltas.count(out.name);
            const auto base = anew && range.words() > 0 && range.bytes().size() >= kLeastDeltaRange
                ? bases.find(range.word(0))
                : bases.end();
            const std::string_view baseBytes = base != bases.end() ? mappedBytes(*base->second) : std::string_view();
            if (baseBytes.data())
                out.delta = ByteDelta::between(baseBytes, range.bytes(), range.bytes().size() / kDeltaShare);
            if (!out.delta.empty()) {
                out.base = *base->second;
                out.deltaName = tablesName(cacheChecksum(out.delta));
            }
            ranges.push_back(std::move(out));
        }
    }
    return named;
}

bool PageCache::writePacks(const CachedTables* tables, const NamedTables* given, const KeptWork* work,
                           const std::vector<std::string_view>& blocks, std::vector<std::string>& blockNames,
                           std::vector<std::string> (&names)[3], WorkNames& workNames, RangeDeltas& deltas)
{
    // What the new index names, each with its bytes: the tables' ranges and the kept
    // work's results. One that a pack holds stays where it lies; the others go into one
    // new pack, and so do those still named of a pack that is mostly no longer used
    // (which then goes). Packs are weighed only when the tables are written (the last
    // job's ranges are then at hand to be moved).
    struct Named {
        std::string name;
        std::string_view bytes;  // null data: the last job's result, still in its pack
    };
    // The pages' blocks and the results first: a pack ends with its ranges.
    std::vector<Named> named;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        if (blockNames[b].empty())
            blockNames[b] = tablesName(cacheChecksum(blocks[b]));
        named.push_back(Named{blockNames[b], blocks[b]});
    }
    workNames.clear();
    if (work) {
        // A result is a function of its inputs: one the last job kept for the same inputs,
        // of the same length, has the bytes its name gives (checked when they were read, or
        // vouched for by its pack's stamp), and is named without a checksum of them. An edit
        // keeps nearly every result of the last job.
        std::unordered_map<std::uint64_t, const std::string*> keptBefore;
        keptBefore.reserve(m_workNames.size());
        for (const auto& [inputs, name] : m_workNames)
            if (!name.empty())
                keptBefore.emplace(inputs, &name);
        for (const auto& [inputs, bytes] : *work) {
            std::string name;
            if (!bytes.empty()) {
                const auto before = keptBefore.find(inputs);
                const auto place = before != keptBefore.end() ? m_rangePlaces.find(*before->second) : m_rangePlaces.end();
                name = place != m_rangePlaces.end() && place->second.length == bytes.size() ? *before->second
                                                                                             : tablesName(cacheChecksum(bytes));
            }
            workNames.emplace_back(inputs, std::move(name));
            if (!bytes.empty())
                named.push_back(Named{workNames.back().second, bytes});
        }
    } else {
        workNames = m_workNames;
        for (const auto& [inputs, name] : workNames)
            if (!name.empty())
                named.push_back(Named{name, std::string_view()});
    }
    std::uint64_t learned = 0;
    // The bytes of what the last job's index placed, as they were checked when read.
    auto placedView = [this, &learned](const std::string& name) {
        const MappedPack* pack = nullptr;
        return placedBytes(m_rangePlaces.at(name), false, learned, pack);
    };
    const RankedWords* written[3] = {tables ? &tables->words : nullptr, tables ? &tables->keys : nullptr,
                                     tables ? &tables->stemPairs : nullptr};
    // The ranges' names and deltas, unless worked out beforehand for these tables.
    bool worked = tables && given && given->tables == tables;
    for (int t = 0; worked && t < 3; ++t)
        worked = given->ranges[t].size() == written[t]->ranges().size();
    NamedTables here;
    if (tables && !worked) {
        here = nameTables(*tables);
        given = &here;
    }
    deltas = tables ? RangeDeltas() : m_rangeDeltas;
    for (int t = 0; t < 3; ++t) {
        if (!tables)
            continue;
        names[t].clear();
        for (std::size_t r = 0; r < given->ranges[t].size(); ++r) {
            const TableRange& range = given->ranges[t][r];
            names[t].push_back(range.name);
            if (const auto kept = m_rangeDeltas.find(range.name); kept != m_rangeDeltas.end()) {
                named.push_back(Named{kept->second.base, placedView(kept->second.base)});
                named.push_back(Named{kept->second.delta, placedView(kept->second.delta)});
                deltas.emplace(range.name, kept->second);
                continue;
            }
            if (!range.delta.empty()) {
                named.push_back(Named{range.base, mappedBytes(range.base)});
                named.push_back(Named{range.deltaName, range.delta});
                deltas.emplace(range.name, RangeDelta{range.base, range.deltaName});
                continue;
            }
            named.push_back(Named{range.name, written[t]->ranges()[r].bytes()});
        }
    }
    std::map<std::uint32_t, std::uint64_t> used;  // bytes by pack
    std::unordered_set<std::string> counted;
    for (const Named& blob : named) {
        const auto place = m_rangePlaces.find(blob.name);
        if (place != m_rangePlaces.end() && counted.insert(blob.name).second)
            used[place->second.pack] += place->second.length;
    }
    // Without the tables, a pack that holds any of the last job's ranges stays (they are
    // not at hand to be moved); one of blocks and results alone is weighed all the same.
    // And since an edit leaves its page's block in its own pack, where it stays used while
    // no later job changes that block, packs holding no range are also gathered by size:
    // from the smallest, each no larger than what the new pack holds so far goes into it,
    // so that jobs that change a page or two leave a few packs of doubling sizes (each
    // block moved a few times at most), not one a job.
    std::set<std::uint32_t> holdingRanges;
    auto holds = [this, &holdingRanges](const std::string& name) {
        if (const auto place = m_rangePlaces.find(name); place != m_rangePlaces.end())
            holdingRanges.insert(place->second.pack);
    };
    for (int t = 0; t < 3; ++t)
        for (const std::string& name : tables ? names[t] : m_tableNames[t]) {
            holds(name);
            if (const auto kept = deltas.find(name); kept != deltas.end()) {
                holds(kept->second.base);
                holds(kept->second.delta);
            }
        }
    std::uint64_t unplaced = 0;  // bytes the new pack holds so far
    for (const Named& blob : named)
        if (!m_rangePlaces.count(blob.name))
            unplaced += blob.bytes.size();
    std::map<std::uint32_t, bool> sparse;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> bySize;  // packs of no range
    for (const auto& [pack, bytes] : used) {
        struct stat info;
        sparse[pack] = (tables || !holdingRanges.count(pack))
            && (!m_fileSystem.statAt(m_folderFd, kPackPrefix + std::to_string(pack), info, false)
                || 2 * bytes < static_cast<std::uint64_t>(info.st_size));
        if (sparse[pack])
            unplaced += bytes;
        else if (!holdingRanges.count(pack))
            bySize.emplace_back(static_cast<std::uint64_t>(info.st_size), pack);
    }
    std::sort(bySize.begin(), bySize.end());
    for (const auto& [size, pack] : bySize) {
        if (size > unplaced)
            break;
        sparse[pack] = true;
        unplaced += used[pack];
    }
    std::vector<std::string_view> moved;
    std::vector<std::string> movedNames;
    std::unordered_set<std::string> taken;
    std::unordered_set<std::string> lost;  // results of the last job's work that could not be moved
    for (const Named& blob : named) {
        const auto place = m_rangePlaces.find(blob.name);
        if ((place != m_rangePlaces.end() && !sparse[place->second.pack]) || !taken.insert(blob.name).second)
            continue;
        std::string_view bytes = blob.bytes;
        if (!bytes.data() && place != m_rangePlaces.end()) {
            // A result of the last job's work in a pack that goes: moved from its mapping,
            // and only when its bytes are still the ones its name gives.
            const MappedPack* pack = nullptr;
            bytes = placedBytes(place->second, false, learned, pack);
        }
        if (!blob.bytes.data()) {
            if (!bytes.data() || tablesName(cacheChecksum(bytes)) != blob.name) {
                lost.insert(blob.name);
                continue;
            }
        }
        moved.push_back(bytes);
        movedNames.push_back(blob.name);
    }
    if (!lost.empty())
        workNames.erase(std::remove_if(workNames.begin(), workNames.end(),
                                       [&lost](const auto& result) { return lost.count(result.second) > 0; }),
                        workNames.end());
    if (moved.empty())
        return true;
    std::uint32_t pack = 0;
    if (!writePack(moved, pack))
        return false;
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < moved.size(); ++i) {
        m_rangePlaces[movedNames[i]] = RangePlace{pack, offset, moved[i].size()};
        offset += (moved[i].size() + kRangeAlignment - 1) / kRangeAlignment * kRangeAlignment;
    }
    return true;
}

bool PageCache::writePack(const std::vector<std::string_view>& ranges, std::uint32_t& pack)
{
    // Written under a name nobody can predict, then given the next number no file has: a
    // job killed before the index names it leaves a file that the next one removes.
    const std::string temporary = "ranges." + unpredictableDigits();
    const int fd = m_fileSystem.createNew(m_folderFd, temporary, 0600);
    bool done = fd >= 0;
    std::string buffer;
    static const char padding[kRangeAlignment] = {};
    for (std::size_t i = 0; done && i < ranges.size(); ++i) {
        buffer.append(ranges[i]);
        if (i + 1 < ranges.size())
            buffer.append(padding, (kRangeAlignment - ranges[i].size() % kRangeAlignment) % kRangeAlignment);
        if (buffer.size() >= kSegmentWrite || i + 1 == ranges.size()) {
            done = m_fileSystem.writeAll(fd, buffer);
            buffer.clear();
        }
    }
    std::uint32_t highest = 0;
    for (const auto& stamp : m_packStamps)
        highest = std::max(highest, stamp.first);
    pack = newFileNumber(kPackPrefix, highest);
    done = done && m_fileSystem.renameNoReplace(m_folderFd, temporary, m_folderFd, kPackPrefix + std::to_string(pack));
    // Its stamp once renamed (a rename moves the change time): the bytes just written are
    // known, though only until the granularity has passed.
    struct stat info;
    done = done && m_fileSystem.statAt(fd, "", info, false);
    if (fd >= 0)
        m_fileSystem.close(fd);
    if (!done) {
        m_fileSystem.remove(m_folderFd, temporary);
        return false;
    }
    m_packStamps[pack] = PackStamp{pageFileKey(info), true};
    return true;
}

std::uint32_t PageCache::newFileNumber(const char* prefix, std::uint32_t highest) const
{
    std::vector<FolderEntry> entries;
    m_fileSystem.listFolder(m_folderFd, entries);
    std::uint32_t number;
    for (const FolderEntry& entry : entries)
        if (fileNumber(prefix, entry.name, number))
            highest = std::max(highest, number);
    return highest + 1;
}

const CachedPage* PageCache::find(const PageFileKey& key) const
{
    const std::int32_t found = pageOfFile(key);
    if (found < 0 || m_pages[static_cast<std::size_t>(found)].key != key)
        return nullptr;
    return &m_pages[static_cast<std::size_t>(found)];
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
    std::uint32_t highest = 0;
    for (const CachedPage& page : m_pages)
        highest = std::max(highest, page.segment);
    m_newSegment = newFileNumber(kSegmentPrefix, highest);
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
                     const CachedJob& job, const KeptWork* work, const NamedTables* named)
{
    if (m_folderFd < 0)
        return false;
    auto samePage = [](const CachedPage& a, const CachedPage& b) {
        return a.key == b.key && a.racy == b.racy && a.segment == b.segment && a.offset == b.offset
            && a.textPlace.group.view() == b.textPlace.group.view() && a.textPlace.offset == b.textPlace.offset;
    };
    auto sameDocument = [](const CachedDocument& a, const CachedDocument& b) {
        return a.path.view() == b.path.view() && a.page == b.page && a.wordsEntered == b.wordsEntered;
    };
    // A piece whose stamp this job came to trust is worth an index written again: every
    // later job would run its bytes through the checksum once more.
    if (!tables && !work && !m_stampsLearned && m_jobInPlace && (&job == &m_job || job == m_job) && m_newSegmentFd < 0 && std::equal(pages.begin(), pages.end(), m_pages.begin(), m_pages.end(), samePage)
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

    // The pages' records in blocks, of which only those no pack holds are written. A block
    // of the last job's whose pages all come again with their records as they were is
    // taken as it stands, its bytes and name, without a record written or checksummed: an
    // edit composes the block of its page alone.
    std::deque<std::string> composed;  // the bytes of the blocks written anew
    std::vector<std::string_view> blocks;  // each block's bytes: one taken lies in its pack, mapped and checked as it was read
    std::vector<PageBlock> newBlocks;
    // Composes a new block of records from first on (of count), cut where ends says after
    // each; gives how many it holds.
    auto composeBlock = [&](std::size_t first, std::size_t count, const auto& write, const auto& ends) {
        std::string block;
        RecordWriter out(block);
        std::size_t held = 0;
        while (first + held < count) {
            const std::size_t at = first + held;
            write(out, at);
            if (ends(at, ++held))
                break;
        }
        composed.push_back(std::move(block));
        blocks.push_back(composed.back());
        newBlocks.push_back(PageBlock{std::string(), static_cast<std::uint32_t>(held)});
        return held;
    };
    for (std::size_t first = 0; first < live.size();) {
        if (const PageBlock* before = unchangedBlock(live, first)) {
            const MappedPack* pack = nullptr;
            std::uint64_t learned = 0;
            const std::string_view bytes = placedBytes(m_rangePlaces.at(before->name), false, learned, pack);
            if (bytes.data()) {
                newBlocks.push_back(*before);
                blocks.push_back(bytes);
                first += before->pages;
                continue;
            }
        }
        first += composeBlock(
            first, live.size(), [&live](RecordWriter& out, std::size_t p) { writePage(out, live[p]); },
            [&live](std::size_t p, std::size_t held) { return endsBlock(live[p], held); });
    }
    // The documents' records the same way: a block of the last job's whose documents all
    // come again, each giving its page as it did (the next, a named one, none), is taken as it
    // stands. It is found by the path it begins with.
    std::unordered_map<std::string_view, std::pair<std::size_t, std::size_t>> documentBlockAt;  // first, block
    if (m_documentsInBlocks) {
        documentBlockAt.reserve(m_documentBlocks.size());
        std::size_t start = 0;
        for (std::size_t b = 0; b < m_documentBlocks.size(); start += m_documentBlocks[b++].pages)
            if (m_documentBlocks[b].pages > 0)
                documentBlockAt.emplace(m_documents[start].path.view(), std::make_pair(start, b));
    }
    const std::vector<DocumentPage> pagesNow = documentPages(documents);
    const std::vector<DocumentPage> pagesThen = m_documentsInBlocks ? documentPages(m_documents) : std::vector<DocumentPage>();
    auto sameDocumentAt = [&](std::size_t d, std::size_t before) {
        return documents[d].path.view() == m_documents[before].path.view()
            && documents[d].wordsEntered == m_documents[before].wordsEntered && pagesNow[d] == pagesThen[before];
    };
    const std::size_t pageBlockCount = newBlocks.size();
    for (std::size_t first = 0; first < documents.size();) {
        if (const auto found = documentBlockAt.find(documents[first].path.view()); found != documentBlockAt.end()) {
            const auto [start, b] = found->second;
            const PageBlock& before = m_documentBlocks[b];
            const std::size_t after = first + before.pages;
            bool same = documents.size() - first >= before.pages
                && (endsDocumentBlock(documents[after - 1], before.pages)
                    || (after == documents.size() && start + before.pages == m_documents.size()));
            for (std::size_t i = 0; same && i < before.pages; ++i)
                same = sameDocumentAt(first + i, start + i);
            const MappedPack* pack = nullptr;
            std::uint64_t learned = 0;
            const std::string_view bytes = same ? placedBytes(m_rangePlaces.at(before.name), false, learned, pack)
                                                : std::string_view();
            if (bytes.data()) {
                newBlocks.push_back(before);
                blocks.push_back(bytes);
                first = after;
                continue;
            }
        }
        first += composeBlock(
            first, documents.size(),
            [&](RecordWriter& out, std::size_t d) { writeDocument(out, documents[d], pagesNow[d]); },
            [&documents](std::size_t d, std::size_t held) { return endsDocumentBlock(documents[d], held); });
    }
    // The blocks and tables first, under names of their own: the index in place names the
    // old ones until the new index replaces it.
    std::vector<std::string> newTables[3] = {m_tableNames[0], m_tableNames[1], m_tableNames[2]};
    WorkNames newWork;
    std::vector<std::string> blockNames;
    for (const PageBlock& block : newBlocks)
        blockNames.push_back(block.name);
    RangeDeltas newDeltas;
    if (!writePacks(tables, named, work, blocks, blockNames, newTables, newWork, newDeltas))
        return false;
    for (std::size_t b = 0; b < newBlocks.size(); ++b)
        newBlocks[b].name = std::move(blockNames[b]);
    std::vector<PageBlock> newDocumentBlocks(std::make_move_iterator(newBlocks.begin() + static_cast<std::ptrdiff_t>(pageBlockCount)),
                                             std::make_move_iterator(newBlocks.end()));
    newBlocks.resize(pageBlockCount);
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
        std::map<std::uint32_t, const PackStamp*> packs;
        auto writePlaced = [&](const std::string& name) {
            const RangePlace& place = m_rangePlaces.at(name);
            out.number(checksumOfName(name));
            out.varint(place.pack);
            out.varint(place.offset);
            out.varint(place.length);
            const auto stamp = m_packStamps.find(place.pack);
            packs[place.pack] = stamp == m_packStamps.end() ? nullptr : &stamp->second;
        };
        for (const std::vector<PageBlock>* written : {&newBlocks, &newDocumentBlocks}) {
            out.number<std::uint64_t>(written == &newBlocks ? live.size() : documents.size());
            out.number<std::uint64_t>(written->size());
            for (const PageBlock& block : *written) {
                out.number(block.pages);
                writePlaced(block.name);
            }
        }
        // The files first: the groups of texts and the pieces made name them.
        writeFiles(out, job.files);
        const auto pieces = piecesWritten(job.files);
        out.number<std::uint64_t>(job.textGroups.size());
        for (const TextGroups::Written& group : job.textGroups) {
            out.number(group.entries);
            writePieceOf(out, pieces, job.files, group.name, group.stamp);
        }
        out.number(job.documentsChecksum);
        out.text(job.base);
        out.number<std::uint8_t>(job.wholeWordIndex);
        out.number(job.words);
        out.number<std::uint64_t>(job.wordLines.size());
        for (const auto& lines : job.wordLines) {
            out.number(lines.first);
            out.number(lines.second);
        }
        out.number<std::uint64_t>(job.pieces.size());
        for (const PieceStore::Made& piece : job.pieces) {
            out.number(piece.inputs);
            writePieceOf(out, pieces, job.files, piece.name, piece.stamp);
        }
        out.number<std::uint8_t>(tables || m_hasTables);
        for (const std::vector<std::string>& names : newTables) {
            out.number<std::uint64_t>(names.size());
            for (const std::string& name : names) {
                const auto kept = newDeltas.find(name);
                out.number<std::uint8_t>(kept != newDeltas.end());
                if (kept == newDeltas.end()) {
                    writePlaced(name);
                    continue;
                }
                out.text(name);
                writePlaced(kept->second.base);
                writePlaced(kept->second.delta);
            }
        }
        out.number<std::uint64_t>(newWork.size());
        for (const auto& [inputs, name] : newWork) {
            out.number(inputs);
            out.number<std::uint8_t>(!name.empty());
            if (!name.empty())
                writePlaced(name);
        }
        out.number<std::uint64_t>(packs.size());
        for (const auto& [number, stamp] : packs) {
            out.number(number);
            writeKey(out, stamp ? stamp->key : PageFileKey());
            out.number<std::uint8_t>(!stamp || stamp->racy);
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
    m_pageBlocks = std::move(newBlocks);
    m_blockOfPage.clear();  // the blocks no longer follow pages()
    m_documentBlocks = std::move(newDocumentBlocks);
    m_documentsInBlocks = false;  // nor documents()
    for (int t = 0; t < 3; ++t)
        m_tableNames[t] = std::move(newTables[t]);
    m_rangeDeltas = std::move(newDeltas);
    // Not copied (thousands of strings): the job goes with the cache, which is read anew by
    // the next one.
    if (&job != &m_job) {
        m_job = CachedJob();
        m_jobInPlace = false;
    }
    if (newWork != m_workNames) {
        m_workNames = std::move(newWork);
        m_work.clear();
        m_workRead = false;
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
    std::set<std::uint32_t> packs;
    for (const std::vector<std::string>& names : m_tableNames)
        for (const std::string& name : names) {
            if (const auto kept = m_rangeDeltas.find(name); kept != m_rangeDeltas.end()) {
                packs.insert(m_rangePlaces.at(kept->second.base).pack);
                packs.insert(m_rangePlaces.at(kept->second.delta).pack);
            } else {
                packs.insert(m_rangePlaces.at(name).pack);
            }
        }
    for (const PageBlock& block : m_pageBlocks)
        packs.insert(m_rangePlaces.at(block.name).pack);
    for (const PageBlock& block : m_documentBlocks)
        packs.insert(m_rangePlaces.at(block.name).pack);
    for (const auto& [inputs, name] : m_workNames)
        if (!name.empty())
            packs.insert(m_rangePlaces.at(name).pack);
    // What no index will name again is forgotten too.
    for (auto place = m_rangePlaces.begin(); place != m_rangePlaces.end();)
        place = packs.count(place->second.pack) ? std::next(place) : m_rangePlaces.erase(place);
    for (auto stamp = m_packStamps.begin(); stamp != m_packStamps.end();)
        stamp = packs.count(stamp->first) ? std::next(stamp) : m_packStamps.erase(stamp);
    // A pack that goes keeps its mapping for the views of it still held; its number may
    // name a new pack later.
    for (auto pack = m_packs.begin(); pack != m_packs.end();) {
        if (packs.count(pack->first)) {
            ++pack;
            continue;
        }
        m_retiredPacks.push_back(std::move(pack->second.bytes));
        pack = m_packs.erase(pack);
    }
    std::vector<FolderEntry> entries;
    m_fileSystem.listFolder(m_folderFd, entries);
    std::vector<std::string> unused;
    std::uint32_t number;
    for (FolderEntry& entry : entries) {
        if ((segmentNumber(entry.name, number) && !(number < inUse.size() && inUse[number]))
            || (fileNumber(kPackPrefix, entry.name, number) && !packs.count(number))
            || entry.name.rfind(kTablesPrefix, 0) == 0  // a cache's before packs
            || entry.name.rfind(kWorkPrefix, 0) == 0  // a cache's before the work lay in packs
            // and files left by a job that was killed
            || (entry.name.rfind("work.", 0) == 0 && areUnpredictableDigits(entry.name.substr(5)))
            || (entry.name.rfind("tables.", 0) == 0 && areUnpredictableDigits(entry.name.substr(7)))
            || (entry.name.rfind("ranges.", 0) == 0 && areUnpredictableDigits(entry.name.substr(7)))
            || (entry.name.rfind("index.", 0) == 0 && areUnpredictableDigits(entry.name.substr(6))))
            unused.push_back(std::move(entry.name));
    }
    removeFiles(m_fileSystem, m_folderFd, unused, m_removalsAtOnce);
}
