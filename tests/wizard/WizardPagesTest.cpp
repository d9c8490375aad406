// The first three pages and what all four share: layout, moving back and forth,
// warnings, folder browsing, options, help, keys, closing and painting.

#include "SearchPageFiles.h"
#include "WizardDriver.h"

#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <memory>

class WizardPagesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

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
    void closingAnyPageEndsTheApplication_data();
    void closingAnyPageEndsTheApplication();
    void pagesPaintBodyLinesAndBand();

private:
    WizardPage* pageOfStep(int step);

    std::unique_ptr<Wizard> m_wizard;
    QList<QUrl> m_helpOpened;
    QList<QStringList> m_browserCalls;  // title, start folder
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
        m_browserCalls << QStringList{title, start};
        return m_nextBrowserAnswer;
    });
    QDir(m_folders.path()).mkpath(QStringLiteral("site/sub"));
    QDir(m_folders.path()).mkpath(QStringLiteral("index"));
}

void WizardPagesTest::cleanup()
{
    m_wizard.reset();
}

WizardPage* WizardPagesTest::pageOfStep(int step)
{
    switch (step) {
    case 1: return m_wizard->welcomePage();
    case 2: return m_wizard->folderPage();
    case 3: return m_wizard->optionsPage();
    default: return m_wizard->runPage();
    }
}

// Every control at its designed rectangle: dialog units, 1.5 pixels across and 1.625
// down, rounded. Clicks from outside the process aim at these rectangles.
void WizardPagesTest::pagesHaveDesignedTitleSizeAndControls_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QRect>("dialogUnits");

    struct Row {
        int step;
        const char* name;
        const char* label;
        QRect units;
    };
    const Row rows[] = {
        {1, "headerImage", "", {0, 0, 287, 49}},
        {1, "helpButton", "&Help", {12, 197, 50, 14}},
        {1, "cancelButton", "Cancel", {162, 197, 50, 14}},
        {1, "nextButton", "Next>>", {225, 197, 50, 14}},
        {1, "welcomeLabel", "Wellcome to the VantrelIndexer! ", {12, 65, 263, 13}},
        {1, "introLabel",
         "This wizard will guide you through the process of indexing your web site or HTML pages. "
         "You will have the web-ready index at the end.",
         {12, 98, 263, 29}},
        {2, "sourceLabel", "Specify source directory", {12, 65, 200, 10}},
        {2, "sourceEdit", "", {12, 79, 243, 13}},
        {2, "sourceBrowseButton", "...", {255, 79, 20, 12}},
        {2, "destinationLabel", "Specify destination directory", {12, 98, 200, 10}},
        {2, "destinationEdit", "", {12, 112, 243, 13}},
        {2, "destinationBrowseButton", "...", {255, 112, 20, 12}},
        {2, "helpButton", "&Help", {12, 197, 50, 14}},
        {2, "backButton", "<<Back", {162, 197, 50, 14}},
        {2, "nextButton", "Next>>", {225, 197, 50, 14}},
        {3, "pathOptionsBox", "Specify path options", {12, 56, 263, 66}},
        {3, "relativePathRadio", "Relative path", {21, 73, 59, 10}},
        {3, "fullPathRadio", "Full path", {109, 73, 43, 10}},
        {3, "urlPrefixRadio", "URL prefix", {212, 73, 49, 10}},
        {3, "urlPrefixLabel", "URL prefix", {21, 90, 97, 8}},
        {3, "urlPrefixEdit", "", {21, 102, 246, 14}},
        {3, "indexingOptionsBox", "Specify indexing options", {12, 123, 263, 45}},
        {3, "keywordsRadio", "Keywords", {21, 135, 47, 10}},
        {3, "keywordsTitlesRadio", "Keywords+titles", {21, 152, 68, 10}},
        {3, "keywordsTitlesHeadersRadio", "Keywords+titles+headers", {109, 135, 95, 10}},
        {3, "allContentRadio", "All content", {109, 152, 50, 10}},
        {3, "nextButton", "Next>>", {225, 197, 50, 14}},
        {4, "readyLabel", "Now we are ready to start", {12, 68, 143, 11}},
        {4, "progressLabel", "Progress window", {12, 88, 132, 8}},
        {4, "progressList", "", {12, 99, 263, 77}},
        {4, "backButton", "<<Back", {162, 197, 50, 14}},
        {4, "mainButton", "Start", {225, 197, 50, 14}},
    };
    for (const Row& row : rows)
        QTest::addRow("step %d %s", row.step, row.name)
            << row.step << QString::fromLatin1(row.name) << QString::fromLatin1(row.label) << row.units;
}

