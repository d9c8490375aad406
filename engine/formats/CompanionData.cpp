// The companion data of the search page: indexed_pages.js (real titles, summaries, the way
// to the pages) and the page texts under indexed_text/, with texts kept across jobs.

#include "CompanionData.h"

#include "FolderWalker.h"
#include "IndexText.h"
#include "ScriptString.h"
#include "StagedFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const kMark = "/* generator: VantrelIndexer */\n";
const char* const kTextFolder = "indexed_text";

// Names of page text files: digits and ".js".
bool isPageTextName(const char* name)
{
    std::size_t length = std::strlen(name);
    if (length < 4 || std::strcmp(name + length - 3, ".js") != 0)
        return false;
    for (std::size_t i = 0; i + 3 < length; ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

// True when the file name in folder holds exactly text: a regular file of ours, read
// whole and compared.
bool holdsText(int folder, const char* name, const std::string& text)
{
    int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
                && static_cast<std::size_t>(info.st_size) == text.size();
    std::string data;
    if (same) {
        data.resize(text.size());
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::pread(fd, &data[done], data.size() - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        same = done == data.size() && data == text;
    }
    ::close(fd);
    return same;
}
}  // namespace

std::string documentsCheck(const std::vector<DocumentEntry>& documents)
{
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](unsigned char c) {
        hash ^= c;
        hash *= 16777619u;
    };
    for (const DocumentEntry& entry : documents) {
        for (char c : entry.location)
            if (static_cast<unsigned char>(c) < 0x80)
                mix(static_cast<unsigned char>(c));
        mix('\n');
        for (char c : entry.date)
            mix(static_cast<unsigned char>(c));
        mix('\n');
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08x", hash);
    return text;
}

std::string pagesBase(const std::string& destinationFolder, const std::string& sourceFolder)
{
    const std::string from = realPath(destinationFolder), to = realPath(sourceFolder);
    return from.empty() || to.empty() ? std::string() : relativeFolderUrl(from, to);
}

std::string relativeFolderUrl(const std::string& from, const std::string& to)
{
    auto parts = [](const std::string& path) {
        std::vector<std::string> list;
        std::size_t at = 0;
        while (at < path.size()) {
            std::size_t slash = path.find('/', at);
            if (slash == std::string::npos)
                slash = path.size();
            if (slash > at)
                list.push_back(path.substr(at, slash - at));
            at = slash + 1;
        }
        return list;
    };
    const std::vector<std::string> a = parts(from), b = parts(to);
    std::size_t common = 0;
    while (common < a.size() && common < b.size() && a[common] == b[common])
        ++common;
    std::string url;
    for (std::size_t i = common; i < a.size(); ++i)
        url += "../";
    static const char hex[] = "0123456789ABCDEF";
    for (std::size_t i = common; i < b.size(); ++i) {
        for (char c : b[i]) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
                || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
                url += c;
            } else {
                url += '%';
                url += hex[byte >> 4];
                url += hex[byte & 15];
            }
        }
        url += '/';
    }
    return url;
}

CompanionData::CompanionData(std::string destinationFolder) : m_destination(std::move(destinationFolder)) {}

CompanionData::~CompanionData()
{
    if (!m_finished)
        discard();
    if (m_stampFolder >= 0)
        ::close(m_stampFolder);
    if (m_previousFolder >= 0)
        ::close(m_previousFolder);
    if (m_textFolder >= 0)
        ::close(m_textFolder);
}

void CompanionData::fail(const std::string& path, int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_error.empty()) {
        m_failedPath = path;
        m_error = std::strerror(error);
    }
}

bool CompanionData::begin()
{
    const std::string folder = m_destination + "/" + kTextFolder;
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(folder, errno);
        return false;
    }
    // Never through a link: the folder must be a real one.
    m_textFolder = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_textFolder < 0) {
        fail(folder, errno);
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_stamp = unpredictableDigits();
        if (::mkdirat(m_textFolder, m_stamp.c_str(), 0755) == 0)
            break;
        if (errno != EEXIST) {
            fail(folder + "/" + m_stamp, errno);
            return false;
        }
    }
    m_stampFolder = ::openat(m_textFolder, m_stamp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_stampFolder < 0) {
        fail(folder + "/" + m_stamp, errno);
        return false;
    }
    m_previousFolder = openPreviousFolder();
    return true;
}

