// The pieces of the search data, each in a file named by its bytes: a piece unchanged
// since the last job keeps its file, and only new pieces are written.

#include "PieceStore.h"

#include "StagedFile.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <xxhash.h>

namespace {
const char* const kMark = "/* generator: VantrelIndexer */\n";
const char* const kDigits = "abcdefghijklmnopqrstuvwxyz234567";
const char* const kFolderItself = ".";  // flushed as its pieces are, for their entries
constexpr unsigned kSalts = 8;

// A 64-bit hash of data in which every bit of every byte reaches every bit: XXH3, the
// salt its seed (a piece's bytes are hashed once, at SIMD speed: 112 MB on openjdk's API).
std::uint64_t contentHash(std::string_view data, unsigned salt)
{
    return XXH3_64bits_withSeed(data.data(), data.size(), salt);
}

bool isDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '2' && c <= '7');
}
}  // namespace

std::string pieceName(std::string_view content, unsigned salt)
{
    std::uint64_t hash = contentHash(content, salt);
    std::string name(PieceStore::kNameDigits, 'a');
    for (std::size_t i = 0; i < PieceStore::kNameDigits; ++i, hash >>= 5)
        name[i] = kDigits[hash & 31];
    return name + ".js";
}

// Flushes pieces by name, in the order they were written, on kFlushingThreads threads of
// its own, which wait for the disk while the job composes the next ones: flushes in
// flight together are written in one commit of the file system's journal, where one
// thread would wait for a commit a piece. The first failure is kept and ends the
// flushing (pieces already in flight on the other threads finish).
class PieceStore::Flusher {
public:
    Flusher(FileSystem& fileSystem, int folder) : m_fileSystem(fileSystem), m_folder(folder)
    {
        try {
            for (std::size_t t = 0; t < kFlushingThreads; ++t)
                m_threads.emplace_back([this] { run(); });
        } catch (...) {
            if (m_threads.empty())
                throw;  // a thread at least, or none flushes beside
        }
    }
    // A store that ends without flush() (a stopped job) waits for the pieces in hand only.
    ~Flusher()
    {
        stop();
        join();
    }

    void add(std::string name)
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_names.push_back(std::move(name));
        }
        m_wake.notify_one();
    }
    // No piece is flushed after those in hand: the caller flushes them otherwise.
    void stop()
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_names.clear();
            m_closing = true;
        }
        m_wake.notify_all();
    }
    // Waits until every piece given is flushed: 0, or the error of the first that failed.
    int finish()
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_closing = true;
        }
        m_wake.notify_all();
        join();
        return m_error;
    }

private:
    void join()
    {
        for (std::thread& thread : m_threads)
            if (thread.joinable())
                thread.join();
    }
    void run()
    {
        std::unique_lock<std::mutex> hold(m_lock);
        for (;;) {
            m_wake.wait(hold, [this] { return m_closing || !m_names.empty(); });
            if (m_names.empty())
                return;
            const std::string name = std::move(m_names.front());
            m_names.pop_front();
            if (m_error)
                continue;
            hold.unlock();
            const int fd = m_fileSystem.openForReading(m_folder, name, false);
            const bool flushed = fd >= 0 && m_fileSystem.syncAndClose(fd);
            const int error = errno;
            hold.lock();
            if (!flushed && !m_error)
                m_error = error ? error : EIO;
        }
    }

    FileSystem& m_fileSystem;
    const int m_folder;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::string> m_names;
    bool m_closing = false;
    int m_error = 0;
    std::vector<std::thread> m_threads;
};

PieceStore::PieceStore(int folder, std::string path, FileSystem& fileSystem)
    : m_fileSystem(fileSystem), m_folder(folder), m_path(std::move(path))
{
}

PieceStore::~PieceStore() = default;

void PieceStore::flushBeside()
{
    if (m_flusher)
        return;
    try {
        m_flusher = std::make_unique<Flusher>(m_fileSystem, m_folder);
    } catch (const std::system_error&) {
        return;  // no thread to spare: flush() flushes them all at the end
    }
    if (m_written.size() > kFlushedBeside)
        m_flusher->stop();
    else
        for (const std::string& name : m_written)
            m_flusher->add(name);
}

bool PieceStore::isPieceName(std::string_view name)
{
    if (name.size() != kNameDigits + 3 || name.substr(kNameDigits) != ".js")
        return false;
    for (std::size_t i = 0; i < kNameDigits; ++i)
        if (!isDigit(name[i]))
            return false;
    return true;
}

void PieceStore::namesIn(std::string_view text, std::set<std::string>& names)
{
    for (std::size_t at = text.find(".js"); at != std::string_view::npos; at = text.find(".js", at + 3)) {
        if (at < kNameDigits || (at > kNameDigits && isDigit(text[at - kNameDigits - 1])))
            continue;
        const std::string_view name = text.substr(at - kNameDigits, kNameDigits + 3);
        if (isPieceName(name))
            names.emplace(name);
    }
}

std::string fileStamp(FileSystem& fileSystem, int at, const std::string& name)
{
    struct stat info;
    if (!fileSystem.statAt(at, name, info, false))
        return {};
    return fileStamp(info);
}

