#pragma once

#include "settings/SmtpProfileDialog.h"

#include <QChar>
#include <QString>
#include <QStringList>

namespace kolporta::settings {

// Shows the profile `name` of the file at `iniPath` in the dialog (an empty name asks for a
// new profile) and, on OK, writes "Server", "User", "Passw" and "Port" to the section named
// in the dialog, then "Security", "Timeout" and "CAFile" (each removed when empty), and
// saves the whole file; `name` then holds that name. A failed save shows
// the error box and still counts as OK. Returns true exactly when the dialog ended with OK.
// A file that exists but cannot be read returns false with *error set, without showing the
// dialog, and nothing is written.
bool EditSmtpProfile(
    const QString &iniPath, QString &name, SmtpProfileDialog &dialog, QString *error = nullptr);

// The text of the box shown when the file cannot be saved.
QString SmtpSaveErrorText(const QString &iniPath);

// aEditSMTP: edits the profile named by the list's current text; the list is not changed.
// Enabled only while that text is not empty.
bool aEditSMTPEnabled(const QString &currentText);
void aEditSMTP(const QString &iniPath, const QString &currentText, SmtpProfileDialog &dialog,
    QString *error = nullptr);

// aAddSMTP: asks for a new profile; on OK its name is appended to `items` and *selected
// becomes the new last index. Selecting it this way does not mark the project modified.
// Returns true when the list grew.
bool aAddSMTP(const QString &iniPath, QStringList *items, int *selected, SmtpProfileDialog &dialog,
    QString *error = nullptr);

// eSMTPPortKeyPress: a typed character reaches the port field when it is a control
// character (code below 32) or a digit "0" to "9". Pasted text is not filtered.
bool SmtpPortKeyAccepted(QChar key);

} // namespace kolporta::settings
