// What a job leaves out by the source folder's ignore file and --exclude: the patterns,
// read once, and their progress along the walk's folders, so that no entry is matched
// against its whole path however deep it lies.

#include "ExcludeRules.h"

#include "FileSystem.h"
#include "IndexJob.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

bool ExcludeRules::load(FileSystem& fileSystem, const std::string& sourceFolder,
                        const std::vector<std::string>& excludes, ExcludeRules& rules, std::string& error)
{
    rules = ExcludeRules();
    const std::string path = sourceFolder + "/" + kIgnoreFileName;
    FileHandle folder(fileSystem, fileSystem.openFolder(AT_FDCWD, sourceFolder, true));
    std::string text;
    struct stat info;
    // Once there is one, it must be read: what it leaves out must never be published.
    if (folder && fileSystem.statAt(folder.fd(), kIgnoreFileName, info, false)) {
        if (S_ISLNK(info.st_mode)) {
            error = printableText(path) + " is a symbolic link, which is not followed: make it a file";
            return false;
        }
        if (!S_ISREG(info.st_mode)) {
            error = printableText(path) + " is not a file";
            return false;
        }
        if (!readRegularFile(fileSystem, folder.fd(), kIgnoreFileName, kMostPatternBytes + 1, text, false)) {
            error = printableText(path) + " cannot be read: " + std::strerror(errno);
            return false;
        }
    }
    if (text.size() > kMostPatternBytes) {
        error = printableText(path) + " is larger than 64 KiB";
        return false;
    }
    std::string why;
    if (!rules.addIgnoreFile(text, why)) {
        error = printableText(path) + ", " + why;
        return false;
    }
    for (const std::string& glob : excludes) {
        if (!rules.addExclude(glob, why)) {
            error = "--exclude \"" + printableText(glob) + "\": " + why;
            return false;
        }
    }
    return true;
}

