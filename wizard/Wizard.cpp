#include "Wizard.h"

#include "FolderPage.h"
#include "OptionsPage.h"
#include "RunPage.h"
#include "SearchPageFiles.h"
#include "WelcomePage.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>

#include <sys/stat.h>

namespace {

bool fileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

Wizard::Wizard()
    : m_urlOpener([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      m_folderBrowser([](QWidget* owner, const QString& title, const QString& startFolder) {
          return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
      }),
      m_warningBox([](QWidget* owner, const QString& caption, const QString& text) {
          QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, owner);
          box.setTextFormat(Qt::PlainText);
          box.exec();
      }),
      m_questionBox([](QWidget* owner, const QString& caption, const QString& text) {
          QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
          box.setTextFormat(Qt::PlainText);  // the text may hold file names
          box.setDefaultButton(QMessageBox::No);
          return box.exec() == QMessageBox::Yes;
      })
{
    Q_INIT_RESOURCE(wizard);
}

Wizard::~Wizard()
{
    // The run page first: it waits for a job that is still ending.
    delete m_runPage;
    delete m_optionsPage;
    delete m_folderPage;
    delete m_welcomePage;
}

template <class Page> Page* Wizard::page(Page*& slot)
{
    if (!slot)
        slot = new Page(*this);
    return slot;
}

WelcomePage* Wizard::welcomePage() { return page(m_welcomePage); }
FolderPage* Wizard::folderPage() { return page(m_folderPage); }
OptionsPage* Wizard::optionsPage() { return page(m_optionsPage); }
RunPage* Wizard::runPage() { return page(m_runPage); }

void Wizard::start()
{
    showPage(nullptr, welcomePage());
}

void Wizard::showPage(WizardPage* from, WizardPage* to)
{
    if (from)
        from->hide();
    QScreen* screen = from ? from->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        const QSize frame = to->frameGeometry().size();
        to->move(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
    }
    to->show();
    to->activateWindow();
}

void Wizard::openHelp(WizardPage*)
{
    const std::string folder = programFolder();
    std::string helpFile = programResourcePath(folder, "Orvandle.chm");
    if (!fileExists(helpFile)) {
        const std::string guide = programResourcePath(folder, "Orvandle.html");
        if (fileExists(guide))
            helpFile = guide;
    }
    openUrl(QUrl::fromLocalFile(QFile::decodeName(helpFile.c_str())));
}

void Wizard::openUrl(const QUrl& url)
{
    m_urlOpener(url);
}

void Wizard::warn(WizardPage* page, const QString& caption, const QString& text)
{
    m_warningBox(page, caption, text);
}

bool Wizard::ask(WizardPage* page, const QString& caption, const QString& text)
{
    return m_questionBox(page, caption, text);
}

QString Wizard::browseForFolder(WizardPage* page, const QString& title, const QString& startFolder)
{
    return m_folderBrowser(page, title, startFolder);
}

void Wizard::closeAll()
{
    if (m_closing)
        return;
    m_closing = true;
    for (WizardPage* page : std::initializer_list<WizardPage*>{m_welcomePage, m_folderPage, m_runPage, m_optionsPage})
        if (page)
            page->hide();
    if (m_runPage)
        m_runPage->endRuns([this] { Q_EMIT finished(); });
    else
        Q_EMIT finished();
}
