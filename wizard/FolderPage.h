#pragma once

#include "WizardPage.h"

#include <QString>

#include <memory>

namespace Ui {
class FolderPage;
}

// Step 2: the source and destination folders, each with a browser. "Next>>" accepts
// them only when both name folders that exist and may be entered.
class FolderPage : public WizardPage {
    Q_OBJECT
public:
    explicit FolderPage(Wizard& wizard);
    ~FolderPage() override;

    // The folders as typed, stored by each "Next>>"; empty when the text did not name a
    // folder that may be entered, and before the first "Next>>".
    const QString& sourceFolder() const { return m_sourceFolder; }
    const QString& destinationFolder() const { return m_destinationFolder; }

private:
    void checkFolders();
    void browseForSource();
    void browseForDestination();

    std::unique_ptr<Ui::FolderPage> m_ui;
    QString m_sourceFolder;
    QString m_destinationFolder;
};
