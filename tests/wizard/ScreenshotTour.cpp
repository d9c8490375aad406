// vantrel-screenshots FOLDER SOURCE DESTINATION: walks through the four pages as a
// person does, indexing SOURCE into DESTINATION, and saves each page as it looks into
// FOLDER (1-welcome.png ... 4-run.png). For the documentation's pictures; not installed.

#include "WizardDriver.h"

#include <QPixmap>

#include <cstdio>

namespace {

bool save(QWidget* page, const QString& folder, const char* name)
{
    QTest::qWait(300);  // let the window settle and paint
    const QString path = QDir(folder).filePath(QLatin1String(name));
    if (page->grab().save(path))
        return true;
    std::fprintf(stderr, "Cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 4) {
        std::fprintf(stderr, "Usage: vantrel-screenshots FOLDER SOURCE DESTINATION\n");
        return 2;
    }
    const QString& folder = arguments.at(1);
    QDir().mkpath(folder);
    Wizard wizard;
    QApplication::setWindowIcon(WizardPage::applicationIcon());
    wizard.start();
    bool saved = save(wizard.welcomePage(), folder, "1-welcome.png");
    click(wizard.welcomePage(), "nextButton");
    control<QLineEdit>(wizard.folderPage(), "sourceEdit")->setText(arguments.at(2));
    control<QLineEdit>(wizard.folderPage(), "destinationEdit")->setText(arguments.at(3));
    saved = save(wizard.folderPage(), folder, "2-folders.png") && saved;
    click(wizard.folderPage(), "nextButton");
    saved = save(wizard.optionsPage(), folder, "3-options.png") && saved;
    click(wizard.optionsPage(), "allContentRadio");
    click(wizard.optionsPage(), "nextButton");
    RunPage* page = wizard.runPage();
    click(page, "mainButton");
    if (!QTest::qWaitFor([page] { return text(page, "mainButton") == QLatin1String("Close"); }, 120000)) {
        std::fprintf(stderr, "The run did not end.\n");
        return 1;
    }
    saved = save(page, folder, "4-run.png") && saved;
    return saved ? 0 : 1;
}
