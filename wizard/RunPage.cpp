#include "RunPage.h"

#include "FolderPage.h"
#include "IndexEngine.h"
#include "OptionsPage.h"
#include "SearchPageFiles.h"
#include "Wizard.h"
#include "ui_RunPage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QGuiApplication>
#include <QThread>

#include <string>

namespace {

// Up to this many lines each line is shown and selected as it arrives; beyond, lines
// are shown in batches at most every refresh interval.
constexpr int kLinesShownAtOnce = 1000;
constexpr int kRefreshIntervalMs = 40;

}  // namespace

struct RunPage::RunSettings {
    ContentMode contentMode = ContentMode::Keywords;
    PathMode pathMode = PathMode::RelativePath;
    std::string sourceFolder;
    std::string destinationFolder;
    std::string urlPrefix;
};

// The engine's progress log: each line goes into the page's list on the UI thread,
// and the job goes on once the list holds it.
class RunPage::ListLog : public ProgressLog {
public:
    explicit ListLog(RunPage& page) : m_page(page) {}

    void append(const std::string& text) override
    {
        const QString line = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
        m_page.handOver([this, &line] { m_page.appendLine(line); });
    }

private:
    RunPage& m_page;
};

RunPage::RunPage(Wizard& wizard)
    : WizardPage(wizard), m_ui(std::make_unique<Ui::RunPage>()), m_log(std::make_unique<ListLog>(*this))
{
    m_ui->setupUi(this);
    setUpPage(m_ui->helpButton);
    m_ui->mainButton->setFocus();
    connect(m_ui->mainButton, &QPushButton::clicked, this, &RunPage::pressMainButton);
    connect(m_ui->backButton, &QPushButton::clicked, this, &RunPage::goBack);
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshIntervalMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &RunPage::showPendingLines);
}

