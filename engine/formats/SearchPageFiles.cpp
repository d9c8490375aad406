// The search page's own files: where the program finds them, the mark that tells them
// from a site's files of the same names, and their copy into the destination.

#include "SearchPageFiles.h"

#include "FileSystem.h"
#include "StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The marks, as the search page's files carry them; see carriesProgramMark().
const char* const kPageMark = "<meta name=\"generator\" content=\"VantrelIndexer";
const char* const kScriptMark = "/* generator: VantrelIndexer";
constexpr std::size_t kMarkWindow = 1024;

// Whether path (its last name not followed if a link) is a regular file of the running
// user, which only that user may write, holding exactly content.
bool holdsAlready(const std::string& path, const std::string& content)
{
    FileSystem& files = FileSystem::real();
    FileHandle file(files, files.openForReading(AT_FDCWD, path, false));
    struct stat info;
    if (!file || !files.statAt(file.fd(), "", info, false) || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || (info.st_mode & 0222) != S_IWUSR || info.st_nlink != 1 || static_cast<std::size_t>(info.st_size) != content.size())
        return false;
    std::string bytes(content.size(), '\0');
    return files.readFully(file.fd(), bytes.data(), bytes.size(), 0) && bytes == content;
}

// The piece of the store that search.html reads first, as indexed_pages.js in folder
// names it: its top when it has one, else its head; empty for a pages file that is
// missing, not of format 2, or that names no piece by the store's rule for names.
std::string firstPieceNamed(const std::string& folder)
{
    std::string pages;
    if (!readRegularFile(FileSystem::real(), AT_FDCWD, folder + "/indexed_pages.js", 64 * 1024, pages, false))
        return {};
    if (pages.find("var pages={\"format\":2,") == std::string::npos)
        return {};
    auto named = [&pages](const std::string& field) -> std::string {
        const std::string key = "\"" + field + "\":\"";
        std::size_t at = pages.find(key);
        if (at == std::string::npos)
            return {};
        std::string name = pages.substr(at + key.size(), 17);
        // Thirteen letters of the store's alphabet, ".js" and the closing quote.
        bool valid = name.size() == 17 && name.compare(13, 4, ".js\"") == 0
            && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz234567") == 13;
        return valid ? name.substr(0, 16) : std::string();
    };
    // As the page chooses: the top when it is a piece's name, else the head.
    std::string top = named("top");
    return top.empty() ? named("words") : top;
}

// search.html as written beside an index in pieces: the program's page with the first
// piece the page reads preloaded ahead of indexed_pages.js, so that its read starts as
// the HTML is parsed rather than once indexed_pages.js has run (one round of loads
// less before the head's load event, which otherwise ends behind the first layout and
// search.js's run). The page asks for the piece itself all the same and is given the
// preloaded bytes; a page whose piece is renamed by a later run reads the new one.
std::string withFirstPiece(const std::string& page, const std::string& piece)
{
    const std::string before = "<script src=\"indexed_pages.js\"";
    std::size_t at = page.find(before);
    if (piece.empty() || at == std::string::npos)
        return page;
    return page.substr(0, at) + "<link rel=\"preload\" href=\"indexed_text/" + piece + "\" as=\"script\">\n" + page.substr(at);
}

}  // namespace

std::string programFolder()
{
    std::vector<char> path(PATH_MAX + 1);
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        return {};
    std::string program(path.data(), static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

std::string programResourcePath(const std::string& folder, const std::string& relativePath)
{
    std::string beside = folder + relativePath;
    struct stat info;
    if (::stat(beside.c_str(), &info) == 0)
        return beside;
    const std::string bin = "bin/";
    if (folder.size() >= bin.size() && folder.compare(folder.size() - bin.size(), bin.size(), bin) == 0) {
        std::string installed =
            folder.substr(0, folder.size() - bin.size()) + "share/vantrelindexer/" + relativePath;
        if (::stat(installed.c_str(), &info) == 0)
            return installed;
    }
    return beside;
}

const std::vector<std::string>& searchPageFileNames()
{
    static const std::vector<std::string> names = {"search.html", "search.js", "search_top.html", "search.css"};
    return names;
}

bool carriesProgramMark(const std::string& path)
{
    return carriesProgramMark(FileSystem::real(), AT_FDCWD, path);
}

bool carriesProgramMark(FileSystem& fileSystem, int folder, const std::string& name)
{
    std::string head;
    if (!readRegularFile(fileSystem, folder, name, kMarkWindow, head))
        return false;
    return head.find(kPageMark) != std::string::npos || head.compare(0, std::strlen(kScriptMark), kScriptMark) == 0;
}

bool copySearchPageFiles(const std::string& folder, const std::string& destinationFolder,
                         std::vector<OutputFailure>* failures)
{
    if (destinationFolder.empty())
        return false;
    bool allCopied = true;
    for (const std::string& name : searchPageFileNames()) {
        const std::string source = programResourcePath(folder, "js/" + name);
        StagedFile target(destinationFolder + "/" + name);
        std::string content;
        OutputFailure failure;
        const bool read = readRegularFile(FileSystem::real(), AT_FDCWD, source, std::string::npos, content);
        if (read && name == "search.html")
            content = withFirstPiece(content, firstPieceNamed(destinationFolder));
        if (!read)
            failure = {target.target(), "the program's copy " + source + " cannot be read: " + std::strerror(errno)};
        else if (holdsAlready(target.target(), content))
            continue;
        else if (!target.write(content) || !target.replaceTarget())
            failure = {target.target(), target.error()};
        else
            continue;
        allCopied = false;
        if (failures)
            failures->push_back(std::move(failure));
    }
    return allCopied;
}
