// vantrelindexer-cli: builds a site's search index from the command line.

#include "IndexEngine.h"
#include "SearchPageFiles.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <map>
#include <pthread.h>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const char* const kDestinationMessage = "Please specify correct destination folder.";
const char* const kSourceMessage = "Please specify correct source folder.";
const char* const kPrefixMessage = "Supply URL prefix!";

enum class Output { Status, Verbose, Quiet };

// Whether text names a folder that exists and may be entered.
bool canEnterFolder(const std::string& folder)
{
    struct stat info;
    return !folder.empty() && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)
        && ::access(folder.c_str(), X_OK) == 0;
}

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

// Hands progress lines from the job to the log file, the terminal, and the status line
// that the main thread redraws.
class CommandLineLog : public ProgressLog {
public:
    CommandLineLog(Output output, std::FILE* logFile) : m_output(output), m_logFile(logFile) {}

    void append(const std::string& text) override
    {
        if (m_logFile) {
            std::fwrite(text.data(), 1, text.size(), m_logFile);
            std::fputc('\n', m_logFile);
        }
        if (m_output == Output::Verbose) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (text.compare(0, 8, "Parsing ") == 0) {
            m_currentPage = text.substr(8, text.size() - 11);
        } else if (text == "Done!") {
            ++m_pagesDone;
        } else if (text == "Creating index ...") {
            m_currentPage = "creating index";
        } else if (text == "Cann't read file!" || text.compare(0, 4, "Page") == 0) {
            // One per page: an unreadable page also gives "Cann't read file PATH!".
            ++m_problems;
        }
    }

    // One line: pages done, the page in hand, elapsed time, cut to width.
    std::string statusLine(double seconds, std::size_t width)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        char head[96];
        std::snprintf(head, sizeof head, "%6.1f s  %zu pages  ", seconds, m_pagesDone);
        std::string line = head + m_currentPage;
        if (width > 1 && line.size() >= width)
            line = line.substr(0, width - 4) + "...";
        return line;
    }

    std::size_t problems()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_problems;
    }

private:
    const Output m_output;
    std::FILE* const m_logFile;
    std::mutex m_mutex;
    std::size_t m_pagesDone = 0;
    std::size_t m_problems = 0;
    std::string m_currentPage;
};

std::size_t terminalWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

