#pragma once

#include "IndexJob.h"
#include "IndexRun.h"
#include "WizardPage.h"

#include <QUrl>

#include <functional>
#include <memory>

namespace Ui {
class RunPage;
}

// Step 4: runs the indexing job and shows its progress lines and, once it has ended,
// what it made. The main button always names what a press does: "Start" a run, "Stop"
// the page's run, or "Close" the application after a run that ended in view.
class RunPage : public WizardPage {
    Q_OBJECT
public:
    explicit RunPage(Wizard& wizard);
    ~RunPage() override;

    // For the end of the application: asks a running job to stop, shows none of its
    // lines any more, and calls whenEnded once no job runs (at once when none does).
    void endRuns(std::function<void()> whenEnded);

private:
    enum class State {
        Ready,     // "Start": no run of this page, or its run ended while the page was away
        Running,   // "Stop": the page's run goes on, or waits for a stopped one to end
        Stopping,  // "Start": the run was asked to stop; a new one would wait for its end
        Finished,  // "Close": the page's run ended while the page was shown
    };

    void pressMainButton();
    void goBack();
    void startRun();
    void jobEnded(quint64 job, const JobOutcome& outcome);
    void setState(State state);
    JobSettings currentSettings() const;
    // Asks before files of the site's own are replaced; true when the run may go on.
    bool mayReplaceForeignFiles(JobSettings& settings);
    void showReadyText();
    void showOutcome(const JobOutcome& outcome);

    std::unique_ptr<Ui::RunPage> m_ui;
    IndexRun m_run;
    State m_state = State::Ready;
    quint64 m_job = 0;        // the job of the page's last Start
    JobSettings m_jobSettings;  // ... and its settings
    QUrl m_searchPage;        // what the outcome's link opens
};
