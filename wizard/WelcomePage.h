#pragma once

#include "WizardPage.h"

#include <memory>

namespace Ui {
class WelcomePage;
}

// Step 1: greets the user. "Next>>" goes on to the folders, "Cancel" ends the application.
class WelcomePage : public WizardPage {
    Q_OBJECT
public:
    explicit WelcomePage(Wizard& wizard);
    ~WelcomePage() override;

private:
    std::unique_ptr<Ui::WelcomePage> m_ui;
};
