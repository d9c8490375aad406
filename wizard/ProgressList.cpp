#include "ProgressList.h"

#include "IndexJob.h"
#include "Utf8Sequence.h"

#include <utility>

namespace {

// Up to this many lines each line is shown and selected as it arrives; beyond, lines
// are shown in batches at most every refresh interval.
constexpr int kLinesShownAtOnce = 1000;
constexpr int kRefreshIntervalMs = 40;

// Characters that would make a line look like another: controls, line breaks, and the
// marks, embeddings, overrides and isolates that reorder the text after them.
bool reordersOrBreaks(char32_t code)
{
    return (code >= 0x80 && code <= 0x9F) || code == 0x61C || code == 0x200E || code == 0x200F
        || (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

void appendEscaped(QString& shown, std::string_view bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        shown += QLatin1String("\\x");
        shown += QLatin1Char(hex[byte >> 4]);
        shown += QLatin1Char(hex[byte & 15]);
    }
}

}  // namespace

ProgressList::ProgressList(QWidget* parent) : QListWidget(parent)
{
    setUniformItemSizes(true);
    setTextElideMode(Qt::ElideMiddle);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &ProgressList::showPendingLines);
}

QString ProgressList::printableLine(std::string_view line)
{
    const std::string text = printablePath(line);
    QString shown;
    shown.reserve(static_cast<qsizetype>(text.size()));
    for (std::size_t at = 0; at < text.size();) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            shown += QLatin1Char(text[at++]);
            continue;
        }
        const auto [code, length] = decodeUtf8(text, at);
        const std::size_t taken = length ? length : 1;
        if (length == 0 || reordersOrBreaks(code))
            appendEscaped(shown, std::string_view(text).substr(at, taken));
        else
            shown += QChar::fromUcs4(code);
        at += taken;
    }
    return shown;
}

void ProgressList::appendLine(std::string_view line)
{
    m_pendingLines.append(printableLine(line));
    if (count() < kLinesShownAtOnce)
        showPendingLines();
    else if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void ProgressList::showEnd()
{
    showPendingLines();
    setCurrentRow(-1);
    clearSelection();
    scrollToBottom();
}

void ProgressList::clearLines()
{
    m_pendingLines.clear();
    clear();
}

void ProgressList::showPendingLines()
{
    if (m_pendingLines.isEmpty())
        return;
    addItems(m_pendingLines);
    m_pendingLines.clear();
    setCurrentRow(count() - 1);
}
