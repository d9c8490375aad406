#pragma once

#include <QColor>
#include <QDialog>
#include <QIcon>

class QAbstractButton;
class QPainter;
class Wizard;

// One step of the wizard: a top-level window of fixed client size with the header
// image, a white body, two separator lines and the button band. Enter presses the
// default button, Escape does nothing, F1 opens help, and closing the window ends the
// application.
class WizardPage : public QDialog {
    Q_OBJECT
public:
    explicit WizardPage(Wizard& wizard);

    // Paints the white body, the dark and light lines at rows 300 and 301 and the
    // button-face band below them.
    void paintPageBackground(QPainter& painter);

    // The application icon at 16, 32 and 48 pixels.
    static QIcon applicationIcon();

protected:
    // Frame, font and fixed size of every page, and its "&Help" button. Called by a page
    // once its controls exist.
    void setUpPage(QAbstractButton* helpButton);

    Wizard& wizard() const { return m_wizard; }

    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    Wizard& m_wizard;
    QColor m_bandColour;  // the button face of the first paint
};
