// The first three pages and what all four share: layout, moving back and forth,
// warnings, folder browsing, options, help, keys, closing and painting.

#include "SearchPageFiles.h"
#include "WizardDriver.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <memory>

class WizardPagesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_wizard.reset(); }

    void pagesHaveDesignedTitleSizeAndControls_data();
    void pagesHaveDesignedTitleSizeAndControls();
    void goingBackAndForthKeepsEverythingEntered();
    void folderCheckWarnings_data();
    void folderCheckWarnings();
    void folderCheckTakesRelativeFoldersWithoutChangingDirectory();
    void folderBrowsers();
    void optionsDefaultsAndRadioEffects();
    void urlPrefixIsRequiredOnlyForUrlPrefix();
    void helpFromEveryPageByButtonAndF1();
    void enterPressesDefaultButtonAndEscapeDoesNothing();
    void closingAnyPageEndsTheApplication();
    void pagesPaintBodyLinesAndBand();

private:
    WizardPage* pageOfStep(int step);
    QString folder(const char* name) const { return m_folders.filePath(QLatin1String(name)); }

    std::unique_ptr<Wizard> m_wizard;
    QList<QUrl> m_helpOpened;
    QStringList m_browserCalls;  // "title: start folder"
    QString m_nextBrowserAnswer;
    QTemporaryDir m_folders;
};

void WizardPagesTest::init()
{
    m_wizard = std::make_unique<Wizard>();
    m_helpOpened.clear();
    m_browserCalls.clear();
    m_wizard->setHelpOpener([this](const QUrl& url) { m_helpOpened << url; });
    m_wizard->setFolderBrowser([this](QWidget*, const QString& title, const QString& start) {
        m_browserCalls << title + QStringLiteral(": ") + start;
        return m_nextBrowserAnswer;
    });
    QDir(m_folders.path()).mkpath(QStringLiteral("site/sub"));
    QDir(m_folders.path()).mkpath(QStringLiteral("index"));
    QFile(folder("site/file.html")).open(QIODevice::WriteOnly);
}

WizardPage* WizardPagesTest::pageOfStep(int step)
{
    const QList<WizardPage*> pages = {m_wizard->welcomePage(), m_wizard->folderPage(), m_wizard->optionsPage(),
                                      m_wizard->runPage()};
    return pages.at(step - 1);
}

// Every control at its designed rectangle: dialog units, 1.5 pixels across and 1.625
// down, rounded. Clicks from outside the process aim at these rectangles.
void WizardPagesTest::pagesHaveDesignedTitleSizeAndControls_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QRect>("units");
    QTest::addColumn<int>("id");
    const struct {
        int step;
        int id;  // 0 for a control without one
        const char* name;
        const char* label;
        QRect units;
    } rows[] = {
        {1, 0, "headerImage", "", {0, 0, 287, 49}},
        {1, 57670, "helpButton", "&Help", {12, 197, 50, 14}},
        {1, 1009, "cancelButton", "Cancel", {162, 197, 50, 14}},
        {1, 1005, "nextButton", "Next>>", {225, 197, 50, 14}},
        {1, 0, "welcomeLabel", "Wellcome to the VantrelIndexer! ", {12, 65, 263, 13}},
        {1, 0, "introLabel", "This wizard will guide you through the process of indexing your web site or HTML pages. "
                          "You will have the web-ready index at the end.", {12, 98, 263, 29}},
        {2, 0, "sourceLabel", "Specify source directory", {12, 65, 200, 10}},
        {2, 1006, "sourceEdit", "", {12, 79, 243, 13}},
        {2, 1010, "sourceBrowseButton", "...", {255, 79, 20, 12}},
        {2, 0, "destinationLabel", "Specify destination directory", {12, 98, 200, 10}},
        {2, 1008, "destinationEdit", "", {12, 112, 243, 13}},
        {2, 1011, "destinationBrowseButton", "...", {255, 112, 20, 12}},
        {2, 1007, "backButton", "<<Back", {162, 197, 50, 14}},
        {3, 0, "pathOptionsBox", "Specify path options", {12, 56, 263, 66}},
        {3, 1024, "relativePathRadio", "Relative path", {21, 73, 59, 10}},
        {3, 1025, "fullPathRadio", "Full path", {109, 73, 43, 10}},
        {3, 1026, "urlPrefixRadio", "URL prefix", {212, 73, 49, 10}},
        {3, 0, "urlPrefixLabel", "URL prefix", {21, 90, 97, 8}},
        {3, 1020, "urlPrefixEdit", "", {21, 102, 246, 14}},
        {3, 0, "indexingOptionsBox", "Specify indexing options", {12, 123, 263, 45}},
        {3, 1027, "keywordsRadio", "Keywords", {21, 135, 47, 10}},
        {3, 1028, "keywordsTitlesRadio", "Keywords+titles", {21, 152, 68, 10}},
        {3, 1030, "keywordsTitlesHeadersRadio", "Keywords+titles+headers", {109, 135, 95, 10}},
        {3, 1032, "allContentRadio", "All content", {109, 152, 50, 10}},
        {3, 1005, "nextButton", "Next>>", {225, 197, 50, 14}},
        {4, 0, "readyLabel", "Now we are ready to start", {12, 68, 143, 11}},
        {4, 0, "progressLabel", "Progress window", {12, 88, 132, 8}},
        {4, 1012, "progressList", "", {12, 99, 263, 77}},
        {4, 57670, "helpButton", "&Help", {12, 197, 50, 14}},
        {4, 1005, "mainButton", "Start", {225, 197, 50, 14}},
    };
    for (const auto& row : rows)
        QTest::addRow("step %d %s", row.step, row.name) << row.step << QString::fromLatin1(row.name)
                                                         << QString::fromLatin1(row.label) << row.units << row.id;
}

