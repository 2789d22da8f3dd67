#include "delivery/MailObject.h"

#include "compose/MailProgramMessage.h"
#include "delivery/MailPrograms.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>

namespace kolporta::delivery {

namespace {

// Simple MAPI result texts, by code; codes without a text (0, 7, above 26) give "".
QString mapiText(int code)
{
    static const char *const texts[] = {
        "",
        "User abort",
        "General MAPI failure",
        "MAPI login failure",
        "Disk full",
        "Insufficient memory",
        "Access denied",
        "",
        "Too many sessions",
        "Too many files were specified",
        "Too many recipients were specified",
        "A specified attachment was not found",
        "Attachment open failure",
        "Attachment write failure",
        "Unknown recipient",
        "Bad recipient type",
        "No messages",
        "Invalid message",
        "Text too large",
        "Invalid session",
        "Type not supported",
        "A recipient was specified ambiguously",
        "Message in use",
        "Network failure",
        "Invalid edit fields",
        "Invalid recipients",
        "Not supported",
    };
    if (code < 0 || code >= int(std::size(texts)))
        return {};
    return QString::fromLatin1(texts[code]);
}

constexpr int mapiUserAbort = 1;
constexpr int mapiFailure = 2;
constexpr int mapiAttachmentNotFound = 11;
constexpr int mapiAttachmentOpenFailure = 12;
constexpr int mapiUnknownRecipient = 14;
constexpr int mapiNetworkFailure = 23;
constexpr int mapiInvalidRecipients = 25;

// sysexits.h
constexpr int exNoUser = 67;
constexpr int exTempFail = 75;

// The system's reason why a program cannot be started, checked before starting it so that
// the text says what execve would say rather than Qt's wording.
QString startErrorText(const MailProgram &program, const QString &programPath)
{
    int code = 0;
    if (programPath.isEmpty()) {
        code = ENOENT;
    } else {
        const QFileInfo info(programPath);
        if (!info.isFile() || !info.isExecutable())
            code = EACCES;
    }
    if (code == 0)
        return {};
    QString shown = programPath;
    if (shown.isEmpty())
        shown = MailPrograms::splitCommand(program.command).value(0);
    if (shown.isEmpty()) // no command at all: name the entry the user chose
        shown = program.name;
    return QStringLiteral("Cannot start the mail program \"%1\": %2")
        .arg(shown, qt_error_string(code));
}

} // namespace

MailObject::MailObject(QList<MailProgram> programs)
    : m_programs(std::move(programs))
{ }

bool MailObject::anyClientInstalled() const
{
    for (const MailProgram &program : m_programs) {
        if (program.installed)
            return true;
    }
    return false;
}

bool MailObject::prepareClient(int index, QString *error)
{
    if (index < 0 || index >= m_programs.size()) {
        *error = QStringLiteral("Index is out ot range");
        return false;
    }
    // Looked at afresh: a program installed or removed since start-up counts as it is now.
    MailProgram &program = m_programs[index];
    const QString path = MailPrograms::programPath(program.command);
    const QString startError = startErrorText(program, path);
    program.installed = startError.isEmpty();
    if (!program.installed) {
        *error = startError;
        return false;
    }
    m_selected = index;
    error->clear();
    return true;
}

void MailObject::setBody(const QString &body)
{
    m_body = body;
    if (!m_body.endsWith(QStringLiteral("\r\n")))
        m_body += QStringLiteral("\r\n");
}

void MailObject::addRecipient(const QString &text, RecipientKind kind)
{
    m_recipients.append({text.trimmed(), kind});
}

QString MailObject::mapiErrorText(int code)
{
    return QStringLiteral("MAPI Error: (%1) \"%2\"").arg(code).arg(mapiText(code));
}

int MailObject::resultForExitStatus(int status)
{
    switch (status) {
    case 0:
        return 0;
    case exNoUser:
        return mapiUnknownRecipient;
    case exTempFail:
        return mapiNetworkFailure;
    default:
        return mapiFailure;
    }
}

bool MailObject::send(QString *error)
{
    error->clear();
    m_programOutput.clear();
    if (!anyClientInstalled()) {
        *error = QStringLiteral("No Simple MAPI client installed, cannot send the message");
        return false;
    }
    for (const QString &path : m_pictures + m_attachments) {
        if (!QFileInfo(path).isFile()) {
            *error = mapiErrorText(mapiAttachmentNotFound);
            return false;
        }
    }
    if (m_recipients.isEmpty()) {
        *error = mapiErrorText(mapiInvalidRecipients);
        return false;
    }

    int selected = m_selected;
    for (int i = 0; selected < 0 && i < m_programs.size(); ++i) {
        if (m_programs.at(i).installed)
            selected = i;
    }
    const MailProgram &program = m_programs.at(selected);

    compose::MailProgramMessage message;
    message.subject = m_subject;
    message.body = m_body;
    message.html = m_html;
    for (const QString &path : m_pictures)
        message.pictures.append(QFileInfo(path).absoluteFilePath());
    for (const QString &path : m_attachments)
        message.files.append(QFileInfo(path).absoluteFilePath());
    message.contentIdDomain = m_contentIdDomain;
    for (const Recipient &recipient : m_recipients)
        message.recipients.append({recipient.text, recipient.kind == RecipientKind::Bcc});
    QByteArray bytes;
    QString failed;
    switch (message.build(&bytes, &failed)) {
    case compose::MailProgramMessage::Error::None:
        break;
    case compose::MailProgramMessage::Error::UnreadableFile:
        *error = mapiErrorText(mapiAttachmentOpenFailure);
        return false;
    case compose::MailProgramMessage::Error::InvalidAddress:
        *error = mapiErrorText(mapiInvalidRecipients);
        return false;
    }

    const QString path = MailPrograms::programPath(program.command);
    const QString startError = startErrorText(program, path);
    if (!startError.isEmpty()) {
        *error = startError;
        return false;
    }
    QStringList arguments = MailPrograms::splitCommand(program.command).mid(1);
    arguments << QStringLiteral("-i") << QStringLiteral("-t");

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    const QDeadlineTimer deadline(m_timeoutMs);
    if (!process.waitForStarted(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
        *error = QStringLiteral("Cannot start the mail program \"%1\": %2")
                     .arg(path, process.errorString());
        return false;
    }
    // A program that exits without reading all of its input only makes the write fail
    // (Qt ignores SIGPIPE for its pipes); the exit status then tells what happened.
    process.write(bytes);
    process.closeWriteChannel();
    bool finished = false;
    while (!finished && !deadline.hasExpired()) {
        finished = process.waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 1)))
            || process.state() == QProcess::NotRunning;
    }
    if (!finished) {
        process.kill();
        process.waitForFinished(-1);
    }
    m_programOutput = QString::fromLocal8Bit(process.readAll()).trimmed();

    int result = mapiFailure;
    if (finished && process.exitStatus() == QProcess::NormalExit)
        result = resultForExitStatus(process.exitCode());
    if (result == 0)
        return true;
    if (result == mapiUserAbort)
        return false;
    *error = mapiErrorText(result);
    return false;
}

} // namespace kolporta::delivery
