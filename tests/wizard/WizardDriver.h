#pragma once

// Drives the wizard's pages as a person does: clicks, typed text, answers to warnings.

#include "FolderPage.h"
#include "OptionsPage.h"
#include "RunPage.h"
#include "WelcomePage.h"
#include "Wizard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QThread>

#include <functional>

template <class Control = QAbstractButton> Control* control(QWidget* page, const char* name)
{
    Control* found = page->findChild<Control*>(QLatin1String(name));
    if (!found)
        qFatal("%s has no control %s", qPrintable(page->objectName()), name);
    return found;
}

inline void click(QWidget* page, const char* button) { QTest::mouseClick(control(page, button), Qt::LeftButton); }

inline void type(QWidget* page, const char* edit, const QString& text)
{
    QLineEdit* box = control<QLineEdit>(page, edit);
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

inline QString text(QWidget* page, const char* button) { return control(page, button)->text(); }

inline QStringList lines(QWidget* page)
{
    QStringList all;
    QListWidget* list = control<QListWidget>(page, "progressList");
    for (int row = 0; row < list->count(); ++row)
        all << list->item(row)->text();
    return all;
}

// The wizard pages on screen.
inline QList<QWidget*> visiblePages()
{
    QList<QWidget*> pages;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && qobject_cast<WizardPage*>(window))
            pages << window;
    return pages;
}

// Serves the worker's hand-overs one at a time until condition holds. The worker waits
// for the page at every line, so between two calls the run stands still.
inline bool serveRunUntil(const std::function<bool()>& condition, int timeoutMs = 120000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.hasExpired(timeoutMs))
            return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QThread::usleep(100);
    }
    return true;
}

// Writes bytes into the file at path, making its folder; false when it cannot.
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Writes count pages with keywords, a title, a header and text into folder.
inline void writeSite(const QString& folder, int count)
{
    for (int i = 0; i < count; ++i)
        writeFile(QStringLiteral("%1/%2page%3.html").arg(folder, i % 3 ? "" : "sub/").arg(i, 4, 10, QLatin1Char('0')),
                  QStringLiteral("<html><head><title>Page %1</title>"
                                 "<meta name=\"keywords\" content=\"alpha word%1 beta\"></head>"
                                 "<body><h1>Header %1</h1><p>Some text about topic%2 and more.</p></body></html>")
                      .arg(i)
                      .arg(i % 7)
                      .toUtf8());
}

// The steps a person takes from the first page to the folder page, typing both folders.
inline FolderPage* goToFolderPage(Wizard& wizard, const QString& source, const QString& destination)
{
    wizard.start();
    click(wizard.welcomePage(), "nextButton");
    type(wizard.folderPage(), "sourceEdit", source);
    type(wizard.folderPage(), "destinationEdit", destination);
    return wizard.folderPage();
}

// ... and on to the run page.
inline RunPage* goToRunPage(Wizard& wizard, const QString& source, const QString& destination,
                            const char* pathRadio = "relativePathRadio", const char* contentRadio = "keywordsRadio",
                            const QString& prefix = QString())
{
    click(goToFolderPage(wizard, source, destination), "nextButton");
    click(wizard.optionsPage(), pathRadio);
    click(wizard.optionsPage(), contentRadio);
    if (!prefix.isEmpty())
        type(wizard.optionsPage(), "urlPrefixEdit", prefix);
    click(wizard.optionsPage(), "nextButton");
    return wizard.runPage();
}
