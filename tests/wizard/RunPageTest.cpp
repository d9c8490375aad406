// The run page: what a run hands to the job and shows, what the main button does in
// every state, a Stop before the job has begun, a site's own files, hostile names, and
// closing the application during a run.

#include "WizardDriver.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <memory>

class RunPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_folders;
    std::unique_ptr<Wizard> m_wizard;
    QList<QUrl> m_opened;
    QStringList m_questions;
    bool m_answer = false;

    QString path(const QString& relative) const { return m_folders->filePath(relative); }
    RunPage* runPage(const char* contentRadio = "keywordsRadio")
    {
        return goToRunPage(*m_wizard, path("site"), path("index"), "relativePathRadio", contentRadio);
    }
    static bool outcomeShown(RunPage* page) { return !control<QLabel>(page, "outcomeLabel")->isHidden(); }
    static QString outcome(RunPage* page)
    {
        QTextDocument shown;
        shown.setHtml(control<QLabel>(page, "outcomeLabel")->text());
        return shown.toPlainText();
    }
    // The page shows label on its main button over an empty list or not.
    static bool shows(RunPage* page, const char* label, bool emptyList)
    {
        return text(page, "mainButton") == QLatin1String(label) && lines(page).isEmpty() == emptyList;
    }

private Q_SLOTS:
    void init()
    {
        m_folders = std::make_unique<QTemporaryDir>();
        writeSite(path("site"), 60);
        QDir().mkpath(path("index"));
        m_wizard = std::make_unique<Wizard>();
        m_opened.clear();
        m_questions.clear();
        m_wizard->setUrlOpener([this](const QUrl& url) { m_opened << url; });
        m_wizard->setQuestionBox([this](QWidget*, const QString&, const QString& text) {
            m_questions << text;
            return m_answer;
        });
    }

    void cleanup()
    {
        m_wizard.reset();
        m_folders.reset();
    }

    void runMatchesTheCommandLine_data()
    {
        QTest::addColumn<QString>("pathRadio");
        QTest::addColumn<QString>("contentRadio");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("pages");
        QTest::newRow("relative, keywords") << "relativePathRadio" << "keywordsRadio" << ""
                                            << "--path relative --content keywords" << 60;
        QTest::newRow("full path, headers") << "fullPathRadio" << "keywordsTitlesHeadersRadio" << ""
                                            << "--path full --content headers" << 60;
        QTest::newRow("URL prefix, all") << "urlPrefixRadio" << "allContentRadio" << "http://example.org\\docs"
                                         << "--path url --url-prefix http://example.org\\docs --content all" << 60;
        // Beyond a thousand lines the list takes them in batches.
        QTest::newRow("long run") << "relativePathRadio" << "keywordsTitlesRadio" << ""
                                  << "--path relative --content titles" << 900;
    }

    void runMatchesTheCommandLine()
    {
        QFETCH(QString, pathRadio);
        QFETCH(QString, contentRadio);
        QFETCH(QString, prefix);
        QFETCH(QString, options);
        QFETCH(int, pages);
        writeSite(path("site"), pages);
        RunPage* page = goToRunPage(*m_wizard, path("site"), path("index"), qPrintable(pathRadio),
                                    qPrintable(contentRadio), prefix);
        click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QVERIFY(control<QListWidget>(page, "progressList")->selectedItems().isEmpty());

        // Every line the job reported reaches the list in order (the lines themselves are
        // the engine's); the settings reach the job as the command line's options do.
        const QStringList shown = lines(page);
        QCOMPARE(shown.size(), 2 * pages + 2);
        QCOMPARE(shown.count(QStringLiteral("Done!")), pages);
        QCOMPARE(shown.mid(shown.size() - 2), (QStringList{"Creating index ...", "Indexing complete!"}));
        QProcess cli;
        cli.start(CLI_PROGRAM, options.split(' ') + QStringList{"--quiet", path("site"), path("cli")});
        QVERIFY(cli.waitForFinished(60000));
        QByteArray words;
        for (const char* name : {"indexed_docs.js", "indexed_words.js"}) {
            QFile wizardFile(path("index/") + name), cliFile(path("cli/") + name);
            QVERIFY(wizardFile.open(QIODevice::ReadOnly) && cliFile.open(QIODevice::ReadOnly));
            words = wizardFile.readAll();
            QVERIFY2(words == cliFile.readAll(), name);
        }
        QCOMPARE(outcome(page).section('\n', 0, 0),
                 QStringLiteral("Indexing complete: %1 pages, %2 words.").arg(pages).arg(words.count("[\"")));
        QSignalSpy finished(m_wizard.get(), &Wizard::finished);
        click(page, "mainButton");  // "Close"
        QCOMPARE(finished.count(), 1);
    }

    void endTextSaysWhatWasMade_data()
    {
        QTest::addColumn<QString>("contentRadio");
        QTest::addColumn<bool>("wordsFileBlocked");
        QTest::addColumn<QString>("expected");  // INDEX stands for the destination
        QTest::newRow("no keywords")
            << "keywordsRadio" << false
            << "Indexing complete: 2 pages, but no words: none of the pages has META keywords. To index their text, "
               "go <<Back and choose \"Keywords+titles+headers\" or \"All content\".\nSearch page: INDEX/search.html";
        QTest::newRow("no words in titles")
            << "keywordsTitlesRadio" << false
            << "Indexing complete: 2 pages, but no words. To index their text, go <<Back and choose "
               "\"Keywords+titles+headers\" or \"All content\".\nSearch page: INDEX/search.html";
        QTest::newRow("not written") << "allContentRadio" << true
                                     << "The index could not be written; the old index is kept.\n"
                                        "INDEX/indexed_words.js: Is a directory";
    }

    void endTextSaysWhatWasMade()
    {
        QFETCH(QString, contentRadio);
        QFETCH(bool, wordsFileBlocked);
        QFETCH(QString, expected);
        QDir(path("site")).removeRecursively();
        for (const char* name : {"a.html", "b.html"})
            QVERIFY(writeFile(path("site/") + name, "<html><body><p>Text without a title.</p></body></html>"));
        if (wordsFileBlocked)
            QDir().mkpath(path("index/indexed_words.js"));
        RunPage* page = runPage(qPrintable(contentRadio));
        click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QCOMPARE(outcome(page), expected.replace(QStringLiteral("INDEX"), path("index")));
        QVERIFY(control<QLabel>(page, "readyLabel")->isHidden());
    }

    // A second run over the same site takes every page from the cache: the index in
    // place is left as it stands, not written again.
    void aSecondRunOfAnUnchangedSiteLeavesTheIndexInPlace()
    {
        RunPage* page = runPage();
        click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        const QByteArray words = QFile::encodeName(path("index/indexed_words.js"));
        struct stat first {}, second {};
        QCOMPARE(::stat(words.constData(), &first), 0);
        click(page, "backButton");
        click(m_wizard->optionsPage(), "nextButton");
        click(page, "mainButton");
        QVERIFY(!outcomeShown(page));
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QVERIFY(outcome(page).startsWith(QStringLiteral("Indexing complete: 60 pages")));
        QCOMPARE(::stat(words.constData(), &second), 0);
        QCOMPARE(second.st_ino, first.st_ino);
        QCOMPARE(second.st_mtim.tv_nsec, first.st_mtim.tv_nsec);
    }

    void mainButtonNamesWhatAPressDoes()
    {
        RunPage* page = runPage();
        OptionsPage* options = m_wizard->optionsPage();
        // "<<Back" during a run empties the list and the run goes on; back on the page
        // the button stops it, and its end comes in view.
        click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return lines(page).size() >= 4; }));
        click(page, "backButton");
        QCOMPARE(visiblePages(), QList<QWidget*>{options});
        QVERIFY(lines(page).isEmpty());
        QVERIFY(serveRunUntil([&] { return lines(page).size() >= 2; }));
        click(options, "nextButton");
        QVERIFY(shows(page, "Stop", false));
        click(page, "mainButton");
        QVERIFY(shows(page, "Start", false));
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QVERIFY(shows(page, "Close", false));
        QCOMPARE(outcome(page), QStringLiteral("Indexing stopped; the old index is kept."));

        // "<<Back" after it: "Start" over an empty list, ready again; one press starts.
        click(page, "backButton");
        click(options, "nextButton");
        QVERIFY(shows(page, "Start", true));
        QVERIFY(!outcomeShown(page) && !control<QLabel>(page, "readyLabel")->isHidden());
        click(page, "mainButton");
        QVERIFY(shows(page, "Stop", true));

        // A run that ends while the page is away: "Start" beside what it made, and one
        // press starts again on an empty list.
        QVERIFY(serveRunUntil([&] { return lines(page).size() >= 4; }));
        click(page, "backButton");
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        click(options, "nextButton");
        QVERIFY(shows(page, "Start", false));
        QVERIFY(outcome(page).startsWith(QStringLiteral("Indexing complete: 60 pages")));
        click(page, "mainButton");
        QVERIFY(shows(page, "Stop", true));
        QVERIFY(!outcomeShown(page));
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QVERIFY(shows(page, "Close", false));
        QCOMPARE(lines(page).count(QStringLiteral("Done!")), 60);
    }

    void startAfterStopWaitsAndStopBeforeBeginningCounts_data()
    {
        QTest::addColumn<bool>("stopSecond");
        QTest::newRow("second run completes") << false;
        QTest::newRow("second run stopped before it begins") << true;
    }

    void startAfterStopWaitsAndStopBeforeBeginningCounts()
    {
        QFETCH(bool, stopSecond);
        RunPage* page = runPage();
        click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return lines(page).contains(QStringLiteral("Done!")); }));
        click(page, "mainButton");  // Stop: the run still has lines to hand over
        click(page, "mainButton");  // Start again at once: the new run waits
        QCOMPARE(text(page, "mainButton"), QStringLiteral("Stop"));
        if (stopSecond)
            click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QCOMPARE(text(page, "mainButton"), QStringLiteral("Close"));

        // The first run's lines, then the second's: all of them, or only its final line.
        const QStringList shown = lines(page);
        const qsizetype firstEnd = shown.indexOf(QStringLiteral("Indexing interrupted!"));
        QVERIFY(firstEnd > 0);
        QVERIFY(shown.mid(0, firstEnd).count(QStringLiteral("Done!")) < 60);
        const QStringList second = shown.mid(firstEnd + 1);
        if (stopSecond) {
            QCOMPARE(second, QStringList{"Indexing interrupted!"});
        } else {
            QCOMPARE(second.count(QStringLiteral("Done!")), 60);
            QCOMPARE(second.constLast(), QStringLiteral("Indexing complete!"));
        }
    }

    void siteFilesAreReplacedOnlyWhenTheUserSaysYes_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }

    void siteFilesAreReplacedOnlyWhenTheUserSaysYes()
    {
        QFETCH(bool, answer);
        const QByteArray own = "<html><body>The site's own search page</body></html>";
        QFile siteFile(path("index/search.html"));
        QVERIFY(writeFile(siteFile.fileName(), own));
        m_answer = answer;
        RunPage* page = runPage();
        click(page, "mainButton");
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions.constFirst().contains(siteFile.fileName()));
        if (answer)
            QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QVERIFY(answer ? shows(page, "Close", false) : shows(page, "Start", true));
        QVERIFY(siteFile.open(QIODevice::ReadOnly));
        QCOMPARE(siteFile.readAll() == own, !answer);
    }

    void hostileNamesAreShownEscaped()
    {
        // A page name with a terminal escape, a line feed, a right-to-left override and a
        // byte that is not UTF-8; a destination whose name is markup.
        const std::string file = QFile::encodeName(path("site/")).toStdString() + "a\x1b[31m\n\xe2\x80\xae\xff.html";
        std::ofstream(file) << "<title>T</title>";
        const auto removeFile = qScopeGuard([&file] { std::remove(file.c_str()); });  // QDir cannot name it
        const QString destination = path("<b>x</b>");
        QDir().mkpath(destination);
        // And a link that leads outside the site, which the wizard never follows.
        QVERIFY(writeFile(path("elsewhere.htm"), "<title>E</title>"));
        QVERIFY(QFile::link(path("elsewhere.htm"), path("site/out.htm")));
        const auto removeLink = qScopeGuard([this] { QFile::remove(path("site/out.htm")); });
        RunPage* page = goToRunPage(*m_wizard, path("site"), destination);
        click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return outcomeShown(page); }));
        QVERIFY(lines(page).contains("Parsing " + path("site/") + "a\\x1B[31m\\x0A\\u{202E}\\xFF.html..."));
        QVERIFY(outcome(page).contains("1 page or folder skipped: links lead to them outside the source folder."));
        QVERIFY(outcome(page).endsWith("Search page: " + destination + "/search.html"));
        Q_EMIT control<QLabel>(page, "outcomeLabel")->linkActivated(QStringLiteral("search.html"));
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(destination + "/search.html")});
    }

    void closingDuringRunStopsAndEndsCleanly()
    {
        RunPage* page = runPage();
        QSignalSpy finished(m_wizard.get(), &Wizard::finished);
        click(page, "mainButton");
        QVERIFY(serveRunUntil([&] { return lines(page).contains(QStringLiteral("Done!")); }));
        // The worker is waiting for the page to take its next line while the page closes.
        page->close();
        QVERIFY(visiblePages().isEmpty());
        QCOMPARE(finished.count(), 0);
        const QStringList shownAtClose = lines(page);
        QVERIFY(serveRunUntil([&] { return finished.count() == 1; }));
        QCOMPARE(lines(page), shownAtClose);
        QVERIFY(!QFile::exists(path("index/indexed_words.js")));
    }
};

QTEST_MAIN(RunPageTest)
#include "RunPageTest.moc"
