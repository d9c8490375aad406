#include "WelcomePage.h"

#include "FolderPage.h"
#include "Wizard.h"
#include "ui_WelcomePage.h"

WelcomePage::WelcomePage(Wizard& wizard) : WizardPage(wizard), m_ui(std::make_unique<Ui::WelcomePage>())
{
    m_ui->setupUi(this);
    setUpPage(m_ui->helpButton);
    // Focus on the default button, so that Enter goes on rather than opening help.
    m_ui->nextButton->setFocus();
    connect(m_ui->nextButton, &QPushButton::clicked, this,
            [this] { this->wizard().showPage(this, this->wizard().folderPage()); });
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QWidget::close);
}

WelcomePage::~WelcomePage() = default;