std::string fileStamp(const struct stat& info)
{
    static const uid_t user = ::geteuid();  // asked once: a stamp is taken for every piece
    if (!S_ISREG(info.st_mode) || info.st_uid != user)
        return {};
    const std::int64_t fields[] = {static_cast<std::int64_t>(info.st_dev), static_cast<std::int64_t>(info.st_ino),
                                   static_cast<std::int64_t>(info.st_size), info.st_mtim.tv_sec, info.st_mtim.tv_nsec,
                                   info.st_ctim.tv_sec, info.st_ctim.tv_nsec};
    return std::string(reinterpret_cast<const char*>(fields), sizeof fields);
}

std::string PieceStore::stamp(const std::string& name) const
{
    return isPieceName(name) ? fileStamp(m_fileSystem, m_folder, name) : std::string();
}

bool PieceStore::reuse(const std::string& name, const std::string& stamp)
{
    if (stamp.empty() || this->stamp(name) != stamp)
        return false;
    record(name, stamp);
    ++m_reused;
    return true;
}

std::string PieceStore::stampWhenPut(const std::string& name) const
{
    const auto found = m_stamps.find(name);
    return found != m_stamps.end() ? found->second : stamp(name);
}

void PieceStore::record(const std::string& name, std::string stamp)
{
    m_named.insert(name);
    m_stamps[name] = std::move(stamp);
}

