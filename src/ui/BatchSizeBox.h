#pragma once

#include <QAbstractSpinBox>

namespace kolporta::ui {

// The BCC batch-size field with its up-down arrows. The text is free: whatever the user
// types is kept as typed (the send run reads it, and text that is no number means 50). The
// arrows and the Up and Down keys step the field's number by one between 0 and 100; when
// the text is no number they step from the last number they set, which starts at 50.
class BatchSizeBox : public QAbstractSpinBox
{
    Q_OBJECT

public:
    explicit BatchSizeBox(QWidget *parent = nullptr);

    void setText(const QString &text);
    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    QValidator::State validate(QString &input, int &pos) const override;
    void fixup(QString &input) const override;
    StepEnabled stepEnabled() const override;

private:
    int current() const;

    int m_position = 50;
};

} // namespace kolporta::ui
