#pragma once

#include "ExcludeRules.h"
#include "FileSystem.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <sys/types.h>

// The real path of path (links and "." and ".." resolved), or "" when it cannot be
// resolved.
std::string realPath(const std::string& path, FileSystem& fileSystem = FileSystem::real());

// An open folder that the walk listed, shared by the pages found in it until they are read.
using FolderHandle = std::shared_ptr<const FileHandle>;

// A file by its device and inode.
using FileKey = std::pair<dev_t, ino_t>;

// One page found by the walk.
struct PageItem {
    std::string path;         // folder + "/" + name, as joined text
    std::time_t modified{};   // last-modification time, whole seconds
    FolderHandle folder;      // the folder it was listed in
    std::string name;         // its name there
    FileKey file{};           // what the listing saw (links followed)
    bool throughLink = false; // the entry was a symbolic link
    std::int64_t size = 0;    // its size in bytes when listed
    struct stat listed {};    // its status when listed: the entry's own, or for a link its target's
};

// What the walk leaves out besides what is not a page.
struct WalkRules {
    // Pages and folders that links lead to outside the root are walked too.
    bool followOutside = false;
    // Pages in this folder that carry the program's mark are its own output (the search
    // page written there before), not pages of the site. Empty: none.
    std::string outputFolder;
    // Pages and folders these rules leave out are not given or entered; null: none.
    const ExcludeRules* exclude = nullptr;
};

// How opening a page went.
enum class PageOpening {
    Opened,
    CannotOpen,   // missing by now, no regular file, or no permission
    Outside,      // it lies outside the root by now (a link swapped in)
    Changed,      // another file than the walk saw stands under its name by now
    OwnerMayNot,  // the owner of the root may not read it (a hard link to a private file)
};

// Walks a folder tree depth first, giving its pages in document order: the pages of a
// folder (in name order) before the pages of its sub-folders, each sub-folder walked
// completely before the next. Folders are opened through the descriptor of the folder
// that listed them, never by a path looked up again. Iterative, so any depth is safe; a
// folder (device and inode) is entered once, so link loops end. Unless followOutside,
// nothing that lies outside the root is given or entered.
class FolderWalker {
public:
    explicit FolderWalker(std::string root, WalkRules rules = {}, FileSystem& fileSystem = FileSystem::real());

    // The next page, or false when the tree is exhausted.
    bool next(PageItem& page);

    // Opens page for reading, judged by the descriptor opened: a regular file, what the
    // walk saw, inside the root (unless followOutside) and readable by the root's owner.
    // Sets fd (to be closed by the caller) when Opened. Safe to call from several threads.
    PageOpening openPage(const PageItem& page, int& fd) const;

    // Whether the page's status as listed (the entry itself, not followed) may stand for
    // the file without opening it: a regular file of its folder, no link, that the root's
    // owner may read. A page whose bytes are known from that status alone (device, inode,
    // size and times) need not be opened; any other is judged by openPage().
    bool listedAsReadable(const PageItem& page) const;

    // Pages and folders skipped so far because links lead outside the root.
    std::size_t skippedOutside() const { return m_skippedOutside; }

    // Pages and folders left out so far by the exclude rules.
    const LeftOutCounts& leftOut() const { return m_leftOut; }

    // Whether a file name makes a page: it holds ".htm" in any letter case.
    static bool matchesPagePattern(const std::string& name);

    // Orders names by their upper-cased bytes, ties broken by the raw bytes.
    static bool nameBefore(const std::string& a, const std::string& b);

private:
    struct SubFolder {
        std::string name;
        FileKey file;
        bool throughLink;
        ExcludeRules::FolderState rules;  // how far the exclude rules have come along its path
    };
    struct Frame {
        std::string folder;
        FileKey file;
        bool throughLink = false;     // entered through a link
        std::shared_ptr<FileHandle> handle;  // null once closed to save descriptors
        std::vector<SubFolder> subFolders;   // in walk order
        std::size_t nextSubFolder = 0;
    };

    // Opens the sub-folder of the top frame, judged as openPage judges a page.
    FileHandle openSubFolder(const SubFolder& sub);
    // Lists an open folder once: its pages go to m_pages, its sub-folders onto the stack.
    void enterFolder(std::string folder, FileHandle handle, FileKey file, bool throughLink,
                     const ExcludeRules::FolderState& rules);
    // The descriptor of frame at, opened again from an ancestor's when it was closed.
    int frameFolder(std::size_t at);
    void limitOpenFolders();
    bool linkLeadsInside(int folder, const std::string& name) const;
    bool ownerMayRead(const struct stat& info) const;

    FileSystem& m_fileSystem;
    WalkRules m_rules;
    std::string m_realRoot;
    uid_t m_owner = 0;
    std::vector<gid_t> m_ownerGroups;
    FileKey m_outputFolder{};
    bool m_hasOutputFolder = false;
    std::vector<Frame> m_stack;
    std::vector<PageItem> m_pages;  // pages of the folder entered last
    std::size_t m_nextPage = 0;
    std::set<FileKey> m_entered;
    std::size_t m_skippedOutside = 0;
    LeftOutCounts m_leftOut;
};
