#pragma once

#include "FileSystem.h"

#include <cstddef>
#include <string>
#include <string_view>

// Random lower-case hex digits for names that nobody can predict, kUnpredictableDigits
// of them.
constexpr std::size_t kUnpredictableDigits = 16;
std::string unpredictableDigits();
// Whether text is such digits: the right number of them, lower-case hex.
bool areUnpredictableDigits(std::string_view text);

// A file written in full beside its target under a name nobody can predict or block,
// then renamed over the target, so that readers see the old file or the new one and
// never a part; nothing is ever written through a link. A temporary file that is not
// renamed into place is removed when the StagedFile ends.
class StagedFile {
public:
    explicit StagedFile(std::string target, FileSystem& fileSystem = FileSystem::real());
    // The file name in the open folder (which must outlive this object and is not
    // closed by it); target is only the path that error messages name. Without flush
    // the written file is closed without waiting for the disk: for files that a later,
    // flushed one makes reachable, after one flush of the whole file system.
    StagedFile(int folder, std::string name, std::string target, FileSystem& fileSystem, bool flush);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Writes text to a new temporary file beside the target, flushed and closed. Fails
    // when the target may not be replaced: a folder, or a file that the user may not
    // write or that nobody may write (so an index marked read-only stays, for root too).
    bool write(std::string_view text);

    // The same in parts, for a text too large to be held whole: begin() makes the
    // checks write() makes and opens the temporary file, append() adds a part to it (and,
    // for a file that is flushed, starts the disk on that part at once, so that the
    // flush waits for less), finish() flushes and closes it.
    bool begin();
    bool append(std::string_view part);
    bool finish();

    // Writes text to a new file and gives it the target's name only where nothing has
    // that name yet (EEXIST otherwise, and nothing changes): for a name the caller found
    // free. With unnamed, the file is written without a name and then named, one entry
    // made in the folder and none removed; where the system cannot do that, unnamed is
    // cleared (the caller need not try again) and the file is written under a temporary
    // name and renamed. placed is then the new file's status, taken through its
    // descriptor once named, without a look at the folder.
    bool writeNew(std::string_view text, struct stat& placed, bool& unnamed);

    // Renames the written file over the target. With keepOld, the old target stays
    // reachable under a hidden name until restoreOld() or the end of this object.
    bool replaceTarget(bool keepOld = false);

    // Puts the old target back after replaceTarget(true); removes the new file when
    // there was no old one.
    bool restoreOld();

    const std::string& target() const { return m_target; }
    // Why the last step failed, in the system's words.
    const std::string& error() const { return m_error; }
    // The same as the system's error number.
    int errorNumber() const { return m_errorNumber; }

    // Removes the temporary files of earlier runs that ended without cleaning up (their
    // process is gone) from folder: only regular files named as this class names them.
    static void removeStaleFiles(const std::string& folder, FileSystem& fileSystem = FileSystem::real());
    // The same in an open folder.
    static void removeStaleFilesIn(int folder, FileSystem& fileSystem);

private:
    bool fail(int error);
    std::string temporaryName() const;
    bool openFolder();
    int createTemporary();
    int folderFd() const { return m_borrowedFolder >= 0 ? m_borrowedFolder : m_folder.fd(); }

    std::string m_target;
    FileSystem& m_fileSystem;
    FileHandle m_folder;      // the target's folder, opened once
    int m_borrowedFolder = -1; // the target's folder when the caller holds it open
    bool m_flush = true;
    std::string m_name;       // the target's name in it
    std::string m_temporary;  // written, not yet renamed (a name in m_folder)
    FileHandle m_file;        // the temporary file while it is written in parts
    off_t m_written = 0;      // its bytes so far
    std::string m_kept;       // the old target's second name (in m_folder)
    bool m_replaced = false;
    bool m_hadOld = false;
    std::string m_error;
    int m_errorNumber = 0;
};
