#include "delivery/PreflightCheck.h"

#include "compose/MailProgramMessage.h"
#include "compose/MessageAssembly.h"
#include "compose/MimeMessage.h"
#include "delivery/SendRun.h"
#include "delivery/SmtpClient.h"
#include "settings/HomeFolder.h"
#include "settings/SmtpProfile.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

namespace kolporta::delivery {

namespace {

using Severity = CheckFinding::Severity;

class Checker
{
public:
    Checker(const project::Project &p, const StartUp &s)
        : m_p(p)
        , m_settings(RunSettingsOf(p, s.lists))
    { }

    CheckReport run(bool server);

private:
    void add(Severity severity, const QString &code, const QList<int> &lines,
        const QString &subject, const QString &message)
    {
        m_report.findings.append({severity, code, lines, false, subject, message});
    }
    void addInBody(Severity severity, const QString &code, const QList<int> &lines,
        const QString &subject, const QString &message)
    {
        m_report.findings.append({severity, code, lines, true, subject, message});
    }

    bool smtp() const { return m_settings.route == 0; }
    bool mailProgram() const { return m_settings.route > 0; }

    void checkRouteAndProfile();
    void checkSenderAndSubject();
    void checkAddressLines();
    void checkMacros();
    void checkFiles();
    void checkPictureReferences();
    void measureLargestMessage();
    void checkServer();

    const project::Project &m_p;
    const SendRunSettings m_settings;
    settings::SmtpProfile m_profile;
    bool m_profileOk = false;
    CheckReport m_report;
};

// --- RFC 5321 mailbox syntax ---------------------------------------------------------------

bool isAtext(QChar c)
{
    const char16_t u = c.unicode();
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    return u < 0x80 && std::char_traits<char>::find("!#$%&'*+-/=?^_`{|}~", 19, char(u));
}

bool isAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

QString localPartProblem(QStringView local)
{
    if (local.isEmpty())
        return QStringLiteral("nothing before the \"@\"");
    if (!isAscii(local))
        return QStringLiteral("non-ASCII local part");
    if (local.size() > 64)
        return QStringLiteral("local part longer than 64 characters");
    if (local.startsWith(u'"')) {
        // Quoted-string: printable ASCII, with backslash pairs.
        if (local.size() < 2 || !local.endsWith(u'"'))
            return QStringLiteral("bad local part");
        for (qsizetype i = 1; i < local.size() - 1; ++i) {
            const char16_t u = local[i].unicode();
            if (u == '\\') {
                // A backslash pair escapes printable ASCII only (RFC 5321 quoted-pairSMTP): a
                // NUL or DEL behind it would still go on the wire.
                if (++i >= local.size() - 1 || local[i].unicode() < 0x20
                    || local[i].unicode() > 0x7E)
                    return QStringLiteral("bad local part");
            } else if (u == '"' || u < 0x20 || u == 0x7F) {
                return QStringLiteral("bad local part");
            }
        }
        return QString();
    }
    // Dot-string: atoms of atext joined by single dots.
    if (local.startsWith(u'.') || local.endsWith(u'.') || local.contains(QLatin1String("..")))
        return QStringLiteral("bad local part (dots)");
    for (QChar c : local)
        if (c != u'.' && !isAtext(c))
            return QStringLiteral("bad local part (character \"%1\")").arg(c);
    return QString();
}

bool isDomain(QStringView domain)
{
    if (domain.startsWith(u'[') && domain.endsWith(u']')) {
        QStringView literal = domain.sliced(1, domain.size() - 2);
        if (literal.startsWith(QLatin1String("IPv6:"), Qt::CaseInsensitive))
            return QHostAddress(literal.sliced(5).toString()).protocol()
                == QAbstractSocket::IPv6Protocol;
        return QHostAddress(literal.toString()).protocol() == QAbstractSocket::IPv4Protocol;
    }
    QString ascii = domain.toString();
    if (!isAscii(domain)) {
        ascii = QString::fromLatin1(QUrl::toAce(ascii));
        if (ascii.isEmpty())
            return false;
    }
    if (ascii.isEmpty() || ascii.size() > 255)
        return false;
    for (QStringView label : QStringView(ascii).split(u'.')) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (QChar c : label) {
            const char16_t u = c.unicode();
            if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
                    || u == '-'))
                return false;
        }
    }
    return true;
}