bool PieceStore::readPart(const std::string& name, std::uint64_t offset, std::uint64_t length, std::string& bytes) const
{
    if (!isPieceName(name))
        return false;
    FileHandle file(m_fileSystem, m_fileSystem.openForReading(m_folder, name, false));
    struct stat info;
    if (!file || !m_fileSystem.statAt(file.fd(), "", info, false) || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || offset > static_cast<std::uint64_t>(info.st_size) || length > static_cast<std::uint64_t>(info.st_size) - offset)
        return false;
    bytes.resize(length);
    return m_fileSystem.readFully(file.fd(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
}

// Whether the file name holds exactly content; taken: something else has the name.
bool PieceStore::holds(const std::string& name, std::string_view content, bool& taken)
{
    struct stat info;
    taken = m_fileSystem.statAt(m_folder, name, info, false);
    if (!taken)
        return false;
    std::string data;
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || static_cast<std::size_t>(info.st_size) != content.size()
        || !readRegularFile(m_fileSystem, m_folder, name, content.size() + 1, data, false) || data != content)
        return false;
    // Stamped before the bytes were read: a change since shows in the stamp.
    record(name, fileStamp(info));
    return true;
}

std::string PieceStore::putLists(const std::vector<std::string>& entries, std::size_t perPiece)
{
    std::string names;
    for (std::size_t first = 0; first < entries.size(); first += perPiece) {
        std::string piece = kMark;
        piece += "vantrelNames([";
        for (std::size_t i = first; i < entries.size() && i < first + perPiece; ++i)
            piece += (i > first ? ",\n" : "") + entries[i];
        piece += "]);\n";
        const std::string name = put(piece);
        if (name.empty())
            return {};
        names += (first ? ",\"" : "\"") + name + '"';
    }
    return names;
}

// Whether name may have an entry in the folder: it had one when the folder was first
// listed, or this job named it since.
bool PieceStore::mayBeTaken(const std::string& name)
{
    if (!m_listedOnce) {
        m_listedOnce = true;
        std::vector<FolderEntry> entries;
        m_listingFailed = !m_fileSystem.listFolder(m_folder, entries);
        for (FolderEntry& entry : entries)
            if (isPieceName(entry.name))
                m_listed.insert(std::move(entry.name));
    }
    return m_listingFailed || m_listed.count(name) || m_named.count(name);
}

std::string PieceStore::put(std::string_view content)
{
    for (unsigned salt = 0; salt < kSalts; ++salt) {
        const std::string name = pieceName(content, salt);
        bool taken = false;
        // A name the folder held is looked at first: the piece may be there already.
        if (mayBeTaken(name) && holds(name, content, taken)) {  // also a piece this job wrote before
            if (!m_written.count(name))
                ++m_reused;
            return name;
        }
        if (taken)
            continue;  // another piece of the same hash, or a file that is not one
        // A free name is written at once, without a look at it: naming the new file fails,
        // and changes nothing, should an entry of that name have been made since.
        StagedFile file(m_folder, name, m_path + "/" + name, m_fileSystem, false);
        struct stat placed;
        if (!file.writeNew(content, placed, m_unnamed)) {
            if (file.errorNumber() == EEXIST) {
                if (holds(name, content, taken)) {
                    ++m_reused;
                    return name;
                }
                continue;
            }
            if (m_error.empty()) {
                m_failedPath = file.target();
                m_error = file.error();
            }
            return {};
        }
        m_written.insert(name);
        if (m_flusher && m_written.size() <= kFlushedBeside)
            m_flusher->add(name);
        else if (m_flusher && m_written.size() == kFlushedBeside + 1)
            m_flusher->stop();  // the file system is flushed at once instead
        record(name, fileStamp(placed));
        m_bytesWritten += content.size();
        return name;
    }
    if (m_error.empty()) {
        m_failedPath = m_path + "/" + pieceName(content);
        m_error = std::strerror(EEXIST);
    }
    return {};
}

void PieceStore::madeBefore(const std::vector<Made>& earlier)
{
    m_madeBefore.clear();
    for (const Made& piece : earlier)
        m_madeBefore.emplace(piece.inputs, piece);
}

std::string PieceStore::takeMade(std::uint64_t inputs)
{
    const auto found = m_madeBefore.find(inputs);
    if (found == m_madeBefore.end() || !reuse(found->second.name, found->second.stamp))
        return {};
    m_made.emplace_back(inputs, found->second.name);
    return found->second.name;
}

std::string PieceStore::putMade(std::uint64_t inputs, std::string_view content)
{
    std::string name = put(content);
    if (!name.empty())
        m_made.emplace_back(inputs, name);
    return name;
}

std::vector<PieceStore::Made> PieceStore::made() const
{
    std::vector<Made> made;
    made.reserve(m_made.size());
    for (const auto& [inputs, name] : m_made)
        made.push_back({inputs, name, stampWhenPut(name)});
    return made;
}

void PieceInputs::text(std::string_view bytes)
{
    number(static_cast<std::int64_t>(bytes.size()));
    add(bytes.data(), bytes.size());
}

void PieceInputs::number(std::int64_t value)
{
    add(reinterpret_cast<const char*>(&value), sizeof value);
}

void PieceInputs::add(const char* bytes, std::size_t size)
{
    if (size == 0)
        return;  // an empty text's bytes may be no pointer at all
    if (m_gathered + size > kBlock || size > kBlock / 2)
        addGathered();
    if (size > kBlock / 2) {
        m_checksum.add(std::string_view(bytes, size));
        return;
    }
    std::memcpy(m_block + m_gathered, bytes, size);
    m_gathered += size;
}

void PieceInputs::addGathered() const
{
    if (m_gathered == 0)
        return;
    m_checksum.add(std::string_view(m_block, m_gathered));
    m_gathered = 0;
}

std::uint64_t PieceInputs::value() const
{
    addGathered();
    return m_checksum.value();
}

void PieceStore::flushFolderBeside()
{
    if (!m_flusher || m_written.empty() || m_written.size() > kFlushedBeside || m_folderFlushedAt == m_written.size())
        return;
    m_flusher->add(kFolderItself);
    m_folderFlushedAt = m_written.size();
}

bool PieceStore::flush()
{
    const std::unique_ptr<Flusher> flusher = std::move(m_flusher);
    if (m_written.empty())
        return true;
    // A few pieces (a job after an edit writes a hundred or so) are flushed one by one,
    // and the folder that names them, so that the job waits for its own writes and not
    // for all that the file system holds unwritten, other programs' included and the
    // cache the last job left; many (a job into an empty folder) are flushed with the
    // file system at once, which costs less than a flush for each. Pieces flushed
    // beside the job as they were written are only waited for.
    const bool oneByOne = m_written.size() <= (flusher ? kFlushedBeside : kFlushedOneByOne);
    bool flushed = true;
    if (oneByOne && flusher) {
        // The folder is flushed beside as well, while the last pieces are.
        if (m_folderFlushedAt != m_written.size())
            flusher->add(kFolderItself);
        const int error = flusher->finish();
        flushed = error == 0;
        errno = error;
    } else if (oneByOne) {
        for (const std::string& name : m_written) {
            const int fd = m_fileSystem.openForReading(m_folder, name, false);
            if (fd < 0 || !m_fileSystem.syncAndClose(fd)) {
                flushed = false;
                break;
            }
        }
    } else {
        if (flusher)
            flusher->stop();
        flushed = m_fileSystem.syncFileSystem(m_folder);
    }
    if (flushed && oneByOne && !flusher) {
        const int fd = m_fileSystem.openForReading(m_folder, kFolderItself, false);
        flushed = fd >= 0 && m_fileSystem.syncAndClose(fd);
    }
    if (flushed)
        return true;
    m_failedPath = m_path;
    m_error = std::strerror(errno);
    return false;
}

void PieceStore::removeAllBut(const std::set<std::string>& keep, unsigned threads)
{
    std::vector<FolderEntry> entries;
    if (!m_fileSystem.listFolder(m_folder, entries))
        return;
    const std::size_t markLength = std::strlen(kMark);
    std::vector<std::string> removed;
    for (FolderEntry& entry : entries) {
        if (!isPieceName(entry.name) || keep.count(entry.name))
            continue;
        struct stat info;
        std::string head;
        if (m_fileSystem.statAt(m_folder, entry.name, info, false) && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
            && readRegularFile(m_fileSystem, m_folder, entry.name, markLength, head, false) && head == kMark)
            removed.push_back(std::move(entry.name));
    }
    removeFiles(m_fileSystem, m_folder, removed, threads);
}
