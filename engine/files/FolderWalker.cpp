// The walk of the source tree: which entries are pages and folders, in which order
// they are numbered, and which are left out (loops, links that lead outside, our own output).

#include "FolderWalker.h"

#include "SearchPageFiles.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace {
unsigned char upperByte(unsigned char c) { return static_cast<unsigned>(c - 'a') < 26u ? c - 32 : c; }

// Folders of the walk kept open at once besides the root; deeper ones are opened again
// from an ancestor when the walk comes back to them.
constexpr std::size_t kMostOpenFolders = 64;

FileKey keyOf(const struct stat& info) { return {info.st_dev, info.st_ino}; }
}  // namespace

std::string realPath(const std::string& path, FileSystem& fileSystem)
{
    return path.empty() ? std::string() : fileSystem.realPathAt(AT_FDCWD, path);
}

FolderWalker::FolderWalker(std::string root, WalkRules rules, FileSystem& fileSystem)
    : m_fileSystem(fileSystem), m_rules(std::move(rules))
{
    struct stat info;
    if (!m_rules.outputFolder.empty() && m_fileSystem.statAt(AT_FDCWD, m_rules.outputFolder, info, true)) {
        m_outputFolder = keyOf(info);
        m_hasOutputFolder = true;
    }
    FileHandle handle(m_fileSystem, root.empty() ? -1 : m_fileSystem.openFolder(AT_FDCWD, root, true));
    if (!handle || !m_fileSystem.statAt(handle.fd(), "", info, true))
        return;
    m_realRoot = m_fileSystem.realPathAt(handle.fd(), "");
    // Pages are published only when the one who owns the site could read them.
    m_owner = info.st_uid;
    if (const passwd* owner = m_owner == 0 ? nullptr : ::getpwuid(m_owner)) {
        int count = 64;
        m_ownerGroups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(owner->pw_name, owner->pw_gid, m_ownerGroups.data(), &count) < 0) {
            m_ownerGroups.resize(static_cast<std::size_t>(count));
            ::getgrouplist(owner->pw_name, owner->pw_gid, m_ownerGroups.data(), &count);
        }
        m_ownerGroups.resize(static_cast<std::size_t>(std::max(count, 0)));
    }
    enterFolder(std::move(root), std::move(handle), keyOf(info), false,
                m_rules.exclude ? m_rules.exclude->rootState() : ExcludeRules::FolderState());
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

bool FolderWalker::linkLeadsInside(int folder, const std::string& name) const
{
    return liesWithin(m_fileSystem.realPathAt(folder, name), m_realRoot);
}

bool FolderWalker::ownerMayRead(const struct stat& info) const
{
    if (m_owner == 0)
        return true;
    if (info.st_uid == m_owner)
        return (info.st_mode & S_IRUSR) != 0;
    if (std::find(m_ownerGroups.begin(), m_ownerGroups.end(), info.st_gid) != m_ownerGroups.end())
        return (info.st_mode & S_IRGRP) != 0;
    return (info.st_mode & S_IROTH) != 0;
}

void FolderWalker::enterFolder(std::string folder, FileHandle handle, FileKey file, bool throughLink,
                               const ExcludeRules::FolderState& rules)
{
    m_pages.clear();
    m_nextPage = 0;
    if (!m_entered.insert(file).second)
        return;  // reached before by another path: indexed there
    const int fd = handle.fd();
    const bool outputFolder = m_hasOutputFolder && m_outputFolder == file;

    struct Entry {
        std::string name;
        struct stat info;
        bool link;
    };
    std::vector<Entry> entries;
    std::vector<FolderEntry> listed;
    m_fileSystem.listFolder(fd, listed);
    for (FolderEntry& entry : listed) {
        // An entry the listing tells is neither a page, a folder nor a link (images,
        // scripts, style sheets: often most of a site's files) is passed over without
        // asking for its status.
        if (entry.type != DT_UNKNOWN && entry.type != DT_DIR && entry.type != DT_LNK
            && (entry.type != DT_REG || !matchesPagePattern(entry.name)))
            continue;
        // The entry's own status first: for all but links it is the file's, so a page
        // is known by its entry without being opened; a link's target is looked at after.
        Entry e{std::move(entry.name), {}, false};
        if (!m_fileSystem.statAt(fd, e.name, e.info, false))
            continue;
        e.link = S_ISLNK(e.info.st_mode);
        if (e.link && !m_fileSystem.statAt(fd, e.name, e.info, true))
            continue;
        const bool page = S_ISREG(e.info.st_mode) && matchesPagePattern(e.name);
        if (!page && !S_ISDIR(e.info.st_mode))
            continue;
        // Left out before anything else is asked of it: a folder left out is not entered.
        if (m_rules.exclude) {
            const LeftOutBy by = m_rules.exclude->leftOut(rules, e.name, !page);
            if (by != LeftOutBy::Nothing) {
                m_leftOut.count(by, !page);
                continue;
            }
        }
        // Inside a folder that lies inside the root, only a link can lead out.
        if (e.link && !m_rules.followOutside && !linkLeadsInside(fd, e.name)) {
            ++m_skippedOutside;
            continue;
        }
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return nameBefore(a.name, b.name); });

    Frame frame;
    frame.handle = std::make_shared<FileHandle>(std::move(handle));
    for (Entry& e : entries) {
        if (S_ISDIR(e.info.st_mode)) {
            ExcludeRules::FolderState inner = m_rules.exclude ? m_rules.exclude->enter(rules, e.name)
                                                              : ExcludeRules::FolderState();
            frame.subFolders.push_back(SubFolder{std::move(e.name), keyOf(e.info), e.link, std::move(inner)});
            continue;
        }
        if (outputFolder && carriesProgramMark(m_fileSystem, fd, e.name))
            continue;
        std::string path = folder + "/" + e.name;
        m_pages.push_back(PageItem{std::move(path), e.info.st_mtime, frame.handle, std::move(e.name), keyOf(e.info),
                                   e.link, static_cast<std::int64_t>(e.info.st_size), e.info});
    }
    frame.folder = std::move(folder);
    frame.file = file;
    frame.throughLink = throughLink;
    m_stack.push_back(std::move(frame));
    limitOpenFolders();
}