void WizardPagesTest::pagesHaveDesignedTitleSizeAndControls()
{
    QFETCH(int, step);
    QFETCH(QString, name);
    QFETCH(QString, label);
    QFETCH(QRect, units);
    QFETCH(int, id);
    WizardPage* page = pageOfStep(step);
    QCOMPARE(page->windowTitle(), QStringLiteral("VantrelIndexer (Step %1)").arg(step));
    QCOMPARE(page->minimumSize(), QSize(431, 354));
    QCOMPARE(page->maximumSize(), QSize(431, 354));

    QWidget* widget = page->findChild<QWidget*>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), page);
    QCOMPARE(widget->property("controlId").toInt(), id);
    const auto pixels = [](int dialogUnits, double scale) { return int(std::floor(dialogUnits * scale + 0.5)); };
    QCOMPARE(widget->geometry(), QRect(pixels(units.x(), 1.5), pixels(units.y(), 1.625),
                                       pixels(units.width(), 1.5), pixels(units.height(), 1.625)));
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(button->text(), label);
    else if (auto* text = qobject_cast<QLabel*>(widget); text && !label.isEmpty())
        QCOMPARE(text->text(), label);
    else if (auto* box = qobject_cast<QGroupBox*>(widget))
        QCOMPARE(box->title(), label);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        QCOMPARE(button->isDefault(), name == QLatin1String("nextButton") || name == QLatin1String("mainButton"));
}