RunPage::~RunPage()
{
    m_delivering = false;
    if (m_runningThread) {
        IndexEngine::instance().stopRequested.store(true);
        // The worker may already wait in a hand-over posted before delivery ended.
        while (!m_runningThread->wait(QDeadlineTimer(10)))
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    IndexEngine& engine = IndexEngine::instance();
    if (engine.progressLog == m_log.get())
        engine.progressLog = nullptr;
    setWaitCursor(false);
}

void RunPage::pressMainButton()
{
    if (m_runFinished) {
        wizard().closeAll();
        return;
    }
    if (m_workerThread) {
        // A worker that is running, or waiting for a stopped run to end, is asked to
        // stop; one that has ended is only forgotten, and the next press starts anew.
        if (!m_workerThread->isFinished()) {
            IndexEngine::instance().stopRequested.store(true);
            m_ui->mainButton->setText(QStringLiteral("Start"));
            m_runFinished = false;
        }
        dropWorker();
        return;
    }
    startWorker();
    m_ui->mainButton->setText(QStringLiteral("Stop"));
}

void RunPage::goBack()
{
    // A running worker goes on and writes into the hidden list.
    hide();
    m_ui->mainButton->setText(QStringLiteral("Start"));
    m_pendingLines.clear();
    m_ui->progressList->clear();
    m_runFinished = false;
    wizard().showPage(this, wizard().optionsPage());
}

void RunPage::startWorker()
{
    setWaitCursor(true);
    auto settings = std::make_shared<RunSettings>();
    QThread* thread = QThread::create([this, settings] { runWorker(*settings); });
    thread->setParent(this);
    connect(thread, &QThread::finished, this, [this, thread] { workerEnded(thread); });
    m_workerThread = thread;
    m_workerSettings = std::move(settings);
    // One run at a time uses the engine: after a Stop the old run may still be ending,
    // and the new one starts when it has.
    if (!m_runningThread)
        launchWorker();
}

void RunPage::launchWorker()
{
    QThread* thread = m_workerThread;
    *m_workerSettings = currentSettings();
    thread->start();
    setWaitCursor(false);
    if (!thread->isRunning() && !thread->isFinished()) {
        m_workerThread = nullptr;
        delete thread;
        wizard().warn(this, QStringLiteral("VantrelIndexer Warning!"), QStringLiteral("Cannot create thread!"));
        return;
    }
    m_runningThread = thread;
}

void RunPage::workerEnded(QThread* thread)
{
    // finished() comes just before the thread ends, and nothing of the worker waits for
    // this thread any more.
    thread->wait();
    if (m_runningThread == thread)
        m_runningThread = nullptr;
    if (thread != m_workerThread)
        thread->deleteLater();
    if (m_whenRunsEnded) {
        std::function<void()> whenEnded = std::move(m_whenRunsEnded);
        m_whenRunsEnded = nullptr;
        whenEnded();
        return;
    }
    if (workerWaitingToStart())
        launchWorker();
}

void RunPage::dropWorker()
{
    QThread* thread = m_workerThread;
    m_workerThread = nullptr;
    if (thread == m_runningThread)
        return;  // deleted when it has ended
    if (!thread->isFinished())
        setWaitCursor(false);  // a start that was still waiting
    delete thread;
}

bool RunPage::workerWaitingToStart() const
{
    return m_workerThread && m_workerThread != m_runningThread && !m_workerThread->isRunning()
        && !m_workerThread->isFinished();
}

void RunPage::endRuns(std::function<void()> whenEnded)
{
    m_delivering = false;
    m_pendingLines.clear();
    if (workerWaitingToStart())
        dropWorker();
    if (!m_runningThread || m_runningThread->isFinished()) {
        whenEnded();
        return;
    }
    IndexEngine::instance().stopRequested.store(true);
    m_whenRunsEnded = std::move(whenEnded);
}

RunPage::RunSettings RunPage::currentSettings()
{
    const OptionsPage* options = wizard().optionsPage();
    const FolderPage* folders = wizard().folderPage();
    RunSettings settings;
    settings.contentMode = options->contentMode();
    settings.pathMode = options->pathMode();
    settings.sourceFolder = QFile::encodeName(folders->sourceFolder()).toStdString();
    settings.destinationFolder = QFile::encodeName(folders->destinationFolder()).toStdString();
    settings.urlPrefix = options->urlPrefix().toLocal8Bit().toStdString();
    return settings;
}

void RunPage::appendLine(const QString& line)
{
    // A list view lays out all its rows again for every row added, which makes a long
    // run quadratic. So a long list takes its new lines in batches; the worker still
    // waits for each hand-over, and the newest line is the one shown selected.
    m_pendingLines.append(line);
    if (m_ui->progressList->count() < kLinesShownAtOnce)
        showPendingLines();
    else if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void RunPage::showPendingLines()
{
    if (m_pendingLines.isEmpty())
        return;
    QListWidget* list = m_ui->progressList;
    list->addItems(m_pendingLines);
    m_pendingLines.clear();
    list->setCurrentRow(list->count() - 1);
}

void RunPage::setWaitCursor(bool shown)
{
    if (shown == m_waitCursor)
        return;
    m_waitCursor = shown;
    if (shown)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void RunPage::handOver(const std::function<void()>& change)
{
    if (!m_delivering.load())
        return;
    QMetaObject::invokeMethod(
        this,
        [this, &change] {
            if (m_delivering.load())
                change();
        },
        Qt::BlockingQueuedConnection);
}

void RunPage::runWorker(const RunSettings& settings)
{
    const bool complete = runIndexing(settings);
    handOver([this, complete] {
        // The final line goes last and no line stays selected. A run normally starts on
        // an empty list; one that waited for a stopped run starts below that run's lines
        // and still ends with its own final line at the bottom.
        showPendingLines();
        QListWidget* list = m_ui->progressList;
        list->addItem(complete ? QStringLiteral("Indexing complete!") : QStringLiteral("Indexing interrupted!"));
        list->setCurrentRow(-1);
        list->clearSelection();
        list->scrollToBottom();
    });
}

bool RunPage::runIndexing(const RunSettings& settings)
{
    IndexEngine& engine = IndexEngine::instance();
    engine.contentMode = settings.contentMode;
    engine.pathMode = settings.pathMode;
    engine.sourceFolder = settings.sourceFolder;
    engine.destinationFolder = settings.destinationFolder;
    engine.urlPrefix = settings.urlPrefix;
    engine.progressLog = m_log.get();
    const bool complete = engine.buildIndex();
    copySearchPageFiles(programFolder(), engine.destinationFolder);
    handOver([this] {
        // A start that waits for this run to end owns the button already.
        if (workerWaitingToStart())
            return;
        m_ui->mainButton->setText(QStringLiteral("Close"));
        m_runFinished = true;
    });
    return complete;
}