int CompanionData::openPreviousFolder() const
{
    // The newest folder of an earlier job, when it is ours and nobody else may change it:
    // its files are only ever linked into the new folder after their bytes are compared.
    DIR* dir = ::fdopendir(::dup(m_textFolder));
    if (!dir)
        return -1;
    ::rewinddir(dir);  // a duplicate shares its position with m_textFolder
    std::string newest;
    struct timespec newestTime = {};
    while (const dirent* entry = ::readdir(dir)) {
        struct stat info;
        if (!areUnpredictableDigits(entry->d_name) || m_stamp == entry->d_name
            || ::fstatat(m_textFolder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(info.st_mode)
            || info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
            continue;
        if (newest.empty() || info.st_mtim.tv_sec > newestTime.tv_sec
            || (info.st_mtim.tv_sec == newestTime.tv_sec && info.st_mtim.tv_nsec > newestTime.tv_nsec)) {
            newest = entry->d_name;
            newestTime = info.st_mtim;
        }
    }
    ::closedir(dir);
    return newest.empty() ? -1 : ::openat(m_textFolder, newest.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

void CompanionData::writePageText(std::int32_t document, const PageContent& content)
{
    if (m_stampFolder < 0)
        return;
    std::string text = kMark;
    text += "vantrelText(";
    IndexText::appendNumber(text, document);
    text += ",{\"text\":\"";
    text += content.scriptText;
    text += '"';
    text += ",\"sections\":[";
    for (std::size_t i = 0; i < content.sections.size(); ++i) {
        const PageSection& section = content.sections[i];
        text += i ? ",[" : "[";
        IndexText::appendNumber(text, section.start);
        text += ',';
        appendScriptString(text, section.anchor);
        text += ',';
        appendScriptString(text, section.heading);
        text += ']';
    }
    text += "]});\n";
    const std::string name = std::to_string(document) + ".js";
    // A page whose text has not changed since the last job keeps its file: a new name for
    // it costs far less than a new file, on file systems slow to make and remove files.
    if (m_previousFolder >= 0 && holdsText(m_previousFolder, name.c_str(), text)
        && ::linkat(m_previousFolder, name.c_str(), m_stampFolder, name.c_str(), 0) == 0)
        return;
    int fd = ::openat(m_stampFolder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail(m_destination + "/" + kTextFolder + "/" + m_stamp + "/" + name, errno);
        return;
    }
    bool written = StagingFileSystem::real().writeAll(fd, text);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written)
        fail(m_destination + "/" + kTextFolder + "/" + m_stamp + "/" + name, error);
}

void CompanionData::recordPage(std::int32_t document, std::string title, std::string summary, int linkShare)
{
    if (static_cast<std::size_t>(document) >= m_titles.size()) {
        m_titles.resize(document + 1);
        m_summaries.resize(document + 1);
        m_linkShares.resize(document + 1);
    }
    m_titles[document] = std::move(title);
    m_summaries[document] = std::move(summary);
    m_linkShares[document] = linkShare;
}

bool CompanionData::finish(const std::vector<DocumentEntry>& documents, const std::string& base,
                           const std::string& termsText)
{
    if (m_stampFolder < 0 || !m_error.empty()) {
        discard();
        return false;
    }
    // The page texts are not flushed one by one: should the machine stop before they
    // reach the disk, the search page shows summaries where texts are missing, and the
    // next job writes them anew.
    m_titles.resize(documents.size());
    m_summaries.resize(documents.size());
    std::string text = kMark;
    text += "var pages={\"format\":";
    IndexText::appendNumber(text, kFormat);
    text += ",\"count\":";
    IndexText::appendNumber(text, static_cast<std::int64_t>(documents.size()));
    text += ",\"check\":\"" + documentsCheck(documents) + "\",\"base\":";
    appendScriptString(text, base);
    text += ",\"text\":";
    appendScriptString(text, std::string(kTextFolder) + "/" + m_stamp + "/");
    for (const auto* list : {&m_titles, &m_summaries}) {
        text += list == &m_titles ? ",\n\"titles\":[" : "],\n\"summaries\":[";
        for (std::size_t i = 0; i < list->size(); ++i) {
            if (i)
                text += ",\n";
            appendScriptString(text, (*list)[i]);
        }
    }
    text += "]};\n";
    // Both are written out before either replaces its old one, and the old word index
    // comes back when the new pages file cannot be put in place.
    StagedFile terms(m_destination + "/indexed_terms.js");
    StagedFile pages(m_destination + "/indexed_pages.js");
    auto failed = [this](const StagedFile& file) {
        m_failedPath = file.target();
        m_error = file.error();
        discard();
        return false;
    };
    if (!terms.write(termsText))
        return failed(terms);
    if (!pages.write(text))
        return failed(pages);
    if (!terms.replaceTarget(true))
        return failed(terms);
    if (!pages.replaceTarget()) {
        terms.restoreOld();
        return failed(pages);
    }
    m_finished = true;
    // Earlier jobs' page texts: folders named by a stamp, holding page text files only.
    if (DIR* dir = ::fdopendir(::dup(m_textFolder))) {
        ::rewinddir(dir);
        std::vector<std::string> old;
        while (const dirent* entry = ::readdir(dir))
            if (areUnpredictableDigits(entry->d_name) && m_stamp != entry->d_name)
                old.push_back(entry->d_name);
        ::closedir(dir);
        for (const std::string& name : old)
            removeTextFolder(m_textFolder, name);
    }
    return true;
}

void CompanionData::discard()
{
    if (m_stampFolder < 0)
        return;
    ::close(m_stampFolder);
    m_stampFolder = -1;
    removeTextFolder(m_textFolder, m_stamp);
}

void CompanionData::removeTextFolder(int parent, const std::string& name)
{
    int folder = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    if (DIR* dir = ::fdopendir(folder)) {
        std::vector<std::string> files;
        while (const dirent* entry = ::readdir(dir))
            if (isPageTextName(entry->d_name))
                files.push_back(entry->d_name);
        for (const std::string& file : files) {
            struct stat info;
            if (::fstatat(::dirfd(dir), file.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
                ::unlinkat(::dirfd(dir), file.c_str(), 0);
        }
        ::closedir(dir);
    } else {
        ::close(folder);
    }
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);  // stays when anything else is left in it
}
