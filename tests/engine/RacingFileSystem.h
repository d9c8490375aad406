#pragma once

#include "FileSystem.h"

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

// The system's calls; before(call, at, name) runs first, so a test can swap or remove
// what is about to be used, and a call named in failing fails with error.
class RacingFileSystem : public FileSystem {
public:
    std::function<void(const std::string& call, int at, const std::string& name)> before;
    std::string failing, failingName;  // the call that fails, on this name only when given
    int error = EIO;

    int openFolder(int at, const std::string& name, bool followLink) override
    {
        return hook("openFolder", at, name) ? FileSystem::openFolder(at, name, followLink) : -1;
    }
    bool listFolder(int folder, std::vector<FolderEntry>& entries) override
    {
        return hook("listFolder", folder, "") && FileSystem::listFolder(folder, entries);
    }
    // Every status tells times this many seconds older than the file's, so that a test can
    // make files look long unchanged without waiting.
    long ageSeconds = 0;
    // Non-zero: every status tells these times, as a clock too coarse to see a change would.
    long frozenSeconds = 0;
    bool statAt(int at, const std::string& name, struct stat& info, bool followLink) override
    {
        if (!FileSystem::statAt(at, name, info, followLink))
            return false;
        info.st_mtim.tv_sec -= ageSeconds;
        info.st_ctim.tv_sec -= ageSeconds;
        if (frozenSeconds)
            info.st_mtim = info.st_ctim = {frozenSeconds, 0};
        return true;
    }
    int openForReading(int at, const std::string& name, bool followLink) override
    {
        return hook("openForReading", at, name) ? FileSystem::openForReading(at, name, followLink) : -1;
    }
    ssize_t readSome(int fd, char* buffer, std::size_t size) override
    {
        return hook("readSome", fd, "") ? FileSystem::readSome(fd, buffer, size) : -1;
    }
    int createNew(int at, const std::string& name, mode_t mode) override
    {
        return hook("createNew", at, name) ? FileSystem::createNew(at, name, mode) : -1;
    }

private:
    bool hook(const std::string& call, int at, const std::string& name)
    {
        if (before)
            before(call, at, name);
        if (call != failing || (!failingName.empty() && name != failingName))
            return true;
        errno = error;
        return false;
    }
};
