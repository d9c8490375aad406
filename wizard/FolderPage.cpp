#include "FolderPage.h"

#include "IndexJob.h"
#include "OptionsPage.h"
#include "WelcomePage.h"
#include "Wizard.h"
#include "ui_FolderPage.h"

#include <QFile>

namespace {

// Relative texts are taken against the current directory, which the wizard never changes.
bool canEnterFolder(const QString& text)
{
    return ::canEnterFolder(QFile::encodeName(text).toStdString());
}

}  // namespace

FolderPage::FolderPage(Wizard& wizard) : WizardPage(wizard), m_ui(std::make_unique<Ui::FolderPage>())
{
    m_ui->setupUi(this);
    setUpPage(m_ui->helpButton);
    m_ui->sourceEdit->setFocus();
    connect(m_ui->nextButton, &QPushButton::clicked, this, &FolderPage::checkFolders);
    connect(m_ui->backButton, &QPushButton::clicked, this,
            [this] { this->wizard().showPage(this, this->wizard().welcomePage()); });
    connect(m_ui->sourceBrowseButton, &QPushButton::clicked, this, &FolderPage::browseForSource);
    connect(m_ui->destinationBrowseButton, &QPushButton::clicked, this, &FolderPage::browseForDestination);
}

FolderPage::~FolderPage() = default;

void FolderPage::checkFolders()
{
    // Both fields are rewritten on every press, also when the check then fails, and the
    // destination is looked at first.
    const QString source = m_ui->sourceEdit->text();
    m_sourceFolder = canEnterFolder(source) ? source : QString();
    const QString destination = m_ui->destinationEdit->text();
    m_destinationFolder = canEnterFolder(destination) ? destination : QString();

    if (m_destinationFolder.isEmpty())
        wizard().warn(this, QStringLiteral("VantrelIndexer Warning!"),
                      QString::fromStdString(problemMessage(SettingsProblem::Destination)));
    else if (m_sourceFolder.isEmpty())
        wizard().warn(this, QStringLiteral("VantrelIndexer Warning"),
                      QString::fromStdString(problemMessage(SettingsProblem::Source)));
    else
        wizard().showPage(this, wizard().optionsPage());
}

void FolderPage::browseForSource()
{
    const QString folder =
        wizard().browseForFolder(this, QStringLiteral("Choose Source Directory"), m_ui->sourceEdit->text());
    if (folder.isEmpty())
        return;
    m_ui->sourceEdit->setText(folder);
    if (m_ui->destinationEdit->text().isEmpty())
        m_ui->destinationEdit->setText(folder);
}

void FolderPage::browseForDestination()
{
    const QString folder = wizard().browseForFolder(this, QStringLiteral("Choose Destination Directory"),
                                                    m_ui->destinationEdit->text());
    if (!folder.isEmpty())
        m_ui->destinationEdit->setText(folder);
}
