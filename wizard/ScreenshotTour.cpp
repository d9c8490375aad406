#include "ScreenshotTour.h"

#include "FolderPage.h"
#include "OptionsPage.h"
#include "RunPage.h"
#include "WelcomePage.h"
#include "Wizard.h"

#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kSettleMs = 300;

void save(QWidget* page, const QString& folder, const QString& name)
{
    const QString path = QDir(folder).filePath(name);
    if (!page->grab().save(path))
        std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
}

void click(QWidget* page, const char* button)
{
    page->findChild<QAbstractButton*>(QLatin1String(button))->click();
}

// Saves the run page once its run has ended, looking again every settle interval.
void saveWhenFinished(Wizard& wizard, const QString& folder)
{
    RunPage* page = wizard.runPage();
    if (!page->runFinished()) {
        QTimer::singleShot(kSettleMs, &wizard, [&wizard, folder] { saveWhenFinished(wizard, folder); });
        return;
    }
    QTimer::singleShot(kSettleMs, &wizard, [&wizard, page, folder] {
        save(page, folder, QStringLiteral("4-run.png"));
        wizard.closeAll();
    });
}

}  // namespace

void takeScreenshots(Wizard& wizard, const QString& folder, const QString& source, const QString& destination)
{
    QDir().mkpath(folder);
    wizard.start();
    QTimer::singleShot(kSettleMs, &wizard, [&wizard, folder, source, destination] {
        save(wizard.welcomePage(), folder, QStringLiteral("1-welcome.png"));
        click(wizard.welcomePage(), "nextButton");
        FolderPage* folders = wizard.folderPage();
        folders->findChild<QLineEdit*>(QStringLiteral("sourceEdit"))->setText(source);
        folders->findChild<QLineEdit*>(QStringLiteral("destinationEdit"))->setText(destination);
        QTimer::singleShot(kSettleMs, &wizard, [&wizard, folder] {
            save(wizard.folderPage(), folder, QStringLiteral("2-folders.png"));
            click(wizard.folderPage(), "nextButton");
            QTimer::singleShot(kSettleMs, &wizard, [&wizard, folder] {
                save(wizard.optionsPage(), folder, QStringLiteral("3-options.png"));
                click(wizard.optionsPage(), "allContentRadio");
                click(wizard.optionsPage(), "nextButton");
                click(wizard.runPage(), "mainButton");
                saveWhenFinished(wizard, folder);
            });
        });
    });
}
