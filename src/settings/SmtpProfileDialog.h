#pragma once

#include <QString>

namespace kolporta::settings {

// The values the profile dialog shows and edits.
struct SmtpProfileFields
{
    QString name; // eSMTPName
    QString server; // eSMTPServer
    QString port; // eSMTPPort
    QString user; // eSMTPUser
    QString password; // eSMTPPassw
    // The optional keys, as text; an empty text means the key is absent.
    QString security; // "Security": "", "STARTTLS" or "SSL"
    QString timeout; // "Timeout": seconds per reply
    QString caFile; // "CAFile": extra trusted certificates
};

// What EditSmtpProfile needs from the profile dialog TfSMTPEdit and its message box. The
// window implements it with widgets; the tests implement it with scripted answers.
class SmtpProfileDialog
{
public:
    virtual ~SmtpProfileDialog() = default;

    // Shows the fields modally; the name can be edited only when `nameEditable`. Returns
    // true for OK with *fields holding the edited values, false for Cancel.
    virtual bool exec(SmtpProfileFields *fields, bool nameEditable) = 0;

    // The message box captioned "Chyba" with the error icon and an OK button.
    virtual void showError(const QString &text) = 0;
};

} // namespace kolporta::settings
