#pragma once

#include <QObject>
#include <QString>

#include <functional>

class FolderPage;
class OptionsPage;
class QUrl;
class QWidget;
class RunPage;
class WelcomePage;
class WizardPage;

// The four pages of the wizard and what they share: moving between pages, help,
// warnings, folder browsing and ending the application. Each page is made on its first
// visit and afterwards only hidden and shown, so what the user entered survives.
class Wizard : public QObject {
    Q_OBJECT
public:
    // The desktop services that open a window of their own. Tests replace them so that
    // nothing modal blocks; the defaults use Qt's dialogs and the desktop's handler.
    using UrlOpener = std::function<void(const QUrl& url)>;
    using FolderBrowser =
        std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)>;
    using WarningBox = std::function<void(QWidget* owner, const QString& caption, const QString& text)>;
    // True for "Yes".
    using QuestionBox = std::function<bool(QWidget* owner, const QString& caption, const QString& text)>;

    Wizard();
    ~Wizard() override;

    // Shows the first page, centred.
    void start();

    // The pages, each made on first use.
    WelcomePage* welcomePage();
    FolderPage* folderPage();
    OptionsPage* optionsPage();
    RunPage* runPage();

    // Hides from, then shows to centred on the screen's work area.
    void showPage(WizardPage* from, WizardPage* to);

    // Opens Orvandle.chm beside the program or, when there is none, the user guide
    // Orvandle.html, with the desktop's handler. Says nothing when that fails.
    void openHelp(WizardPage* page);

    // Opens a file or address with the desktop's handler.
    void openUrl(const QUrl& url);

    // A modal warning owned by page: warning icon, one OK button. The text is plain.
    void warn(WizardPage* page, const QString& caption, const QString& text);

    // A modal question owned by page: warning icon, "Yes" and "No", "No" the default.
    bool ask(WizardPage* page, const QString& caption, const QString& text);

    // Asks for a folder; an empty text when the user cancels.
    QString browseForFolder(WizardPage* page, const QString& title, const QString& startFolder);

    // Hides every page, lets a running run stop and end, then emits finished().
    void closeAll();

    void setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }
    void setFolderBrowser(FolderBrowser browser) { m_folderBrowser = std::move(browser); }
    void setWarningBox(WarningBox box) { m_warningBox = std::move(box); }
    void setQuestionBox(QuestionBox box) { m_questionBox = std::move(box); }

Q_SIGNALS:
    // The application should end now.
    void finished();

private:
    template <class Page> Page* page(Page*& slot);

    WelcomePage* m_welcomePage = nullptr;
    FolderPage* m_folderPage = nullptr;
    OptionsPage* m_optionsPage = nullptr;
    RunPage* m_runPage = nullptr;
    bool m_closing = false;
    UrlOpener m_urlOpener;
    FolderBrowser m_folderBrowser;
    WarningBox m_warningBox;
    QuestionBox m_questionBox;
};
