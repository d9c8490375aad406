#include "RunPage.h"

#include "FolderPage.h"
#include "OptionsPage.h"
#include "ProgressList.h"
#include "Wizard.h"
#include "ui_RunPage.h"

#include <QFile>
#include <QFileInfo>

namespace {

QString counted(std::size_t count, const char* noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(noun), count == 1 ? "" : "s");
}

// Text that the user or the file system chose, as the rich text of label: printable,
// shortened in the middle to fit beside what stands before it on its line, escaped.
QString shownName(const QLabel* label, std::string_view bytes, const QString& before = QString())
{
    const QFontMetrics metrics = label->fontMetrics();
    const int room = label->width() - metrics.horizontalAdvance(before) - metrics.averageCharWidth();
    return metrics.elidedText(ProgressList::printableLine(bytes), Qt::ElideMiddle, room).toHtmlEscaped();
}

// What the run left out, and why, for the end text; "" when it left nothing out.
QString skippedText(const JobOutcome& outcome)
{
    QString text;
    if (const std::string leftOut = leftOutSummary(outcome.leftOut); !leftOut.empty())
        text += QStringLiteral("<br>") + QString::fromStdString(leftOut).toHtmlEscaped();
    if (outcome.pagesOutside)
        text += QStringLiteral("<br>%1 %2 skipped: links lead to them outside the source folder.")
                    .arg(outcome.pagesOutside)
                    .arg(outcome.pagesOutside == 1 ? "page or folder" : "pages or folders");
    if (outcome.pagesOwnerMayNot)
        text += QStringLiteral("<br>%1 not published: the source folder's owner may not read them.")
                    .arg(counted(outcome.pagesOwnerMayNot, "page"));
    if (outcome.textsCut)
        text += QStringLiteral("<br>%1 cut to keep the output within bounds.").arg(counted(outcome.textsCut, "page text"));
    if (outcome.pagesWordsLeftOut)
        text += QStringLiteral("<br>%1 reached again through links listed without words, to keep the output within bounds.")
                    .arg(counted(outcome.pagesWordsLeftOut, "page"));
    return text;
}

}  // namespace

RunPage::RunPage(Wizard& wizard) : WizardPage(wizard), m_ui(std::make_unique<Ui::RunPage>())
{
    m_ui->setupUi(this);
    setUpPage(m_ui->helpButton);
    m_ui->outcomeLabel->hide();
    m_ui->mainButton->setFocus();
    connect(m_ui->mainButton, &QPushButton::clicked, this, &RunPage::pressMainButton);
    connect(m_ui->backButton, &QPushButton::clicked, this, &RunPage::goBack);
    connect(m_ui->outcomeLabel, &QLabel::linkActivated, this, [this] { this->wizard().openUrl(m_searchPage); });
    connect(&m_run, &IndexRun::lineReported, m_ui->progressList, &ProgressList::appendLine);
    connect(&m_run, &IndexRun::jobEnded, this, &RunPage::jobEnded);
}

RunPage::~RunPage() = default;

void RunPage::endRuns(std::function<void()> whenEnded)
{
    m_run.endAll(std::move(whenEnded));
}

void RunPage::pressMainButton()
{
    switch (m_state) {
    case State::Finished: wizard().closeAll(); break;
    case State::Running:
        m_run.stop();
        setState(State::Stopping);
        break;
    case State::Ready:
    case State::Stopping: startRun(); break;
    }
}

void RunPage::goBack()
{
    // A run goes on, and its later lines go into the hidden list.
    hide();
    m_ui->progressList->clearLines();
    showReadyText();
    if (m_state == State::Finished)
        setState(State::Ready);
    wizard().showPage(this, wizard().optionsPage());
}

void RunPage::startRun()
{
    JobSettings settings = currentSettings();
    if (!mayReplaceForeignFiles(settings))
        return;
    // After a Stop the stopped run's last lines still come, and the new run's follow.
    if (m_state == State::Ready) {
        m_ui->progressList->clearLines();
        showReadyText();
    }
    const quint64 job = m_run.start(settings);
    if (job == 0) {
        wizard().warn(this, QStringLiteral("VantrelIndexer Warning!"), QStringLiteral("Cannot create thread!"));
        return;
    }
    m_job = job;
    m_jobSettings = settings;
    setState(State::Running);
}

void RunPage::jobEnded(quint64 job, const JobOutcome& outcome)
{
    m_ui->progressList->showEnd();
    if (job != m_job)
        return;  // a stopped run that the page's run waited for
    showOutcome(outcome);
    setState(isVisible() ? State::Finished : State::Ready);
}

void RunPage::setState(State state)
{
    m_state = state;
    static const char* const labels[] = {"Start", "Stop", "Start", "Close"};
    m_ui->mainButton->setText(QLatin1String(labels[static_cast<int>(state)]));
}