void WizardPagesTest::goingBackAndForthKeepsEverythingEntered()
{
    m_wizard->start();
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->welcomePage()});
    click(m_wizard->welcomePage(), "nextButton");
    FolderPage* folders = m_wizard->folderPage();
    QCOMPARE(visiblePages(), QList<QWidget*>{folders});
    type(folders, "sourceEdit", folder("site"));
    type(folders, "destinationEdit", folder("index"));
    click(folders, "nextButton");
    OptionsPage* options = m_wizard->optionsPage();
    QCOMPARE(visiblePages(), QList<QWidget*>{options});
    QCOMPARE(folders->sourceFolder(), folder("site"));
    QCOMPARE(folders->destinationFolder(), folder("index"));
    click(options, "urlPrefixRadio");
    click(options, "allContentRadio");
    type(options, "urlPrefixEdit", QStringLiteral("http://example.org/docs"));

    // Back to step 1 and forward again: nothing is lost, and the folder check runs again.
    click(options, "backButton");
    click(folders, "backButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->welcomePage()});
    click(m_wizard->welcomePage(), "nextButton");
    QCOMPARE(control<QLineEdit>(folders, "sourceEdit")->text(), folder("site"));
    QCOMPARE(control<QLineEdit>(folders, "destinationEdit")->text(), folder("index"));
    click(folders, "nextButton");
    QVERIFY(control(options, "urlPrefixRadio")->isChecked());
    QVERIFY(control(options, "allContentRadio")->isChecked());
    QCOMPARE(options->pathMode(), PathMode::UrlPrefix);
    QCOMPARE(options->contentMode(), ContentMode::AllContent);
    click(options, "nextButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->runPage()});
    QCOMPARE(options->urlPrefix(), QStringLiteral("http://example.org/docs"));
    click(m_wizard->runPage(), "backButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{options});
    QCOMPARE(control<QLineEdit>(options, "urlPrefixEdit")->text(), QStringLiteral("http://example.org/docs"));
}

void WizardPagesTest::folderCheckWarnings_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<bool>("aboutDestination");
    const QString good = folder("site"), file = folder("site/file.html"), missing = folder("missing");
    QTest::newRow("both empty: destination first") << "" << "" << true;
    QTest::newRow("destination missing") << good << missing << true;
    QTest::newRow("destination is a file") << good << file << true;
    QTest::newRow("source empty") << "" << good << false;
    QTest::newRow("source missing") << missing << good << false;
    QTest::newRow("source is a file") << file << good << false;
}

void WizardPagesTest::folderCheckWarnings()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(bool, aboutDestination);
    m_wizard->start();
    click(m_wizard->welcomePage(), "nextButton");
    FolderPage* page = m_wizard->folderPage();
    // A first good pass stores both folders; the failing press rewrites both.
    type(page, "sourceEdit", folder("site"));
    type(page, "destinationEdit", folder("index"));
    click(page, "nextButton");
    click(m_wizard->optionsPage(), "backButton");

    type(page, "sourceEdit", source);
    type(page, "destinationEdit", destination);
    const ShownWarning warning = clickExpectingWarning(page, "nextButton");
    QVERIFY(warning.shown);
    QCOMPARE(warning.caption, aboutDestination ? QStringLiteral("VantrelIndexer Warning!") : QStringLiteral("VantrelIndexer Warning"));
    QCOMPARE(warning.text, aboutDestination ? QStringLiteral("Please specify correct destination folder.")
                                            : QStringLiteral("Please specify correct source folder."));
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QCOMPARE(warning.buttonCount, 1);
    QCOMPARE(visiblePages(), QList<QWidget*>{page});
    QCOMPARE(page->sourceFolder(), source == folder("site") ? source : QString());
    QCOMPARE(page->destinationFolder(), aboutDestination ? QString() : destination);
}

void WizardPagesTest::folderCheckTakesRelativeFoldersWithoutChangingDirectory()
{
    const QString startDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_folders.path()));
    m_wizard->start();
    click(m_wizard->welcomePage(), "nextButton");
    FolderPage* page = m_wizard->folderPage();
    // "sub" is below the source; had the check entered "site", it would be found.
    type(page, "sourceEdit", QStringLiteral("site"));
    type(page, "destinationEdit", QStringLiteral("sub"));
    QCOMPARE(clickExpectingWarning(page, "nextButton").text, QStringLiteral("Please specify correct destination folder."));
    type(page, "destinationEdit", QStringLiteral("index"));
    click(page, "nextButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->optionsPage()});
    QCOMPARE(page->sourceFolder(), QStringLiteral("site"));
    QCOMPARE(page->destinationFolder(), QStringLiteral("index"));
    QCOMPARE(QDir::currentPath(), m_folders.path());
    QDir::setCurrent(startDirectory);
}

