// Watching a source tree with inotify for --watch: which changes count, and the wait for
// a burst of them to settle.

#include "SourceWatcher.h"

#include "SearchPageFiles.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE
    | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

// Whether a name makes a page: it holds ".htm" in any letter case.
bool pageName(const std::string& name)
{
    for (std::size_t i = 0; i + 4 <= name.size(); ++i)
        if (name[i] == '.' && (name[i + 1] | 0x20) == 'h' && (name[i + 2] | 0x20) == 't' && (name[i + 3] | 0x20) == 'm')
            return true;
    return false;
}
}  // namespace

SourceWatcher::SourceWatcher(std::string source, std::string destination)
    : m_source(std::move(source)), m_destination(std::move(destination))
{
}

SourceWatcher::~SourceWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SourceWatcher::start()
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::stat(m_destination.c_str(), &info) == 0)
        m_destinationFolder = {info.st_dev, info.st_ino};
    watchTree(m_source);
    if (m_folders.empty()) {
        m_error = std::strerror(errno);
        return false;
    }
    return true;
}

void SourceWatcher::watchTree(const std::string& root)
{
    // Iterative, so that any depth is safe; a folder (device and inode) is watched once.
    std::vector<std::string> folders{root};
    std::set<std::pair<dev_t, ino_t>> seen;
    while (!folders.empty()) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        struct stat info;
        if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || !seen.insert({info.st_dev, info.st_ino}).second)
            continue;
        // A destination below the source holds only what the runs write.
        const bool destination = std::make_pair(info.st_dev, info.st_ino) == m_destinationFolder;
        if (destination && folder != root)
            continue;
        const int watch = ::inotify_add_watch(m_fd, folder.c_str(), kFolderEvents);
        if (watch < 0)
            continue;
        m_folders[watch] = folder;
        DIR* listing = ::opendir(folder.c_str());
        if (!listing)
            continue;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || (destination && isOwnOutput(watch, name)))
                continue;
            if (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN)
                folders.push_back(folder + "/" + name);
        }
        ::closedir(listing);
    }
}

bool SourceWatcher::isOwnOutput(int watch, const std::string& name) const
{
    const auto folder = m_folders.find(watch);
    struct stat info;
    if (folder == m_folders.end() || ::stat(folder->second.c_str(), &info) != 0
        || std::make_pair(info.st_dev, info.st_ino) != m_destinationFolder)
        return false;
    // The index, the search page, the companion data and their temporary files
    // (".NAME" and more).
    std::vector<std::string> outputs = searchPageFileNames();
    for (const char* name : {"indexed_docs.js", "indexed_words.js", "indexed_pages.js", "indexed_terms.js", "indexed_text"})
        outputs.push_back(name);
    for (const std::string& output : outputs)
        if (name.compare(0, output.size(), output) == 0 || name.compare(0, output.size() + 1, "." + output) == 0)
            return true;
    return false;
}

bool SourceWatcher::readEvents(std::set<std::string>& changed)
{
    alignas(inotify_event) char buffer[64 * 1024];
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            return any;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const auto folder = m_folders.find(event->wd);
            if (event->mask & IN_Q_OVERFLOW) {
                changed.insert(m_source);  // events were lost: a run looks at everything
                any = true;
                continue;
            }
            if (folder == m_folders.end())
                continue;
            if (event->mask & IN_IGNORED) {
                m_folders.erase(folder);
                continue;
            }
            const std::string name = event->len ? std::string(event->name) : std::string();
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                changed.insert(folder->second);
                any = true;
                continue;
            }
            if (isOwnOutput(event->wd, name))
                continue;
            const bool isFolder = (event->mask & IN_ISDIR) != 0;
            if (!isFolder && !pageName(name))
                continue;
            const std::string path = folder->second + "/" + name;
            if (isFolder && (event->mask & (IN_CREATE | IN_MOVED_TO)))
                watchTree(path);  // a new folder, and whatever was made in it meanwhile
            changed.insert(path);
            any = true;
        }
    }
}

bool SourceWatcher::waitForChanges(long settleMilliseconds, const std::function<bool(long)>& stopped,
                                   std::size_t& changedCount)
{
    std::set<std::string> changed;
    long quiet = 0;
    for (;;) {
        if (stopped(100))
            return false;
        if (readEvents(changed))
            quiet = 0;
        else if (!changed.empty() && (quiet += 100) >= settleMilliseconds)
            break;
    }
    changedCount = changed.size();
    return true;
}