void WizardPagesTest::pagesHaveDesignedTitleSizeAndControls()
{
    QFETCH(int, step);
    QFETCH(QString, name);
    QFETCH(QString, label);
    QFETCH(QRect, dialogUnits);

    WizardPage* page = pageOfStep(step);
    QCOMPARE(page->windowTitle(), QStringLiteral("VantrelIndexer (Step %1)").arg(step));
    QCOMPARE(page->size(), QSize(431, 354));
    QCOMPARE(page->minimumSize(), page->maximumSize());

    QWidget* widget = page->findChild<QWidget*>(name);
    QVERIFY(widget);
    const auto pixels = [](double units, double scale) { return static_cast<int>(std::floor(units * scale + 0.5)); };
    const QRect expected(pixels(dialogUnits.x(), 1.5), pixels(dialogUnits.y(), 1.625),
                         pixels(dialogUnits.width(), 1.5), pixels(dialogUnits.height(), 1.625));
    QCOMPARE(widget->geometry(), expected);
    QCOMPARE(widget->parentWidget(), page);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(button->text(), label);
    else if (auto* text = qobject_cast<QLabel*>(widget); text && !label.isEmpty())
        QCOMPARE(text->text(), label);
    else if (auto* box = qobject_cast<QGroupBox*>(widget))
        QCOMPARE(box->title(), label);
    if (name == QLatin1String("nextButton") || name == QLatin1String("mainButton"))
        QVERIFY(qobject_cast<QPushButton*>(widget)->isDefault());
}

