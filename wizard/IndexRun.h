#pragma once

#include "IndexJob.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Runs indexing jobs on worker threads, one at a time on the single engine: a job
// started while an earlier one is still ending waits, on its own thread, until that one
// has ended. Each progress line is handed to the UI thread, and the job goes on only
// once lineReported() has been handled there, so lines arrive whole and in order while
// the UI thread never waits for a worker.
class IndexRun : public QObject {
    Q_OBJECT
public:
    explicit IndexRun(QObject* parent = nullptr);
    // Stops every job and waits for it to end, handing over nothing more.
    ~IndexRun() override;

    // Starts a job after those started before it have ended. Returns its number (from
    // 1), or 0 when no thread could be made.
    quint64 start(const JobSettings& settings);

    // Asks every job started so far to stop at its next safe point; a job that has not
    // begun yet ends at once, interrupted.
    void stop();

    // Whether some job has been started and has not ended yet.
    bool isActive() const { return !m_jobs.empty(); }

    // For the end of the application: asks every job to stop, hands none of their lines
    // or ends over any more, and calls whenEnded once all have ended (at once when none
    // runs).
    void endAll(std::function<void()> whenEnded);

Q_SIGNALS:
    // A progress line of a job (narrow bytes, valid during the call), on the UI thread.
    void lineReported(std::string_view line);
    // A job has ended, after all its lines.
    void jobEnded(quint64 job, const JobOutcome& outcome);

private:
    struct Job;
    class JobLog;

    void handOver(const std::function<void()>& change);
    void threadEnded(const std::shared_ptr<Job>& job);

    std::vector<std::shared_ptr<Job>> m_jobs;  // started and not ended, oldest first
    quint64 m_lastJob = 0;
    std::atomic<bool> m_delivering{true};
    std::function<void()> m_whenAllEnded;
};
