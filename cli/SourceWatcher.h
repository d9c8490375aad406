#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <sys/types.h>

// Watches a source folder and every folder below it (those made later too) with inotify
// for changes that can change its index: pages (names holding ".htm") made, written,
// moved or removed, and folders made, moved or removed. The destination folder's own
// files (the index, the search page, their temporary files) never count, and a
// destination below the source is not watched at all. Links are not followed.
class SourceWatcher {
public:
    SourceWatcher(std::string source, std::string destination);
    ~SourceWatcher();
    SourceWatcher(const SourceWatcher&) = delete;
    SourceWatcher& operator=(const SourceWatcher&) = delete;

    // Starts watching; false (error() says why) when inotify cannot be had.
    bool start();
    const std::string& error() const { return m_error; }

    // Waits until something changed and then nothing more for settleMilliseconds, so
    // that a burst of saves gives one wait. stopped() is asked every tenth of a second:
    // true ends the wait at once (returns false). Otherwise returns true with the number
    // of distinct paths that changed.
    bool waitForChanges(long settleMilliseconds, const std::function<bool(long)>& stopped, std::size_t& changed);

private:
    void watchTree(const std::string& folder);
    bool readEvents(std::set<std::string>& changed);
    bool isOwnOutput(int watch, const std::string& name) const;

    std::string m_source;
    std::string m_destination;
    std::pair<dev_t, ino_t> m_destinationFolder{};
    int m_fd = -1;
    std::map<int, std::string> m_folders;  // watch descriptor -> folder path
    std::string m_error;
};
