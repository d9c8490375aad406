// The staged writer every output file goes through: a temporary file created exclusively
// beside its target, written, flushed and renamed into place, behind a seam tests can fail.

#include "StagedFile.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Temporary names: "." + target name + ".vantrel-" + process id + "-" + 16 random hex
// digits. The process id tells a later run whether the writer is still alive.
const char* const kMarker = ".vantrel-";

// The process id of a temporary name of ours, or 0 when name is not one.
pid_t writerOf(const std::string& name)
{
    if (name.size() < 2 || name[0] != '.')
        return 0;
    std::size_t at = name.rfind(kMarker);
    if (at == std::string::npos || at < 2)
        return 0;
    std::size_t digitsAt = at + std::strlen(kMarker);
    std::size_t dash = name.find('-', digitsAt);
    if (dash == std::string::npos || dash == digitsAt || !areUnpredictableDigits(std::string_view(name).substr(dash + 1)))
        return 0;
    long pid = 0;
    for (std::size_t i = digitsAt; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9' || pid > 99999999)
            return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return static_cast<pid_t>(pid);
}
}  // namespace

bool areUnpredictableDigits(std::string_view text)
{
    if (text.size() != kUnpredictableDigits)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::string unpredictableDigits()
{
    // The system's random bytes are drawn a pool at a time, kept per thread: a job names
    // thousands of files, and a system call for each name cost more than the rest of it.
    constexpr std::size_t kTake = kUnpredictableDigits / 2;
    thread_local unsigned char pool[32 * kTake];
    thread_local std::size_t used = sizeof pool;
    if (used + kTake > sizeof pool) {
        if (::getrandom(pool, sizeof pool, 0) != static_cast<ssize_t>(sizeof pool)) {
            // No entropy source: the exclusive create still refuses any name taken.
            for (unsigned char& b : pool)
                b = static_cast<unsigned char>(std::rand());
        }
        used = 0;
    }
    const unsigned char* bytes = pool + used;
    used += kTake;
    static const char hex[] = "0123456789abcdef";
    std::string digits;
    for (std::size_t i = 0; i < kTake; ++i) {
        digits += hex[bytes[i] >> 4];
        digits += hex[bytes[i] & 15];
    }
    return digits;
}

StagedFile::StagedFile(std::string target, FileSystem& fileSystem)
    : m_target(std::move(target)), m_fileSystem(fileSystem), m_name(nameOfPath(m_target))
{
}

StagedFile::StagedFile(int folder, std::string name, std::string target, FileSystem& fileSystem, bool flush)
    : m_target(std::move(target)), m_fileSystem(fileSystem), m_borrowedFolder(folder), m_flush(flush), m_name(std::move(name))
{
}

StagedFile::~StagedFile()
{
    m_file.reset();
    if (!m_temporary.empty())
        m_fileSystem.remove(folderFd(), m_temporary);
    if (!m_kept.empty())
        m_fileSystem.remove(folderFd(), m_kept);
}

bool StagedFile::fail(int error)
{
    m_errorNumber = error;
    m_error = std::strerror(error);
    return false;
}

bool StagedFile::openFolder()
{
    if (m_borrowedFolder >= 0)
        return true;
    if (!m_folder)
        m_folder = FileHandle(m_fileSystem, m_fileSystem.openFolder(AT_FDCWD, folderOfPath(m_target), true));
    return static_cast<bool>(m_folder);
}

std::string StagedFile::temporaryName() const
{
    // The process id, asked once: a child after a fork asks again.
    static std::atomic<pid_t> pid{0};
    static std::once_flag forks;
    std::call_once(forks, [] { ::pthread_atfork(nullptr, nullptr, [] { pid = 0; }); });
    pid_t own = pid;
    if (own == 0)
        pid = own = ::getpid();
    return "." + m_name + kMarker + std::to_string(own) + "-" + unpredictableDigits();
}

bool StagedFile::write(std::string_view text)
{
    return begin() && append(text) && finish();
}

bool StagedFile::begin()
{
    if (!openFolder())
        return fail(errno);
    const int folder = folderFd();
    struct stat info;
    if (m_fileSystem.statAt(folder, m_name, info, false)) {
        if (S_ISDIR(info.st_mode))
            return fail(EISDIR);
        // In a folder with the sticky bit only the owner of an entry (or of the folder)
        // may replace it; the old file's second name would be just as stuck.
        struct stat folderInfo;
        const uid_t me = ::geteuid();
        if (me != 0 && m_fileSystem.statAt(folder, "", folderInfo, true) && (folderInfo.st_mode & S_ISVTX)
            && info.st_uid != me && folderInfo.st_uid != me)
            return fail(EPERM);
        // A link is replaced, not written through; but a link to a file that may not be
        // written stands for that file.
        if (m_fileSystem.statAt(folder, m_name, info, true) && !S_ISDIR(info.st_mode)
            && (!m_fileSystem.mayWrite(folder, m_name) || (info.st_mode & 0222) == 0))
            return fail(EACCES);
    }
    m_file = FileHandle(m_fileSystem, createTemporary());
    m_written = 0;
    return m_file || fail(errno);
}

bool StagedFile::append(std::string_view part)
{
    if (!m_file)
        return fail(EBADF);
    if (!m_fileSystem.writeAll(m_file.fd(), part)) {
        int error = errno;
        m_file.reset();
        return fail(error);
    }
    if (m_flush)
        m_fileSystem.startWriteBack(m_file.fd(), m_written, part.size());
    m_written += static_cast<off_t>(part.size());
    return true;
}

bool StagedFile::finish()
{
    if (!m_file)
        return fail(EBADF);
    const int fd = m_file.release();
    if (m_flush ? !m_fileSystem.syncAndClose(fd) : !m_fileSystem.closeWritten(fd))
        return fail(errno);
    return true;
}

// A new file under an unpredictable name beside the target (m_temporary), open for
// writing; -1 with errno set when none could be made.
int StagedFile::createTemporary()
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string temporary = temporaryName();
        const int fd = m_fileSystem.createNew(folderFd(), temporary);
        if (fd >= 0) {
            m_temporary = std::move(temporary);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

bool StagedFile::writeNew(std::string_view text, struct stat& placed, bool& unnamed)
{
    if (!openFolder())
        return fail(errno);
    FileHandle file;
    if (unnamed) {
        // A name made once the file is whole: no second entry made and removed in the
        // folder, no temporary name that a killed run leaves behind.
        file = FileHandle(m_fileSystem, m_fileSystem.createUnnamed(folderFd()));
        if (file && !m_fileSystem.writeAll(file.fd(), text))
            return fail(errno);
        if (file && !m_fileSystem.nameUnnamed(file.fd(), folderFd(), m_name)) {
            if (errno == EEXIST)
                return fail(errno);
            file.reset();  // the system cannot name it: written again below
        }
        unnamed = static_cast<bool>(file);
    }
    if (!file) {
        file = FileHandle(m_fileSystem, createTemporary());
        if (!file)
            return fail(errno);
        if (!m_fileSystem.writeAll(file.fd(), text))
            return fail(errno);
        if (!m_fileSystem.renameNoReplace(folderFd(), m_temporary, folderFd(), m_name))
            return fail(errno);
        m_temporary.clear();
    }
    m_replaced = true;
    // Once named, which changes the file's change time.
    const bool stated = m_fileSystem.statAt(file.fd(), "", placed, false);
    const int error = errno;
    if (!m_fileSystem.closeWritten(file.release()))
        return fail(errno);
    return stated || fail(error);
}

bool StagedFile::replaceTarget(bool keepOld)
{
    if (m_temporary.empty())
        return fail(EINVAL);
    const int folder = folderFd();
    bool movedAside = false;
    if (keepOld) {
        std::string kept = temporaryName();
        if (m_fileSystem.link(folder, m_name, folder, kept)) {
            m_kept = kept;
            m_hadOld = true;
        } else if (errno == ENOENT) {
            m_hadOld = false;
        } else if (m_fileSystem.rename(folder, m_name, folder, kept)) {
            // A file system without hard links: the old file steps aside for a moment.
            m_kept = kept;
            m_hadOld = true;
            movedAside = true;
        } else {
            return fail(errno);
        }
    }
    if (!m_fileSystem.rename(folder, m_temporary, folder, m_name)) {
        int error = errno;
        if (movedAside && m_fileSystem.rename(folder, m_kept, folder, m_name))
            m_kept.clear();
        return fail(error);
    }
    m_temporary.clear();
    m_replaced = true;
    return true;
}

bool StagedFile::restoreOld()
{
    if (!m_replaced)
        return true;
    if (!m_hadOld) {
        m_fileSystem.remove(folderFd(), m_name);
        m_replaced = false;
        return true;
    }
    if (!m_fileSystem.rename(folderFd(), m_kept, folderFd(), m_name))
        return fail(errno);
    m_kept.clear();
    m_replaced = false;
    return true;
}

void StagedFile::removeStaleFiles(const std::string& folderPath, FileSystem& fileSystem)
{
    FileHandle folder(fileSystem, fileSystem.openFolder(AT_FDCWD, folderPath, true));
    if (folder)
        removeStaleFilesIn(folder.fd(), fileSystem);
}

void StagedFile::removeStaleFilesIn(int folder, FileSystem& fileSystem)
{
    std::vector<FolderEntry> entries;
    if (!fileSystem.listFolder(folder, entries))
        return;
    const uid_t me = ::geteuid();
    for (const FolderEntry& entry : entries) {
        pid_t writer = writerOf(entry.name);
        if (writer <= 0 || writer == ::getpid())
            continue;
        if (::kill(writer, 0) == 0 || errno != ESRCH)
            continue;  // the writer may still be at work
        struct stat info;
        if (fileSystem.statAt(folder, entry.name, info, false) && S_ISREG(info.st_mode) && info.st_uid == me)
            fileSystem.remove(folder, entry.name);
    }
}