void WizardPagesTest::goingBackAndForthKeepsEverythingEntered()
{
    const QString source = m_folders.filePath(QStringLiteral("site"));
    const QString destination = m_folders.filePath(QStringLiteral("index"));
    m_wizard->start();
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->welcomePage()});

    click(m_wizard->welcomePage(), "nextButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->folderPage()});
    type(m_wizard->folderPage(), "sourceEdit", source);
    type(m_wizard->folderPage(), "destinationEdit", destination);
    click(m_wizard->folderPage(), "nextButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->optionsPage()});
    QCOMPARE(m_wizard->folderPage()->sourceFolder(), source);
    QCOMPARE(m_wizard->folderPage()->destinationFolder(), destination);

    click(m_wizard->optionsPage(), "urlPrefixRadio");
    click(m_wizard->optionsPage(), "allContentRadio");
    type(m_wizard->optionsPage(), "urlPrefixEdit", QStringLiteral("http://example.org/docs"));

    // Back to step 1 and forward again: nothing typed or chosen is lost, and the
    // folder check runs again.
    click(m_wizard->optionsPage(), "backButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->folderPage()});
    click(m_wizard->folderPage(), "backButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->welcomePage()});
    click(m_wizard->welcomePage(), "nextButton");
    QCOMPARE(control<QLineEdit>(m_wizard->folderPage(), "sourceEdit")->text(), source);
    QCOMPARE(control<QLineEdit>(m_wizard->folderPage(), "destinationEdit")->text(), destination);
    click(m_wizard->folderPage(), "nextButton");
    OptionsPage* options = m_wizard->optionsPage();
    QVERIFY(control(options, "urlPrefixRadio")->isChecked());
    QVERIFY(control(options, "allContentRadio")->isChecked());
    QCOMPARE(control<QLineEdit>(options, "urlPrefixEdit")->text(), QStringLiteral("http://example.org/docs"));
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
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("message");

    const QString good = m_folders.filePath(QStringLiteral("site"));
    const QString file = m_folders.filePath(QStringLiteral("site/file.html"));
    const QString missing = m_folders.filePath(QStringLiteral("missing"));
    const QString destinationCaption = QStringLiteral("VantrelIndexer Warning!");
    const QString destinationMessage = QStringLiteral("Please specify correct destination folder.");
    const QString sourceCaption = QStringLiteral("VantrelIndexer Warning");
    const QString sourceMessage = QStringLiteral("Please specify correct source folder.");
    QTest::newRow("both empty: destination first") << "" << "" << destinationCaption << destinationMessage;
    QTest::newRow("destination missing") << good << missing << destinationCaption << destinationMessage;
    QTest::newRow("destination is a file") << good << file << destinationCaption << destinationMessage;
    QTest::newRow("source empty") << "" << good << sourceCaption << sourceMessage;
    QTest::newRow("source missing") << missing << good << sourceCaption << sourceMessage;
    QTest::newRow("source is a file") << file << good << sourceCaption << sourceMessage;
}

void WizardPagesTest::folderCheckWarnings()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(QString, caption);
    QFETCH(QString, message);
    QFile(m_folders.filePath(QStringLiteral("site/file.html"))).open(QIODevice::WriteOnly);

    m_wizard->start();
    click(m_wizard->welcomePage(), "nextButton");
    FolderPage* page = m_wizard->folderPage();
    // A first good pass stores both folders; the failing press below rewrites them.
    type(page, "sourceEdit", m_folders.filePath(QStringLiteral("site")));
    type(page, "destinationEdit", m_folders.filePath(QStringLiteral("index")));
    click(page, "nextButton");
    click(m_wizard->optionsPage(), "backButton");

    type(page, "sourceEdit", source);
    type(page, "destinationEdit", destination);
    const ShownWarning warning = clickExpectingWarning(page, "nextButton");
    QVERIFY(warning.shown);
    QCOMPARE(warning.caption, caption);
    QCOMPARE(warning.text, message);
    QCOMPARE(warning.icon, QMessageBox::Warning);
    QCOMPARE(warning.buttonCount, 1);
    QCOMPARE(visiblePages(), QList<QWidget*>{page});
    const auto accepted = [](const QString& text) { return FolderPage::canEnterFolder(text) ? text : QString(); };
    QCOMPARE(page->sourceFolder(), accepted(source));
    QCOMPARE(page->destinationFolder(), accepted(destination));
}

void WizardPagesTest::folderCheckTakesRelativeFoldersWithoutChangingDirectory()
{
    const QString startDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_folders.path()));
    m_wizard->start();
    click(m_wizard->welcomePage(), "nextButton");
    FolderPage* page = m_wizard->folderPage();
    // "sub" exists only below the source; relative to the start directory it does not.
    type(page, "sourceEdit", QStringLiteral("site"));
    type(page, "destinationEdit", QStringLiteral("sub"));
    const ShownWarning warning = clickExpectingWarning(page, "nextButton");
    QCOMPARE(warning.text, QStringLiteral("Please specify correct destination folder."));
    QCOMPARE(QDir::currentPath(), m_folders.path());

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
    QLineEdit* sourceEdit = control<QLineEdit>(page, "sourceEdit");
    QLineEdit* destinationEdit = control<QLineEdit>(page, "destinationEdit");

    // The source browser fills an empty destination box as well.
    m_nextBrowserAnswer = QStringLiteral("/srv/www");
    click(page, "sourceBrowseButton");
    QCOMPARE(sourceEdit->text(), QStringLiteral("/srv/www"));
    QCOMPARE(destinationEdit->text(), QStringLiteral("/srv/www"));

    // ... but only an empty one; and each browser starts at its box's folder.
    type(page, "destinationEdit", QStringLiteral("/tmp/out"));
    m_nextBrowserAnswer = QStringLiteral("/srv/other");
    click(page, "sourceBrowseButton");
    QCOMPARE(sourceEdit->text(), QStringLiteral("/srv/other"));
    QCOMPARE(destinationEdit->text(), QStringLiteral("/tmp/out"));
    m_nextBrowserAnswer = QStringLiteral("/tmp/index");
    click(page, "destinationBrowseButton");
    QCOMPARE(destinationEdit->text(), QStringLiteral("/tmp/index"));
    QCOMPARE(sourceEdit->text(), QStringLiteral("/srv/other"));

    // Cancelling changes nothing.
    m_nextBrowserAnswer.clear();
    click(page, "sourceBrowseButton");
    click(page, "destinationBrowseButton");
    QCOMPARE(sourceEdit->text(), QStringLiteral("/srv/other"));
    QCOMPARE(destinationEdit->text(), QStringLiteral("/tmp/index"));

    const QList<QStringList> expected = {
        {QStringLiteral("Choose Source Directory"), QString()},
        {QStringLiteral("Choose Source Directory"), QStringLiteral("/srv/www")},
        {QStringLiteral("Choose Destination Directory"), QStringLiteral("/tmp/out")},
        {QStringLiteral("Choose Source Directory"), QStringLiteral("/srv/other")},
        {QStringLiteral("Choose Destination Directory"), QStringLiteral("/tmp/index")},
    };
    QCOMPARE(m_browserCalls, expected);
    // The boxes are only written; the fields wait for "Next>>".
    QVERIFY(page->sourceFolder().isEmpty());
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

    const struct {
        const char* radio;
        ContentMode mode;
    } contentRadios[] = {{"keywordsTitlesRadio", ContentMode::KeywordsTitles},
                         {"keywordsTitlesHeadersRadio", ContentMode::KeywordsTitlesHeaders},
                         {"allContentRadio", ContentMode::AllContent},
                         {"keywordsRadio", ContentMode::Keywords}};
    for (const auto& row : contentRadios) {
        click(page, row.radio);
        QVERIFY2(control(page, row.radio)->isChecked(), row.radio);
        QCOMPARE(page->contentMode(), row.mode);
        QCOMPARE(page->pathMode(), PathMode::RelativePath);  // the groups are apart
    }

    click(page, "urlPrefixRadio");
    QCOMPARE(page->pathMode(), PathMode::UrlPrefix);
    QVERIFY(prefix->isEnabled());
    QVERIFY(!control(page, "relativePathRadio")->isChecked());
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

    click(m_wizard->runPage(), "backButton");
    click(page, "urlPrefixRadio");
    click(page, "nextButton");
    QCOMPARE(visiblePages(), QList<QWidget*>{m_wizard->runPage()});
}