bool ExcludeRules::addIgnoreFile(std::string_view text, std::string& error)
{
    if (text.find('\0') != std::string_view::npos) {
        error = "it holds a NUL byte: it is no text";
        return false;
    }
    std::size_t number = 0;
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#')
            continue;
        if (!addPattern(line, LeftOutBy::IgnoreFile, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}

bool ExcludeRules::addExclude(std::string_view glob, std::string& error)
{
    m_excludeBytes += glob.size() + 1;
    if (m_excludeBytes > kMostPatternBytes) {
        error = "the --exclude patterns together are larger than 64 KiB";
        return false;
    }
    if (!glob.empty() && glob[0] == '!') {
        error = "--exclude takes nothing back: a leading \"!\" is written \"\\!\"";
        return false;
    }
    if (glob.empty() || glob.find('\0') != std::string_view::npos) {
        error = "an empty pattern leaves nothing out";
        return false;
    }
    return addPattern(glob, LeftOutBy::ExcludeOption, error);
}

bool ExcludeRules::addPattern(std::string_view text, LeftOutBy by, std::string& error)
{
    Pattern pattern;
    pattern.by = by;
    // Trailing blanks are no part of a pattern, unless "\" keeps one.
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        std::size_t slashes = 0;
        while (slashes + 2 <= text.size() && text[text.size() - 2 - slashes] == '\\')
            ++slashes;
        if (slashes % 2 == 1)
            break;
        text.remove_suffix(1);
    }
    if (!text.empty() && text[0] == '!') {
        pattern.negated = true;
        text.remove_prefix(1);
    }
    if (!text.empty() && text.back() == '/') {
        pattern.foldersOnly = true;
        text.remove_suffix(1);
    }
    pattern.anchored = text.find('/') != std::string_view::npos;
    if (!text.empty() && text[0] == '/')
        text.remove_prefix(1);
    for (std::size_t at = 0; at <= text.size();) {
        std::size_t slash = text.find('/', at);
        if (slash == std::string_view::npos)
            slash = text.size();
        const std::string_view part = text.substr(at, slash - at);
        at = slash + 1;
        if (part.empty())
            continue;
        Segment segment;
        if (pattern.anchored && part == "**") {
            if (!pattern.segments.empty() && pattern.segments.back().anyFolders)
                continue;  // "**/**" is one "**"
            segment.anyFolders = true;
        } else if (!segment.glob.compile(part, &error)) {
            return false;
        }
        pattern.segments.push_back(std::move(segment));
    }
    if (pattern.segments.empty())
        return true;  // "/" or "!": nothing to match
    if (pattern.segments.back().anyFolders) {
        // "a/**": every name below a, at any depth, but not a itself.
        pattern.segments.back().anyFolders = false;
        pattern.segments.back().glob.compile("*");
        pattern.takesInside = true;
    }
    if (pattern.segments.size() > 0xFFFE) {
        error = "it has too many parts";
        return false;
    }
    m_patterns.push_back(std::move(pattern));
    return true;
}

void ExcludeRules::close(const Pattern& pattern, std::vector<std::uint16_t>& positions) const
{
    // "**" also stands for no folder at all: the segment after it may match here too.
    const std::size_t count = positions.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t at = positions[i];
        if (at < pattern.segments.size() && pattern.segments[at].anyFolders)
            positions.push_back(static_cast<std::uint16_t>(at + 1));
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
}

std::vector<std::uint16_t> ExcludeRules::advance(const Pattern& pattern, const std::vector<std::uint16_t>& positions,
                                                 std::string_view name) const
{
    std::vector<std::uint16_t> next;
    const std::size_t end = pattern.segments.size();
    for (std::uint16_t at : positions) {
        if (at == end) {
            if (pattern.takesInside)
                next.push_back(at);
        } else if (pattern.segments[at].anyFolders) {
            next.push_back(at);
        } else if (pattern.segments[at].glob.matches(name)) {
            next.push_back(static_cast<std::uint16_t>(at + 1));
        }
    }
    close(pattern, next);
    return next;
}

ExcludeRules::FolderState ExcludeRules::rootState() const
{
    FolderState state;
    for (std::size_t p = 0; p < m_patterns.size(); ++p) {
        if (!m_patterns[p].anchored)
            continue;
        std::vector<std::uint16_t> positions{0};
        close(m_patterns[p], positions);
        state.progress.push_back(FolderState::Progress{static_cast<std::uint32_t>(p), std::move(positions)});
    }
    return state;
}

ExcludeRules::FolderState ExcludeRules::enter(const FolderState& state, std::string_view name) const
{
    FolderState inner;
    for (const FolderState::Progress& progress : state.progress) {
        std::vector<std::uint16_t> next = advance(m_patterns[progress.pattern], progress.positions, name);
        if (!next.empty())
            inner.progress.push_back(FolderState::Progress{progress.pattern, std::move(next)});
    }
    return inner;
}

LeftOutBy ExcludeRules::leftOut(const FolderState& state, std::string_view name, bool isFolder) const
{
    auto progress = state.progress.rbegin();
    for (std::size_t p = m_patterns.size(); p-- > 0;) {
        const Pattern& pattern = m_patterns[p];
        if (pattern.anchored) {
            while (progress != state.progress.rend() && progress->pattern > p)
                ++progress;
            if (progress == state.progress.rend() || progress->pattern != p)
                continue;  // it can no longer match below here
        }
        if (pattern.foldersOnly && !isFolder)
            continue;
        bool matched = false;
        if (!pattern.anchored) {
            matched = pattern.segments[0].glob.matches(name);
        } else {
            const std::size_t end = pattern.segments.size();
            for (std::uint16_t at : progress->positions) {
                matched = (at == end && pattern.takesInside)
                    || (at + 1u == end && !pattern.segments[at].anyFolders && pattern.segments[at].glob.matches(name));
                if (matched)
                    break;
            }
        }
        if (matched)
            return pattern.negated ? LeftOutBy::Nothing : pattern.by;
    }
    return LeftOutBy::Nothing;
}
