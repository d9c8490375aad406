// What a front end calls: the checks of its settings, the refusal of foreign files, and a
// whole job with its search page and summary counts.

#include "IndexJob.h"

#include "CompanionData.h"
#include "ExcludeRules.h"
#include "FileSystem.h"
#include "IndexEngine.h"
#include "PageCache.h"
#include "SearchPageFiles.h"
#include "Utf8Sequence.h"

#include <cerrno>
#include <cstdio>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Whether a destination that does not exist yet could be made: its nearest existing
// ancestor is a folder we may enter and write.
bool canCreateFolder(const std::string& folder)
{
    std::string path = folder;
    for (;;) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        std::size_t slash = path.rfind('/');
        std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        struct stat info;
        if (::stat(parent.c_str(), &info) == 0)
            return S_ISDIR(info.st_mode) && ::access(parent.c_str(), W_OK | X_OK) == 0;
        if (errno != ENOENT || parent == path)
            return false;
        path = parent;
    }
}

// Forwards every event of the engine and counts what the summary needs.
class JobLog : public ProgressLog {
public:
    explicit JobLog(ProgressLog& log) : m_log(log) {}

    void append(const std::string& text) override { m_log.append(text); }

    void report(const ProgressEvent& event) override
    {
        if ((event.kind == ProgressKind::WordsFileFailed || event.kind == ProgressKind::DocsFileFailed)
            && failure.empty())
            failure = printableText(event.path) + ": " + std::string(event.reason);
        if (event.kind == ProgressKind::OutputFailed)
            outputFailures.push_back(printableText(event.path) + ": " + std::string(event.reason));
        m_log.report(event);
    }

    std::string failure;
    std::vector<std::string> outputFailures;

private:
    ProgressLog& m_log;
};
}  // namespace

std::string defaultCacheFolder(const std::string& destinationFolder)
{
    return PageCache::folderFor(destinationFolder);
}

std::string problemMessage(SettingsProblem problem)
{
    switch (problem) {
    case SettingsProblem::None: return {};
    case SettingsProblem::Destination: return "Please specify correct destination folder.";
    case SettingsProblem::Source: return "Please specify correct source folder.";
    case SettingsProblem::UrlPrefix: return "Supply URL prefix!";
    }
    return {};
}

bool canEnterFolder(const std::string& folder)
{
    struct stat info;
    return !folder.empty() && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)
        && ::access(folder.c_str(), X_OK) == 0;
}

SettingsProblem checkSettings(const JobSettings& settings, bool createDestination)
{
    const std::string& destination = settings.destinationFolder;
    struct stat info;
    const bool missing = !destination.empty() && ::stat(destination.c_str(), &info) != 0 && errno == ENOENT;
    if (missing ? !(createDestination && canCreateFolder(destination)) : !canEnterFolder(destination))
        return SettingsProblem::Destination;
    if (!canEnterFolder(settings.sourceFolder))
        return SettingsProblem::Source;
    if (settings.pathMode == PathMode::UrlPrefix && settings.urlPrefix.empty())
        return SettingsProblem::UrlPrefix;
    return SettingsProblem::None;
}

std::string excludeProblem(const JobSettings& settings)
{
    ExcludeRules rules;
    std::string problem;
    ExcludeRules::load(FileSystem::real(), settings.sourceFolder, settings.excludes, rules, problem);
    return problem;
}

std::string leftOutSummary(const LeftOutCounts& counts)
{
    auto counted = [](std::size_t count, const char* noun) {
        return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
    };
    auto pagesAndFolders = [&counted](std::size_t pages, std::size_t folders) {
        if (pages && folders)
            return counted(pages, "page") + " and " + counted(folders, "folder");
        return pages ? counted(pages, "page") : counted(folders, "folder");
    };
    std::vector<std::string> parts;
    if (counts.pagesByIgnoreFile || counts.foldersByIgnoreFile)
        parts.push_back(pagesAndFolders(counts.pagesByIgnoreFile, counts.foldersByIgnoreFile) + " by "
                        + ExcludeRules::kIgnoreFileName);
    if (counts.pagesByExclude || counts.foldersByExclude)
        parts.push_back(pagesAndFolders(counts.pagesByExclude, counts.foldersByExclude) + " by --exclude");
    if (counts.pagesNoindex)
        parts.push_back(counted(counts.pagesNoindex, "page") + " marked noindex");
    if (parts.empty())
        return {};
    std::string text = "Left out: ";
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text + ".";
}

bool createFolders(const std::string& folder)
{
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
    }
    return canEnterFolder(folder);
}

std::vector<std::string> foreignFiles(const JobSettings& settings)
{
    std::vector<std::string> found;
    std::vector<std::string> names = searchPageFileNames();
    if (settings.companionData) {  // --plain leaves them as they are
        names.push_back("indexed_pages.js");
        if (settings.wholeWordIndex)  // else an indexed_terms.js is removed only when it is ours
            names.push_back("indexed_terms.js");
    }
    for (const std::string& name : names) {
        const std::string path = settings.destinationFolder + "/" + name;
        struct stat info;
        if (::lstat(path.c_str(), &info) == 0 && !carriesProgramMark(path))
            found.push_back(path);
    }
    return found;
}

