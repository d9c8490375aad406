#include "FolderWalker.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {
unsigned char upperByte(unsigned char c) { return static_cast<unsigned>(c - 'a') < 26u ? c - 32 : c; }
}  // namespace

FolderWalker::FolderWalker(std::string root)
{
    enterFolder(std::move(root));
}

bool FolderWalker::matchesPagePattern(const std::string& name)
{
    for (std::size_t i = 0; i + 4 <= name.size(); ++i) {
        if (name[i] == '.' && upperByte(name[i + 1]) == 'H' && upperByte(name[i + 2]) == 'T'
            && upperByte(name[i + 3]) == 'M')
            return true;
    }
    return false;
}

bool FolderWalker::nameBefore(const std::string& a, const std::string& b)
{
    std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        unsigned char x = upperByte(static_cast<unsigned char>(a[i]));
        unsigned char y = upperByte(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

void FolderWalker::enterFolder(std::string folder)
{
    m_pages.clear();
    m_nextPage = 0;
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return;
    if (!m_entered.insert({info.st_dev, info.st_ino}).second)
        return;  // reached before by another path: indexed there

    struct Entry {
        std::string name;
        struct stat info;
    };
    std::vector<Entry> entries;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            Entry e{entry->d_name, {}};
            if (::stat((folder + "/" + e.name).c_str(), &e.info) == 0)
                entries.push_back(std::move(e));
        }
        ::closedir(dir);
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return nameBefore(a.name, b.name); });

    Frame frame;
    for (const Entry& e : entries) {
        if (S_ISREG(e.info.st_mode) && matchesPagePattern(e.name))
            m_pages.push_back(PageItem{folder + "/" + e.name, e.info.st_mtime});
        else if (S_ISDIR(e.info.st_mode))
            frame.subFolders.push_back(e.name);
    }
    frame.folder = std::move(folder);
    m_stack.push_back(std::move(frame));
}

bool FolderWalker::next(PageItem& page)
{
    for (;;) {
        if (m_nextPage < m_pages.size()) {
            page = std::move(m_pages[m_nextPage++]);
            return true;
        }
        while (!m_stack.empty() && m_stack.back().nextSubFolder == m_stack.back().subFolders.size())
            m_stack.pop_back();
        if (m_stack.empty())
            return false;
        Frame& top = m_stack.back();
        enterFolder(top.folder + "/" + top.subFolders[top.nextSubFolder++]);
    }
}