// --- HTML picture references -----------------------------------------------------------------

// The file names of the local pictures an HTML body refers to, in src and background
// attributes and in CSS url(), as the body's references are resolved to the picture list.
QHash<QString, QList<int>> pictureReferences(const QStringList &bodyLines)
{
    static const QRegularExpression attribute(
        QStringLiteral("(?:\\bsrc|\\bbackground)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"
                       "|url\\(\\s*(?:\"([^\"]*)\"|'([^']*)'|([^)]*))\\s*\\)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression picture(
        QStringLiteral("\\.(?:gif|png|bmp|jpe?g)$"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    QHash<QString, QList<int>> refs;
    for (qsizetype i = 0; i < bodyLines.size(); ++i) {
        QRegularExpressionMatchIterator it = attribute.globalMatch(bodyLines.at(i));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            QString value;
            for (int g = 1; g <= 6 && value.isEmpty(); ++g)
                value = m.captured(g);
            value = value.trimmed();
            if (value.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
                value = QUrl(value).toLocalFile();
            // Another scheme (http, cid, data ...) is no local file; "C:\x.gif" is.
            const QRegularExpressionMatch s = scheme.match(value);
            if (s.hasMatch() && s.capturedLength() > 2)
                continue;
            if (!picture.match(value).hasMatch())
                continue;
            const qsizetype cut
                = qMax(value.lastIndexOf(QLatin1Char('/')), value.lastIndexOf(QLatin1Char('\\')));
            QList<int> &lines = refs[value.mid(cut + 1)];
            if (lines.isEmpty() || lines.last() != i + 1)
                lines.append(int(i + 1));
        }
    }
    return refs;
}

QString bytesText(qint64 bytes)
{
    return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
}

QString plural(int n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

QString MailboxProblem(const QString &address)
{
    if (address.isEmpty())
        return QStringLiteral("no address");
    bool quoted = false;
    int ats = 0;
    qsizetype at = -1;
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar c = address.at(i);
        if (quoted && c == u'\\') {
            ++i;
            continue;
        }
        if (c == u'"' && (i == 0 || quoted))
            quoted = !quoted;
        else if (!quoted && (c.unicode() <= 0x20 || c.unicode() == 0x7F || c.isSpace()))
            return QStringLiteral("blanks in the address");
        else if (!quoted && c == u'@') {
            ++ats;
            at = i;
        }
    }
    if (ats == 0)
        return QStringLiteral("missing \"@\"");
    if (ats > 1)
        return QStringLiteral("two \"@\"");
    const QString local = localPartProblem(QStringView(address).first(at));
    if (!local.isEmpty())
        return local;
    const QStringView domain = QStringView(address).sliced(at + 1);
    if (domain.isEmpty())
        return QStringLiteral("nothing after the \"@\"");
    if (!isDomain(domain))
        return QStringLiteral("bad domain");
    return QString();
}

bool RunSkipsLine(const QString &line, bool mailProgram, bool bcc)
{
    if (compose::IsBlankLine(line))
        return true;
    if (bcc)
        return line == QLatin1String("*");
    return mailProgram && line.startsWith(QLatin1Char('*'));
}

int CheckReport::count(CheckFinding::Severity severity) const
{
    int n = 0;
    for (const CheckFinding &f : findings)
        n += f.severity == severity ? 1 : 0;
    return n;
}

int CheckReport::exitStatus() const
{
    if (count(Severity::Error) > 0)
        return 2;
    return count(Severity::Warning) > 0 ? 1 : 0;
}

QByteArray CheckReport::toJson() const
{
    QJsonArray list;
    for (const CheckFinding &f : findings) {
        QJsonObject o;
        o.insert(QLatin1String("severity"),
            f.severity == Severity::Error         ? QStringLiteral("error")
                : f.severity == Severity::Warning ? QStringLiteral("warning")
                                                  : QStringLiteral("info"));
        o.insert(QLatin1String("code"), f.code);
        QJsonArray lines;
        for (int l : f.lines)
            lines.append(l);
        o.insert(QLatin1String("lines"), lines);
        if (!f.lines.isEmpty())
            o.insert(QLatin1String("linesOf"),
                f.bodyLines ? QStringLiteral("body") : QStringLiteral("addressList"));
        o.insert(QLatin1String("subject"), f.subject);
        o.insert(QLatin1String("message"), f.message);
        list.append(o);
    }
    QJsonObject root;
    root.insert(QLatin1String("errors"), count(Severity::Error));
    root.insert(QLatin1String("warnings"), count(Severity::Warning));
    root.insert(QLatin1String("information"), count(Severity::Info));
    root.insert(QLatin1String("largestMessage"), largestMessage);
    root.insert(QLatin1String("largestMessageLine"), largestMessageLine);
    root.insert(QLatin1String("findings"), list);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

CheckReport Checker::run(bool server)
{
    checkRouteAndProfile();
    checkSenderAndSubject();
    checkAddressLines();
    checkMacros();
    checkFiles();
    checkPictureReferences();
    measureLargestMessage();
    if (server)
        checkServer();
    return m_report;
}

void Checker::checkRouteAndProfile()
{
    if (m_settings.route < 0) {
        add(Severity::Error, QStringLiteral("route-missing"), {}, QString(),
            QStringLiteral("the project selects no delivery route on this machine; nothing "
                           "would be sent"));
        return;
    }
    if (!smtp())
        return;
    if (m_p.smtpServer.isEmpty()) {
        add(Severity::Error, QStringLiteral("profile-missing"), {}, QString(),
            QStringLiteral("the project selects no SMTP profile of smtp.ini"));
        return;
    }
    QString error;
    if (!settings::LoadSmtpProfile(
            settings::HomeFolder::smtpIniPath(), m_p.smtpServer, &m_profile, &error)) {
        add(Severity::Error, QStringLiteral("profile-missing"), {}, m_p.smtpServer, error);
        return;
    }
    if (m_profile.server.trimmed().isEmpty()) {
        add(Severity::Error, QStringLiteral("profile-missing"), {}, m_p.smtpServer,
            QStringLiteral("the SMTP profile names no server"));
        return;
    }
    m_profileOk = true;
}

void Checker::checkSenderAndSubject()
{
    const QString problem = MailboxProblem(compose::AddressOfLine(m_p.from));
    // A mail program puts its own sender on the envelope, so there a bad sender only shows.
    if (!problem.isEmpty())
        add(mailProgram() ? Severity::Warning : Severity::Error, QStringLiteral("sender-invalid"),
            {}, m_p.from, QStringLiteral("the sender's address: %1").arg(problem));
    if (m_p.subject.trimmed().isEmpty())
        add(Severity::Warning, QStringLiteral("subject-empty"), {}, QString(),
            QStringLiteral("the subject is empty"));
}

void Checker::checkAddressLines()
{
    QList<int> skipped;
    QHash<QString, QList<int>> byAddress;
    QList<QString> order; // addresses in the order of their first line
    int recipients = 0;
    for (qsizetype i = 0; i < m_p.addressList.size(); ++i) {
        const QString &line = m_p.addressList.at(i);
        const int number = int(i + 1);
        if (RunSkipsLine(line, mailProgram(), m_settings.sendAsBcc)) {
            skipped.append(number);
            continue;
        }
        QString address = compose::AddressOfLine(line);
        if (mailProgram()) {
            QString name;
            compose::MailProgramMailbox(line.trimmed(), &name, &address);
        }
        const QString problem = MailboxProblem(address);
        if (!problem.isEmpty()) {
            add(Severity::Error, QStringLiteral("address-invalid"), {number}, line, problem);
            continue;
        }
        ++recipients;
        QList<int> &lines = byAddress[address.toCaseFolded()];
        if (lines.isEmpty())
            order.append(address.toCaseFolded());
        lines.append(number);
    }
    for (const QString &key : std::as_const(order)) {
        const QList<int> &lines = byAddress.value(key);
        if (lines.size() > 1)
            add(Severity::Warning, QStringLiteral("address-duplicate"), lines,
                m_p.addressList.at(lines.first() - 1),
                QStringLiteral("the same address on %1 lines").arg(lines.size()));
    }
    if (!skipped.isEmpty())
        add(Severity::Info, QStringLiteral("line-skipped"), skipped, QString(),
            QStringLiteral("%1 skipped by the run (blank%2)")
                .arg(plural(int(skipped.size()), "line", "lines"),
                    m_settings.sendAsBcc ? QStringLiteral(" or \"*\"")
                        : mailProgram()  ? QStringLiteral(" or starting with \"*\"")
                                         : QString()));
    if (recipients == 0)
        add(Severity::Warning, QStringLiteral("list-empty"), {}, QString(),
            QStringLiteral("no address line would be sent to"));
    else
        add(Severity::Info, QStringLiteral("recipients"), {}, QString(),
            QStringLiteral("%1 to send to")
                .arg(plural(recipients, "address line", "address lines")));
}

void Checker::checkMacros()
{
    static const QRegularExpression macro(QStringLiteral("%([A-Za-z_][A-Za-z0-9_]*)%"));
    static const QRegularExpression hexPair(QStringLiteral("^[0-9A-Fa-f]{2}$"));
    QHash<QString, QList<int>> lookAlikes;
    QList<QString> order;
    QHash<QString, QList<int>> used;
    for (qsizetype i = 0; i < m_p.text.size(); ++i) {
        QRegularExpressionMatchIterator it = macro.globalMatch(m_p.text.at(i));
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            const QString name = m.captured(1);
            if (name == QLatin1String("TO") || name == QLatin1String("FROM")
                || name == QLatin1String("SUBJECT")) {
                used[name].append(int(i + 1));
                continue;
            }
            // "%C3%" is a percent-encoded byte in a URL, not a macro.
            if (hexPair.match(name).hasMatch())
                continue;
            QList<int> &lines = lookAlikes[m.captured(0)];
            if (lines.isEmpty())
                order.append(m.captured(0));
            if (lines.isEmpty() || lines.last() != i + 1)
                lines.append(int(i + 1));
        }
    }
    for (const QString &text : std::as_const(order))
        addInBody(Severity::Warning, QStringLiteral("macro-lookalike"), lookAlikes.value(text),
            text,
            QStringLiteral("looks like a macro but is none; the macros are %TO%, %FROM% and "
                           "%SUBJECT%, in capitals"));
    auto empty = [&](const char *name, bool isEmpty, const QString &why) {
        const QString key = QLatin1String(name);
        if (used.contains(key) && isEmpty)
            addInBody(Severity::Warning, QStringLiteral("macro-empty"), used.value(key),
                QLatin1Char('%') + key + QLatin1Char('%'), why);
    };
    empty("FROM", m_p.from.isEmpty(), QStringLiteral("the sender is empty"));
    empty("SUBJECT", m_p.subject.isEmpty(), QStringLiteral("the subject is empty"));
    empty("TO", m_settings.sendAsBcc,
        QStringLiteral("BCC batches fill it with nothing: one message goes to every address"));
    if (macro.match(m_p.subject).hasMatch())
        add(Severity::Warning, QStringLiteral("macro-in-subject"), {}, m_p.subject,
            QStringLiteral("macros are filled in the body only; the subject goes as it is"));
}

void Checker::checkFiles()
{
    // What the route sends: SMTP the pictures of an HTML body, a mail program the pictures
    // whatever the body; both the attachments.
    QStringList sent;
    if (mailProgram() || m_settings.htmlBody)
        sent = m_settings.pictures;
    if (smtp() && !m_settings.htmlBody) {
        for (const QString &path : m_settings.pictures)
            add(Severity::Warning, QStringLiteral("picture-unreferenced"), {}, path,
                QStringLiteral("the body is not HTML, so the picture is not sent"));
    }
    sent += m_settings.files;
    for (const QString &path : std::as_const(sent)) {
        const QFileInfo info(path);
        QFile file(path);
        if (!info.exists())
            add(Severity::Error, QStringLiteral("file-missing"), {}, path,
                QStringLiteral("the file does not exist"));
        else if (!info.isFile())
            add(Severity::Error, QStringLiteral("file-not-regular"), {}, path,
                QStringLiteral("not a regular file"));
        else if (!file.open(QIODevice::ReadOnly))
            add(Severity::Error, QStringLiteral("file-unreadable"), {}, path, file.errorString());
        else
            add(Severity::Info, QStringLiteral("file"), {}, path, bytesText(info.size()));
    }
}

void Checker::checkPictureReferences()
{
    if (!m_settings.htmlBody)
        return;
    const QHash<QString, QList<int>> refs = pictureReferences(m_p.text);
    QHash<QString, QString> listed; // file name -> path
    for (const QString &path : m_settings.pictures)
        listed.insert(QFileInfo(path).fileName(), path);
    QList<QString> names = refs.keys();
    std::sort(names.begin(), names.end(),
        [&](const QString &a, const QString &b) { return refs.value(a) < refs.value(b); });
    for (const QString &name : std::as_const(names))
        if (!listed.contains(name))
            addInBody(Severity::Warning, QStringLiteral("picture-unlisted"), refs.value(name), name,
                QStringLiteral("the body shows this picture, but it is not in the picture list"));
    for (const QString &path : m_settings.pictures)
        if (!refs.contains(QFileInfo(path).fileName()))
            add(Severity::Warning, QStringLiteral("picture-unreferenced"), {}, path,
                QStringLiteral("listed, but the body does not show it"));
}

void Checker::measureLargestMessage()
{
    if (m_settings.route < 0)
        return;
    // One by one, %TO% takes the whole line, so the longest line gives the biggest message;
    // a BCC message is the same for every batch.
    int longest = -1;
    qsizetype longestSize = -1;
    if (!m_settings.sendAsBcc) {
        for (qsizetype i = 0; i < m_p.addressList.size(); ++i) {
            const QString &line = m_p.addressList.at(i);
            if (RunSkipsLine(line, mailProgram(), false))
                continue;
            const qsizetype size = line.toUtf8().size();
            if (size > longestSize) {
                longestSize = size;
                longest = int(i);
            }
        }
        if (longest < 0)
            return;
    }
    const QString line = longest >= 0 ? m_p.addressList.at(longest) : QString();
    QString body = m_settings.body;
    const QByteArray contentIdDomain = compose::NewContentIdDomain();
    if (m_settings.htmlBody)
        body = compose::PrepareHtmlBody(body, mailProgram(), m_settings.pictures, contentIdDomain);
    body = compose::ApplyMacros(body, line, m_p.from, m_p.subject, m_settings.htmlBody);

    qint64 size = -1;
    QString error;
    if (smtp()) {
        compose::MessageContent content;
        content.body = body;
        content.html = m_settings.htmlBody;
        content.contentIdDomain = contentIdDomain;
        content.pictures = m_settings.pictures;
        content.attachments = m_settings.files;
        std::unique_ptr<compose::MimeMessage> message
            = compose::BuildMessage(content, nullptr, &error);
        if (!message)
            return;
        message->setFrom(m_p.from);
        message->setSubject(m_p.subject);
        message->setTo({longest >= 0 ? compose::AddressOfLine(line) : m_p.from});
        message->encode();
        size = message->size();
    } else {
        compose::MailProgramMessage message;
        message.subject = m_p.subject;
        message.body = body;
        message.html = m_settings.htmlBody;
        message.pictures = m_settings.pictures;
        message.files = m_settings.files;
        message.contentIdDomain = contentIdDomain;
        if (longest >= 0) {
            message.recipients.append({line.trimmed(), false});
        } else {
            // The biggest batch by the length of its lines, counted by position as the run does.
            const int batch = SendRun::batchSizeFromText(m_settings.batchSizeText);
            QList<compose::MailProgramMessage::Recipient> best;
            qsizetype bestSize = -1;
            for (qsizetype start = 0; start < m_p.addressList.size(); start += batch) {
                QList<compose::MailProgramMessage::Recipient> one;
                qsizetype total = 0;
                for (qsizetype i = start; i < qMin(start + batch, m_p.addressList.size()); ++i) {
                    const QString &l = m_p.addressList.at(i);
                    if (RunSkipsLine(l, true, true))
                        continue;
                    one.append({l.trimmed(), true});
                    total += l.size();
                }
                if (!one.isEmpty() && total > bestSize) {
                    bestSize = total;
                    best = one;
                }
            }
            if (best.isEmpty())
                return;
            message.recipients = best;
        }
        QByteArray bytes;
        if (message.build(&bytes, &error) != compose::MailProgramMessage::Error::None)
            return;
        size = bytes.size();
    }
    m_report.largestMessage = size;
    m_report.largestMessageLine = longest + 1;
    add(Severity::Info, QStringLiteral("message-size"),
        longest >= 0 ? QList<int> {longest + 1} : QList<int>(), longest >= 0 ? line : QString(),
        QStringLiteral("the biggest message is %1").arg(bytesText(size)));
}

void Checker::checkServer()
{
    if (!smtp()) {
        add(Severity::Info, QStringLiteral("server"), {}, QString(),
            QStringLiteral("the route is a mail program; there is no SMTP server to check"));
        return;
    }
    if (!m_profileOk)
        return;
    const QString endpoint = m_profile.server + QLatin1Char(':') + m_profile.port;
    SmtpClient client(m_profile);
    QString lastError;
    QObject::connect(&client, &SmtpClient::statusLine, &client, [&](const QString &line) {
        if (line.startsWith(QLatin1String("Error: ")))
            lastError = line.mid(7);
    });
    if (!client.open()) {
        QString why = lastError;
        if (why.isEmpty() && !client.lastReply().isEmpty())
            why = QString::fromUtf8(client.lastReply().constFirst());
        // A refused log-in fails the opening, and so would stop the run before its first line.
        if (client.loginFailed()) {
            add(Severity::Error, QStringLiteral("server-login"), {}, endpoint,
                QStringLiteral("the log-in as \"%1\" fails, so the run would stop at once: %2")
                    .arg(m_profile.user, why));
            client.close();
            return;
        }
        add(Severity::Error, QStringLiteral("server-unreachable"), {}, endpoint,
            QStringLiteral("no SMTP session could be opened: %1")
                .arg(why.isEmpty() ? QStringLiteral("the server refused") : why));
        client.close();
        return;
    }

    qint64 limit = -1;
    QStringList mechanisms;
    bool offersStartTls = false;
    for (const QByteArray &cap : client.capabilities()) {
        const QString text = QString::fromUtf8(cap).trimmed();
        const QString upper = text.toUpper();
        if (upper == QLatin1String("SIZE") || upper.startsWith(QLatin1String("SIZE "))) {
            limit = text.mid(5).trimmed().toLongLong();
        } else if (upper.startsWith(QLatin1String("AUTH "))
            || upper.startsWith(QLatin1String("AUTH="))) {
            for (const QString &m : text.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                if (!mechanisms.contains(m.toUpper()))
                    mechanisms.append(m.toUpper());
            }
        } else if (upper == QLatin1String("STARTTLS")) {
            offersStartTls = true;
        }
    }
    if (client.isEncrypted())
        add(Severity::Info, QStringLiteral("server-tls"), {}, endpoint,
            QStringLiteral("the session is encrypted (TLS)"));
    else
        add(Severity::Info, QStringLiteral("server-tls"), {}, endpoint,
            offersStartTls
                ? QStringLiteral("the session is not encrypted; the server offers STARTTLS "
                                 "(Security=STARTTLS in the profile uses it)")
                : QStringLiteral("the session is not encrypted"));
    add(Severity::Info, QStringLiteral("server-auth"), {}, endpoint,
        mechanisms.isEmpty() ? QStringLiteral("the server offers no log-in (AUTH)")
                             : QStringLiteral("log-in mechanisms offered: %1")
                                   .arg(mechanisms.join(QLatin1Char(' '))));
    if (m_profile.user.isEmpty() && m_profile.password.isEmpty())
        add(Severity::Info, QStringLiteral("server-login"), {}, endpoint,
            QStringLiteral("the profile has no user name, so no log-in is tried"));
    else if (client.isAuthenticated())
        add(Severity::Info, QStringLiteral("server-login"), {}, endpoint,
            QStringLiteral("the log-in as \"%1\" succeeds").arg(m_profile.user));
    else
        add(Severity::Warning, QStringLiteral("server-login"), {}, endpoint,
            QStringLiteral("no log-in as \"%1\" is tried: the server offers no mechanism "
                           "this program knows; the server may refuse the messages")
                .arg(m_profile.user));
    if (limit > 0) {
        if (m_report.largestMessage > limit)
            add(Severity::Warning, QStringLiteral("message-too-big"), {}, endpoint,
                QStringLiteral("the biggest message (%1) is over the server's limit of %2")
                    .arg(bytesText(m_report.largestMessage), bytesText(limit)));
        else
            add(Severity::Info, QStringLiteral("server-size"), {}, endpoint,
                QStringLiteral("the server takes messages of up to %1").arg(bytesText(limit)));
    } else {
        add(Severity::Info, QStringLiteral("server-size"), {}, endpoint,
            QStringLiteral("the server announces no size limit"));
    }
    client.close();
}

CheckReport PreflightCheck(const project::Project &p, const StartUp &s, bool server)
{
    return Checker(p, s).run(server);
}

} // namespace kolporta::delivery