std::vector<std::string> foreignFolders(const JobSettings& settings)
{
    std::vector<std::string> found;
    if (!settings.companionData)
        return found;
    const std::string problem = CompanionData::textFolderProblem(settings.destinationFolder);
    if (!problem.empty())
        found.push_back(settings.destinationFolder + "/indexed_text: " + problem);
    return found;
}

JobOutcome runIndexJob(const JobSettings& settings, ProgressLog& log, const std::atomic<bool>& stop)
{
    JobOutcome outcome;
    JobLog jobLog(log);
    if ((!settings.overwrite && !foreignFiles(settings).empty()) || !foreignFolders(settings).empty()) {
        outcome.result = JobResult::Refused;
        return outcome;
    }
    if (std::string problem = excludeProblem(settings); !problem.empty()) {
        outcome.result = JobResult::Refused;
        outcome.failure = std::move(problem);
        return outcome;
    }
    if (stop.load()) {
        // Stopped before it began: nothing is indexed and nothing is written.
        jobLog.report(ProgressEvent{ProgressKind::Finished, {}, {}, false});
        outcome.result = JobResult::Stopped;
        return outcome;
    }

    IndexEngine& engine = IndexEngine::instance();
    engine.contentMode = settings.contentMode;
    engine.pathMode = settings.pathMode;
    engine.sourceFolder = settings.sourceFolder;
    engine.destinationFolder = settings.destinationFolder;
    engine.urlPrefix = settings.urlPrefix;
    engine.threadCount = settings.threadCount;
    engine.patternMatcher = settings.patternMatcher;
    engine.followOutside = settings.followOutside;
    engine.companionData = settings.companionData;
    engine.wholeWordIndex = settings.wholeWordIndex;
    engine.topFrom = settings.topFrom;
    engine.language = settings.language;
    engine.cacheFolder = settings.cacheFolder;
    engine.excludePatterns = settings.excludes;
    engine.leaveMemoryToExit = settings.leaveMemoryToExit;
    engine.runStopRequested = &stop;
    engine.progressLog = &jobLog;

    const bool complete = engine.buildIndex();

    // A stopped job leaves the destination as it was, search page included: the old
    // index keeps the page it was written with.
    std::vector<OutputFailure> failures;
    if (!stop.load() && !engine.stopRequested.load())
        copySearchPageFiles(programFolder(), engine.destinationFolder, &failures);
    for (const OutputFailure& failure : failures)
        jobLog.report(ProgressEvent{ProgressKind::OutputFailed, failure.path, failure.reason});
    outcome.outputFailures = jobLog.outputFailures;
    jobLog.report(ProgressEvent{ProgressKind::Finished, {}, {}, complete});

    outcome.pages = engine.documents.size();
    outcome.words = engine.wordsIndexed;
    outcome.pagesRead = engine.pagesRead;
    outcome.cacheProblem = engine.cacheProblem;
    outcome.pagesOutside = engine.pagesOutside;
    outcome.pagesOwnerMayNot = engine.pagesOwnerMayNot;
    outcome.textsCut = engine.textsCut;
    outcome.pagesWordsLeftOut = engine.pagesWordsLeftOut;
    outcome.leftOut = engine.leftOut;
    if (complete) {
        outcome.result = JobResult::Complete;
    } else if (!jobLog.failure.empty() || !engine.failure.empty()) {
        outcome.result = JobResult::NotWritten;
        outcome.failure = !jobLog.failure.empty() ? jobLog.failure : engine.failure;
    } else if (stop.load() || engine.stopRequested.load()) {
        outcome.result = JobResult::Stopped;
    } else {
        outcome.result = JobResult::NotWritten;
        outcome.failure = "no source or destination folder";
    }
    engine.progressLog = nullptr;
    engine.runStopRequested = nullptr;
    return outcome;
}

namespace {
// Characters that would drive a terminal or make a line look like another: C1 controls,
// line and paragraph separators, and the marks, embeddings, overrides and isolates that
// reorder the text after them.
bool controlsOrReorders(char32_t code)
{
    return (code >= 0x80 && code <= 0x9F) || code == 0x61C || code == 0x200E || code == 0x200F
        || (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}
}  // namespace

std::string printableText(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += text[at++];
            continue;
        }
        const auto [code, length] = byte < 0x80 ? std::pair<char32_t, std::size_t>{0, 0} : decodeUtf8(text, at);
        if (length == 0) {
            shown += "\\x";
            shown += hex[byte >> 4];
            shown += hex[byte & 15];
            ++at;
        } else if (controlsOrReorders(code)) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u{%04X}", static_cast<unsigned>(code));
            shown += escaped;
            at += length;
        } else {
            shown.append(text, at, length);
            at += length;
        }
    }
    return shown;
}
