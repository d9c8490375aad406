#pragma once

#include "CacheRecords.h"
#include "FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Files named by their content in a folder of the program's own (indexed_text, which the
// caller has opened without following a link and checked to be its own): a piece that a
// job writes again with the same bytes keeps its file, which is neither written nor
// touched; a new piece is written beside its name and renamed into place, so a reader
// never meets part of one. Pieces are not flushed as they are written: flush() flushes
// them before the file that names them is put in place.
//
// A name is kNameDigits base-32 digits ([a-z2-7]) of a 64-bit hash of the bytes, and
// ".js". The hash need not resist anyone: a file of that name is taken as the piece
// only when it holds exactly its bytes, and two pieces of one hash get the next hash
// of a salted series.
class PieceStore {
public:
    static constexpr std::size_t kNameDigits = 13;

    // folder: open, the program's own; path: how messages name it.
    PieceStore(int folder, std::string path, FileSystem& fileSystem);
    ~PieceStore();
    PieceStore(const PieceStore&) = delete;
    PieceStore& operator=(const PieceStore&) = delete;

    // Puts a piece (every byte of its file) into the store; its file name, or "" when it
    // could not be written (error() says why).
    std::string put(std::string_view content);
    // Puts entries (each a script value: a quoted name, a small array) perPiece a piece,
    // each piece vantrelNames([entry,entry,...]);, and returns the pieces' names, quoted
    // and comma separated; "" when one could not be written. A head names these instead
    // of a list that grows with the site.
    std::string putLists(const std::vector<std::string>& entries, std::size_t perPiece);

    // What the file of a piece looks like from outside (device, inode, size, modification
    // and change times), "" when name is not a regular file of the running user: a piece
    // whose stamp is the one taken when it was put still holds the bytes put then, as
    // nobody else may write the folder.
    std::string stamp(const std::string& name) const;
    // Takes name, put by an earlier job, as the piece it was then, without reading it:
    // false (nothing taken) when its stamp is no longer the one given.
    bool reuse(const std::string& name, const std::string& stamp);
    // The stamp of a piece this object put or took, as it was when its bytes were last
    // known to be the piece's (found in place, written or taken): no second look at the
    // file. Names it does not know get stamp().
    std::string stampWhenPut(const std::string& name) const;

    // A piece as the job that made it knew it: a checksum of everything its bytes were
    // composed from (PieceInputs), its name and its file's stamp then.
    struct Made {
        std::uint64_t inputs = 0;
        std::string name;
        std::string stamp;
        bool operator==(const Made& other) const
        {
            return inputs == other.inputs && name == other.name && stamp == other.stamp;
        }
    };
    // Pieces an earlier job made, which takeMade() may take as they stand.
    void madeBefore(const std::vector<Made>& earlier);
    // Whether an earlier job made a piece from inputs (takeMade() may still find its file
    // changed). Safe beside takeMade() and putMade() on another thread.
    bool wasMadeBefore(std::uint64_t inputs) const { return m_madeBefore.count(inputs) != 0; }
    // The name of the piece an earlier job made from the same inputs, taken without a
    // byte of it composed or read while its file still has the stamp it had then; ""
    // when there is none (compose it and putMade() it).
    std::string takeMade(std::uint64_t inputs);
    // put(), remembering the piece as made from inputs.
    std::string putMade(std::uint64_t inputs, std::string_view content);
    // The pieces made or taken by this job, with their stamps, for the next job.
    std::vector<Made> made() const;
    // Reads length bytes at offset of the piece name, as the store reads any file: not
    // through a link, only a regular file of the running user, and only bytes it holds;
    // false when it cannot.
    bool readPart(const std::string& name, std::uint64_t offset, std::uint64_t length, std::string& bytes) const;