void WizardPagesTest::helpFromEveryPageByButtonAndF1()
{
    // The test program lies beside the wizard, with the user guide and no Orvandle.chm.
    const QString folder = QString::fromStdString(programFolder());
    const QUrl guide = QUrl::fromLocalFile(folder + QStringLiteral("Orvandle.html"));
    for (int step = 1; step <= 4; ++step) {
        WizardPage* page = pageOfStep(step);
        page->show();
        m_helpOpened.clear();
        click(page, "helpButton");
        QTest::keyClick(page, Qt::Key_F1);
        QCOMPARE(m_helpOpened, (QList<QUrl>{guide, guide}));
        page->hide();
    }

    // The design's help file wins where it is there.
    QFile chm(folder + QStringLiteral("Orvandle.chm"));
    QVERIFY(chm.open(QIODevice::WriteOnly));
    chm.close();
    m_helpOpened.clear();
    click(m_wizard->optionsPage(), "helpButton");
    chm.remove();
    QCOMPARE(m_helpOpened, QList<QUrl>{QUrl::fromLocalFile(folder + QStringLiteral("Orvandle.chm"))});
}

void WizardPagesTest::enterPressesDefaultButtonAndEscapeDoesNothing()
{
    m_wizard->start();
    WelcomePage* welcome = m_wizard->welcomePage();
    QTest::keyClick(welcome, Qt::Key_Escape);
    QCOMPARE(visiblePages(), QList<QWidget*>{welcome});
    QTest::keyClick(welcome, Qt::Key_Return);
    FolderPage* folders = m_wizard->folderPage();
    QCOMPARE(visiblePages(), QList<QWidget*>{folders});

    // In a text box too: Escape leaves the page as it is, Enter runs the folder check.
    QLineEdit* source = control<QLineEdit>(folders, "sourceEdit");
    QTest::keyClicks(source, QStringLiteral("nowhere"));
    QTest::keyClick(source, Qt::Key_Escape);
    QCOMPARE(visiblePages(), QList<QWidget*>{folders});
    QCOMPARE(source->text(), QStringLiteral("nowhere"));
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

void WizardPagesTest::closingAnyPageEndsTheApplication_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("byCancel");
    QTest::newRow("step 1 close box") << 1 << false;
    QTest::newRow("step 1 Cancel") << 1 << true;
    QTest::newRow("step 2 close box") << 2 << false;
    QTest::newRow("step 3 close box") << 3 << false;
    QTest::newRow("step 4 close box") << 4 << false;
}

void WizardPagesTest::closingAnyPageEndsTheApplication()
{
    QFETCH(int, step);
    QFETCH(bool, byCancel);
    QSignalSpy finished(m_wizard.get(), &Wizard::finished);
    m_wizard->start();
    // Every page made, as after a visit, and one of them on screen.
    for (int other = 2; other <= 4; ++other)
        pageOfStep(other);
    m_wizard->showPage(m_wizard->welcomePage(), pageOfStep(step));
    if (byCancel)
        click(m_wizard->welcomePage(), "cancelButton");
    else
        pageOfStep(step)->close();
    QCOMPARE(finished.count(), 1);
    QVERIFY(visiblePages().isEmpty());
}

void WizardPagesTest::pagesPaintBodyLinesAndBand()
{
    for (int step = 1; step <= 4; ++step) {
        WizardPage* page = pageOfStep(step);
        const QImage image = page->grab().toImage();
        QCOMPARE(image.size(), QSize(431, 354));
        const QColor band = page->palette().color(QPalette::Button);
        for (int x : {0, 215, 430}) {
            QCOMPARE(image.pixelColor(x, 299), QColor(Qt::white));
            QCOMPARE(image.pixelColor(x, 300), QColor(170, 170, 170));
            QCOMPARE(image.pixelColor(x, 301), QColor(221, 221, 221));
            QCOMPARE(image.pixelColor(x, 302), band);
            QCOMPARE(image.pixelColor(x, 353), band);
        }
        // White around the texts, with no grey box behind them.
        QCOMPARE(image.pixelColor(16, 120), QColor(Qt::white));
        QCOMPARE(image.pixelColor(5, 200), QColor(Qt::white));
        // The header image's orange line along its bottom.
        const QColor line = image.pixelColor(10, 78);
        QVERIFY2(line.red() > 200 && line.blue() < 80, qPrintable(line.name()));
    }
}

QTEST_MAIN(WizardPagesTest)
#include "WizardPagesTest.moc"
