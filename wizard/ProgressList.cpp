#include "ProgressList.h"

#include "IndexJob.h"


namespace {

// Up to this many lines each line is shown and selected as it arrives; beyond, lines
// are shown in batches at most every refresh interval.
constexpr int kLinesShownAtOnce = 1000;
constexpr int kRefreshIntervalMs = 40;

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
    return QString::fromStdString(printableText(line));
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