int usageError(const char* message)
{
    std::fprintf(stderr, "%s\n", message);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // Ctrl-C and SIGTERM are taken by the main thread alone, with sigtimedwait, while the
    // job runs on a worker. Blocked first thing, so that one that comes early is seen too.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigset_t waitSignals = stopSignals;
    sigaddset(&waitSignals, SIGUSR1);  // the job's "finished"
    pthread_sigmask(SIG_BLOCK, &waitSignals, nullptr);

    CLI::App app{"Builds a client-side search index for a static web site: two JavaScript data\n"
                 "files and a search page that runs in any browser, from disk or a server.",
                 "vantrelindexer-cli"};
    std::string source, destination, content = "all", path = "relative", prefix, logPath;
    bool verbose = false, quiet = false, patternLibrary = false;
    unsigned threads = 0;
    app.add_option("SOURCE", source, "Folder holding the site's HTML pages (*.htm*)")->required();
    app.add_option("DESTINATION", destination,
                   "Folder that receives the index and the search page (made if missing)")
        ->required();
    app.add_option("--content", content, "What to index: keywords, titles, headers or all")
        ->check(CLI::IsMember({"keywords", "titles", "headers", "all"}))
        ->capture_default_str();
    app.add_option("--path", path, "How pages are linked: relative, full or url")
        ->check(CLI::IsMember({"relative", "full", "url"}))
        ->capture_default_str();
    app.add_option("--url-prefix", prefix, "Prefix of every page's link (with --path url)");
    auto* verboseFlag = app.add_flag("--verbose,-v", verbose, "Print every progress line");
    app.add_flag("--quiet,-q", quiet, "Print nothing but errors")->excludes(verboseFlag);
    app.add_option("--log", logPath, "Write the progress lines to FILE");
    app.add_option("--threads", threads, "Pages parsed at once (0: one per processor)")
        ->capture_default_str();
    app.add_flag("--pattern-library", patternLibrary,
                 "Match with the regular expression library instead of the scanners (slower)");
    app.set_version_flag("--version", "vantrelindexer-cli " VANTREL_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }

    // The folder page's checks: destination first, then source, then the prefix.
    bool createDestination = false;
    struct stat info;
    if (!destination.empty() && ::stat(destination.c_str(), &info) != 0 && errno == ENOENT) {
        if (!canCreateFolder(destination))
            return usageError(kDestinationMessage);
        createDestination = true;
    } else if (!canEnterFolder(destination)) {
        return usageError(kDestinationMessage);
    }
    if (!canEnterFolder(source))
        return usageError(kSourceMessage);
    if (path == "url" && prefix.empty())
        return usageError(kPrefixMessage);

    std::FILE* logFile = nullptr;
    if (!logPath.empty() && (logFile = std::fopen(logPath.c_str(), "wb")) == nullptr) {
        std::fprintf(stderr, "Cannot write the log file %s\n", logPath.c_str());
        return 2;
    }
    if (createDestination && !createFolders(destination))
        return usageError(kDestinationMessage);

    const std::map<std::string, ContentMode> contentModes = {
        {"keywords", ContentMode::Keywords},
        {"titles", ContentMode::KeywordsTitles},
        {"headers", ContentMode::KeywordsTitlesHeaders},
        {"all", ContentMode::AllContent}};
    const std::map<std::string, PathMode> pathModes = {
        {"relative", PathMode::RelativePath}, {"full", PathMode::FullPath}, {"url", PathMode::UrlPrefix}};
    Output output = quiet ? Output::Quiet : verbose ? Output::Verbose : Output::Status;
    bool showStatus = output == Output::Status && ::isatty(STDERR_FILENO);

    // A full file-size limit must fail a write, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    const pthread_t mainThread = pthread_self();

    IndexEngine& engine = IndexEngine::instance();
    CommandLineLog log(output, logFile);
    engine.contentMode = contentModes.at(content);
    engine.pathMode = pathModes.at(path);
    engine.sourceFolder = source;
    engine.destinationFolder = destination;
    engine.urlPrefix = prefix;
    engine.progressLog = &log;
    engine.threadCount = threads;
    engine.patternMatcher = patternLibrary ? PatternMatcher::RegexLibrary : PatternMatcher::Scanner;

    // Stopped before it began: nothing is indexed and nothing is written.
    sigset_t pending;
    if (sigpending(&pending) == 0 && (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1)) {
        log.append("Indexing interrupted!");
        if (logFile)
            std::fclose(logFile);
        return 1;
    }

    const auto started = std::chrono::steady_clock::now();
    std::atomic<bool> finished{false};
    bool complete = false;
    std::thread job([&] {
        complete = engine.buildIndex();
        copySearchPageFiles(programFolder(), engine.destinationFolder);
        log.append(complete ? "Indexing complete!" : "Indexing interrupted!");
        finished.store(true);
        pthread_kill(mainThread, SIGUSR1);  // wakes the waiting main thread at once
    });
    int stops = 0;
    std::string lastStatus;
    while (!finished.load()) {
        timespec tick{0, 100 * 1000 * 1000};
        int signal = sigtimedwait(&waitSignals, nullptr, &tick);
        if (signal == SIGINT || signal == SIGTERM) {
            if (++stops == 1) {
                engine.stopRequested.store(true);
                if (output != Output::Quiet)
                    std::fprintf(stderr, "%sStopping... (press Ctrl-C again to quit at once)\n",
                                 showStatus ? "\r\033[K" : "");
            } else {
                std::_Exit(130);
            }
        }
        if (showStatus) {
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::string status = log.statusLine(seconds, terminalWidth());
            if (status != lastStatus) {
                std::fprintf(stderr, "\r\033[K%s", status.c_str());
                std::fflush(stderr);
                lastStatus = status;
            }
        }
    }
    job.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (showStatus)
        std::fputs("\r\033[K", stderr);
    if (logFile && std::fclose(logFile) != 0)
        std::fprintf(stderr, "Cannot write the log file %s\n", logPath.c_str());

    if (output == Output::Status) {
        std::printf("%s: %zu pages, %zu words in %.2f s.\n",
                    complete ? "Indexing complete" : "Indexing interrupted", engine.documents.size(),
                    engine.dictionary.size(), seconds);
        if (complete)
            std::printf("Search page: %s/search.html\n", destination.c_str());
        if (std::size_t problems = log.problems())
            std::printf("%zu pages could not be read whole; --verbose lists them.\n", problems);
    }
    return complete ? 0 : 1;
}
