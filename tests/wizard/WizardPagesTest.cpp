// The first three pages and what all four share: moving back and forth, the folder and
// prefix checks, folder browsing, help, keys, closing and the page body. What each
// option hands to the job is in RunPageTest.

#include "SearchPageFiles.h"
#include "WizardDriver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

class WizardPagesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Wizard> m_wizard;
    QList<QUrl> m_opened;
    QStringList m_warnings;      // "caption: text"
    QStringList m_browserCalls;  // "title: start folder"
    QString m_nextBrowserAnswer;
    QTemporaryDir m_folders;
    QString m_startDirectory = QDir::currentPath();

private Q_SLOTS:
    void init()
    {
        m_wizard = std::make_unique<Wizard>();
        m_opened.clear();
        m_warnings.clear();
        m_browserCalls.clear();
        m_wizard->setUrlOpener([this](const QUrl& url) { m_opened << url; });
        m_wizard->setWarningBox([this](QWidget*, const QString& caption, const QString& text) {
            m_warnings << caption + QStringLiteral(": ") + text;
        });
        m_wizard->setFolderBrowser([this](QWidget*, const QString& title, const QString& start) {
            m_browserCalls << title + QStringLiteral(": ") + start;
            return m_nextBrowserAnswer;
        });
        // Relative folders are taken against the directory the program started in.
        QDir(m_folders.path()).mkpath(QStringLiteral("site/sub"));
        QDir(m_folders.path()).mkpath(QStringLiteral("index"));
        QDir::setCurrent(m_folders.path());
    }

    void cleanup()
    {
        m_wizard.reset();
        QDir::setCurrent(m_startDirectory);
    }

    void folderCheckWarnings_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("warning");
        const QString destination = "VantrelIndexer Warning!: Please specify correct destination folder.";
        QTest::newRow("both empty: destination first") << "" << "" << destination;
        QTest::newRow("destination missing") << "site" << "missing" << destination;
        QTest::newRow("source missing") << "missing" << "site"
                                        << "VantrelIndexer Warning: Please specify correct source folder.";
        // Had the check entered "site", "sub" below it would be found.
        QTest::newRow("relative to the start") << "site" << "sub" << destination;
        QTest::newRow("good") << "site" << "index" << "";
    }

    void folderCheckWarnings()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(QString, warning);
        // A first good pass stores both folders, which the page keeps on the way back; the
        // next press rewrites both.
        FolderPage* page = goToFolderPage(*m_wizard, QStringLiteral("site"), QStringLiteral("index"));
        click(page, "nextButton");
        click(m_wizard->optionsPage(), "backButton");
        QCOMPARE(control<QLineEdit>(page, "destinationEdit")->text(), QStringLiteral("index"));
        type(page, "sourceEdit", source);
        type(page, "destinationEdit", destination);
        click(page, "nextButton");
        QCOMPARE(m_warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
        QCOMPARE(visiblePages(), QList<QWidget*>{warning.isEmpty() ? static_cast<QWidget*>(m_wizard->optionsPage()) : page});
        QCOMPARE(page->sourceFolder(), source == QLatin1String("site") ? source : QString());
        QCOMPARE(page->destinationFolder(), warning.contains(QLatin1String("destination")) ? QString() : destination);
        QCOMPARE(QDir::currentPath(), m_folders.path());
    }

    void folderBrowsers()
    {
        FolderPage* page = goToFolderPage(*m_wizard, QString(), QString());
        // The source browser fills an empty destination box too, but only an empty one.
        m_nextBrowserAnswer = QStringLiteral("/srv/www");
        click(page, "sourceBrowseButton");
        QCOMPARE(control<QLineEdit>(page, "destinationEdit")->text(), QStringLiteral("/srv/www"));
        type(page, "destinationEdit", QStringLiteral("/tmp/out"));
        m_nextBrowserAnswer = QStringLiteral("/srv/other");
        click(page, "sourceBrowseButton");
        m_nextBrowserAnswer.clear();  // cancelled
        click(page, "destinationBrowseButton");
        QCOMPARE(control<QLineEdit>(page, "sourceEdit")->text(), QStringLiteral("/srv/other"));
        QCOMPARE(control<QLineEdit>(page, "destinationEdit")->text(), QStringLiteral("/tmp/out"));
        QCOMPARE(m_browserCalls, (QStringList{"Choose Source Directory: ", "Choose Source Directory: /srv/www",
                                              "Choose Destination Directory: /tmp/out"}));
    }

    void urlPrefixIsRequiredOnlyForUrlPrefix()
    {
        OptionsPage* page = m_wizard->optionsPage();
        m_wizard->showPage(m_wizard->welcomePage(), page);
        QLineEdit* prefix = control<QLineEdit>(page, "urlPrefixEdit");
        QVERIFY(!prefix->isEnabled());
        click(page, "urlPrefixRadio");
        QVERIFY(prefix->isEnabled());
        click(page, "nextButton");
        QCOMPARE(m_warnings, QStringList{"VantrelIndexer Warning!: Supply URL prefix!"});
        // The disabled box keeps its text, which is stored all the same.
        type(page, "urlPrefixEdit", QStringLiteral("http://example.org"));
        click(page, "fullPathRadio");
        QVERIFY(!prefix->isEnabled());
        click(page, "allContentRadio");
        click(page, "nextButton");
        QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->runPage()});
        click(m_wizard->runPage(), "backButton");
        QCOMPARE(page->urlPrefix(), QStringLiteral("http://example.org"));
        QCOMPARE(page->contentMode(), ContentMode::AllContent);
    }

    void helpByButtonAndF1()
    {
        // The test program lies beside the wizard, with the user guide and no Orvandle.chm.
        const QString programFolder = QString::fromStdString(::programFolder());
        click(m_wizard->welcomePage(), "helpButton");
        QTest::keyClick(m_wizard->runPage(), Qt::Key_F1);
        QCOMPARE(m_opened, QList<QUrl>(2, QUrl::fromLocalFile(programFolder + QStringLiteral("Orvandle.html"))));
        // The help file wins where there is one.
        QFile chm(programFolder + QStringLiteral("Orvandle.chm"));
        QVERIFY(chm.open(QIODevice::WriteOnly));
        click(m_wizard->optionsPage(), "helpButton");
        chm.remove();
        QCOMPARE(m_opened.constLast(), QUrl::fromLocalFile(chm.fileName()));
    }

    void enterPressesDefaultButtonAndEscapeDoesNothing()
    {
        // Keys go where the focus is when a page comes up, as they do for a person.
        m_wizard->start();
        QVERIFY(QTest::qWaitForWindowActive(m_wizard->welcomePage()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->welcomePage()});
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        FolderPage* folders = m_wizard->folderPage();
        QCOMPARE(visiblePages(), QList<QWidget*>{folders});
        QVERIFY(QTest::qWaitForWindowActive(folders));
        QLineEdit* source = control<QLineEdit>(folders, "sourceEdit");
        QCOMPARE(QApplication::focusWidget(), source);
        QTest::keyClick(source, Qt::Key_Escape);
        QTest::keyClick(source, Qt::Key_Enter);
        QCOMPARE(visiblePages(), QList<QWidget*>{folders});
        QCOMPARE(m_warnings.size(), 1);
    }

    void closingAnyPageEndsTheApplication()
    {
        // A page's close box, and "Cancel" on step 1.
        for (const char* cancel : {"", "cancelButton"}) {
            init();
            QSignalSpy finished(m_wizard.get(), &Wizard::finished);
            m_wizard->start();
            if (*cancel)
                click(m_wizard->welcomePage(), cancel);
            else
                m_wizard->optionsPage()->close();
            QCOMPARE(finished.count(), 1);
            QVERIFY(visiblePages().isEmpty());
        }
    }

    void groupBoxesStandOnTheWhiteBody()
    {
        const QImage image = m_wizard->optionsPage()->grab().toImage();
        const QColor body = image.pixelColor(5, 200);
        for (QPoint inside : {QPoint(16, 120), QPoint(200, 150), QPoint(300, 240)})
            QCOMPARE(image.pixelColor(inside), body);
        QVERIFY(image.pixelColor(5, 340) != body);  // the button band
    }
};

QTEST_MAIN(WizardPagesTest)
#include "WizardPagesTest.moc"
