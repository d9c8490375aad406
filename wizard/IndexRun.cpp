#include "IndexRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <future>
#include <utility>

struct IndexRun::Job {
    quint64 number = 0;
    JobSettings settings;
    std::atomic<bool> stop{false};  // the job's own: set before it begins, it still counts
    std::shared_future<void> earlierLeft;  // the job before has left the engine (none for the first)
    std::promise<void> left;               // this job has left the engine,
    std::shared_future<void> leftFuture;   // ... as the job after it waits to see
    JobOutcome outcome;  // written by the worker before it ends
    QThread* thread = nullptr;
};

// The engine's progress log for one job: each line is handed to the UI thread.
class IndexRun::JobLog : public ProgressLog {
public:
    explicit JobLog(IndexRun& run) : m_run(run) {}

    void append(const std::string& text) override
    {
        m_run.handOver([this, &text] { Q_EMIT m_run.lineReported(text); });
    }

private:
    IndexRun& m_run;
};

IndexRun::IndexRun(QObject* parent) : QObject(parent) {}

IndexRun::~IndexRun()
{
    m_delivering = false;
    stop();
    for (const std::shared_ptr<Job>& job : m_jobs) {
        job->thread->disconnect(this);
        // A worker may already wait in a hand-over posted before delivery ended.
        while (!job->thread->wait(QDeadlineTimer(10)))
            QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}

quint64 IndexRun::start(const JobSettings& settings)
{
    auto job = std::make_shared<Job>();
    job->number = m_lastJob + 1;
    job->settings = settings;
    if (!m_jobs.empty())
        job->earlierLeft = m_jobs.back()->leftFuture;
    job->leftFuture = job->left.get_future().share();
    job->thread = QThread::create([this, job] {
        if (job->earlierLeft.valid())
            job->earlierLeft.wait();
        JobLog log(*this);
        job->outcome = runIndexJob(job->settings, log, job->stop);
        job->left.set_value();
    });
    job->thread->setParent(this);
    connect(job->thread, &QThread::finished, this, [this, job] { threadEnded(job); });
    job->thread->start();
    if (!job->thread->isRunning() && !job->thread->isFinished()) {
        delete job->thread;
        return 0;
    }
    m_jobs.push_back(job);
    return m_lastJob = job->number;
}

void IndexRun::stop()
{
    for (const std::shared_ptr<Job>& job : m_jobs)
        job->stop = true;
}

void IndexRun::endAll(std::function<void()> whenEnded)
{
    m_delivering = false;
    stop();
    if (m_jobs.empty())
        whenEnded();
    else
        m_whenAllEnded = std::move(whenEnded);
}

void IndexRun::handOver(const std::function<void()>& change)
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

void IndexRun::threadEnded(const std::shared_ptr<Job>& job)
{
    // finished() comes just before the thread ends, and nothing of it waits for this
    // thread any more.
    job->thread->wait();
    job->thread->deleteLater();
    m_jobs.erase(std::find(m_jobs.begin(), m_jobs.end(), job));
    if (m_delivering.load())
        Q_EMIT jobEnded(job->number, job->outcome);
    if (m_jobs.empty() && m_whenAllEnded)
        std::exchange(m_whenAllEnded, nullptr)();
}
