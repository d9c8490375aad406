#pragma once

#include "CommandLine.h"
#include "ProgressLog.h"

#include <cstdio>
#include <mutex>
#include <string>

// Where the job's events go on the command line: the log file and standard output
// (--verbose) get every progress line, with paths made printable; standard error gets
// every file that could not be written, whatever the output; the status line that the
// main thread redraws gets the page in hand.
class TerminalLog : public ProgressLog {
public:
    // statusShown: a status line stands on standard error and must be cleared first.
    TerminalLog(Output output, std::FILE* logFile, bool statusShown)
        : m_output(output), m_logFile(logFile), m_statusShown(statusShown)
    {
    }

    void append(const std::string& text) override;
    void report(const ProgressEvent& event) override;

    // One line of at most width columns: time, pages done, the page in hand (shortened
    // in the middle, so that its file name stays in view).
    std::string statusLine(double seconds, std::size_t width);

    // Pages that could not be read whole.
    std::size_t problems();

    // Whether every line reached the log file so far.
    bool logWritten();

private:
    void writeLine(std::FILE* file, const std::string& text);

    const Output m_output;
    std::FILE* const m_logFile;
    const bool m_statusShown;
    bool m_logFailed = false;
    std::mutex m_mutex;
    std::size_t m_pagesDone = 0;
    std::size_t m_problems = 0;
    std::string m_currentPage;
};

// text cut to at most width columns by dropping its middle for "...", on character
// boundaries of UTF-8. Text that fits is returned as it is.
std::string shortenInTheMiddle(const std::string& text, std::size_t width);