void WizardPagesTest::folderBrowsers()
{
    m_wizard->start();
    click(m_wizard->welcomePage(), "nextButton");
    FolderPage* page = m_wizard->folderPage();
    QLineEdit* source = control<QLineEdit>(page, "sourceEdit");
    QLineEdit* destination = control<QLineEdit>(page, "destinationEdit");

    // The source browser fills an empty destination box too, but only an empty one.
    m_nextBrowserAnswer = QStringLiteral("/srv/www");
    click(page, "sourceBrowseButton");
    QCOMPARE(destination->text(), QStringLiteral("/srv/www"));
    type(page, "destinationEdit", QStringLiteral("/tmp/out"));
    m_nextBrowserAnswer = QStringLiteral("/srv/other");
    click(page, "sourceBrowseButton");
    m_nextBrowserAnswer = QStringLiteral("/tmp/index");
    click(page, "destinationBrowseButton");
    QCOMPARE(source->text(), QStringLiteral("/srv/other"));
    QCOMPARE(destination->text(), QStringLiteral("/tmp/index"));

    m_nextBrowserAnswer.clear();  // cancelled
    click(page, "sourceBrowseButton");
    click(page, "destinationBrowseButton");
    QCOMPARE(source->text(), QStringLiteral("/srv/other"));
    QCOMPARE(destination->text(), QStringLiteral("/tmp/index"));
    QCOMPARE(m_browserCalls, (QStringList{"Choose Source Directory: ", "Choose Source Directory: /srv/www",
                                          "Choose Destination Directory: /tmp/out",
                                          "Choose Source Directory: /srv/other",
                                          "Choose Destination Directory: /tmp/index"}));
    QVERIFY(page->sourceFolder().isEmpty());  // stored only by "Next>>"
}

void WizardPagesTest::optionsDefaultsAndRadioEffects()
{
    OptionsPage* page = m_wizard->optionsPage();
    m_wizard->showPage(m_wizard->welcomePage(), page);
    QLineEdit* prefix = control<QLineEdit>(page, "urlPrefixEdit");
    QVERIFY(control(page, "relativePathRadio")->isChecked());
    QVERIFY(control(page, "keywordsRadio")->isChecked());
    QVERIFY(!prefix->isEnabled());
    QCOMPARE(page->pathMode(), PathMode::RelativePath);
    QCOMPARE(page->contentMode(), ContentMode::Keywords);

    const std::pair<const char*, ContentMode> contentRadios[] = {
        {"keywordsTitlesRadio", ContentMode::KeywordsTitles},
        {"keywordsTitlesHeadersRadio", ContentMode::KeywordsTitlesHeaders},
        {"allContentRadio", ContentMode::AllContent},
        {"keywordsRadio", ContentMode::Keywords}};
    for (const auto& [radio, mode] : contentRadios) {
        click(page, radio);
        QCOMPARE(page->contentMode(), mode);
        QCOMPARE(page->pathMode(), PathMode::RelativePath);  // the two groups are apart
    }

    click(page, "urlPrefixRadio");
    QCOMPARE(page->pathMode(), PathMode::UrlPrefix);
    QVERIFY(prefix->isEnabled());
    QVERIFY(control(page, "keywordsRadio")->isChecked());
    type(page, "urlPrefixEdit", QStringLiteral("http://x"));
    click(page, "fullPathRadio");
    QCOMPARE(page->pathMode(), PathMode::FullPath);
    QVERIFY(!prefix->isEnabled());
    QCOMPARE(prefix->text(), QStringLiteral("http://x"));
    click(page, "relativePathRadio");
    QCOMPARE(page->pathMode(), PathMode::RelativePath);
    QVERIFY(!prefix->isEnabled());

    // Arrow keys inside a group choose as clicks do.
    page->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(page));
    control(page, "keywordsRadio")->setFocus();
    QTest::keyClick(control(page, "keywordsRadio"), Qt::Key_Down);
    QCOMPARE(page->contentMode(), ContentMode::KeywordsTitles);
}

