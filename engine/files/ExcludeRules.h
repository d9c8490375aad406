#pragma once

#include "GlobPattern.h"
#include "IndexTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class FileSystem;

// The pages and folders a job leaves out: the globs of the source folder's ignore file
// (.vantrelignore) and of --exclude, in the familiar ignore-file syntax:
//
//   # a comment            blank lines and lines starting with "#" are no patterns
//   genindex*.html         a name at any depth ("*", "?", "[...]", "\" as GlobPattern)
//   _sources/              a trailing "/": folders only
//   /search.html           a leading or inner "/": relative to the source folder
//   **/private/  a/**  a/**/b   "**" between slashes: any number of folders
//   !keep.html             "!" takes back what an earlier pattern left out
//
// The last pattern that matches an entry decides; --exclude patterns come after the
// ignore file's and take no "!". A folder left out is not entered, so nothing below it
// can be taken back. Only the source folder's ignore file is read: one file says what
// the site leaves out.
class ExcludeRules {
public:
    static constexpr const char* kIgnoreFileName = ".vantrelignore";
    // An ignore file or a set of --exclude patterns larger than this is refused: each
    // entry of the walk is matched against every pattern.
    static constexpr std::size_t kMostPatternBytes = 64 * 1024;

    // Reads sourceFolder's ignore file (when there is one) and adds excludes after it.
    // False, with error naming the file or pattern and what is wrong, for an ignore file
    // that is no regular file of the folder's own (a link is not followed), too large, or
    // malformed, or a malformed --exclude.
    static bool load(FileSystem& fileSystem, const std::string& sourceFolder, const std::vector<std::string>& excludes,
                     ExcludeRules& rules, std::string& error);

    // Adds the patterns of an ignore file's text; false with error ("line N: why").
    bool addIgnoreFile(std::string_view text, std::string& error);
    // Adds one --exclude pattern; false with error.
    bool addExclude(std::string_view glob, std::string& error);

    bool empty() const { return m_patterns.empty(); }

    // How far each pattern that names a path has come along the path of one folder: the
    // folders of its path matched so far. Only patterns that can still match are kept.
    struct FolderState {
        struct Progress {
            std::uint32_t pattern;
            std::vector<std::uint16_t> positions;  // segments matched so far, each a way to get here
        };
        std::vector<Progress> progress;  // by pattern
    };

    // The state of the source folder.
    FolderState rootState() const;
    // The state of the folder name in the folder of state.
    FolderState enter(const FolderState& state, std::string_view name) const;
    // Which rule leaves out the entry name of the folder of state: the last pattern that
    // matches decides.
    LeftOutBy leftOut(const FolderState& state, std::string_view name, bool isFolder) const;

private:
    struct Segment {
        GlobPattern glob;
        bool anyFolders = false;  // "**": any number of names
    };
    struct Pattern {
        LeftOutBy by = LeftOutBy::IgnoreFile;
        bool negated = false;
        bool foldersOnly = false;
        bool anchored = false;      // matched along the path from the source folder
        bool takesInside = false;   // ends in "/**": everything below its path matches
        std::vector<Segment> segments;
    };

    bool addPattern(std::string_view text, LeftOutBy by, std::string& error);
    // Adds the positions that "**" segments let position stand for.
    void close(const Pattern& pattern, std::vector<std::uint16_t>& positions) const;
    std::vector<std::uint16_t> advance(const Pattern& pattern, const std::vector<std::uint16_t>& positions,
                                       std::string_view name) const;

    std::vector<Pattern> m_patterns;
    std::size_t m_excludeBytes = 0;
};
