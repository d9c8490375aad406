// vantrelindexer-cli: builds a site's search index from the command line.

#include "CommandLine.h"
#include "IndexJob.h"
#include "SourceWatcher.h"
#include "StopSignals.h"
#include "Summary.h"
#include "TerminalLog.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

std::size_t terminalWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    return 2;
}

// One line per run while watching: what set it off, what it made, how long it took.
void printWatchLine(const JobOutcome& outcome, std::size_t changed, double seconds)
{
    const std::string what = std::to_string(changed) + (changed == 1 ? " change" : " changes");
    switch (outcome.result) {
    case JobResult::Complete:
        std::printf("%s: %zu pages (%zu read), %zu words in %.2f s.\n", what.c_str(), outcome.pages, outcome.pagesRead,
                    outcome.words, seconds);
        break;
    case JobResult::Stopped:
        std::printf("%s: indexing interrupted after %.2f s. The old index is kept.\n", what.c_str(), seconds);
        break;
    case JobResult::NotWritten:
        std::printf("%s: index not written (%s). The last index is kept; watching goes on.\n", what.c_str(),
                    outcome.failure.c_str());
        break;
    case JobResult::Refused:
        std::printf("%s: nothing indexed: %s. The last index is kept; watching goes on.\n", what.c_str(),
                    outcome.failure.empty() ? "DESTINATION holds files that are not the program's own"
                                            : outcome.failure.c_str());
        break;
    }
}

// How long a burst of changes must have been quiet before a run starts.
constexpr long kSettleMilliseconds = 400;

}  // namespace

