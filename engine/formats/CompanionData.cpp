// The companion data of the search page: indexed_pages.js (real titles, summaries, the way
// to the pages) and the page texts in groups in indexed_text/, unchanged groups kept.

#include "CompanionData.h"

#include "FileSystem.h"
#include "FolderWalker.h"
#include "IndexText.h"
#include "PageAnalysis.h"
#include "ScriptString.h"
#include "StagedFile.h"
#include "HtmlEntities.h"
#include "TextEncoding.h"

#include <cerrno>
#include <cctype>
#include <climits>
#include <cstring>
#include <algorithm>
#include <functional>
#include <memory>
#include <system_error>
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

const char* const kMarkFile = ".vantrelindexer";

// Whether the file name in folder is a regular file of ours that opens with the mark.
bool carriesMark(FileSystem& fileSystem, int folder, const std::string& name)
{
    struct stat info;
    std::string head;
    return fileSystem.statAt(folder, name, info, false) && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
        && readRegularFile(fileSystem, folder, name, std::strlen(kMark), head, false) && head == kMark;
}

// Why an open folder is not ours to write into: "" when it is owned by us and nobody
// else may write it.
std::string ownershipProblem(FileSystem& fileSystem, int folder)
{
    struct stat info;
    if (!fileSystem.statAt(folder, "", info, true) || !S_ISDIR(info.st_mode))
        return "it is no folder";
    if (info.st_uid != ::geteuid())
        return "it belongs to another user";
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return "other users may write into it";
    return {};
}

// Whether a folder of page texts left by an earlier version of the program (which wrote
// no mark file) holds only what it wrote: stamp folders of ours with marked page texts.
bool earlierVersionsFolder(FileSystem& fileSystem, int folder)
{
    std::vector<FolderEntry> stamps, files;
    if (!fileSystem.listFolder(folder, stamps))
        return false;
    for (const FolderEntry& stamp : stamps) {
        FileHandle inner(fileSystem, areUnpredictableDigits(stamp.name) ? fileSystem.openFolder(folder, stamp.name, false) : -1);
        if (!inner || !ownershipProblem(fileSystem, inner.fd()).empty() || !fileSystem.listFolder(inner.fd(), files))
            return false;
        for (const FolderEntry& file : files)
            if (!isPageTextName(file.name.c_str()) || !carriesMark(fileSystem, inner.fd(), file.name))
                return false;
    }
    return true;
}

// Why the open folder of page texts may not be used: "" when it is the program's own.
std::string textFolderProblemOf(FileSystem& fileSystem, int folder)
{
    std::string problem = ownershipProblem(fileSystem, folder);
    if (problem.empty() && !carriesMark(fileSystem, folder, kMarkFile) && !earlierVersionsFolder(fileSystem, folder))
        problem = "VantrelIndexer did not make it";
    return problem;
}

