#pragma once

#include <ctime>
#include <set>
#include <string>
#include <utility>
#include <vector>
#include <sys/types.h>

// The real path of path (links and "." and ".." resolved), or "" when it cannot be
// resolved.
std::string realPath(const std::string& path);

// One page found by the walk.
struct PageItem {
    std::string path;         // folder + "/" + name, as joined text
    std::time_t modified{};   // last-modification time, whole seconds
};

// What the walk leaves out besides what is not a page.
struct WalkRules {
    // Pages and folders whose real path lies outside the root's real path are skipped.
    bool stayInside = false;
    // Pages in this folder that carry the program's mark are its own output (the search
    // page written there before), not pages of the site. Empty: none.
    std::string outputFolder;
};

// Walks a folder tree depth first, giving its pages in document order: the pages of a
// folder (in name order) before the pages of its sub-folders, each sub-folder walked
// completely before the next. Iterative, so any depth is safe; a folder (device and
// inode) is entered once, so link loops end.
class FolderWalker {
public:
    explicit FolderWalker(std::string root, WalkRules rules = {});

    // The next page, or false when the tree is exhausted.
    bool next(PageItem& page);

    // Pages and folders skipped so far because they lie outside the root.
    std::size_t skippedOutside() const { return m_skippedOutside; }

    // Whether a file name makes a page: it holds ".htm" in any letter case.
    static bool matchesPagePattern(const std::string& name);

    // Orders names by their upper-cased bytes, ties broken by the raw bytes.
    static bool nameBefore(const std::string& a, const std::string& b);

private:
    struct Frame {
        std::string folder;
        std::vector<std::string> subFolders;  // names, in walk order
        std::size_t nextSubFolder = 0;
    };

    // Lists the folder once: its pages go to m_pages, its sub-folders onto the stack.
    void enterFolder(std::string folder);
    bool liesInside(const std::string& path) const;

    WalkRules m_rules;
    std::string m_realRoot;  // with stayInside
    std::pair<dev_t, ino_t> m_outputFolder{};
    bool m_hasOutputFolder = false;
    std::vector<Frame> m_stack;
    std::vector<PageItem> m_pages;  // pages of the folder entered last
    std::size_t m_nextPage = 0;
    std::set<std::pair<dev_t, ino_t>> m_entered;
    std::size_t m_skippedOutside = 0;
};
