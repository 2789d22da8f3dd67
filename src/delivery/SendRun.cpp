#include "delivery/SendRun.h"

#include "compose/MailProgramMessage.h"
#include "compose/MessageAssembly.h"
#include "compose/MimeMessage.h"
#include "delivery/MailObject.h"
#include "delivery/SendRunHost.h"
#include "delivery/SmtpClient.h"
#include "delivery/SmtpSession.h"
#include "settings/HomeFolder.h"

#include <limits>

namespace kolporta::delivery {

namespace {

bool s_running = false;

const QString &appTitle()
{
    static const QString t = QStringLiteral("Kolporta");
    return t;
}

// The texts of the send log and of the boxes, as the user knows them.
namespace Text {
const QString ConnectFailed = QStringLiteral("Nepodařilo se připojit k SMTP serveru");
const QString ErrorCaption = QStringLiteral("Chyba");
const QString SmtpBcc = QStringLiteral("Odesilani pres SMTP - BCC kopie po ");
const QString SmtpSingle = QStringLiteral("Odesilani pres SMTP - individualne");
const QString MailBcc = QStringLiteral("Odesilani pres mail klienta - BCC kopie po ");
const QString MailSingle = QStringLiteral("Odesilani pres mail klienta - individualni maily");
const QString FromRefused = QStringLiteral("  Chyba při komunikaci - FROM");
const QString AddressRefused = QStringLiteral("  Chyba - adresa odmítnuta serverem");
const QString DataRefused = QStringLiteral("  Chyba při odesílání zprávy");
const QString SendError = QStringLiteral("Chyba při odesílání: ");
const QString BatchSent = QStringLiteral("--- odeslano ---");
const QString BatchRefused = QStringLiteral("!!! Chyba při odesílání");
const QString MailBatchSent = QStringLiteral("--- odeslano do mailoveho klienta ---");
const QString SmtpCancelled = QStringLiteral("!!! odesilani preruseno uzivatelem");
const QString MailCancelled = QStringLiteral("!!! Odesilani preruseno uzivatelem");
const QString RouteEnd = QStringLiteral("--- odesilani ukonceno ---");
const QString GoesOn = QStringLiteral("Odesílání dalších zpráv bude pokračovat");
} // namespace Text

const QString kBang = QStringLiteral("!!! ");

bool isStarLine(const QString &line)
{
    return line.size() == 1 && line.at(0) == QLatin1Char('*');
}

} // namespace

// The state of one run, from step A to step H.
class SendRun::Run
{
public:
    Run(SendRun &owner, const SendRunSettings &settings)
        : m_owner(owner)
        , m_host(*owner.m_host)
        , m_settings(settings)
    { }

    SendRunResult execute();

private:
    void log(const QString &line)
    {
        m_owner.m_log.append(line);
        m_host.sendLogLine(line);
    }
    // Ends the run early: the error is logged so that the log file tells why it stops.
    bool fail(const QString &error)
    {
        m_error = error;
        log(kBang + error);
        return false;
    }
    void showTurn(int index)
    {
        m_host.setProgressPosition(index);
        m_host.repaintProgress();
        m_host.setTitle(
            QStringLiteral("%1: %2/%3").arg(appTitle()).arg(index + 1).arg(m_host.lineCount()));
    }
    void showSendError(const QString &error)
    {
        m_host.showErrorBox(
            Text::SendError + error + QLatin1Char('\r') + Text::GoesOn, Text::ErrorCaption);
    }
    std::unique_ptr<compose::MimeMessage> buildMessage(const QString &toText);
    // "Its maximum" later means the value set here, even if the list has changed since.
    void setProgressMaximum(int maximum)
    {
        m_progressMaximum = maximum;
        m_host.setProgressMaximum(maximum);
    }

    bool smtpRoute();
    bool smtpBcc();
    bool smtpSingle();
    void startTransaction(qint64 size);
    // MAIL FROM and RCPT TO for the sender field and an address line: the address in its
    // transport form, with SMTPUTF8 when the message goes with it. An address that needs
    // SMTPUTF8 on a message that goes without is refused here, and the server hears nothing.
    bool mailFrom(const QString &senderText, qint64 size, bool smtpUtf8);
    bool rcptTo(const QString &line, bool smtpUtf8);
    void sendBatch(const QList<QByteArray> &lines);
    void reopen()
    {
        m_session->close();
        m_session->open();
    }

    bool mailRoute();
    bool mailBcc(MailObject &mail);
    bool mailSingle(MailObject &mail);
    bool handOver(MailObject &mail);

