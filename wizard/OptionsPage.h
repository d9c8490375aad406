#pragma once

#include "IndexTypes.h"
#include "WizardPage.h"

#include <QString>

#include <memory>

namespace Ui {
class OptionsPage;
}

// Step 3: the path option (with its URL prefix) and the indexing option. A radio button
// stores its value at once; "Next>>" stores the prefix and refuses an empty one for
// "URL prefix".
class OptionsPage : public WizardPage {
    Q_OBJECT
public:
    explicit OptionsPage(Wizard& wizard);
    ~OptionsPage() override;

    ContentMode contentMode() const { return m_contentMode; }
    PathMode pathMode() const { return m_pathMode; }
    // The prefix box's text as of the last "Next>>", whatever the path option.
    const QString& urlPrefix() const { return m_urlPrefix; }

    // The label of the indexing option that chooses mode, as the page shows it.
    QString contentOptionText(ContentMode mode) const;

private:
    void choosePathMode(PathMode mode);
    void checkUrlPrefix();

    std::unique_ptr<Ui::OptionsPage> m_ui;
    ContentMode m_contentMode = ContentMode::Keywords;
    PathMode m_pathMode = PathMode::RelativePath;
    QString m_urlPrefix;
};
