#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>
#include <sys/stat.h>
#include <sys/types.h>

// One entry of a listed folder: its name and its kind as the listing tells it (a
// dirent d_type; DT_UNKNOWN where the file system does not say).
struct FolderEntry {
    std::string name;
    unsigned char type = 0;
};

// Every file-system call the engine makes, one virtual call each, relative to open folder
// descriptors (AT_FDCWD stands for the working folder), so that tests can fail, swap or
// race any of them in-process. Calls return false (or -1) and leave errno set; every
// descriptor they open is close-on-exec.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The operating system's calls.
    static FileSystem& real();

    // Opens the folder name in at; with followLink false a link there is refused (ELOOP).
    virtual int openFolder(int at, const std::string& name, bool followLink);
    // The names in an open folder, "." and ".." left out, in the order the system gives.
    virtual bool listFolder(int folder, std::vector<FolderEntry>& entries);
    // The status of name in at; an empty name stands for at itself.
    virtual bool statAt(int at, const std::string& name, struct stat& info, bool followLink);
    // Where name in at (an empty name: at itself) really lies, links followed, as the
    // system names it now; "" when it cannot be told.
    virtual std::string realPathAt(int at, const std::string& name);
    // Whether the user may write the file name in at (links followed).
    virtual bool mayWrite(int at, const std::string& name);
    virtual bool makeFolder(int at, const std::string& name, mode_t mode);

    // Opens name in at for reading without waiting (a FIFO does not block) and without
    // taking a terminal; with followLink false a link there is refused (ELOOP).
    virtual int openForReading(int at, const std::string& name, bool followLink);
    // Reads what comes next, up to size bytes: their count, 0 at the end, -1 on failure
    // (EINTR is retried).
    virtual ssize_t readSome(int fd, char* buffer, std::size_t size);
    // Reads up to size bytes at offset without moving the file position: their count, 0
    // past the end, -1 on failure (EINTR is retried).
    virtual ssize_t readAt(int fd, char* buffer, std::size_t size, off_t offset);
    // Reads exactly size bytes at offset, through readAt: false when the file ends first
    // or a read fails.
    bool readFully(int fd, char* buffer, std::size_t size, off_t offset);
    // Maps the first size bytes of an open file for reading, sharing the system's cache of
    // its pages (nothing is copied or cleared): null on failure. ::munmap() ends it.
    virtual const void* mapForReading(int fd, std::size_t size);

    // Creates name in at for writing; fails when any entry, a link included, has that name.
    virtual int createNew(int at, const std::string& name, mode_t mode = 0666);
    // Creates a file for writing in the folder at that has no name (nobody else can open
    // it, and it goes when closed unless named first): -1 where the system cannot.
    virtual int createUnnamed(int at, mode_t mode = 0666);
    // Names the file that createUnnamed() gave as fd to in toAt where nothing holds that
    // name: fails with EEXIST, and changes nothing, when any entry (a link included) has it.
    virtual bool nameUnnamed(int fd, int toAt, const std::string& to);
    virtual bool writeAll(int fd, std::string_view data);
    // Starts writing the given bytes of a file to disk without waiting for them (a later
    // flush waits for less); a hint, whose failure changes nothing.
    virtual void startWriteBack(int fd, off_t offset, std::size_t length);
    // Flushes the file to disk and closes it (closed also when the flush fails).
    virtual bool syncAndClose(int fd);
    // Closes a file written without flushing it; false when the close reports a failed write.
    virtual bool closeWritten(int fd);
    // Flushes everything written to the file system that holds the open folder.
    virtual bool syncFileSystem(int folder);
    virtual bool rename(int fromAt, const std::string& from, int toAt, const std::string& to);
    // Renames from to a name that nothing holds: fails with EEXIST, and leaves both as
    // they are, when any entry (a link included) has the name to. Where the file system
    // cannot rename so, the file gets the second name to and loses from.
    virtual bool renameNoReplace(int fromAt, const std::string& from, int toAt, const std::string& to);
    // A second name for the file at from (not following a link at from).
    virtual bool link(int fromAt, const std::string& from, int toAt, const std::string& to);
    // Removes the file name in at, or with folder the empty folder.
    virtual bool remove(int at, const std::string& name, bool folder = false);
    virtual void close(int fd);
};

// An open descriptor of the file system, closed through it when the handle ends.
class FileHandle {
public:
    FileHandle() = default;
    FileHandle(FileSystem& fileSystem, int fd) : m_fileSystem(&fileSystem), m_fd(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : m_fileSystem(other.m_fileSystem), m_fd(other.m_fd) { other.m_fd = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset();
    // Gives the descriptor up without closing it.
    int release();

private:
    FileSystem* m_fileSystem = nullptr;
    int m_fd = -1;
};

// The folder part of a path ("." when it has none) and its last name.
std::string folderOfPath(const std::string& path);
std::string nameOfPath(const std::string& path);

// Removes the files names in at, up to threads of them at once: a file system that
// discards a file's blocks as it removes it waits for the disk on each removal, and
// several at once overlap those waits (a hundred pieces of 40 KB took a third to a tenth
// of the time with four).
constexpr unsigned kRemovalsAtOnce = 4;
void removeFiles(FileSystem& fileSystem, int at, const std::vector<std::string>& names, unsigned threads);

// Whether real (a real path) is root or lies below it.
bool liesWithin(const std::string& real, const std::string& root);

// Reads up to limit bytes of the regular file name in at; false (errno set) when it
// cannot, or when it is no regular file (EISDIR).
bool readRegularFile(FileSystem& fileSystem, int at, const std::string& name, std::size_t limit,
                     std::string& content, bool followLink = true);