void WizardPagesTest::urlPrefixIsRequiredOnlyForUrlPrefix()
{
    OptionsPage* page = m_wizard->optionsPage();
    m_wizard->showPage(m_wizard->welcomePage(), page);
    click(page, "urlPrefixRadio");
    const ShownWarning warning = clickExpectingWarning(page, "nextButton");
    QVERIFY(warning.shown);
    QCOMPARE(warning.caption, QStringLiteral("VantrelIndexer Warning!"));
    QCOMPARE(warning.text, QStringLiteral("Supply URL prefix!"));
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QCOMPARE(warning.buttonCount, 1);
    QCOMPARE(visiblePages(), QList<QWidget*>{page});

    // The disabled box's text is stored all the same, and nothing is asked.
    type(page, "urlPrefixEdit", QStringLiteral("http://example.org"));
    click(page, "relativePathRadio");
    click(page, "nextButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->runPage()});
    QCOMPARE(page->urlPrefix(), QStringLiteral("http://example.org"));
}

void WizardPagesTest::helpFromEveryPageByButtonAndF1()
{
    // The test program lies beside the wizard, with the user guide and no Orvandle.chm.
    const QString programFolder = QString::fromStdString(::programFolder());
    const QUrl guide = QUrl::fromLocalFile(programFolder + QStringLiteral("Orvandle.html"));
    for (int step = 1; step <= 4; ++step) {
        m_helpOpened.clear();
        click(pageOfStep(step), "helpButton");
        QTest::keyClick(pageOfStep(step), Qt::Key_F1);
        QCOMPARE(m_helpOpened, (QList<QUrl>{guide, guide}));
    }
    // The help file wins where there is one.
    QFile chm(programFolder + QStringLiteral("Orvandle.chm"));
    QVERIFY(chm.open(QIODevice::WriteOnly));
    m_helpOpened.clear();
    click(m_wizard->optionsPage(), "helpButton");
    chm.remove();
    QCOMPARE(m_helpOpened, QList<QUrl>{QUrl::fromLocalFile(chm.fileName())});
}

void WizardPagesTest::enterPressesDefaultButtonAndEscapeDoesNothing()
{
    // Keys go where the focus is when a page comes up, as they do for a person.
    m_wizard->start();
    QVERIFY(QTest::qWaitForWindowActive(m_wizard->welcomePage()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->welcomePage()});
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    FolderPage* folders = m_wizard->folderPage();
    QCOMPARE(visiblePages(), QList<QWidget*>{folders});

    // From the text box: Escape leaves the page as it is, Enter runs the folder check.
    QVERIFY(QTest::qWaitForWindowActive(folders));
    QLineEdit* source = control<QLineEdit>(folders, "sourceEdit");
    QCOMPARE(QApplication::focusWidget(), source);
    QTest::keyClicks(source, QStringLiteral("nowhere"));
    QTest::keyClick(source, Qt::Key_Escape);
    QCOMPARE(visiblePages(), QList<QWidget*>{folders});
    auto seen = std::make_shared<QString>();
    QTimer::singleShot(0, [seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            *seen = box->text();
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    QTest::keyClick(source, Qt::Key_Enter);
    QCOMPARE(*seen, QStringLiteral("Please specify correct destination folder."));
    QCOMPARE(visiblePages(), QList<QWidget*>{folders});
}

void WizardPagesTest::closingAnyPageEndsTheApplication()
{
    // Steps 1 to 4 by their close box, then step 1 by "Cancel".
    for (int way = 1; way <= 5; ++way) {
        init();
        QSignalSpy finished(m_wizard.get(), &Wizard::finished);
        m_wizard->start();
        WizardPage* page = pageOfStep(way == 5 ? 1 : way);  // all four pages made
        m_wizard->showPage(m_wizard->welcomePage(), page);
        if (way == 5)
            click(page, "cancelButton");
        else
            page->close();
        QCOMPARE(finished.count(), 1);
        QVERIFY(visiblePages().isEmpty());
    }
}

void WizardPagesTest::pagesPaintBodyLinesAndBand()
{
    for (int step = 1; step <= 4; ++step) {
        const QImage image = pageOfStep(step)->grab().toImage();
        QCOMPARE(image.size(), QSize(431, 354));
        const QColor band = pageOfStep(step)->palette().color(QPalette::Button);
        for (int x : {0, 215, 430}) {
            QCOMPARE(image.pixelColor(x, 299), QColor(Qt::white));
            QCOMPARE(image.pixelColor(x, 300), QColor(170, 170, 170));
            QCOMPARE(image.pixelColor(x, 301), QColor(221, 221, 221));
            QCOMPARE(image.pixelColor(x, 302), band);
            QCOMPARE(image.pixelColor(x, 353), band);
        }
        // White beside the texts and inside the group boxes; the header's orange line.
        for (QPoint white : {QPoint(16, 120), QPoint(5, 200), QPoint(200, 150), QPoint(300, 240)})
            QCOMPARE(image.pixelColor(white), QColor(Qt::white));
        const QColor line = image.pixelColor(10, 78);
        QVERIFY2(line.red() > 200 && line.blue() < 80, qPrintable(line.name()));
    }
}

QTEST_MAIN(WizardPagesTest)
#include "WizardPagesTest.moc"
