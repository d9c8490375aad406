#include "TerminalLog.h"

#include "IndexJob.h"
#include "Summary.h"

#include <cerrno>
#include <cstring>

namespace {
bool continuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::size_t columns(const std::string& text)
{
    std::size_t count = 0;
    for (char c : text)
        count += continuationByte(c) ? 0 : 1;
    return count;
}
}  // namespace

std::string shortenInTheMiddle(const std::string& text, std::size_t width)
{
    if (columns(text) <= width)
        return text;
    if (width < 5)
        return text.substr(0, width);
    const std::size_t keep = width - 3, headColumns = keep / 2, tailColumns = keep - headColumns;
    std::size_t head = 0;
    for (std::size_t shown = 0; head < text.size(); ++head) {
        if (!continuationByte(text[head]) && shown++ == headColumns)
            break;
    }
    std::size_t tail = text.size();
    for (std::size_t shown = 0; tail > head && shown < tailColumns;) {
        --tail;
        if (!continuationByte(text[tail]))
            ++shown;
    }
    return text.substr(0, head) + "..." + text.substr(tail);
}

void TerminalLog::writeLine(std::FILE* file, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc('\n', file);
}

void TerminalLog::append(const std::string& text)
{
    // The design's lines hold no control byte but those of a path.
    const std::string shown = printableText(text);
    if (m_logFile) {
        writeLine(m_logFile, shown);
        if (std::ferror(m_logFile))
            m_logFailed = true;
    }
    if (m_output == Output::Verbose)
        writeLine(stdout, shown);
}

void TerminalLog::report(const ProgressEvent& event)
{
    // A line that neither the log file nor standard output takes is not composed.
    if (m_logFile || m_output == Output::Verbose)
        ProgressLog::report(event);
    switch (event.kind) {
    case ProgressKind::WordsFileFailed:
    case ProgressKind::DocsFileFailed:
    case ProgressKind::OutputFailed:
        std::fprintf(stderr, "%scannot write %s: %.*s\n", m_statusShown ? "\r\033[K" : "",
                     printableText(event.path).c_str(), static_cast<int>(event.reason.size()), event.reason.data());
        break;
    default: break;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (event.kind) {
    case ProgressKind::PageStarted: m_currentPage.assign(event.path); break;  // made printable when shown
    case ProgressKind::PageDone: ++m_pagesDone; break;
    case ProgressKind::CreatingIndex: m_currentPage = "creating index"; break;
    case ProgressKind::PageReadFailed:
    case ProgressKind::PageTooComplex: ++m_problems; break;  // one per page
    default: break;
    }
}

std::string TerminalLog::statusLine(double seconds, std::size_t width)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    char time[32];
    std::snprintf(time, sizeof time, "%6.1f s  ", seconds);
    const std::string line = time + counted(m_pagesDone, "page", "pages") + "  ";
    // One column stays free, so that the line never wraps.
    const std::size_t room = width > line.size() + 1 ? width - line.size() - 1 : 0;
    return line + shortenInTheMiddle(printableText(m_currentPage), room);
}

std::size_t TerminalLog::problems()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problems;
}

bool TerminalLog::logWritten()
{
    return !m_logFailed;
}
