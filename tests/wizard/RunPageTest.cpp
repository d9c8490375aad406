// The run page: whole runs, Stop, "<<Back" during and after a run, a Start while a
// stopped run is still ending, and closing the application during a run.

#include "WizardDriver.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

class RunPageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void runWritesWhatTheCommandLineWrites_data();
    void runWritesWhatTheCommandLineWrites();
    void stopDuringWalkEndsInterrupted();
    void backDuringAndAfterRun();
    void startWhileStoppedRunEndsWaitsForIt();
    void closingDuringRunStopsAndEndsCleanly();

private:
    QString path(const QString& relative) const { return m_folders->filePath(relative); }
    // The final line is shown and the worker has ended.
    static bool runEnded(RunPage* page)
    {
        const QStringList shown = lines(page);
        return !shown.isEmpty()
            && (shown.constLast() == QLatin1String("Indexing complete!")
                || shown.constLast() == QLatin1String("Indexing interrupted!"))
            && (!page->workerThread() || page->workerThread()->isFinished());
    }

    std::unique_ptr<QTemporaryDir> m_folders;
    std::unique_ptr<Wizard> m_wizard;
};

void RunPageTest::init()
{
    m_folders = std::make_unique<QTemporaryDir>();
    writeSite(path(QStringLiteral("site")), 60);
    QDir().mkpath(path(QStringLiteral("index")));
    m_wizard = std::make_unique<Wizard>();
    m_wizard->setUrlOpener([](const QUrl&) {});
}

void RunPageTest::cleanup()
{
    m_wizard.reset();
    m_folders.reset();
}

void RunPageTest::runWritesWhatTheCommandLineWrites_data()
{
    QTest::addColumn<QString>("pathRadio");
    QTest::addColumn<QString>("contentRadio");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("pages");
    QTest::newRow("relative, keywords") << "relativePathRadio" << "keywordsRadio" << ""
                                        << QStringList{"--path", "relative", "--content", "keywords"} << 60;
    QTest::newRow("full path, headers") << "fullPathRadio" << "keywordsTitlesHeadersRadio" << ""
                                        << QStringList{"--path", "full", "--content", "headers"} << 60;
    QTest::newRow("URL prefix, all content")
        << "urlPrefixRadio" << "allContentRadio" << "http://example.org\\docs"
        << QStringList{"--path", "url", "--url-prefix", "http://example.org\\docs", "--content", "all"} << 60;
    // Beyond a thousand lines the list takes them in batches.
    QTest::newRow("long run") << "relativePathRadio" << "allContentRadio" << ""
                              << QStringList{"--path", "relative", "--content", "all"} << 900;
}

void RunPageTest::runWritesWhatTheCommandLineWrites()
{
    QFETCH(QString, pathRadio);
    QFETCH(QString, contentRadio);
    QFETCH(QString, prefix);
    QFETCH(QStringList, options);
    QFETCH(int, pages);
    writeSite(path(QStringLiteral("site")), pages);
    const QString source = path(QStringLiteral("site"));
    const QString destination = path(QStringLiteral("index"));
    RunPage* page = goToRunPage(*m_wizard, source, destination, qPrintable(pathRadio), qPrintable(contentRadio), prefix);
    QCOMPARE(visiblePages(), QList<QWidget*>{page});
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Start"));

    click(page, "mainButton");
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Stop"));
    QVERIFY(serveRunUntil(page, [&] { return runEnded(page); }));
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Close"));
    QListWidget* list = control<QListWidget>(page, "progressList");
    QVERIFY(list->selectedItems().isEmpty());

    // The command line with the same settings prints the same lines and writes the
    // same files.
    QDir().mkpath(path(QStringLiteral("cli")));
    QProcess cli;
    cli.start(QStringLiteral(CLI_PROGRAM),
              options + QStringList{QStringLiteral("--verbose"), source, path(QStringLiteral("cli"))});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    const QStringList cliLines = QString::fromLocal8Bit(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines(page), cliLines);
    QCOMPARE(lines(page).constLast(), QStringLiteral("Indexing complete!"));
    for (const char* name :
         {"indexed_words.js", "indexed_docs.js", "search.html", "search.js", "search_top.html", "search.css"}) {
        QFile wizardFile(QDir(destination).filePath(QLatin1String(name)));
        QFile cliFile(path(QStringLiteral("cli/")) + QLatin1String(name));
        QVERIFY2(wizardFile.open(QIODevice::ReadOnly), name);
        QVERIFY2(cliFile.open(QIODevice::ReadOnly), name);
        QVERIFY2(wizardFile.readAll() == cliFile.readAll(), name);
    }

    QSignalSpy finished(m_wizard.get(), &Wizard::finished);
    click(page, "mainButton");
    QCOMPARE(finished.count(), 1);
}

void RunPageTest::stopDuringWalkEndsInterrupted()
{
    RunPage* page = goToRunPage(*m_wizard, path(QStringLiteral("site")), path(QStringLiteral("index")));
    click(page, "mainButton");
    QVERIFY(serveRunUntil(page, [&] { return lines(page).contains(QStringLiteral("Done!")); }));
    click(page, "mainButton");
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Start"));
    QVERIFY(!page->runFinished());
    QVERIFY(!page->workerThread());

    QVERIFY(serveRunUntil(page, [&] { return runEnded(page); }));
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Close"));
    const QStringList shown = lines(page);
    QCOMPARE(shown.constLast(), QStringLiteral("Indexing interrupted!"));
    QCOMPARE(shown.at(shown.size() - 2), QStringLiteral("Creating index ..."));
    QVERIFY(shown.count(QStringLiteral("Done!")) < 60);
    // Stopped before the index was written: no index files, but the search page.
    const QDir destination(path(QStringLiteral("index")));
    QVERIFY(!destination.exists(QStringLiteral("indexed_words.js")));
    QVERIFY(!destination.exists(QStringLiteral("indexed_docs.js")));
    QVERIFY(destination.exists(QStringLiteral("search.html")));
}

