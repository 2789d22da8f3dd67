#include "ui/BatchSizeBox.h"

#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionSpinBox>

namespace kolporta::ui {

namespace {
constexpr int kMinimum = 0;
constexpr int kMaximum = 100;
} // namespace

BatchSizeBox::BatchSizeBox(QWidget *parent)
    : QAbstractSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
    lineEdit()->setText(QString::number(m_position));
}

void BatchSizeBox::setText(const QString &text)
{
    lineEdit()->setText(text);
}

int BatchSizeBox::current() const
{
    bool ok = false;
    const int n = text().toInt(&ok);
    return ok ? n : m_position;
}

void BatchSizeBox::stepBy(int steps)
{
    m_position = qBound(kMinimum, current() + steps, kMaximum);
    lineEdit()->setText(QString::number(m_position));
    lineEdit()->selectAll();
}

QAbstractSpinBox::StepEnabled BatchSizeBox::stepEnabled() const
{
    const int n = current();
    StepEnabled enabled = StepNone;
    if (n < kMaximum)
        enabled |= StepUpEnabled;
    if (n > kMinimum)
        enabled |= StepDownEnabled;
    return enabled;
}

QValidator::State BatchSizeBox::validate(QString &, int &) const
{
    // Typed text is not limited: the run decides what it means.
    return QValidator::Acceptable;
}

void BatchSizeBox::fixup(QString &) const { }

QSize BatchSizeBox::sizeHint() const
{
    // Room for "1000" and the arrows, whatever the style.
    ensurePolished();
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    const QFontMetrics metrics = fontMetrics();
    const QSize text(
        metrics.horizontalAdvance(QStringLiteral("1000 ")), lineEdit()->sizeHint().height());
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this);
}

QSize BatchSizeBox::minimumSizeHint() const
{
    return sizeHint();
}

} // namespace kolporta::ui