// Reads the piece of ours that text names after field ("\"words\":\"") and adds the
// pieces it names to names; returns its text, or "" when there is none.
std::string namesOfPieceNamedIn(FileSystem& fileSystem, int folder, const std::string& text, const std::string& field,
                                std::set<std::string>& names)
{
    std::string pieceText;
    if (const std::size_t at = text.rfind(field); at != std::string::npos) {
        const std::string name = text.substr(at + field.size(), PieceStore::kNameDigits + 3);
        if (PieceStore::isPieceName(name) && carriesMark(fileSystem, folder, name)
            && readRegularFile(fileSystem, folder, name, std::size_t(1) << 28, pieceText, false))
            PieceStore::namesIn(pieceText, names);
    }
    return pieceText;
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

std::size_t scriptTextCut(std::string_view escaped, std::size_t limit, std::uint32_t& units)
{
    std::size_t at = 0;
    units = 0;
    while (at < escaped.size()) {
        const auto lead = static_cast<unsigned char>(escaped[at]);
        std::size_t length = 1;
        if (lead == '\\')
            length = at + 1 < escaped.size() && escaped[at + 1] == 'u' ? 6 : 2;
        else if (lead >= 0xC0)
            length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (at + length > limit || at + length > escaped.size())
            break;
        units += lead >= 0xF0 ? 2 : 1;
        at += length;
    }
    return at;
}

CompanionData::CompanionData(std::string destinationFolder, FileSystem& fileSystem)
    : m_fileSystem(fileSystem), m_destination(std::move(destinationFolder))
{
}

CompanionData::~CompanionData()
{
    closeFiles();
    m_texts.reset();
}

void CompanionData::closeFiles()
{
    if (m_remover.joinable())
        m_remover.join();
    if (!m_finished)
        discard();
    m_finished = true;
    m_store.reset();  // its flushing threads joined
    for (int* fd : {&m_textFolder, &m_destinationFolder})
        if (*fd >= 0) {
            m_fileSystem.close(*fd);
            *fd = -1;
        }
}

void CompanionData::fail(const std::string& path, int error)
{
    if (m_error.empty()) {
        m_failedPath = path;
        m_error = std::strerror(error);
    }
}

void CompanionData::storeFailed()
{
    if (m_error.empty() && m_store) {
        m_failedPath = m_store->failedPath();
        m_error = m_store->error();
    }
}

std::string CompanionData::textFolderProblem(const std::string& destinationFolder, FileSystem& fileSystem)
{
    FileHandle destination(fileSystem, fileSystem.openFolder(AT_FDCWD, destinationFolder, true));
    struct stat info;
    if (!destination || !fileSystem.statAt(destination.fd(), kTextFolder, info, false))
        return {};  // made anew, or the job says why it cannot be
    FileHandle folder(fileSystem, fileSystem.openFolder(destination.fd(), kTextFolder, false));
    return folder ? textFolderProblemOf(fileSystem, folder.fd()) : "it is no folder";
}

bool CompanionData::begin()
{
    const std::string folder = m_destination + "/" + kTextFolder;
    m_destinationFolder = m_fileSystem.openFolder(AT_FDCWD, m_destination, true);
    if (m_destinationFolder < 0) {
        fail(m_destination, errno);
        return false;
    }
    const bool made = m_fileSystem.makeFolder(m_destinationFolder, kTextFolder, 0755);
    if (!made && errno != EEXIST) {
        fail(folder, errno);
        return false;
    }
    // Never through a link: the folder must be a real one, and ours.
    m_textFolder = m_fileSystem.openFolder(m_destinationFolder, kTextFolder, false);
    if (m_textFolder < 0) {
        fail(folder, errno);
        return false;
    }
    const std::string problem = made ? ownershipProblem(m_fileSystem, m_textFolder) : textFolderProblemOf(m_fileSystem, m_textFolder);
    if (!problem.empty()) {
        m_failedPath = folder;
        m_error = "not used: " + problem;
        return false;
    }
    if (!carriesMark(m_fileSystem, m_textFolder, kMarkFile)) {
        const int fd = m_fileSystem.createNew(m_textFolder, kMarkFile, 0644);
        if (fd < 0 || !m_fileSystem.writeAll(fd, kMark) || !m_fileSystem.syncAndClose(fd)) {
            fail(folder + "/" + kMarkFile, errno);
            return false;
        }
    }
    // The pieces the index in place names stay until the job after this one, so that a
    // search page opened on it keeps working.
    std::string previous;
    if (carriesMark(m_fileSystem, m_destinationFolder, "indexed_pages.js")
        && readRegularFile(m_fileSystem, m_destinationFolder, "indexed_pages.js", std::size_t(1) << 30, previous, false))
        PieceStore::namesIn(previous, m_previousPieces);
    // and the pieces its word index's head names, and the groups of texts that the head's
    // piece of groups names.
    const std::string headText = namesOfPieceNamedIn(m_fileSystem, m_textFolder, previous, "\"words\":\"", m_previousPieces);
    namesOfPieceNamedIn(m_fileSystem, m_textFolder, headText, "\"groups\":\"", m_previousPieces);
    // and the list pieces its top names.
    namesOfPieceNamedIn(m_fileSystem, m_textFolder, previous, "\"top\":\"", m_previousPieces);
    const std::string stampedFolder = std::string("\"text\":\"") + kTextFolder + "/";
    if (const std::size_t at = previous.find(stampedFolder); at != std::string::npos)
        m_previousStamps.insert(previous.substr(at + stampedFolder.size(), kUnpredictableDigits));
    StagedFile::removeStaleFilesIn(m_textFolder, m_fileSystem);
    m_store = std::make_unique<PieceStore>(m_textFolder, folder, m_fileSystem);
    m_texts = std::make_unique<TextGroups>(*m_store);
    return true;
}

std::string CompanionData::textEntry(const PageContent& content, std::size_t pageBytes, bool& cut)
{
    return TextGroups::entryOf(content, pageBytes, cut);
}

void CompanionData::addText(std::int32_t document, std::string entry, bool cut, const TextGroups::EntryFacts* known)
{
    if (cut)
        ++m_textsCut;
    if (m_texts && m_error.empty() && !m_texts->add(document, std::move(entry), known))
        storeFailed();
}

void CompanionData::addText(std::int32_t document, const TextGroups::EntryFacts& facts, bool cut,
                            TextGroups::Loader load)
{
    if (cut)
        ++m_textsCut;
    if (m_texts && m_error.empty() && !m_texts->add(document, facts, std::move(load)))
        storeFailed();
}

void CompanionData::reuseTexts(const std::vector<TextGroups::Written>& earlier)
{
    if (m_texts)
        m_texts->reuseFrom(earlier);
}

const std::vector<TextGroups::Written>& CompanionData::writtenTexts() const
{
    static const std::vector<TextGroups::Written> none;
    return m_texts ? m_texts->written() : none;
}

void CompanionData::finishTexts()
{
    if (m_texts && m_error.empty() && !m_texts->finish())
        storeFailed();
}

TextGroups::Location CompanionData::textLocation(std::int32_t document) const
{
    return m_texts ? m_texts->locate(document) : TextGroups::Location();
}

bool CompanionData::readText(const TextGroups::Location& where, const TextGroups::EntryFacts& facts,
                             std::string& entry) const
{
    return m_store && TextGroups::readEntry(*m_store, where, facts, entry);
}

void CompanionData::shareText(std::int32_t document, std::int32_t first)
{
    if (m_texts)
        m_texts->share(document, first);
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

void CompanionData::recordRepeat(std::int32_t document, std::int32_t first)
{
    const bool known = static_cast<std::size_t>(first) < m_titles.size();
    recordPage(document, known ? m_titles[first] : std::string(), known ? m_summaries[first] : std::string(),
               known ? m_linkShares[first] : 0);
}

namespace {
// Appends the bytes of a string of indexed_docs.js (escaped as that file has it) as the
// page reads them there, in windows-1252: each byte from 0x80 becomes its character.
void appendAsRead(std::string& out, std::string_view escaped)
{
    out += '"';
    for (char c : escaped) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else
            appendUtf8(out, windows1252CodePoint(byte));
    }
    out += '"';
}

// The first units UTF-16 code units of utf8, cut before a character that would pass them.
std::string_view firstUnits(std::string_view utf8, std::size_t units)
{
    std::size_t at = 0, counted = 0;
    while (at < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
        counted += length == 4 ? 2 : 1;
        if (counted > units)
            break;
        at += length;
    }
    return utf8.substr(0, std::min(at, utf8.size()));
}

bool hasScheme(std::string_view location)
{
    std::size_t at = 0;
    if (location.empty() || !std::isalpha(static_cast<unsigned char>(location[0])))
        return false;
    while (++at < location.size()) {
        const auto c = static_cast<unsigned char>(location[at]);
        if (!std::isalnum(c) && c != '+' && c != '.' && c != '-')
            break;
    }
    return location.substr(at, 3) == "://";
}

// The length of the prefix that the locations with a URL scheme share, up to its last
// "/" (at least the scheme and "://"), or -1 when no location has a scheme.
std::int64_t sharedUrlPrefix(const std::vector<DocumentEntry>& documents)
{
    const std::string* first = nullptr;
    std::size_t shared = 0;
    for (const DocumentEntry& entry : documents) {
        if (!hasScheme(entry.location))
            continue;
        if (!first) {
            first = &entry.location;
            shared = first->size();
            continue;
        }
        std::size_t n = 0;
        while (n < shared && n < entry.location.size() && (*first)[n] == entry.location[n])
            ++n;
        shared = n;
    }
    if (!first)
        return -1;
    const std::string_view prefix = std::string_view(*first).substr(0, shared);
    const std::size_t scheme = prefix.find("://");
    if (scheme == std::string_view::npos)
        return -1;
    const std::size_t slash = prefix.rfind('/');
    return static_cast<std::int64_t>(std::max(scheme + 3, slash + 1));
}
}  // namespace

// Puts the rows of count documents in pieces of group each, "OPEN row,\nrow...]);", and
// appends the quoted names of the pieces to names, separated by commas. A piece whose
// rows have the inputs of one the last job made (addInputs: all a row is written from)
// is taken as it stands. False when the store failed.
bool CompanionData::putRows(std::size_t count, std::size_t group, const char* open, std::string& names,
                            const std::function<void(std::string&, std::size_t)>& writeRow,
                            const std::function<void(PieceInputs&, std::size_t)>& addInputs)
{
    for (std::size_t first = 0; first < count; first += group) {
        PieceInputs inputs;
        inputs.text(open);
        for (std::size_t d = first; d < count && d < first + group; ++d)
            addInputs(inputs, d);
        std::string name = m_store->takeMade(inputs.value());
        if (name.empty()) {
            std::string piece = kMark;
            piece += open;
            for (std::size_t d = first; d < count && d < first + group; ++d) {
                piece += d > first ? ",\n[" : "[";
                writeRow(piece, d);
                piece += ']';
            }
            piece += "]);\n";
            name = m_store->putMade(inputs.value(), piece);
        }
        if (name.empty()) {
            storeFailed();
            return false;
        }
        names += first ? ",\"" : "\"";
        names += name + '"';
    }
    return true;
}

std::string CompanionData::putDocuments(const std::vector<DocumentEntry>& documents)
{
    if (!m_texts || !m_error.empty() || !m_texts->finish()) {
        storeFailed();
        return {};
    }
    const std::vector<std::string>& groups = m_texts->groups();
    const auto& places = m_texts->places();
    // The groups of texts, named in one piece the page never loads, so that the next
    // job keeps them for a page opened on this index.
    std::string groupList = kMark;
    groupList += "vantrelGroups([";
    for (std::size_t g = 0; g < groups.size(); ++g)
        groupList += (g ? ",\"" : "\"") + groups[g] + '"';
    groupList += "]);\n";
    const std::string groupsName = m_store->put(groupList);
    if (groupsName.empty()) {
        storeFailed();
        return {};
    }
    std::string field = "\"groups\":\"" + groupsName + "\",\"docGroup\":";
    IndexText::appendNumber(field, static_cast<std::int64_t>(kDocumentGroup));
    const std::size_t docsAt = field.size();
    field += ",\"docs\":[";
    const bool docsPut = putRows(documents.size(), kDocumentGroup, "vantrelDocs([", field, [&](std::string& piece, std::size_t d) {
        const DocumentEntry& entry = documents[d];
        appendAsRead(piece, entry.title);
        piece += ',';
        appendAsRead(piece, IndexText::escapeString(entry.location, IndexText::LineBreaks::AsEscapes));
        piece += ',';
        appendAsRead(piece, entry.date);
        piece += ',';
        appendScriptString(piece, d < m_titles.size() ? m_titles[d] : std::string());
        piece += ',';
        appendScriptString(piece, d < m_summaries.size() ? m_summaries[d] : std::string());
        const auto place = d < places.size() ? places[d] : std::pair<std::int32_t, std::int32_t>(-1, -1);
        const bool placed = place.first >= 0 && static_cast<std::size_t>(place.first) < groups.size();
        piece += placed ? ",\"" + groups[place.first] + "\"," : ",\"\",";
        IndexText::appendNumber(piece, placed ? place.second : -1);
    }, [&](PieceInputs& inputs, std::size_t d) {
        addPageInputs(inputs, documents, d);
        const auto place = d < places.size() ? places[d] : std::pair<std::int32_t, std::int32_t>(-1, -1);
        const bool placed = place.first >= 0 && static_cast<std::size_t>(place.first) < groups.size();
        inputs.text(placed ? groups[place.first] : std::string());
        inputs.number(placed ? place.second : -1);
    });
    if (!docsPut)
        return {};
    if (!putDocumentLists(field, docsAt, documents.size()))
        return {};
    field += ']';
    const std::size_t ranksAt = field.size();
    field += ",\"rankGroup\":";
    IndexText::appendNumber(field, static_cast<std::int64_t>(kRankGroup));
    field += ",\"ranks\":[";
    const std::size_t namesFrom = field.size();
    const bool ranksPut = putRows(documents.size(), kRankGroup, "vantrelRanks([", field, [&](std::string& piece, std::size_t d) {
        const DocumentEntry& entry = documents[d];
        if (entry.title == kNoTitle)
            piece += "null";
        else
            appendScriptString(piece, d < m_titles.size() ? m_titles[d] : std::string());
        piece += ',';
        const std::string shown = toUtf8(entry.location);
        appendScriptString(piece, std::string_view(shown).substr(shown.rfind('/') + 1));
        piece += ',';
        appendAsRead(piece, entry.date);
        piece += ',';
        appendScriptString(piece, firstUnits(d < m_summaries.size() ? m_summaries[d] : std::string(), kMaxRankedSummary));
    }, [&](PieceInputs& inputs, std::size_t d) { addPageInputs(inputs, documents, d); });
    if (!ranksPut)
        return {};
    m_rankPieces = field.substr(namesFrom);
    field += ']';
    if (const std::int64_t prefix = sharedUrlPrefix(documents); prefix >= 0) {
        field += ",\"urlPrefix\":";
        IndexText::appendNumber(field, prefix);
    }
    if (!m_topDocumentsField.empty())
        m_topDocumentsField += field.substr(ranksAt);
    return field;
}

bool CompanionData::putDocumentLists(const std::string& field, std::size_t docsAt, std::size_t count)
{
    m_topDocumentsField.clear();
    if (count <= m_topFrom)
        return true;
    // field from docsAt is ,"docs":["NAME.js",...: each quoted name is one entry.
    const std::size_t namesAt = field.find('[', docsAt) + 1;
    std::vector<std::string> names;
    for (std::size_t at = namesAt; at + 1 < field.size(); at = field.find(',', at) + 1) {
        names.push_back(field.substr(at, PieceStore::kNameDigits + 5));
        if (field.find(',', at) == std::string::npos)
            break;
    }
    const std::string lists = m_store->putLists(names, kDocumentListGroup);
    if (lists.empty()) {
        storeFailed();
        return false;
    }
    m_topDocumentsField = field.substr(0, docsAt) + ",\"docListGroup\":";
    IndexText::appendNumber(m_topDocumentsField, static_cast<std::int64_t>(kDocumentListGroup));
    m_topDocumentsField += ",\"docLists\":[" + lists + ']';
    return true;
}

void CompanionData::addPageInputs(PieceInputs& inputs, const std::vector<DocumentEntry>& documents, std::size_t d) const
{
    const DocumentEntry& entry = documents[d];
    inputs.text(entry.title);
    inputs.text(entry.location);
    inputs.text(entry.date);
    inputs.text(d < m_titles.size() ? m_titles[d] : std::string());
    inputs.text(d < m_summaries.size() ? m_summaries[d] : std::string());
}

namespace {
// The location's last part as the ranking pieces show it (toUtf8() of the whole, cut
// after its last "/"): a view of location itself when it is UTF-8, else of converted.
std::string_view shownFileName(const std::string& location, std::string& converted)
{
    std::string_view shown = location;
    if (!isValidUtf8(shown)) {
        converted = toUtf8(location);
        shown = converted;
    }
    return shown.substr(shown.rfind('/') + 1);
}
}  // namespace

std::uint64_t CompanionData::placeInputs(const std::vector<DocumentEntry>& documents)
{
    static const std::string none;
    PieceInputs checksum;
    std::string converted;
    for (std::size_t d = 0; d < documents.size(); ++d) {
        const bool titled = documents[d].title != kNoTitle;
        checksum.number(titled);
        checksum.text(titled && d < m_titles.size() ? m_titles[d] : none);
        checksum.text(shownFileName(documents[d].location, converted));
        checksum.text(firstUnits(d < m_summaries.size() ? m_summaries[d] : none, kMaxRankedSummary));
    }
    m_placesInShards = true;
    return checksum.value();
}

std::vector<PlaceWords::Page> CompanionData::placePages(const std::vector<DocumentEntry>& documents) const
{
    static const std::string none;
    std::vector<PlaceWords::Page> pages(documents.size());
    std::string converted;
    for (std::size_t d = 0; d < documents.size(); ++d) {
        PlaceWords::Page& page = pages[d];
        if (documents[d].title != kNoTitle)
            page.title = d < m_titles.size() ? m_titles[d] : std::string();
        page.fileName = shownFileName(documents[d].location, converted);
        page.summary = firstUnits(d < m_summaries.size() ? m_summaries[d] : none, kMaxRankedSummary);
    }
    return pages;
}

bool CompanionData::finish(const std::vector<DocumentEntry>& documents, const std::string& base,
                           const std::string* termsText, const std::string& wordsHead, const std::string& wordsTop,
                           const std::string& wordsTopLists)
{
    if (!m_texts || !m_error.empty() || wordsHead.empty()) {
        storeFailed();
        discard();
        return false;
    }
    // The titles, summaries and text places are in the store's document pieces, which
    // the head names.
    std::string text = kMark;
    text += "var pages={\"format\":";
    IndexText::appendNumber(text, kFormat);
    text += ",\"count\":";
    IndexText::appendNumber(text, static_cast<std::int64_t>(documents.size()));
    text += ",\"check\":\"" + documentsCheck(documents) + "\",\"base\":";
    appendScriptString(text, base);
    // The ranking pieces too, so that the page asks for them beside the head; it takes
    // them only when the head names the same ones.
    text += ",\"words\":\"" + wordsHead + '"';
    // A large site's top, which this version's page reads instead of the head (an
    // earlier page, which knows no "top", reads the head as before).
    if (!wordsTop.empty())
        text += ",\"top\":\"" + wordsTop + '"';
    // And the top's lists of shards (a few KB), so that the page asks for the list that
    // holds a query's key beside the top rather than a round after it.
    if (!wordsTop.empty() && !wordsTopLists.empty())
        text += ",\"lists\":[" + wordsTopLists + ']';
    if (!m_placesInShards)
        text += ",\"ranks\":[" + m_rankPieces + ']';
    text += "};\n";
    // Both are written out before either replaces its old one, and the old word index
    // comes back when the new pages file cannot be put in place.
    StagedFile terms(m_destination + "/indexed_terms.js", m_fileSystem);
    StagedFile pages(m_destination + "/indexed_pages.js", m_fileSystem);
    auto failed = [this](const StagedFile& file) {
        m_failedPath = file.target();
        m_error = file.error();
        discard();
        return false;
    };
    if (termsText && !terms.write(*termsText))
        return failed(terms);
    if (!pages.write(text))
        return failed(pages);
    // The job handed the pieces' folder to the store's flushing threads once every piece
    // was put: the flush waits for what is left of it and of the pieces.
    if (!m_store->flush()) {
        storeFailed();
        discard();
        return false;
    }
    if (termsText && !terms.replaceTarget(true))
        return failed(terms);
    if (!pages.replaceTarget()) {
        if (termsText)
            terms.restoreOld();
        return failed(pages);
    }
    // The new pages file names the head of the pieces, so the page no longer reads a
    // whole word index that an earlier job left: it goes, when it is one of ours.
    if (!termsText && carriesMark(m_fileSystem, m_destinationFolder, "indexed_terms.js"))
        m_fileSystem.remove(m_destinationFolder, "indexed_terms.js");
    m_finished = true;
    auto keep = std::make_shared<std::set<std::string>>(m_previousPieces);
    keep->insert(m_store->named().begin(), m_store->named().end());
    if (m_workBeside) {
        // Each removal may wait for the disk to discard the file's blocks: the job saves
        // its cache meanwhile. A piece left by a failure here goes with the next job.
        try {
            m_remover = std::thread([this, keep] {
                try {
                    removeUnnamed(*keep);
                } catch (const std::exception&) {
                }
            });
            return true;
        } catch (const std::system_error&) {
        }
    }
    removeUnnamed(*keep);
    return true;
}

void CompanionData::removeUnnamed(const std::set<std::string>& keep)
{
    m_store->removeAllBut(keep, m_workBeside ? kRemovalsAtOnce : 1);
    removeEarlierVersionsFolders();
}

void CompanionData::workBeside()
{
    m_workBeside = true;
    if (m_store)
        m_store->flushBeside();
}

void CompanionData::keepInPlace()
{
    if (!m_store)
        return;
    m_finished = true;
    removeUnnamed(m_previousPieces);
}

void CompanionData::discard()
{
    if (!m_store)
        return;
    for (const std::string& name : m_store->written())
        if (!m_previousPieces.count(name))
            m_fileSystem.remove(m_textFolder, name);
}

void CompanionData::removeEarlierVersionsFolders()
{
    // Earlier versions wrote one file per page text into folders named by a random stamp:
    // only their page texts go, and a folder only when that empties it. The folder of
    // the index just replaced stays until the next job, for the pages opened on it.
    std::vector<FolderEntry> entries;
    m_fileSystem.listFolder(m_textFolder, entries);
    for (const FolderEntry& entry : entries) {
        if (!areUnpredictableDigits(entry.name) || m_previousStamps.count(entry.name))
            continue;
        FileHandle folder(m_fileSystem, m_fileSystem.openFolder(m_textFolder, entry.name, false));
        std::vector<FolderEntry> files;
        if (!folder || !ownershipProblem(m_fileSystem, folder.fd()).empty() || !m_fileSystem.listFolder(folder.fd(), files))
            continue;
        for (const FolderEntry& file : files)
            if (isPageTextName(file.name.c_str()) && carriesMark(m_fileSystem, folder.fd(), file.name))
                m_fileSystem.remove(folder.fd(), file.name);
        m_fileSystem.remove(m_textFolder, entry.name, true);  // stays when anything else is left in it
    }
}
