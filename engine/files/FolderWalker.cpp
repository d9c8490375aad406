// The walk of the source tree: which entries are pages and folders, in which order
// they are numbered, and which are left out (loops, links that lead outside, our own output).

#include "FolderWalker.h"

#include "SearchPageFiles.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {
unsigned char upperByte(unsigned char c) { return static_cast<unsigned>(c - 'a') < 26u ? c - 32 : c; }
}  // namespace

std::string realPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string result = real;
    std::free(real);
    return result;
}

FolderWalker::FolderWalker(std::string root, WalkRules rules) : m_rules(std::move(rules))
{
    struct stat info;
    if (!m_rules.outputFolder.empty() && ::stat(m_rules.outputFolder.c_str(), &info) == 0) {
        m_outputFolder = {info.st_dev, info.st_ino};
        m_hasOutputFolder = true;
    }
    if (m_rules.stayInside) {
        m_realRoot = realPath(root);
        if (m_realRoot.empty())
            return;  // a root that cannot be resolved has nothing inside it
    }
    enterFolder(std::move(root));
}

bool FolderWalker::liesInside(const std::string& path) const
{
    const std::string real = realPath(path);
    if (real.empty())
        return false;
    if (m_realRoot == "/")
        return true;
    return real.compare(0, m_realRoot.size(), m_realRoot) == 0
        && (real.size() == m_realRoot.size() || real[m_realRoot.size()] == '/');
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

    const bool outputFolder = m_hasOutputFolder && m_outputFolder == std::make_pair(info.st_dev, info.st_ino);

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
            const std::string path = folder + "/" + e.name;
            if (::stat(path.c_str(), &e.info) != 0)
                continue;
            if (m_rules.stayInside && (S_ISREG(e.info.st_mode) || S_ISDIR(e.info.st_mode))) {
                // Inside a folder that lies inside the root, only a link can lead out.
                struct stat own;
                bool link = entry->d_type == DT_LNK
                    || (entry->d_type == DT_UNKNOWN && ::lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode));
                if (link && (S_ISDIR(e.info.st_mode) || matchesPagePattern(e.name)) && !liesInside(path)) {
                    ++m_skippedOutside;
                    continue;
                }
            }
            entries.push_back(std::move(e));
        }
        ::closedir(dir);
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return nameBefore(a.name, b.name); });

    Frame frame;
    for (const Entry& e : entries) {
        if (S_ISREG(e.info.st_mode) && matchesPagePattern(e.name)) {
            std::string path = folder + "/" + e.name;
            if (outputFolder && carriesProgramMark(path))
                continue;
            m_pages.push_back(PageItem{std::move(path), e.info.st_mtime});
        }
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
