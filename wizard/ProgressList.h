#pragma once

#include <QListWidget>
#include <QStringList>
#include <QTimer>

#include <string>
#include <string_view>

// The run page's list of progress lines. While the list is short each line is shown and
// selected as it comes; a long list takes its lines in batches, since a list view lays
// out all its rows again for every row added. Long lines are shortened in the middle,
// so that the file name at their end stays in sight.
class ProgressList : public QListWidget {
    Q_OBJECT
public:
    explicit ProgressList(QWidget* parent = nullptr);

    // Adds a line of a job (narrow bytes) after the last one.
    void appendLine(std::string_view line);

    // Shows every line taken and leaves none selected: the look of an ended run.
    void showEnd();

    // Empties the list, lines not yet shown included.
    void clearLines();

    // A line as it may be shown: printableText() of its bytes (controls, bytes that are
    // not UTF-8 and the characters that reorder text escaped), decoded from UTF-8.
    static QString printableLine(std::string_view line);

private:
    void showPendingLines();

    QStringList m_pendingLines;
    QTimer m_refreshTimer;
};