    // Flushes the pieces this object wrote to the disk, with the folder's entries that
    // name them (past kFlushedOneByOne of them, the whole file system at once); false
    // when the system says it could not.
    static constexpr std::size_t kFlushedOneByOne = 64;
    bool flush();
    // From now on each piece written is flushed on a thread of its own as soon as it is
    // in place, up to kFlushedBeside of them, so that flush() waits for what is left and
    // the folder only; past that many, flush() flushes the file system at once.
    static constexpr std::size_t kFlushedBeside = 256;
    static constexpr std::size_t kFlushingThreads = 4;  // flushing beside at once
    void flushBeside();
    // Once every piece is put: starts the flush of the folder's entries beside too, so
    // that the caller's own writes overlap the last waits, which flush() then waits for.
    // A piece put after this has the folder flushed again by flush().
    void flushFolderBeside();

    // Removes the pieces of the folder whose names keep lacks: regular files of the
    // running user that carry the program's mark, and no other file; up to threads of
    // them at once (removeFiles()).
    void removeAllBut(const std::set<std::string>& keep, unsigned threads = 1);

    // Whether name is the name of a piece.
    static bool isPieceName(std::string_view name);
    // Adds to names every piece name that text holds.
    static void namesIn(std::string_view text, std::set<std::string>& names);

    // Pieces written by this object, and pieces found in place already.
    const std::set<std::string>& written() const { return m_written; }
    // Every piece put, written or found in place.
    const std::set<std::string>& named() const { return m_named; }
    std::size_t reused() const { return m_reused; }
    std::uint64_t bytesWritten() const { return m_bytesWritten; }

    const std::string& failedPath() const { return m_failedPath; }
    const std::string& error() const { return m_error; }

private:
    class Flusher;

    bool holds(const std::string& name, std::string_view content, bool& taken);
    bool mayBeTaken(const std::string& name);
    void record(const std::string& name, std::string stamp);

    FileSystem& m_fileSystem;
    int m_folder;
    std::string m_path;
    std::set<std::string> m_written;
    std::set<std::string> m_named;
    // The piece names the folder held when this object first put a piece: a name among
    // them is looked at before it is written, any other is written at once, never over
    // an entry made since.
    std::unordered_set<std::string> m_listed;
    bool m_listedOnce = false;
    bool m_listingFailed = false;
    bool m_unnamed = true;  // new pieces are written unnamed, then named (until the system cannot)
    std::unordered_map<std::string, std::string> m_stamps;  // of the pieces named, when put or taken (looked up once each)
    std::unordered_map<std::uint64_t, Made> m_madeBefore;  // by their inputs
    std::vector<std::pair<std::uint64_t, std::string>> m_made;
    std::size_t m_reused = 0;
    std::uint64_t m_bytesWritten = 0;
    std::string m_failedPath;
    std::string m_error;
    std::unique_ptr<Flusher> m_flusher;
    std::size_t m_folderFlushedAt = 0;  // pieces written when the folder went to the flusher
};

// The checksum of what a piece is composed from: each text led by its length, so that
// no two lists of inputs run together into one. Short inputs (a key, its pages, a
// number) are gathered and checksummed a block at a time, which gives the checksum of
// the same bytes at a fraction of the cost of a call to the checksum for each.
class PieceInputs {
public:
    void text(std::string_view bytes);
    void number(std::int64_t value);
    std::uint64_t value() const;

private:
    static constexpr std::size_t kBlock = 2048;
    void add(const char* bytes, std::size_t size);
    void addGathered() const;
    mutable CacheChecksum m_checksum;
    mutable std::size_t m_gathered = 0;
    mutable char m_block[kBlock];
};

// What a file looks like from outside: its device, inode, size, modification and change
// times, or "" when name (not followed if a link) is no regular file of the running user.
std::string fileStamp(FileSystem& fileSystem, int at, const std::string& name);
// The same of a status already taken.
std::string fileStamp(const struct stat& info);

// The name a piece of these bytes is given first (with salt 0), and after a clash.
std::string pieceName(std::string_view content, unsigned salt = 0);