JobSettings RunPage::currentSettings() const
{
    const OptionsPage* options = wizard().optionsPage();
    const FolderPage* folders = wizard().folderPage();
    JobSettings settings;
    settings.sourceFolder = QFile::encodeName(folders->sourceFolder()).toStdString();
    settings.destinationFolder = QFile::encodeName(folders->destinationFolder()).toStdString();
    settings.contentMode = options->contentMode();
    settings.pathMode = options->pathMode();
    settings.urlPrefix = options->urlPrefix().toStdString();
    // The command line's page cache: a run after a few pages changed reads only those.
    settings.cacheFolder = defaultCacheFolder(settings.destinationFolder);
    return settings;
}

bool RunPage::mayReplaceForeignFiles(JobSettings& settings)
{
    const std::vector<std::string> foreign = foreignFiles(settings);
    if (foreign.empty())
        return true;
    QString text = QStringLiteral("These files in the destination folder were not written by VantrelIndexer:\n\n");
    for (const std::string& path : foreign)
        text += ProgressList::printableLine(path) + QLatin1Char('\n');
    text += QStringLiteral("\nReplace them?");
    settings.overwrite = wizard().ask(this, QStringLiteral("VantrelIndexer Warning!"), text);
    return settings.overwrite;
}

void RunPage::showReadyText()
{
    m_ui->outcomeLabel->hide();
    m_ui->readyLabel->show();
}

void RunPage::showOutcome(const JobOutcome& outcome)
{
    QLabel* label = m_ui->outcomeLabel;
    const QString made = counted(outcome.pages, "page") + QStringLiteral(", ") + counted(outcome.words, "word");
    QString text;
    bool linked = false;
    switch (outcome.result) {
    case JobResult::Complete:
        if (!outcome.outputFailures.empty()) {
            text = QStringLiteral("Indexing complete: %1, but the search page is not complete:<br>%2")
                       .arg(made, shownName(label, outcome.outputFailures.front()));
        } else if (outcome.pages == 0) {
            text = QStringLiteral("Indexing complete, but the source folder holds no pages (files whose names "
                                  "contain \".htm\").");
            linked = true;
        } else if (outcome.words == 0) {
            const ContentMode mode = m_jobSettings.contentMode;
            text = QStringLiteral("Indexing complete: %1, but no words%2.")
                       .arg(counted(outcome.pages, "page"),
                            mode == ContentMode::Keywords ? ": none of the pages has META keywords" : "");
            QStringList better;
            for (ContentMode more : {ContentMode::KeywordsTitlesHeaders, ContentMode::AllContent})
                if (more > mode)
                    better << QLatin1Char('"') + wizard().optionsPage()->contentOptionText(more).toHtmlEscaped()
                                  + QLatin1Char('"');
            if (!better.isEmpty())
                text += QStringLiteral(" To index their text, go &lt;&lt;Back and choose %1.")
                            .arg(better.join(QStringLiteral(" or ")));
            linked = true;
        } else {
            text = QStringLiteral("Indexing complete: %1.").arg(made);
            linked = true;
        }
        break;
    case JobResult::Stopped: text = QStringLiteral("Indexing stopped; the old index is kept."); break;
    case JobResult::NotWritten:
        text = QStringLiteral("The index could not be written; the old index is kept.<br>%1")
                   .arg(shownName(label, outcome.failure));
        break;
    case JobResult::Refused:
        text = QStringLiteral("Nothing was indexed: the destination folder holds files that VantrelIndexer did "
                              "not write.");
        if (!outcome.failure.empty())  // the source folder's ignore file cannot be used
            text = QStringLiteral("Nothing was indexed:<br>%1").arg(shownName(label, outcome.failure));
        for (const std::string& folder : foreignFolders(m_jobSettings))
            text = QStringLiteral("Nothing was indexed: VantrelIndexer writes only into folders of its own that "
                                  "nobody else may change.<br>%1")
                       .arg(shownName(label, folder));
        break;
    }
    if (outcome.result == JobResult::Complete || outcome.result == JobResult::Stopped)
        text += skippedText(outcome);
    if (linked) {
        const QString searchPage =
            QFileInfo(QFile::decodeName(m_jobSettings.destinationFolder.c_str()) + QStringLiteral("/search.html"))
                .absoluteFilePath();
        m_searchPage = QUrl::fromLocalFile(searchPage);
        const QString before = QStringLiteral("Search page: ");
        text += QStringLiteral("<br>%1<a href=\"search.html\">%2</a>")
                    .arg(before, shownName(label, QFile::encodeName(searchPage).toStdString(), before));
    }
    label->setText(text);
    m_ui->readyLabel->hide();
    label->show();
}
