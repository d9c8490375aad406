#include "WizardPage.h"

#include "Wizard.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

namespace {

constexpr int kPageWidth = 431;
constexpr int kPageHeight = 354;
constexpr int kBodyHeight = 300;

// The dialog font: Tahoma 8 at 96 dots per inch is 11 pixels; where Tahoma is not
// installed a sans serif of similar width stands in.
QFont pageFont()
{
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    return font;
}

// A group box as a frame line over the white body with its title standing on the top
// line; the usual style tints the inside of the frame and puts the title above it.
class PageGroupBoxStyle : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (control != CC_GroupBox || !box) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QFontMetrics& metrics = option->fontMetrics;
        const QRect& area = option->rect;
        painter->save();
        painter->setPen(option->palette.color(QPalette::Mid));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(area.adjusted(0, metrics.height() / 2, -1, -1));
        const QRect title(area.left() + 6, area.top(), metrics.horizontalAdvance(box->text) + 4, metrics.height());
        painter->fillRect(title, Qt::white);
        painter->setPen(option->palette.color(QPalette::WindowText));
        painter->drawText(title, Qt::AlignCenter, box->text);
        painter->restore();
    }
};

}  // namespace

WizardPage::WizardPage(Wizard& wizard) : QDialog(nullptr), m_wizard(wizard) {}

void WizardPage::setUpPage(QAbstractButton* helpButton)
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(kPageWidth, kPageHeight);
    setFont(pageFont());
    setWindowIcon(applicationIcon());
    const QList<QGroupBox*> groupBoxes = findChildren<QGroupBox*>();
    if (!groupBoxes.isEmpty()) {
        auto* style = new PageGroupBoxStyle;
        style->setParent(this);
        for (QGroupBox* box : groupBoxes)
            box->setStyle(style);
    }
    connect(helpButton, &QAbstractButton::clicked, this, [this] { m_wizard.openHelp(this); });
}

QIcon WizardPage::applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/images/icon-%1.png").arg(size));
    return icon;
}

void WizardPage::paintPageBackground(QPainter& painter)
{
    if (!m_bandColour.isValid())
        m_bandColour = palette().color(QPalette::Button);
    painter.setPen(QColor(170, 170, 170));
    painter.drawLine(0, kBodyHeight, kPageWidth - 1, kBodyHeight);
    painter.setPen(QColor(221, 221, 221));
    painter.drawLine(0, kBodyHeight + 1, kPageWidth - 1, kBodyHeight + 1);
    painter.fillRect(QRect(0, 0, kPageWidth, kBodyHeight), Qt::white);
    painter.fillRect(QRect(0, kBodyHeight + 2, kPageWidth, kPageHeight - kBodyHeight - 2), m_bandColour);
}

void WizardPage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintPageBackground(painter);
}

void WizardPage::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        m_wizard.openHelp(this);
        return;
    }
    // Escape would reject the dialog; no page has anything to cancel.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
        return;
    QDialog::keyPressEvent(event);
}

void WizardPage::closeEvent(QCloseEvent* event)
{
    event->accept();
    m_wizard.closeAll();
}