void RunPageTest::backDuringAndAfterRun()
{
    RunPage* page = goToRunPage(*m_wizard, path(QStringLiteral("site")), path(QStringLiteral("index")));
    click(page, "mainButton");
    QVERIFY(serveRunUntil(page, [&] { return lines(page).size() >= 4; }));
    QThread* worker = page->workerThread();
    click(page, "backButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->optionsPage()});
    QVERIFY(lines(page).isEmpty());
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Start"));
    QCOMPARE(page->workerThread(), worker);

    // The run is not stopped: it completes, writing into the hidden page.
    QVERIFY(serveRunUntil(page, [&] { return runEnded(page); }));
    QCOMPARE(lines(page).constLast(), QStringLiteral("Indexing complete!"));
    QVERIFY(QFile::exists(path(QStringLiteral("index/indexed_docs.js"))));
    click(m_wizard->optionsPage(), "nextButton");
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Close"));

    // Back after the run: the first press only forgets the ended worker, the second
    // starts a new run.
    click(page, "backButton");
    click(m_wizard->optionsPage(), "nextButton");
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Start"));
    QVERIFY(lines(page).isEmpty());
    click(page, "mainButton");
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Start"));
    QVERIFY(!page->workerThread());
    QTest::qWait(50);
    QVERIFY(lines(page).isEmpty());
    click(page, "mainButton");
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Stop"));
    QVERIFY(serveRunUntil(page, [&] { return runEnded(page); }));
    QCOMPARE(lines(page).constLast(), QStringLiteral("Indexing complete!"));
    QCOMPARE(lines(page).count(QStringLiteral("Creating index ...")), 1);
}

void RunPageTest::startWhileStoppedRunEndsWaitsForIt()
{
    RunPage* page = goToRunPage(*m_wizard, path(QStringLiteral("site")), path(QStringLiteral("index")));
    click(page, "mainButton");
    QVERIFY(serveRunUntil(page, [&] { return lines(page).contains(QStringLiteral("Done!")); }));
    click(page, "mainButton");  // Stop: the run still has lines to hand over
    click(page, "mainButton");  // Start again at once
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Stop"));
    QThread* waiting = page->workerThread();
    QVERIFY(waiting);
    QVERIFY(!waiting->isRunning());

    // The old run ends before the new one writes its first line; the button stays
    // "Stop" for the new run and reads "Close" when it has ended.
    QVERIFY(serveRunUntil(page, [&] { return lines(page).contains(QStringLiteral("Indexing interrupted!")); }));
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Stop"));
    QVERIFY(!page->runFinished());
    const int oldRunLines = static_cast<int>(lines(page).size());
    QVERIFY(serveRunUntil(page, [&] { return page->runFinished(); }));
    QCOMPARE(text(page, "mainButton"), QStringLiteral("Close"));
    QVERIFY(serveRunUntil(page, [&] { return page->workerThread()->isFinished(); }));
    const QStringList shown = lines(page);
    QCOMPARE(shown.count(QStringLiteral("Creating index ...")), 2);
    QCOMPARE(shown.at(oldRunLines - 2), QStringLiteral("Creating index ..."));
    QCOMPARE(shown.at(oldRunLines - 1), QStringLiteral("Indexing interrupted!"));
    QCOMPARE(shown.mid(oldRunLines).count(QStringLiteral("Done!")), 60);
    QCOMPARE(shown.mid(oldRunLines).count(QStringLiteral("Creating index ...")), 1);
    QCOMPARE(shown.constLast(), QStringLiteral("Indexing complete!"));
    QVERIFY(control<QListWidget>(page, "progressList")->selectedItems().isEmpty());
    QVERIFY(QFile::exists(path(QStringLiteral("index/indexed_docs.js"))));
}

void RunPageTest::closingDuringRunStopsAndEndsCleanly()
{
    RunPage* page = goToRunPage(*m_wizard, path(QStringLiteral("site")), path(QStringLiteral("index")));
    QSignalSpy finished(m_wizard.get(), &Wizard::finished);
    click(page, "mainButton");
    QVERIFY(serveRunUntil(page, [&] { return lines(page).contains(QStringLiteral("Done!")); }));
    QThread* worker = page->workerThread();

    // The worker is waiting for the page to take its next line while the page closes.
    page->close();
    QVERIFY(visiblePages().isEmpty());
    QCOMPARE(finished.count(), 0);
    const QStringList shownAtClose = lines(page);
    QVERIFY(serveRunUntil(page, [&] { return finished.count() == 1; }));
    QVERIFY(worker->isFinished());
    QCOMPARE(lines(page), shownAtClose);
    // Nothing half-written is left behind.
    const QStringList left = QDir(path(QStringLiteral("index"))).entryList(QDir::Files);
    for (const QString& name : left)
        QVERIFY2(!name.contains(QStringLiteral(".tmp")), qPrintable(name));
    QVERIFY(!left.contains(QStringLiteral("indexed_words.js")));
}

QTEST_MAIN(RunPageTest)
#include "RunPageTest.moc"
