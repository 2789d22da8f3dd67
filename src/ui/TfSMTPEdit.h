#pragma once

#include "settings/SmtpProfileDialog.h"

#include <QDialog>
#include <memory>

namespace Ui {
class TfSMTPEdit;
}

namespace kolporta::ui {

// The SMTP profile dialog "Definice SMTP serverů": the name, server, port and login of one
// profile, and the optional encryption, reply timeout and CA file. It is the widget side of
// settings::EditSmtpProfile, which reads and writes smtp.ini; create one per edit, on the
// stack, with the main window as parent so it is centred over it.
class TfSMTPEdit : public QDialog, public settings::SmtpProfileDialog
{
    Q_OBJECT

public:
    explicit TfSMTPEdit(QWidget *parent = nullptr);
    ~TfSMTPEdit() override;

    // SmtpProfileDialog: shows the fields modally; OK writes the edited values back.
    using QDialog::exec;
    bool exec(settings::SmtpProfileFields *fields, bool nameEditable) override;
    void showError(const QString &text) override;

    // The widgets' contents. A choice the user did not touch gives back the text it was
    // read from, so a hand-written "starttls" or an odd timeout survives OK unchanged.
    void setFields(const settings::SmtpProfileFields &fields, bool nameEditable);
    settings::SmtpProfileFields fields() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void chooseCAFile();

    std::unique_ptr<Ui::TfSMTPEdit> m_ui;
    QString m_readSecurity;
    int m_readSecurityIndex = 0;
    QString m_readTimeout;
    int m_readTimeoutValue = 0;
};

} // namespace kolporta::ui