void FolderWalker::limitOpenFolders()
{
    std::size_t open = 0;
    for (const Frame& frame : m_stack)
        open += frame.handle ? 1 : 0;
    for (std::size_t at = 1; at < m_stack.size() && open > kMostOpenFolders + 1; ++at) {
        if (m_stack[at].handle) {
            m_stack[at].handle.reset();  // pages listed there keep it open until read
            --open;
        }
    }
}

int FolderWalker::frameFolder(std::size_t at)
{
    std::size_t open = at;
    while (open > 0 && !m_stack[open].handle)
        --open;
    if (!m_stack[open].handle)
        return -1;
    // Each folder below is opened by its name in the one above, and must be the folder
    // that was walked there before.
    for (std::size_t k = open + 1; k <= at; ++k) {
        Frame& frame = m_stack[k];
        FileHandle handle(m_fileSystem, m_fileSystem.openFolder(m_stack[k - 1].handle->fd(),
                                                                nameOfPath(frame.folder), frame.throughLink));
        struct stat info;
        if (!handle || !m_fileSystem.statAt(handle.fd(), "", info, true) || keyOf(info) != frame.file)
            return -1;
        frame.handle = std::make_shared<FileHandle>(std::move(handle));
    }
    const int fd = m_stack[at].handle->fd();
    limitOpenFolders();
    return m_stack[at].handle ? fd : -1;
}

FileHandle FolderWalker::openSubFolder(const SubFolder& sub)
{
    const int parent = frameFolder(m_stack.size() - 1);
    if (parent < 0)
        return {};
    FileHandle handle(m_fileSystem, m_fileSystem.openFolder(parent, sub.name, false));
    bool viaLink = false;
    if (!handle) {
        struct stat own;
        if (!m_fileSystem.statAt(parent, sub.name, own, false) || !S_ISLNK(own.st_mode))
            return {};
        if (!sub.throughLink) {
            ++m_skippedOutside;  // a folder that became a link since the listing is not entered
            return {};
        }
        handle = FileHandle(m_fileSystem, m_fileSystem.openFolder(parent, sub.name, true));
        viaLink = true;
    }
    struct stat info;
    if (!handle || !m_fileSystem.statAt(handle.fd(), "", info, true))
        return {};
    if (keyOf(info) != sub.file) {
        ++m_skippedOutside;  // another folder than the listing saw: swapped in since
        return {};
    }
    if (viaLink && !m_rules.followOutside && !liesWithin(m_fileSystem.realPathAt(handle.fd(), ""), m_realRoot)) {
        ++m_skippedOutside;
        return {};
    }
    return handle;
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
        SubFolder& sub = top.subFolders[top.nextSubFolder++];
        // Its own copy: entering it grows the stack that holds sub.
        const ExcludeRules::FolderState rules = std::move(sub.rules);
        std::string folder = top.folder + "/" + sub.name;
        FileHandle handle = openSubFolder(sub);
        if (handle)
            enterFolder(std::move(folder), std::move(handle), sub.file, sub.throughLink, rules);
        else
            m_pages.clear(), m_nextPage = 0;
    }
}

bool FolderWalker::listedAsReadable(const PageItem& page) const
{
    return !page.throughLink && page.folder && *page.folder && S_ISREG(page.listed.st_mode)
        && keyOf(page.listed) == page.file && ownerMayRead(page.listed);
}

PageOpening FolderWalker::openPage(const PageItem& page, int& fd) const
{
    fd = -1;
    if (!page.folder || !*page.folder)
        return PageOpening::CannotOpen;
    const int folder = page.folder->fd();
    FileHandle file(m_fileSystem, m_fileSystem.openForReading(folder, page.name, false));
    bool viaLink = false;
    if (!file) {
        struct stat own;
        if (!m_fileSystem.statAt(folder, page.name, own, false) || !S_ISLNK(own.st_mode))
            return PageOpening::CannotOpen;
        if (!page.throughLink)
            return PageOpening::Changed;  // a page that became a link since the listing
        file = FileHandle(m_fileSystem, m_fileSystem.openForReading(folder, page.name, true));
        if (!file)
            return PageOpening::CannotOpen;
        viaLink = true;
    }
    struct stat info;
    if (!m_fileSystem.statAt(file.fd(), "", info, true) || !S_ISREG(info.st_mode))
        return PageOpening::CannotOpen;
    if (keyOf(info) != page.file)
        return PageOpening::Changed;
    if (viaLink && !m_rules.followOutside && !liesWithin(m_fileSystem.realPathAt(file.fd(), ""), m_realRoot))
        return PageOpening::Outside;
    if (!ownerMayRead(info))
        return PageOpening::OwnerMayNot;
    fd = file.release();
    return PageOpening::Opened;
}
