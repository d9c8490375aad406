// vantrelindexer: the wizard that builds a site's search index.

#include "Wizard.h"
#include "WizardPage.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv)
{
    // A full file-size limit must fail a write of the index, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VantrelIndexer"));
    QApplication::setDesktopFileName(QStringLiteral("vantrelindexer"));
    // Pages are hidden and shown; the application ends only by the wizard's close path,
    // after a running run has ended.
    QApplication::setQuitOnLastWindowClosed(false);

    Wizard wizard;
    QApplication::setWindowIcon(WizardPage::applicationIcon());
    QObject::connect(&wizard, &Wizard::finished, &app, [] { QApplication::exit(0); }, Qt::QueuedConnection);
    wizard.start();
    return app.exec();
}
