#include "OptionsPage.h"

#include "FolderPage.h"
#include "IndexJob.h"
#include "RunPage.h"
#include "Wizard.h"
#include "ui_OptionsPage.h"

OptionsPage::OptionsPage(Wizard& wizard) : WizardPage(wizard), m_ui(std::make_unique<Ui::OptionsPage>())
{
    m_ui->setupUi(this);
    setUpPage(m_ui->helpButton);

    m_ui->urlPrefixEdit->setEnabled(false);
    m_ui->relativePathRadio->setChecked(true);
    m_ui->keywordsRadio->setChecked(true);
    m_ui->relativePathRadio->setFocus();

    // toggled rather than clicked, so that arrow keys inside a group choose as well.
    const auto onChecked = [this](QAbstractButton* button, auto choose) {
        connect(button, &QAbstractButton::toggled, this, [choose](bool checked) {
            if (checked)
                choose();
        });
    };
    onChecked(m_ui->relativePathRadio, [this] { choosePathMode(PathMode::RelativePath); });
    onChecked(m_ui->fullPathRadio, [this] { choosePathMode(PathMode::FullPath); });
    onChecked(m_ui->urlPrefixRadio, [this] { choosePathMode(PathMode::UrlPrefix); });
    onChecked(m_ui->keywordsRadio, [this] { m_contentMode = ContentMode::Keywords; });
    onChecked(m_ui->keywordsTitlesRadio, [this] { m_contentMode = ContentMode::KeywordsTitles; });
    onChecked(m_ui->keywordsTitlesHeadersRadio, [this] { m_contentMode = ContentMode::KeywordsTitlesHeaders; });
    onChecked(m_ui->allContentRadio, [this] { m_contentMode = ContentMode::AllContent; });

    connect(m_ui->nextButton, &QPushButton::clicked, this, &OptionsPage::checkUrlPrefix);
    connect(m_ui->backButton, &QPushButton::clicked, this,
            [this] { this->wizard().showPage(this, this->wizard().folderPage()); });
}

OptionsPage::~OptionsPage() = default;

QString OptionsPage::contentOptionText(ContentMode mode) const
{
    switch (mode) {
    case ContentMode::Keywords: return m_ui->keywordsRadio->text();
    case ContentMode::KeywordsTitles: return m_ui->keywordsTitlesRadio->text();
    case ContentMode::KeywordsTitlesHeaders: return m_ui->keywordsTitlesHeadersRadio->text();
    case ContentMode::AllContent: return m_ui->allContentRadio->text();
    }
    return {};
}

void OptionsPage::choosePathMode(PathMode mode)
{
    m_pathMode = mode;
    m_ui->urlPrefixEdit->setEnabled(mode == PathMode::UrlPrefix);
}

void OptionsPage::checkUrlPrefix()
{
    m_urlPrefix = m_ui->urlPrefixEdit->text();
    if (m_pathMode == PathMode::UrlPrefix && m_urlPrefix.isEmpty())
        wizard().warn(this, QStringLiteral("VantrelIndexer Warning!"),
                      QString::fromStdString(problemMessage(SettingsProblem::UrlPrefix)));
    else
        wizard().showPage(this, wizard().runPage());
}
