#pragma once

#include <ctime>
#include <set>
#include <string>
#include <utility>
#include <vector>
#include <sys/types.h>

// One page found by the walk.
struct PageItem {
    std::string path;         // folder + "/" + name, as joined text
    std::time_t modified{};   // last-modification time, whole seconds
};

// Walks a folder tree depth first, giving its pages in document order: the pages of a
// folder (in name order) before the pages of its sub-folders, each sub-folder walked
// completely before the next. Iterative, so any depth is safe; a folder (device and
// inode) is entered once, so link loops end.
class FolderWalker {
public:
    explicit FolderWalker(std::string root);

    // The next page, or false when the tree is exhausted.
    bool next(PageItem& page);

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

    std::vector<Frame> m_stack;
    std::vector<PageItem> m_pages;  // pages of the folder entered last
    std::size_t m_nextPage = 0;
    std::set<std::pair<dev_t, ino_t>> m_entered;
};
