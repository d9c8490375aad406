#pragma once

#include "WizardPage.h"

#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace Ui {
class RunPage;
}

// Step 4: runs the indexing job on a worker thread and shows its progress lines. The
// main button starts a run ("Start"), asks it to stop ("Stop") and, once a run has
// ended, ends the application ("Close"); runFinished and workerThread decide which.
class RunPage : public WizardPage {
    Q_OBJECT
public:
    explicit RunPage(Wizard& wizard);
    ~RunPage() override;

    // True once a run has ended and the main button reads "Close".
    bool runFinished() const { return m_runFinished; }

    // The worker last started (it may have ended since), or one waiting for a stopped
    // run to end; null when none is held.
    QThread* workerThread() const { return m_workerThread; }

    // For the end of the application: asks a running run to stop, hands none of its
    // lines to the page any more, drops a start that waits, and calls whenEnded once
    // no worker runs (at once when none does).
    void endRuns(std::function<void()> whenEnded);

private:
    struct RunSettings;
    class ListLog;

    void pressMainButton();
    void goBack();
    void startWorker();
    void launchWorker();
    void workerEnded(QThread* thread);
    void dropWorker();
    bool workerWaitingToStart() const;
    RunSettings currentSettings();
    void appendLine(const QString& line);
    void showPendingLines();
    void setWaitCursor(bool shown);

    // On the worker thread: the job and its final line, and the job itself.
    void runWorker(const RunSettings& settings);
    bool runIndexing(const RunSettings& settings);
    // Runs change on the UI thread and returns when it is done; does nothing once the
    // page has stopped taking a run's lines.
    void handOver(const std::function<void()>& change);

    std::unique_ptr<Ui::RunPage> m_ui;
    std::unique_ptr<ListLog> m_log;
    std::shared_ptr<RunSettings> m_workerSettings;  // filled when m_workerThread starts
    QThread* m_workerThread = nullptr;
    QThread* m_runningThread = nullptr;  // the worker whose run holds the engine
    bool m_runFinished = false;
    bool m_waitCursor = false;
    std::atomic<bool> m_delivering{true};
    std::function<void()> m_whenRunsEnded;
    QStringList m_pendingLines;  // handed over, shown with the next refresh
    QTimer m_refreshTimer;
};
