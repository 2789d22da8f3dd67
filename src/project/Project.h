#pragma once

#include "project/LineList.h"
#include "project/TextFile.h"

#include <QString>
#include <QStringList>

namespace kolporta::project {

// One mailing as the user prepares it: the thirteen fields of a project file. The window
// shows these fields in its controls; the core reads and writes this record.
struct Project
{
    LineList addressList; // [Address list], one address line per entry
    QString subject; // [Subject]
    QString from; // [From], the sender as typed
    QStringList text; // [Text], the body lines
    bool htmlBody = false; // [HTMLBody]
    QStringList attachments; // [Attachments]: the pictures of an HTML body (lbAttach)
    QStringList files; // [Files]: the file attachments (lbFiles)
    QString mailer; // [Mailer]: selected route item's text, "" when none selected
    QString smtpServer; // [SmtpServer]: selected profile's text, "" when none selected
    bool sendAsBcc = false; // [SendAsBCC]
    QString bccMaxCount = QStringLiteral("50"); // [BCCMaxCount], as typed
    QString blockFile; // [BlockFile], carried only
    bool autoBlock = false; // [AutoBlock], carried only

    // The encoding the file was read in; a save writes it back in the same one.
    TextEncoding encoding = TextEncoding::Utf8;
};

} // namespace kolporta::project
