#pragma once

#include <string>
#include <vector>

class FileSystem;

// The folder of the running program file, ending in "/"; empty when it cannot be told.
std::string programFolder();

// Where a file that ships beside the program is found: programFolder + relativePath,
// or, for an installed program (PREFIX/bin/), PREFIX/share/vantrelindexer/ +
// relativePath. Returns the first that exists, else the first form.
std::string programResourcePath(const std::string& programFolder, const std::string& relativePath);

// The names of the search-page files, in the order they are copied.
const std::vector<std::string>& searchPageFileNames();

// Whether the file at path carries the mark that every page, script and style file of
// the program's own holds in its first kilobyte: the generator META tag in HTML, the
// first-line comment in scripts and styles.
bool carriesProgramMark(const std::string& path);
// The same for the file name in the open folder, read through fileSystem.
bool carriesProgramMark(FileSystem& fileSystem, int folder, const std::string& name);

// A file that could not be written, and why.
struct OutputFailure {
    std::string path;
    std::string reason;
};

// Copies the four search-page files from the program's "js" folder into
// destinationFolder, each staged and renamed into place; one that is there already, the
// running user's regular file that nobody else may write, holding the same bytes, is left
// as it stands (not written, flushed nor renamed again). Files that cannot be copied are
// added to failures (when given); the others are copied all the same. False when any
// failed.
bool copySearchPageFiles(const std::string& programFolder, const std::string& destinationFolder,
                         std::vector<OutputFailure>* failures = nullptr);
