#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Random lower-case hex digits for names that nobody can predict, kUnpredictableDigits
// of them.
constexpr std::size_t kUnpredictableDigits = 16;
std::string unpredictableDigits();
// Whether text is such digits: the right number of them, lower-case hex.
bool areUnpredictableDigits(std::string_view text);

// The file operations that staging a file makes, one virtual call each, so that tests
// can make any of them fail in-process. Calls return false (or -1) and leave errno set.
class StagingFileSystem {
public:
    virtual ~StagingFileSystem() = default;

    // The operating system's calls.
    static StagingFileSystem& real();

    // Creates path for writing; fails when any entry, a link included, has that name.
    virtual int createNew(const std::string& path);
    virtual bool writeAll(int fd, std::string_view data);
    // Flushes the file to disk and closes it (closed also when the flush fails).
    virtual bool syncAndClose(int fd);
    virtual bool rename(const std::string& from, const std::string& to);
    // A second name for the file at from (not following a link at from).
    virtual bool link(const std::string& from, const std::string& to);
    virtual void remove(const std::string& path);
};

// A file written in full beside its target under a name nobody can predict or block,
// then renamed over the target, so that readers see the old file or the new one and
// never a part; nothing is ever written through a link. A temporary file that is not
// renamed into place is removed when the StagedFile ends.
class StagedFile {
public:
    explicit StagedFile(std::string target, StagingFileSystem& fileSystem = StagingFileSystem::real());
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Writes text to a new temporary file beside the target, flushed and closed. Fails
    // when the target may not be replaced: a folder, or a file that the user may not
    // write or that nobody may write (so an index marked read-only stays, for root too).
    bool write(std::string_view text);

    // Renames the written file over the target. With keepOld, the old target stays
    // reachable under a hidden name until restoreOld() or the end of this object.
    bool replaceTarget(bool keepOld = false);

    // Puts the old target back after replaceTarget(true); removes the new file when
    // there was no old one.
    bool restoreOld();

    const std::string& target() const { return m_target; }
    // Why the last step failed, in the system's words.
    const std::string& error() const { return m_error; }

    // Removes the temporary files of earlier runs that ended without cleaning up (their
    // process is gone) from folder: only regular files named as this class names them.
    static void removeStaleFiles(const std::string& folder);

private:
    bool fail(int error);
    std::string temporaryName() const;

    std::string m_target;
    StagingFileSystem& m_fileSystem;
    std::string m_temporary;  // written, not yet renamed
    std::string m_kept;       // the old target's second name
    bool m_replaced = false;
    bool m_hadOld = false;
    std::string m_error;
};