int main(int argc, char** argv)
{
    StopSignals signals;  // first of all, so that an early Ctrl-C is kept for the job
    CommandLine commandLine;
    if (int status = parseCommandLine(argc, argv, commandLine); status >= 0)
        return status;
    JobSettings& job = commandLine.job;
    const Output output = commandLine.output;

    if (SettingsProblem problem = checkSettings(job, true); problem != SettingsProblem::None)
        return usageError(problemMessage(problem));
    if (const std::string problem = excludeProblem(job); !problem.empty())
        return usageError("Nothing was indexed: " + problem + ".");
    if (!job.overwrite) {
        const std::vector<std::string> foreign = foreignFiles(job);
        for (const std::string& path : foreign)
            std::fprintf(stderr, "%s was not written by VantrelIndexer and would be replaced.\n",
                         printableText(path).c_str());
        if (!foreign.empty())
            return usageError("Nothing was indexed. Choose another DESTINATION, or give --overwrite to replace "
                              + std::string(foreign.size() == 1 ? "that file." : "those files."));
    }
    if (const std::vector<std::string> folders = foreignFolders(job); !folders.empty()) {
        for (const std::string& folder : folders)
            std::fprintf(stderr, "%s\n", printableText(folder).c_str());
        return usageError("Nothing was indexed: VantrelIndexer writes only into folders of its own that nobody "
                          "else may change. Choose another DESTINATION, or remove or rename that folder.");
    }
    std::FILE* logFile = nullptr;
    if (!commandLine.logPath.empty() && (logFile = std::fopen(commandLine.logPath.c_str(), "wb")) == nullptr)
        return usageError("Cannot write the log file " + printableText(commandLine.logPath) + ": "
                          + std::strerror(errno));
    if (!canEnterFolder(job.destinationFolder) && !createFolders(job.destinationFolder))
        return usageError(problemMessage(SettingsProblem::Destination));
    // Named by the destination's real path, which it has only now that it exists.
    if (!commandLine.noCache)
        job.cacheFolder = defaultCacheFolder(job.destinationFolder);
    // The checks that compare the search over the word index's pieces with the search
    // over it whole ask for the whole one too (docs/development.md).
    const char* whole = std::getenv("VANTREL_WHOLE_WORD_INDEX");
    job.wholeWordIndex = whole && *whole && std::string_view(whole) != "0";
    // A single run ends the process: its memory is not freed piece by piece first. A
    // watching one runs many jobs, each letting go of the last one's.
    job.leaveMemoryToExit = !commandLine.watch;
    // and the checks of a large site's top on small ones, the pages past which it is written.
    if (const char* top = std::getenv("VANTREL_TOP_FROM"); top && *top)
        job.topFrom = static_cast<std::size_t>(std::strtoull(top, nullptr, 10));
    if (const std::string warning = plainLinksWarning(job); !warning.empty() && output != Output::Quiet)
        std::fprintf(stderr, "%s\n", warning.c_str());

    // A full file-size limit or a closed pipe must fail a write, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    const bool showStatus = output == Output::Status && ::isatty(STDERR_FILENO);
    TerminalLog log(output, logFile, showStatus);
    std::atomic<bool> stop{signals.waitForStop(0)};  // a Ctrl-C before the start
    bool quitting = stop.load();

    // One job on its own thread, with the live status line; a second Ctrl-C quits at once.
    auto runJob = [&](JobOutcome& outcome, double& seconds) {
        std::atomic<bool> finished{false};
        const auto started = std::chrono::steady_clock::now();
        auto elapsed = [&started] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        };
        std::thread jobThread([&] {
            outcome = runIndexJob(job, log, stop);
            finished.store(true);
            signals.wake();
        });
        int stops = 0;
        std::string lastStatus;
        while (!finished.load()) {
            if (signals.waitForStop(100)) {
                if (++stops > 1) {
                    if (showStatus)
                        std::fputs("\n", stderr);
                    std::_Exit(130);
                }
                stop.store(true);
                quitting = true;
                if (output != Output::Quiet)
                    std::fprintf(stderr, "%sStopping... (press Ctrl-C again to quit at once)\n",
                                 showStatus ? "\r\033[K" : "");
            }
            if (showStatus) {
                std::string status = log.statusLine(elapsed(), terminalWidth());
                if (status != lastStatus) {
                    std::fprintf(stderr, "\r\033[K%s", status.c_str());
                    std::fflush(stderr);
                    lastStatus = status;
                }
            }
        }
        jobThread.join();
        seconds = elapsed();
        if (showStatus)
            std::fputs("\r\033[K", stderr);
    };

    JobOutcome outcome;
    double seconds = 0;
    runJob(outcome, seconds);
    if (outcome.result == JobResult::Refused && !outcome.failure.empty())
        std::fprintf(stderr, "Nothing was indexed: %s.\n", outcome.failure.c_str());
    if (outcome.result == JobResult::NotWritten)
        std::fprintf(stderr, "Index not written: %s. The old index is kept.\n", outcome.failure.c_str());
    if (!outcome.outputFailures.empty())
        std::fprintf(stderr, "The search page is not complete: %zu of its files could not be written.\n",
                     outcome.outputFailures.size());
    if (!outcome.cacheProblem.empty() && output == Output::Verbose)
        std::fprintf(stderr, "Cache not used: %s\n", printableText(outcome.cacheProblem).c_str());
    if (output != Output::Quiet)
        std::fputs(jobSummary(job, outcome, seconds, log.problems()).c_str(), stdout);
    bool written = outcome.result == JobResult::Complete && outcome.outputFailures.empty();

    if (commandLine.watch && !quitting && outcome.result != JobResult::Refused) {
        // Watching: every settled burst of changes gives one run over the pages that
        // changed (the others come from the cache) and one line; a run that fails keeps
        // the last good index and watching goes on; Ctrl-C ends it at any moment.
        SourceWatcher watcher(job.sourceFolder, job.destinationFolder);
        if (!watcher.start()) {
            std::fprintf(stderr, "Cannot watch %s: %s\n", printableText(job.sourceFolder).c_str(),
                         watcher.error().c_str());
            written = false;
        } else {
            if (logFile)
                std::fflush(logFile);
            if (output != Output::Quiet)
                std::printf("Watching %s for changes; Ctrl-C ends.\n", printableText(job.sourceFolder).c_str());
            std::fflush(stdout);
            std::size_t changed = 0;
            while (!quitting && watcher.waitForChanges(kSettleMilliseconds,
                                                       [&](long milliseconds) { return quitting = signals.waitForStop(milliseconds); },
                                                       changed)) {
                runJob(outcome, seconds);
                written = outcome.result == JobResult::Complete && outcome.outputFailures.empty();
                if (logFile)
                    std::fflush(logFile);  // each run's lines whole in the log as it ends
                if (output != Output::Quiet)
                    printWatchLine(outcome, changed, seconds);
                std::fflush(stdout);
            }
        }
    }

    bool logWritten = true;
    if (logFile) {
        logWritten = log.logWritten() && std::fflush(logFile) == 0 && !std::ferror(logFile);
        int error = errno;
        logWritten = std::fclose(logFile) == 0 && logWritten;
        if (!logWritten)
            std::fprintf(stderr, "Cannot write the log file %s: %s\n", printableText(commandLine.logPath).c_str(),
                         std::strerror(error ? error : errno));
    }
    return written && logWritten ? 0 : 1;
}