    SendRun &m_owner;
    SendRunHost &m_host;
    const SendRunSettings &m_settings;
    int m_batchSize = 50;
    int m_lastLine = -1;
    int m_progressMaximum = 0;
    QString m_template;
    QByteArray m_contentIdDomain;
    compose::PartCache m_parts;
    std::unique_ptr<SmtpSession> m_session;
    bool m_connectFailed = false;
    QString m_error;
};

SendRunResult SendRun::Run::execute()
{
    // A. Start of every run.
    m_host.clearStatusLines();
    const QString folder
        = m_owner.m_logFolderSet ? m_owner.m_logFolder : settings::HomeFolder::logFolder();
    const QDateTime now = m_owner.m_clock ? m_owner.m_clock() : QDateTime::currentDateTime();
    m_owner.m_log.start(folder.isEmpty() ? QString() : SendLog::pathFor(folder, now));
    m_batchSize = SendRun::batchSizeFromText(m_settings.batchSizeText);
    m_host.showProgressWindow();
    m_host.clearCancelRequested();
    m_template = m_settings.body;
    m_lastLine = m_host.lineCount() - 1;
    m_contentIdDomain = compose::NewContentIdDomain();
    if (m_settings.htmlBody)
        m_template = compose::PrepareHtmlBody(
            m_template, m_settings.route > 0, m_settings.pictures, m_contentIdDomain);
    m_host.setBusyCursor(true);

    SendRunResult result;
    bool finished = false;
    if (m_settings.route == 0) {
        finished = smtpRoute();
        result.status = finished ? SendRunResult::Status::Finished
            : m_connectFailed    ? SendRunResult::Status::ConnectFailed
                                 : SendRunResult::Status::Error;
    } else if (m_settings.route > 0) {
        finished = mailRoute();
        result.status = finished ? SendRunResult::Status::Finished : SendRunResult::Status::Error;
    }
    result.error = m_error;

    // H. End of every run, however it ended.
    m_host.setTitle(appTitle());
    m_host.setBusyCursor(false);
    m_host.moveCaretToLineStart();
    m_host.setProgressMaximum(0);
    m_host.closeProgressWindow();
    m_owner.m_log.finish();
    if (result.status == SendRunResult::Status::Error)
        m_host.showGeneralError(m_error);
    return result;
}

std::unique_ptr<compose::MimeMessage> SendRun::Run::buildMessage(const QString &toText)
{
    const QString sender = m_host.sender();
    const QString subject = m_host.subject();
    compose::MessageContent content;
    content.body = compose::ApplyMacros(m_template, toText, sender, subject, m_settings.htmlBody);
    content.html = m_settings.htmlBody;
    content.contentIdDomain = m_contentIdDomain;
    content.pictures = m_settings.pictures;
    content.attachments = m_settings.files;
    QString error;
    std::unique_ptr<compose::MimeMessage> message
        = compose::BuildMessage(content, &m_parts, &error);
    if (!message) {
        fail(error);
        return nullptr;
    }
    message->setFrom(sender);
    message->setSubject(subject);
    return message;
}

// B. SMTP route, common part.
bool SendRun::Run::smtpRoute()
{
    setProgressMaximum(m_host.lineCount());
    m_host.setProgressPosition(0);

    settings::SmtpProfile profile;
    QString error;
    if (!settings::LoadSmtpProfile(
            settings::HomeFolder::smtpIniPath(), m_host.profileName(), &profile, &error))
        return fail(error);
    if (m_owner.m_sessionFactory) {
        m_session = m_owner.m_sessionFactory(profile);
    } else {
        auto client = std::make_unique<SmtpClient>(profile);
        SendRunHost *host = &m_host;
        QObject::connect(client.get(), &SmtpClient::statusLine, client.get(),
            [host](const QString &line) { host->statusLine(line); });
        m_session = std::move(client);
    }
    if (!m_session || !m_session->open()) {
        m_session.reset();
        m_connectFailed = true;
        log(kBang + Text::ConnectFailed);
        m_host.showErrorBox(Text::ConnectFailed, Text::ErrorCaption);
        return false;
    }

    const bool ok = m_settings.sendAsBcc ? smtpBcc() : smtpSingle();
    if (ok)
        log(Text::RouteEnd);
    // Also after an error: the server is told we are leaving rather than left hanging.
    m_session->close();
    m_session.reset();
    return ok;
}

void SendRun::Run::startTransaction(qint64 size)
{
    const QString sender = m_host.sender();
    // A BCC recipient may need SMTPUTF8, and the transaction starts before they are known.
    if (!mailFrom(sender, size, m_session->offersSmtpUtf8()))
        log(kBang + sender + Text::FromRefused);
}

bool SendRun::Run::mailFrom(const QString &senderText, qint64 size, bool smtpUtf8)
{
    const QString address = compose::AddressOfLine(senderText);
    if (smtpUtf8)
        return m_session->mailFromSmtpUtf8(address, size);
    return !compose::NeedsSmtpUtf8(address)
        && m_session->mailFrom(compose::TransportAddress(address, false), size);
}

bool SendRun::Run::rcptTo(const QString &line, bool smtpUtf8)
{
    const QString address = compose::AddressOfLine(line);
    return (smtpUtf8 || !compose::NeedsSmtpUtf8(address))
        && m_session->rcptTo(compose::TransportAddress(address, smtpUtf8));
}

void SendRun::Run::sendBatch(const QList<QByteArray> &lines)
{
    QString error;
    if (m_session->sendData(lines, &error)) {
        log(Text::BatchSent);
    } else if (error.isEmpty()) {
        log(Text::BatchRefused);
    } else {
        log(kBang + Text::SendError + error);
        showSendError(error);
        reopen(); // whether it reopens is seen at the next command
    }
}

// C. SMTP, BCC batches: one message for the whole run, one transaction per batch.
bool SendRun::Run::smtpBcc()
{
    log(Text::SmtpBcc + QString::number(m_batchSize));
    std::unique_ptr<compose::MimeMessage> message = buildMessage(QString());
    if (!message)
        return false;
    // The recipients go in no header; To names the sender.
    message->setTo({m_host.sender()});
    message->setSmtpUtf8(m_session->offersSmtpUtf8()
        && compose::NeedsSmtpUtf8(compose::AddressOfLine(m_host.sender())));
    const QList<QByteArray> lines = message->encode();
    const qint64 size = message->size();
    startTransaction(size);

    int counter = 0;
    for (int i = 0; i <= m_lastLine; ++i) {
        showTurn(i);
        const QString line = m_host.addressLine(i);
        if (compose::IsBlankLine(line))
            continue;
        // Batches go lazily: a full batch is sent when the next address arrives.
        if (counter >= m_batchSize) {
            sendBatch(lines);
            counter = 0;
            m_host.repaintMainWindow();
            startTransaction(size);
        }
        if (!isStarLine(line)) {
            ++counter; // a refused address still counts toward the batch
            if (rcptTo(line, m_session->offersSmtpUtf8()))
                log(line);
            else
                log(kBang + line + Text::AddressRefused);
            m_host.moveCaretToLine(i);
        }
        m_host.processEvents();
        if (m_host.cancelRequested()) {
            log(Text::SmtpCancelled);
            break;
        }
    }
    if (counter > 0) {
        m_host.setProgressPosition(m_progressMaximum);
        sendBatch(lines);
        m_host.repaintMainWindow();
    }
    return true;
}

// D. SMTP, one message per address line.
bool SendRun::Run::smtpSingle()
{
    log(Text::SmtpSingle);
    for (int i = 0; i <= m_lastLine; ++i) {
        showTurn(i);
        const QString line = m_host.addressLine(i);
        if (compose::IsBlankLine(line))
            continue;
        const bool lineUtf8 = compose::NeedsSmtpUtf8(compose::AddressOfLine(line));
        if (lineUtf8 && !m_session->offersSmtpUtf8()) {
            log(kBang + line + Text::AddressRefused); // nothing went to the server for it
            continue;
        }
        std::unique_ptr<compose::MimeMessage> message = buildMessage(line);
        if (!message)
            return false;
        message->setTo({compose::AddressOfLine(line)});
        m_host.moveCaretToLine(i);

        const QString sender = m_host.sender();
        const bool smtpUtf8 = m_session->offersSmtpUtf8()
            && (lineUtf8 || compose::NeedsSmtpUtf8(compose::AddressOfLine(sender)));
        message->setSmtpUtf8(smtpUtf8);
        const QList<QByteArray> &lines = message->encode();
        if (!mailFrom(sender, message->size(), smtpUtf8)) {
            // The connection stays open; the next line tries again.
            log(kBang + sender + Text::FromRefused);
        } else if (!rcptTo(line, smtpUtf8)) {
            log(kBang + line + Text::AddressRefused);
            reopen();
            continue; // no poll after a refused line
        } else {
            QString error;
            if (m_session->sendData(lines, &error)) {
                log(line);
            } else if (error.isEmpty()) {
                log(kBang + line + Text::DataRefused);
                reopen();
                continue;
            } else {
                log(kBang + line + QStringLiteral("  ") + Text::SendError + error);
                showSendError(error);
            }
        }
        message.reset();
        m_host.processEvents();
        if (m_host.cancelRequested()) {
            log(Text::SmtpCancelled);
            break;
        }
        m_host.repaintMainWindow();
    }
    return true;
}

// E. Mail-program route, common part.
bool SendRun::Run::mailRoute()
{
    std::unique_ptr<MailObject> own;
    MailObject *mail = m_owner.m_mail;
    if (!mail) {
        own = std::make_unique<MailObject>(LoadMailPrograms());
        mail = own.get();
    }
    QString error;
    if (!mail->prepareClient(m_settings.route - 1, &error))
        return fail(error);
    mail->setHtml(m_settings.htmlBody);
    mail->setSubject(m_host.subject());
    mail->setPictures(m_settings.pictures, m_contentIdDomain);
    mail->setAttachments(m_settings.files);

    if (!(m_settings.sendAsBcc ? mailBcc(*mail) : mailSingle(*mail)))
        return false;
    log(Text::RouteEnd);
    return true;
}

bool SendRun::Run::handOver(MailObject &mail)
{
    QString error;
    // A quiet failure (the user cancelled in the mail program) is logged like a success.
    if (!mail.send(&error) && !error.isEmpty())
        return fail(error);
    return true;
}

// F. Mail program, BCC batches, counted by line position.
bool SendRun::Run::mailBcc(MailObject &mail)
{
    log(Text::MailBcc + QString::number(m_batchSize));
    setProgressMaximum(m_host.lineCount() / m_batchSize);
    mail.setBody(compose::ApplyMacros(
        m_template, QString(), m_host.sender(), m_host.subject(), m_settings.htmlBody));
    mail.clearRecipients();
    for (int i = 0; i <= m_lastLine; ++i) {
        if (m_host.cancelRequested()) {
            log(Text::MailCancelled);
            break;
        }
        if (i % m_batchSize == 0) {
            if (i > 0 && !mail.recipients().isEmpty()) {
                m_host.setProgressPosition(m_progressMaximum);
                if (!handOver(mail))
                    return false;
                log(Text::MailBatchSent);
                m_host.repaintMainWindow();
            }
            mail.clearRecipients();
        }
        const QString line = m_host.addressLine(i);
        if (!compose::IsBlankLine(line) && !isStarLine(line)) {
            if (compose::MailProgramTakes(line)) {
                mail.addRecipient(line, RecipientKind::Bcc);
                log(line);
            } else {
                log(kBang + line + Text::AddressRefused);
            }
            m_host.moveCaretToLine(i);
        }
        m_host.processEvents();
    }
    if (!mail.recipients().isEmpty()) {
        m_host.setProgressPosition(m_progressMaximum);
        if (!handOver(mail))
            return false;
        log(Text::MailBatchSent);
        m_host.repaintMainWindow();
    }
    return true;
}

// G. Mail program, one message per address line.
bool SendRun::Run::mailSingle(MailObject &mail)
{
    log(Text::MailSingle);
    setProgressMaximum(m_host.lineCount() - 1);
    for (int i = 0; i <= m_lastLine; ++i) {
        m_host.processEvents();
        if (m_host.cancelRequested()) {
            log(Text::MailCancelled);
            break;
        }
        const QString line = m_host.addressLine(i);
        // Here a line whose very first character is "*" is skipped, not only "*" itself.
        if (compose::IsBlankLine(line) || line.startsWith(QLatin1Char('*')))
            continue;
        if (!compose::MailProgramTakes(line)) {
            log(kBang + line + Text::AddressRefused);
            continue;
        }
        m_host.setProgressPosition(i);
        mail.setBody(compose::ApplyMacros(
            m_template, line, m_host.sender(), m_host.subject(), m_settings.htmlBody));
        m_host.moveCaretToLine(i);
        mail.clearRecipients();
        mail.addRecipient(line, RecipientKind::To);
        if (!handOver(mail))
            return false;
        log(line);
        m_host.repaintMainWindow();
        m_host.processEvents();
    }
    return true;
}

SendRun::SendRun(SendRunHost *host)
    : m_host(host)
{ }

SendRun::~SendRun() = default;

void SendRun::setLogFolder(const QString &folder)
{
    m_logFolder = folder;
    m_logFolderSet = true;
}

bool SendRun::isRunning()
{
    return s_running;
}

const QString &SendRun::busyText()
{
    static const QString t = QStringLiteral("Odesílání již probíhá");
    return t;
}

SendRunResult SendRun::run(const SendRunSettings &settings)
{
    // The host pumps events during a run; a second start from there would share the log,
    // the session and the host's controls with the first.
    if (s_running)
        return {SendRunResult::Status::Busy, busyText()};
    s_running = true;
    SendRunResult result;
    {
        Run run(*this, settings);
        result = run.execute();
    }
    s_running = false;
    return result;
}

int SendRun::batchSizeFromText(const QString &text)
{
    // A whole number in decimal after optional leading blanks and a sign, with nothing
    // after it (so "7 " is no number); anything else gives 50.
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return 50;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 50;
        value = value * 10 + (c.unicode() - '0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return 50;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max())
        return 50;
    // The BCC modes divide by it; below 1 is taken as 1.
    return value < 1 ? 1 : int(value);
}

} // namespace kolporta::delivery
