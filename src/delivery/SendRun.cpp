#include "delivery/SendRun.h"

#include "compose/HtmlBody.h"
#include "compose/MailProgramMessage.h"
#include "compose/MessageAssembly.h"
#include "compose/MimeMessage.h"
#include "delivery/MailObject.h"
#include "delivery/Pacer.h"
#include "delivery/SendRunHost.h"
#include "delivery/SmtpClient.h"
#include "delivery/SmtpConnection.h"
#include "delivery/SmtpLanes.h"
#include "delivery/SmtpSession.h"
#include "settings/HomeFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>

#include <algorithm>
#include <deque>
#include <limits>
#include <list>

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
// The connection was lost after the end-of-data ".": the message may have arrived.
const QString Uncertain = QStringLiteral("  Chyba - doručení nejisté");
const QString BatchUncertain = QStringLiteral("!!! Chyba - doručení nejisté");
const QString LoginFailed = QStringLiteral("Přihlášení k serveru se nezdařilo: ");
// A 4xx reply, with RetryTemporary=1: the line goes again later.
const QString Deferred = QStringLiteral("  dočasně odmítnuto, opakuji později");
// The run stops at the provider's daily quota; the rest can go the next day.
const QString DayLimit
    = QStringLiteral("denní limit serveru vyčerpán (MaxPerDay=%1), zbylé řádky lze odeslat zítra");
// The first line of a test send's log.
const QString TestSend = QStringLiteral("--- zkusebni zprava na %1, sestavena pro radek %2 ---");
} // namespace Text

const QString kBang = QStringLiteral("!!! ");

bool isStarLine(const QString &line)
{
    return line.size() == 1 && line.at(0) == QLatin1Char('*');
}

JournalState journalState(LineOutcome outcome)
{
    switch (outcome) {
    case LineOutcome::Sent:
        return JournalState::Sent;
    case LineOutcome::Refused:
        return JournalState::Refused;
    case LineOutcome::Failed:
        return JournalState::Failed;
    case LineOutcome::Uncertain:
        return JournalState::Uncertain;
    case LineOutcome::Skipped:
        return JournalState::Skipped;
    }
    return JournalState::Failed;
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

    // Every line the run reaches gets exactly one outcome, reported here and recorded in the
    // journal, with the batch it went in (BCC modes) and the server's reply or the error;
    // unless `inBatch`: then its batch's outcome record stands for it.
    void report(int index, const QString &line, LineOutcome outcome, int batch = 0,
        const QString &reply = QString(), bool inBatch = false)
    {
        m_counts.add(outcome);
        m_host.lineOutcome(index, outcome);
        if (!inBatch)
            m_journal.record(index + 1, line, journalState(outcome), batch, reply);
        m_planned.remove(index);
        noteJournalTrouble();
    }
    // Right before the end of data (or the hand-over) that carries these lines: once it has
    // gone they may have been delivered, so the journal must say so whatever happens next,
    // even after the machine went down. The `planned` record of a line, flushed already,
    // says so; any other line waits for a flush of its `trying` record.
    void trying(const QList<int> &indexes, const QStringList &lines, int batch)
    {
        if (!m_journal.isOpen())
            return;
        bool planned = true;
        m_journal.beginGroup();
        for (qsizetype k = 0; k < indexes.size(); ++k) {
            m_journal.record(indexes.at(k) + 1, lines.at(k), JournalState::Trying, batch);
            const auto it = m_planned.constFind(indexes.at(k));
            planned = planned && it != m_planned.constEnd() && *it == lines.at(k);
        }
        m_journal.endGroup();
        if (!planned)
            flush();
        noteJournalTrouble();
    }
    void planAhead(int index);
    void flush();
    // A flush at a batch boundary, unless one came so recently that it would cost the run
    // more than its share of time.
    void flushIfDue()
    {
        if (m_journal.isOpen() && m_runClock.elapsed() - m_lastFlush >= FlushShare * m_flushMs)
            flush();
    }
    bool modeSkips(const QString &line) const;
    // A journal that cannot be written costs only the journal; the user is told once.
    void noteJournalTrouble()
    {
        if (m_journalTrouble || m_journal.error().isEmpty())
            return;
        m_journalTrouble = true;
        m_host.statusLine(QStringLiteral("Journal: ") + m_journal.error());
    }
    // Lines an earlier run settled are passed over (a resumed or retried run).
    bool passedOver(int index) const
    {
        const QList<bool> &sends = m_settings.rerun.sends;
        return index < sends.size() && !sends.at(index);
    }
    QString smtpReply() { return smtp().lastReplyText(); }
    void startJournal(const QString &path);

    bool smtpRoute();
    void showConnectFailed();

    // The SMTP route over lanes, for the profile's keys of speed and quotas: pipelining,
    // several connections, pacing, deferred retries of 4xx replies.
    struct Unit;
    bool usesLanes(const settings::SmtpProfile &profile) const;
    bool smtpLanes(const settings::SmtpProfile &profile);
    void laneEvents(std::deque<SmtpLanes::Event> events);
    Unit *findUnit(int id);
    bool dispatch(Unit &unit);
    void emitUnits();
    void emitUnit(Unit &unit);
    void showOldest();
    Unit *dueRetry(qint64 *nextDue);
    void failWaitingRetries();
    qint64 steadyNow() const
    {
        return m_owner.m_steadyClock ? m_owner.m_steadyClock() : m_runClock.elapsed();
    }
    SmtpSession &smtp() { return m_smtp->session(); }
    bool recover(int *attempts);
    bool sendMessage(const QList<QByteArray> &message, const QList<int> &indexes,
        const QStringList &lines, int batch, QString *error, bool *afterEnd);
    // MAIL FROM and RCPT TO for the sender field and an address line: the address in its
    // transport form, with SMTPUTF8 when the message goes with it. An address that needs
    // SMTPUTF8 on a message that goes without is refused here, and the server hears nothing.
    bool mailFrom(const QString &senderText, qint64 size, bool smtpUtf8);
    bool rcptTo(const QString &line, bool smtpUtf8);

    bool smtpSingle();
    LineOutcome sendSingle(int index, const QString &line, const QList<QByteArray> &lines,
        qint64 size, bool smtpUtf8, bool *poll, QString *reply);
    bool smtpTest();

    bool smtpBcc();
    void startBatch();
    bool giveSender();
    bool ensureTransaction();
    void addRecipient(int index, const QString &line);
    void sendBatch(const QList<QByteArray> &lines);
    void failBatch();
    void finishBatch(LineOutcome outcome, const QString &reply, bool tried = false);

    bool mailRoute();
    bool mailBcc(MailObject &mail);
    bool mailSingle(MailObject &mail);
    bool mailTest(MailObject &mail);
    bool handOver(MailObject &mail, const QList<int> &indexes, const QStringList &lines, int batch);

    SendRun &m_owner;
    SendRunHost &m_host;
    const SendRunSettings &m_settings;
    int m_batchSize = 50;
    int m_lastLine = -1;
    int m_progressMaximum = 0;
    QString m_template;
    QByteArray m_contentIdDomain;
    std::shared_ptr<const compose::PlainTextTemplate> m_textTemplate;
    compose::PartCache m_parts;
    std::unique_ptr<compose::MessageTemplate> m_message; // made at the first message
    std::unique_ptr<SmtpConnection> m_smtp;
    bool m_connectFailed = false;
    QString m_error;
    LineCounts m_counts;
    RunJournal m_journal;
    bool m_journalTrouble = false;
    // The lines recorded as planned (and flushed) and not yet settled, with their text.
    QHash<int, QString> m_planned;
    int m_plannedTo = 0; // the lines below this index have been planned (or left out)
    // Each flush costs about m_flushMs; the run plans as many lines ahead as it goes through
    // in FlushShare times that, so that flushing takes some 1% of its time. After the
    // machine went down, the lines planned by the last flush count as possibly delivered.
    static constexpr int FlushShare = 100;
    static constexpr int MinPlanAhead = 8;
    static constexpr int MaxPlanAhead = 2048;
    QElapsedTimer m_runClock;
    double m_flushMs = 0;
    qint64 m_lastFlush = 0; // m_runClock's time of the last flush
    int m_batches = 0; // BCC batches numbered so far
    QDateTime m_start;
    QString m_logFolder;
    QString m_ownJournal; // the journal name this run reserved

    // A transaction of the lane route and the lines it stands for: each address line the run
    // reaches belongs to one unit, which logs and reports them, in list order.
    struct Unit
    {
        LaneJob job; // without lines: a unit of skipped lines only
        QList<int> skipped; // the lines the mode skips, between the job's
        QStringList skippedLines;
        QString senderText; // the sender field as the transaction went
        int batch = 0; // the BCC batch's number in the journal
        int tries = 0; // how often it went again after a 4xx reply
        qint64 due = 0; // a deferred unit goes again from this time on (steadyNow())
        bool dispatched = false;
        bool done = false;
        LaneResult result;
        int firstIndex() const
        {
            const int a = job.indexes.isEmpty() ? std::numeric_limits<int>::max()
                                                : job.indexes.constFirst();
            return skipped.isEmpty() ? a : std::min(a, skipped.constFirst());
        }
    };
    SmtpLanes *m_lanes = nullptr;
    const settings::SmtpProfile *m_profile = nullptr;
    bool m_laneUtf8 = false;
    std::deque<Unit> m_units; // in list order, until their lines are logged
    std::list<Unit> m_retries; // deferred lines: waiting, or going again
    int m_jobs = 0;
    int m_readTo = 0; // the line the run reads next
    int m_shownTurn = -1;
    QString m_waiting; // the pacing wait shown, "" for none
    bool m_laneLoginFailed = false;
    QString m_laneError;

    // Why the SMTP route stops before its end, other than an error.
    enum class Stop {
        None,
        Cancelled, // the user cancelled while the connection was to be made again
        GaveUp, // the server could not be reached again
    };
    Stop m_stop = Stop::None;

    // The open BCC batch: one transaction, made again on a new connection after a loss.
    struct Batch
    {
        QList<int> indexes; // the lines whose addresses the server accepted, in order
        QStringList lines;
        int number = 0; // in the journal, from 1; given with the batch's first address
        int counter = 0; // addresses given, refused ones included
        int attempts = 0; // the transaction's retries so far
        bool open = false; // MAIL FROM and the accepted addresses went over this session
    };
    Batch m_batch;
    qint64 m_messageSize = 0;
};

SendRunResult SendRun::Run::execute()
{
    // A. Start of every run.
    m_host.clearStatusLines();
    const QString folder
        = m_owner.m_logFolderSet ? m_owner.m_logFolder : settings::HomeFolder::logFolder();
    const QDateTime now = m_owner.m_clock ? m_owner.m_clock() : QDateTime::currentDateTime();
    m_start = now;
    m_logFolder = folder;
    // A run that sends nothing writes no file. Any other takes a log and a journal name that
    // no other run holds, so it never replaces an earlier run's log.
    RunFiles files;
    QString journalError;
    if (!folder.isEmpty() && m_settings.route >= 0) {
        files = ReserveRunFiles(folder, now, &journalError);
        m_ownJournal = files.journal;
        if (!journalError.isEmpty())
            files.journal.clear();
        else if (!m_settings.journal || !m_settings.testAddress.isEmpty())
            QFile::remove(files.journal); // the reservation alone; this run keeps none
    }
    m_owner.m_log.start(files.log);
    m_owner.m_journalPath.clear();
    m_runClock.start();
    m_batchSize = SendRun::batchSizeFromText(m_settings.batchSizeText);
    m_host.showProgressWindow();
    m_host.clearCancelRequested();
    m_template = m_settings.body;
    m_lastLine = m_host.lineCount() - 1;
    m_contentIdDomain = compose::NewContentIdDomain();
    if (m_settings.htmlBody)
        m_template = compose::PrepareHtmlBody(
            m_template, m_settings.route > 0, m_settings.pictures, m_contentIdDomain);
    if (m_settings.htmlBody && m_settings.route == 0)
        m_textTemplate = std::make_shared<compose::PlainTextTemplate>(m_template);
    m_host.setBusyCursor(true);
    if (!journalError.isEmpty())
        m_host.statusLine(QStringLiteral("Journal: ") + journalError);
    else if (!files.journal.isEmpty() && m_settings.journal && m_settings.testAddress.isEmpty())
        startJournal(files.journal);

    SendRunResult result;
    result.lines = m_lastLine + 1;
    for (int i = 0; i <= m_lastLine; ++i)
        result.passedOver += passedOver(i) ? 1 : 0;
    result.lines -= result.passedOver;
    if (!m_settings.testAddress.isEmpty()) {
        result.lines = 1;
        if (m_settings.route >= 0)
            log(Text::TestSend.arg(m_settings.testAddress).arg(m_settings.testLine + 1));
    }
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
    result.counts = m_counts;

    // H. End of every run, however it ended.
    m_host.setTitle(appTitle());
    m_host.setBusyCursor(false);
    m_host.moveCaretToLineStart();
    m_host.setProgressMaximum(0);
    m_host.closeProgressWindow();
    m_owner.m_log.finish();
    m_journal.finish();
    if (result.status == SendRunResult::Status::Error)
        m_host.showGeneralError(m_error);
    return result;
}

// The header, then the records of the lines an earlier run settled, all made durable before
// the first message goes: a resumed run that is killed must still not send them again.
void SendRun::Run::startJournal(const QString &path)
{
    JournalHeader header = RunJournalHeader(m_settings, m_host);
    header.log = QFileInfo(m_owner.m_log.path()).fileName();
    header.boot = CurrentBootId();
    if (m_journal.start(path, header)) {
        m_journal.beginGroup();
        for (const JournalRecord &record : m_settings.rerun.carried)
            m_journal.record(record);
        m_journal.endGroup();
        flush();
        m_owner.m_journalPath = path;
    }
    noteJournalTrouble();
}

// Whether the run's mode skips the line (then it is never planned).
bool SendRun::Run::modeSkips(const QString &line) const
{
    if (compose::IsBlankLine(line))
        return true;
    if (m_settings.route > 0 && !m_settings.sendAsBcc)
        return line.startsWith(QLatin1Char('*'));
    return m_settings.sendAsBcc && isStarLine(line);
}

// Records the lines the run will send next as planned, from the list as it was at the start,
// and flushes them with all records before: their ends of data then need no flush of their
// own, and the outcomes so far are durable too.
void SendRun::Run::planAhead(int index)
{
    if (index < m_plannedTo || !m_journal.isOpen() || m_settings.addressLines.isEmpty())
        return;
    int ahead = MinPlanAhead;
    if (index > 0 && m_flushMs > 0) {
        const double msPerLine = double(m_runClock.elapsed()) / index;
        ahead = msPerLine > 0 ? int(std::min<double>(FlushShare * m_flushMs / msPerLine, 1e6))
                              : MaxPlanAhead;
        ahead = std::clamp(ahead, MinPlanAhead, MaxPlanAhead);
    }
    const int end = std::min({index + ahead, m_lastLine + 1, int(m_settings.addressLines.size())});
    if (end <= index) {
        m_plannedTo = std::numeric_limits<int>::max(); // past the list known at the start
        return;
    }
    m_journal.beginGroup();
    for (int j = index; j < end; ++j) {
        const QString &line = m_settings.addressLines.at(j);
        if (passedOver(j) || modeSkips(line))
            continue;
        m_journal.record(j + 1, line, JournalState::Planned);
        m_planned.insert(j, line);
    }
    m_journal.endGroup();
    m_plannedTo = end;
    flush();
}

void SendRun::Run::flush()
{
    const qint64 start = m_runClock.elapsed();
    QElapsedTimer took;
    took.start();
    m_journal.sync();
    const double ms = took.nsecsElapsed() / 1e6;
    m_flushMs = m_flushMs > 0 ? 0.7 * m_flushMs + 0.3 * ms : ms;
    m_lastFlush = start;
    noteJournalTrouble();
}

std::unique_ptr<compose::MimeMessage> SendRun::Run::buildMessage(const QString &toText)
{
    const QString sender = m_host.sender();
    const QString subject = m_host.subject();
    if (!m_message) {
        compose::MessageContent content;
        content.body = m_template;
        content.html = m_settings.htmlBody;
        content.contentIdDomain = m_contentIdDomain;
        content.textTemplate = m_textTemplate;
        content.pictures = m_settings.pictures;
        content.attachments = m_settings.files;
        m_message = std::make_unique<compose::MessageTemplate>(content, &m_parts);
    }
    QString error;
    std::unique_ptr<compose::MimeMessage> message
        = m_message->message(toText, sender, subject, &error);
    if (!message) {
        // The lane route logs it once the transactions under way have their lines.
        if (m_lanes)
            m_error = error;
        else
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
    if (usesLanes(profile)) {
        const bool ok = smtpLanes(profile);
        if (m_stop == Stop::GaveUp)
            showConnectFailed();
        else if (ok)
            log(Text::RouteEnd);
        return ok && m_stop != Stop::GaveUp;
    }
    std::unique_ptr<SmtpSession> session;
    if (m_owner.m_sessionFactory) {
        session = m_owner.m_sessionFactory(profile);
    } else {
        auto client = std::make_unique<SmtpClient>(profile);
        SendRunHost *host = &m_host;
        QObject::connect(client.get(), &SmtpClient::statusLine, client.get(),
            [host](const QString &line) { host->statusLine(line); });
        session = std::move(client);
    }
    if (!session) {
        showConnectFailed();
        return false;
    }
    SendRunHost *host = &m_host;
    session->setCancelCheck([host] { return host->waitsCancelled(); });
    m_smtp
        = std::make_unique<SmtpConnection>(std::move(session), m_host, m_owner.m_reconnectDelays);
    // The first opening is not tried again: a server that cannot be reached at all ends the
    // run at once.
    if (!m_smtp->open()) {
        showConnectFailed();
        m_smtp.reset();
        return false;
    }

    const bool ok = !m_settings.testAddress.isEmpty() ? smtpTest()
        : m_settings.sendAsBcc                        ? smtpBcc()
                                                      : smtpSingle();
    if (m_stop == Stop::GaveUp)
        showConnectFailed();
    else if (ok)
        log(Text::RouteEnd);
    // Also after an error: the server is told we are leaving rather than left hanging.
    m_smtp->close();
    m_smtp.reset();
    return ok && m_stop != Stop::GaveUp;
}

void SendRun::Run::showConnectFailed()
{
    m_connectFailed = true;
    log(kBang + Text::ConnectFailed);
    // A refused log-in would otherwise look like a server that cannot be reached.
    if (m_smtp ? smtp().loginFailed() : m_laneLoginFailed)
        m_host.showErrorBox(Text::ConnectFailed + QLatin1Char('\r') + Text::LoginFailed
                + (m_smtp ? m_smtp->error() : m_laneError),
            Text::ErrorCaption);
    else
        m_host.showErrorBox(Text::ConnectFailed, Text::ErrorCaption);
}

// After a lost session: true when a new one is open and the transaction may go again. A
// cancel or giving up on the server also stops the route (m_stop).
bool SendRun::Run::recover(int *attempts)
{
    switch (m_smtp->recover(attempts)) {
    case SmtpConnection::Recovery::Reopened:
        return true;
    case SmtpConnection::Recovery::RetriesUsed:
        return false;
    case SmtpConnection::Recovery::Cancelled:
        m_stop = Stop::Cancelled;
        return false;
    case SmtpConnection::Recovery::GaveUp:
        m_stop = Stop::GaveUp;
        return false;
    }
    return false;
}

// DATA and the message's lines, then its end-of-data ".": the one point past which the
// message may have been delivered whatever becomes of the connection (*afterEnd). A
// transaction is tried again only when it failed before this point, or when the server
// answered the "." with 421.
bool SendRun::Run::sendMessage(const QList<QByteArray> &message, const QList<int> &indexes,
    const QStringList &lines, int batch, QString *error, bool *afterEnd)
{
    *afterEnd = false;
    if (!smtp().sendDataLines(message, error))
        return false;
    *afterEnd = true;
    trying(indexes, lines, batch);
    return smtp().sendEndOfData(error);
}

bool SendRun::Run::mailFrom(const QString &senderText, qint64 size, bool smtpUtf8)
{
    const QString address = compose::AddressOfLine(senderText);
    if (smtpUtf8)
        return smtp().mailFromSmtpUtf8(address, size);
    return !compose::NeedsSmtpUtf8(address)
        && smtp().mailFrom(compose::TransportAddress(address, false), size);
}

bool SendRun::Run::rcptTo(const QString &line, bool smtpUtf8)
{
    const QString address = compose::AddressOfLine(line);
    return (smtpUtf8 || !compose::NeedsSmtpUtf8(address))
        && smtp().rcptTo(compose::TransportAddress(address, smtpUtf8));
}

// D. SMTP, one message per address line.
bool SendRun::Run::smtpSingle()
{
    log(Text::SmtpSingle);
    for (int i = 0; i <= m_lastLine; ++i) {
        showTurn(i);
        if (passedOver(i))
            continue;
        planAhead(i);
        const QString line = m_host.addressLine(i);
        if (compose::IsBlankLine(line)) {
            report(i, line, LineOutcome::Skipped);
            continue;
        }
        const QString address = compose::AddressOfLine(line);
        const bool lineUtf8 = compose::NeedsSmtpUtf8(address);
        if (lineUtf8 && m_smtp->isOpen() && !smtp().offersSmtpUtf8()) {
            log(kBang + line + Text::AddressRefused); // nothing went to the server for it
            report(i, line, LineOutcome::Refused);
            continue;
        }
        std::unique_ptr<compose::MimeMessage> message = buildMessage(line);
        if (!message)
            return false;
        message->setTo({address});
        m_host.moveCaretToLine(i);

        const bool smtpUtf8 = m_smtp->isOpen() && smtp().offersSmtpUtf8()
            && (lineUtf8 || compose::NeedsSmtpUtf8(compose::AddressOfLine(m_host.sender())));
        message->setSmtpUtf8(smtpUtf8);
        const QList<QByteArray> &lines = message->encode();
        bool poll = true;
        QString reply;
        const LineOutcome outcome
            = sendSingle(i, line, lines, message->size(), smtpUtf8, &poll, &reply);
        report(i, line, outcome, 0, reply);
        if (m_stop == Stop::GaveUp)
            return false;
        if (m_stop == Stop::Cancelled) {
            log(Text::SmtpCancelled);
            break;
        }
        if (!poll)
            continue; // no poll after a refused address or message
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

// One line's transaction. One that lost its connection before the "." went is tried again
// on a new connection, at most MaxRetries times; then the line fails and the run goes on.
LineOutcome SendRun::Run::sendSingle(int index, const QString &line, const QList<QByteArray> &lines,
    qint64 size, bool smtpUtf8, bool *poll, QString *reply)
{
    const QString sender = m_host.sender();
    int attempts = 0;
    for (;;) {
        if (!m_smtp->isOpen() && !recover(&attempts)) {
            log(kBang + line + QStringLiteral("  ") + Text::SendError + m_smtp->error());
            *reply = m_smtp->error();
            return LineOutcome::Failed;
        }
        if (!mailFrom(sender, size, smtpUtf8)) {
            if (m_smtp->lost())
                continue;
            // The connection stays open; the next line tries again.
            log(kBang + sender + Text::FromRefused);
            *reply = smtpReply();
            return LineOutcome::Refused;
        }
        if (!rcptTo(line, smtpUtf8)) {
            if (m_smtp->lost())
                continue;
            log(kBang + line + Text::AddressRefused);
            *reply = smtpReply();
            m_smtp->reopen();
            *poll = false;
            return LineOutcome::Refused;
        }
        QString error;
        bool afterEnd = false;
        if (sendMessage(lines, {index}, {line}, 0, &error, &afterEnd)) {
            log(line);
            *reply = smtpReply();
            return LineOutcome::Sent;
        }
        if (!error.isEmpty()) {
            log(kBang + line + QStringLiteral("  ") + Text::SendError + error);
            showSendError(error);
            *reply = error;
            return LineOutcome::Failed;
        }
        if (m_smtp->lost()) {
            if (!afterEnd || smtp().lastReplyCode() == 421)
                continue;
            // Sent again, it might arrive twice; the user decides.
            log(kBang + line + Text::Uncertain);
            *reply = m_smtp->error();
            return LineOutcome::Uncertain;
        }
        log(kBang + line + Text::DataRefused);
        *reply = smtpReply();
        m_smtp->reopen();
        *poll = false;
        return LineOutcome::Refused;
    }
}

// A test send: the one message line testLine would get, to the test address only.
bool SendRun::Run::smtpTest()
{
    const int index = m_settings.testLine;
    const QString address = m_settings.testAddress;
    const QString line = m_host.addressLine(index);
    // In BCC mode every recipient gets the message built for no one in particular.
    std::unique_ptr<compose::MimeMessage> message
        = buildMessage(m_settings.sendAsBcc ? QString() : line);
    if (!message)
        return false;
    message->setTo({address});
    bool poll = true;
    QString reply;
    const LineOutcome outcome
        = sendSingle(index, address, message->encode(), message->size(), false, &poll, &reply);
    m_counts.add(outcome);
    m_host.lineOutcome(index, outcome);
    return m_stop != Stop::GaveUp;
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
    message->setSmtpUtf8(m_smtp->isOpen() && smtp().offersSmtpUtf8()
        && compose::NeedsSmtpUtf8(compose::AddressOfLine(m_host.sender())));
    const QList<QByteArray> lines = message->encode();
    m_messageSize = message->size();
    m_batch = Batch();
    startBatch();

    for (int i = 0; i <= m_lastLine; ++i) {
        showTurn(i);
        if (passedOver(i))
            continue;
        planAhead(i);
        const QString line = m_host.addressLine(i);
        if (compose::IsBlankLine(line)) {
            report(i, line, LineOutcome::Skipped);
            continue;
        }
        // Batches go lazily: a full batch is sent when the next address arrives.
        if (m_batch.counter >= m_batchSize) {
            sendBatch(lines);
            m_host.repaintMainWindow();
            if (m_stop == Stop::GaveUp)
                return false;
            if (m_stop == Stop::Cancelled) {
                log(Text::SmtpCancelled);
                break;
            }
            startBatch();
        }
        if (isStarLine(line)) {
            report(i, line, LineOutcome::Skipped);
        } else {
            ++m_batch.counter; // a refused address still counts toward the batch
            addRecipient(i, line);
            m_host.moveCaretToLine(i);
            if (m_stop == Stop::GaveUp)
                return false;
            if (m_stop == Stop::Cancelled) {
                log(Text::SmtpCancelled);
                break;
            }
        }
        m_host.processEvents();
        if (m_host.cancelRequested()) {
            log(Text::SmtpCancelled);
            break;
        }
    }
    if (m_batch.counter > 0) {
        m_host.setProgressPosition(m_progressMaximum);
        sendBatch(lines);
        m_host.repaintMainWindow();
    }
    return m_stop != Stop::GaveUp;
}

// MAIL FROM at the start of every batch, as the route has always given it. A session lost
// by then is made again at the batch's first address.
void SendRun::Run::startBatch()
{
    if (m_smtp->isOpen())
        giveSender();
}

// MAIL FROM, then again every address the batch already has, after a new connection (those
// were logged when first accepted and are not logged again). False when the session was lost.
bool SendRun::Run::giveSender()
{
    const QString sender = m_host.sender();
    // A BCC recipient may need SMTPUTF8, and the transaction starts before they are known.
    if (!mailFrom(sender, m_messageSize, smtp().offersSmtpUtf8())) {
        if (m_smtp->lost())
            return false;
        // The server will refuse the addresses that follow; the run goes on.
        log(kBang + sender + Text::FromRefused);
    }
    m_batch.open = true;
    for (qsizetype k = 0; k < m_batch.indexes.size();) {
        if (rcptTo(m_batch.lines.at(k), smtp().offersSmtpUtf8())) {
            ++k;
            continue;
        }
        if (m_smtp->lost()) {
            m_batch.open = false;
            return false;
        }
        // Accepted on the lost connection, refused on this one: it is not sent.
        log(kBang + m_batch.lines.at(k) + Text::AddressRefused);
        report(m_batch.indexes.at(k), m_batch.lines.at(k), LineOutcome::Refused, m_batch.number,
            smtpReply());
        m_batch.indexes.removeAt(k);
        m_batch.lines.removeAt(k);
    }
    return true;
}

// The batch's transaction on an open session, made anew after a lost connection. False
// when that cannot be done within the batch's retries, or the run must stop (m_stop).
bool SendRun::Run::ensureTransaction()
{
    while (!m_batch.open) {
        if (!m_smtp->isOpen() && !recover(&m_batch.attempts))
            return false;
        giveSender();
    }
    return true;
}

void SendRun::Run::addRecipient(int index, const QString &line)
{
    if (m_batch.number == 0)
        m_batch.number = ++m_batches;
    for (;;) {
        if (!ensureTransaction()) {
            log(kBang + line + QStringLiteral("  ") + Text::SendError + m_smtp->error());
            report(index, line, LineOutcome::Failed, m_batch.number, m_smtp->error());
            failBatch();
            return;
        }
        if (rcptTo(line, smtp().offersSmtpUtf8())) {
            m_batch.indexes.append(index);
            m_batch.lines.append(line);
            log(line);
            return;
        }
        if (!m_smtp->lost()) {
            log(kBang + line + Text::AddressRefused);
            report(index, line, LineOutcome::Refused, m_batch.number, smtpReply());
            return;
        }
        m_batch.open = false;
    }
}

// Sends the batch's message to the addresses the server accepted for it.
void SendRun::Run::sendBatch(const QList<QByteArray> &lines)
{
    for (;;) {
        if (m_batch.indexes.isEmpty()) {
            // Every address was refused: DATA would carry the message to nobody. The
            // transaction the server may still hold goes with the connection.
            log(Text::BatchRefused);
            if (m_smtp->isOpen() && m_batch.open)
                m_smtp->reopen();
            finishBatch(LineOutcome::Refused, QString());
            return;
        }
        if (!ensureTransaction()) {
            failBatch();
            return;
        }
        if (m_batch.indexes.isEmpty())
            continue; // on the new connection every address was refused
        QString error;
        bool afterEnd = false;
        if (sendMessage(lines, m_batch.indexes, m_batch.lines, m_batch.number, &error, &afterEnd)) {
            log(Text::BatchSent);
            finishBatch(LineOutcome::Sent, smtpReply(), true);
            return;
        }
        if (!error.isEmpty()) {
            log(kBang + Text::SendError + error);
            showSendError(error);
            finishBatch(LineOutcome::Failed, error, afterEnd);
            m_smtp->reopen();
            return;
        }
        if (m_smtp->lost()) {
            m_batch.open = false;
            if (!afterEnd || smtp().lastReplyCode() == 421)
                continue;
            // Sent again, it might arrive twice; the user decides.
            log(Text::BatchUncertain);
            finishBatch(LineOutcome::Uncertain, m_smtp->error(), true);
            return;
        }
        log(Text::BatchRefused);
        const QString reply = smtpReply();
        // A refused DATA command leaves the transaction open on the server, and the next
        // MAIL FROM would be refused; a new connection ends it.
        if (!afterEnd)
            m_smtp->reopen();
        finishBatch(LineOutcome::Refused, reply, afterEnd);
        return;
    }
}

// The batch's transaction could not be made again: its accepted addresses were not sent.
void SendRun::Run::failBatch()
{
    if (!m_batch.indexes.isEmpty())
        log(kBang + Text::SendError + m_smtp->error());
    finishBatch(LineOutcome::Failed, m_smtp->error());
}

// Every address the batch holds gets `outcome`, and the next batch starts empty. When the
// batch's end of data was tried, each of its lines stands in the journal as trying in it, and
// one record of the batch's outcome serves them all. The journal is flushed at each batch
// boundary, in the background: the outcomes need not wait for it.
void SendRun::Run::finishBatch(LineOutcome outcome, const QString &reply, bool tried)
{
    m_journal.beginGroup();
    for (qsizetype k = 0; k < m_batch.indexes.size(); ++k)
        report(m_batch.indexes.at(k), m_batch.lines.at(k), outcome, m_batch.number, reply, tried);
    if (tried && !m_batch.indexes.isEmpty())
        m_journal.recordBatch(m_batch.number, journalState(outcome), reply);
    m_journal.endGroup();
    if (!m_batch.indexes.isEmpty())
        flushIfDue();
    m_batch = Batch();
}

bool SendRun::Run::usesLanes(const settings::SmtpProfile &profile) const
{
    if (m_owner.m_plainSessions || !m_settings.testAddress.isEmpty())
        return false;
    const PaceLimits limits {
        profile.maxPerMinute, profile.maxPerHour, profile.maxPerDay, profile.minDelayMs};
    return profile.pipelining || profile.connections > 1 || profile.retryTemporary || limits.any();
}

// C and D over lanes. The run reads the lines in order, as before, and makes a transaction
// of each message or complete batch; the lanes carry them, as many at a time as there are
// connections, and the outcomes are logged in list order as the earlier ones are known.
bool SendRun::Run::smtpLanes(const settings::SmtpProfile &profile)
{
    const bool bcc = m_settings.sendAsBcc;
    m_profile = &profile;
    SmtpLanes::SessionFactory factory
        = [this, &profile](const SmtpLanes::StatusSink &sink) -> std::unique_ptr<SmtpSession> {
        if (m_owner.m_sessionFactory)
            return m_owner.m_sessionFactory(profile);
        auto client = std::make_unique<SmtpClient>(profile);
        // Emitted on the lane's thread; the run hands the lines on from its own.
        QObject::connect(
            client.get(), &SmtpClient::statusLine, [sink](const QString &line) { sink(line); });
        return client;
    };
    SmtpLanes lanes(profile.connections, factory, m_owner.m_reconnectDelays);
    m_lanes = &lanes;
    const auto cleanUp = qScopeGuard([this, &lanes] {
        lanes.finish();
        laneEvents(lanes.takeEvents(0));
        m_lanes = nullptr;
    });
    // As on one connection, a server that cannot be reached at all ends the run at once.
    if (!lanes.openFirst([this] { m_host.processEvents(); }, &m_laneError, &m_laneLoginFailed)) {
        laneEvents(lanes.takeEvents(0));
        showConnectFailed();
        return false;
    }
    laneEvents(lanes.takeEvents(0));
    m_laneUtf8 = lanes.offersSmtpUtf8();

    const PaceLimits limits {
        profile.maxPerMinute, profile.maxPerHour, profile.maxPerDay, profile.minDelayMs};
    Pacer pacer(limits, m_owner.m_steadyClock);
    if (limits.perDay > 0 && !m_logFolder.isEmpty()) {
        QStringList unread;
        pacer.setEarlierToday(TransactionsOfDay(
            m_logFolder, m_host.profileName(), m_start.date(), m_ownJournal, &unread));
        for (const QString &why : std::as_const(unread))
            m_host.statusLine(QStringLiteral("Journal: ") + why);
    }

    QList<QByteArray> bccMessage;
    qint64 bccSize = 0;
    if (bcc) {
        log(Text::SmtpBcc + QString::number(m_batchSize));
        std::unique_ptr<compose::MimeMessage> message = buildMessage(QString());
        if (!message) {
            log(kBang + m_error);
            return false;
        }
        message->setTo({m_host.sender()});
        message->setSmtpUtf8(
            m_laneUtf8 && compose::NeedsSmtpUtf8(compose::AddressOfLine(m_host.sender())));
        bccMessage = message->encode();
        bccSize = message->size();
    } else {
        log(Text::SmtpSingle);
    }

    enum class Why { None, Cancelled, DayLimit, Error };
    Why why = Why::None;
    bool stopping = false;
    Unit building; // the transaction being made of the lines read
    bool ready = false; // it is complete
    int counted = 0; // the batch's addresses, refused ones included
    const auto addLine = [&](int index, const QString &line, bool smtpUtf8) {
        const QString address = compose::AddressOfLine(line);
        const bool held = !smtpUtf8 && compose::NeedsSmtpUtf8(address);
        building.job.indexes.append(index);
        building.job.lines.append(line);
        building.job.recipients.append(compose::TransportAddress(address, smtpUtf8));
        building.job.held.append(held);
    };
    // The line's turn: it is read and goes into the transaction being made.
    const auto readLine = [&](int i) {
        m_readTo = i;
        if (passedOver(i))
            return;
        planAhead(i);
        const QString line = m_host.addressLine(i);
        if (compose::IsBlankLine(line) || (bcc && isStarLine(line))) {
            building.skipped.append(i);
            building.skippedLines.append(line);
            return;
        }
        if (bcc) {
            building.job.bcc = true;
            building.job.message = bccMessage;
            building.job.size = bccSize;
            building.job.smtpUtf8 = m_laneUtf8;
            addLine(i, line, m_laneUtf8);
            ready = ++counted >= m_batchSize;
            m_host.processEvents();
            return;
        }
        const QString address = compose::AddressOfLine(line);
        const bool lineUtf8 = compose::NeedsSmtpUtf8(address);
        if (lineUtf8 && !m_laneUtf8) {
            addLine(i, line, false); // refused without a word to the server
            ready = true;
            return;
        }
        std::unique_ptr<compose::MimeMessage> message = buildMessage(line);
        if (!message) {
            stopping = true;
            why = Why::Error;
            return;
        }
        message->setTo({address});
        const bool smtpUtf8 = m_laneUtf8
            && (lineUtf8 || compose::NeedsSmtpUtf8(compose::AddressOfLine(m_host.sender())));
        message->setSmtpUtf8(smtpUtf8);
        building.job.message = message->encode();
        building.job.size = message->size();
        building.job.smtpUtf8 = smtpUtf8;
        addLine(i, line, smtpUtf8);
        ready = true;
        m_host.processEvents();
    };
    // Lines read but never sent get no outcome; the skipped ones among them were reached.
    const auto dropBuilding = [&] {
        if (!building.skipped.isEmpty()) {
            Unit skipped;
            skipped.skipped = building.skipped;
            skipped.skippedLines = building.skippedLines;
            skipped.done = true;
            m_units.push_back(std::move(skipped));
        }
        building = Unit();
        ready = false;
        counted = 0;
    };

    int next = 0;
    for (;;) {
        laneEvents(lanes.takeEvents(0));
        emitUnits();
        lanes.setWaitsCancelled(m_host.waitsCancelled());
        if (!stopping && (m_host.cancelRequested() || m_stop == Stop::GaveUp)) {
            stopping = true;
            if (m_stop != Stop::GaveUp) {
                why = Why::Cancelled;
                lanes.setCancelled(true);
                // The batch collected so far still goes, unless the limits would make it wait.
                if (bcc && !building.job.lines.isEmpty() && !pacer.dayLimitReached()
                    && pacer.waitMs() == 0) {
                    Unit &unit = m_units.emplace_back(std::move(building));
                    if (dispatch(unit))
                        pacer.started();
                    building = Unit();
                }
            }
        }
        if (stopping) {
            dropBuilding();
            failWaitingRetries();
            if (lanes.busy() == 0 && m_units.empty() && m_retries.empty())
                break;
            m_host.processEvents();
            laneEvents(lanes.takeEvents(50));
            continue;
        }

        bool worked = false;
        qint64 nextDue = -1;
        Unit *unit = nullptr;
        if (lanes.hasFreeLane()) {
            // A complete transaction goes first, then a deferred one whose time has come,
            // and only then is the next line read; a cancel is seen before anything more.
            if (!ready && next > m_lastLine && !building.job.lines.isEmpty())
                ready = true; // the last batch
            unit = ready ? &building : dueRetry(&nextDue);
            if (!unit && next <= m_lastLine) {
                readLine(next++);
                continue;
            }
        } else {
            dueRetry(&nextDue);
        }
        if (unit) {
            if (pacer.dayLimitReached()) {
                stopping = true;
                why = Why::DayLimit;
                continue;
            }
            const qint64 wait = pacer.waitMs();
            if (wait > 0) {
                const QString text = Pacer::waitText(wait);
                if (text != m_waiting) {
                    m_waiting = text;
                    m_host.showWaiting(text);
                    m_host.setTitle(appTitle() + QStringLiteral(": ") + text);
                }
                nextDue = nextDue < 0 ? wait : std::min(nextDue, wait);
            } else {
                if (!m_waiting.isEmpty()) {
                    m_waiting.clear();
                    m_host.showWaiting(QString());
                    m_shownTurn = -1;
                }
                if (unit == &building) {
                    unit = &m_units.emplace_back(std::move(building));
                    building = Unit();
                    ready = false;
                    counted = 0;
                }
                if (dispatch(*unit))
                    pacer.started();
                worked = true;
            }
        }
        if (next > m_lastLine && building.job.lines.isEmpty() && !building.skipped.isEmpty())
            dropBuilding(); // skipped lines at the end of the list
        if (next > m_lastLine && building.job.lines.isEmpty() && lanes.busy() == 0
            && m_units.empty() && m_retries.empty())
            break;
        if (!worked) {
            m_host.processEvents();
            const qint64 wait = nextDue < 0 ? 50 : std::clamp<qint64>(nextDue, 1, 50);
            laneEvents(lanes.takeEvents(int(wait)));
        }
    }
    if (!m_waiting.isEmpty()) {
        m_waiting.clear();
        m_host.showWaiting(QString());
    }
    if (bcc)
        flushIfDue();
    switch (why) {
    case Why::Cancelled:
        log(Text::SmtpCancelled);
        break;
    case Why::DayLimit:
        log(kBang + Text::DayLimit.arg(profile.maxPerDay));
        break;
    case Why::Error:
        log(kBang + m_error);
        return false;
    case Why::None:
        break;
    }
    return true;
}

// Hands a unit's transaction to a lane; false when it needed none: the sender or every
// address cannot go, and the server hears nothing.
bool SendRun::Run::dispatch(Unit &unit)
{
    LaneJob &job = unit.job;
    job.id = ++m_jobs;
    unit.dispatched = true;
    unit.senderText = m_host.sender();
    if (job.bcc)
        unit.batch = ++m_batches;
    const QString address = compose::AddressOfLine(unit.senderText);
    job.sender = job.smtpUtf8 ? address : compose::TransportAddress(address, false);
    job.mayDefer = m_profile->retryTemporary && unit.tries < 3;
    LaneResult &r = unit.result;
    r.id = job.id;
    r.rcpt.fill(0, job.lines.size());
    r.deferred.fill(false, job.lines.size());
    if (!job.smtpUtf8 && compose::NeedsSmtpUtf8(address)) {
        r.stage = LaneResult::Stage::SenderRefused;
        unit.done = true;
        return false;
    }
    if (std::all_of(job.held.cbegin(), job.held.cend(), [](bool held) { return held; })) {
        r.stage = LaneResult::Stage::NoneAccepted;
        unit.done = true;
        return false;
    }
    m_lanes->dispatch(job);
    return true;
}

void SendRun::Run::laneEvents(std::deque<SmtpLanes::Event> events)
{
    for (SmtpLanes::Event &e : events) {
        switch (e.kind) {
        case SmtpLanes::Event::Kind::Status:
            m_host.statusLine(e.status);
            break;
        case SmtpLanes::Event::Kind::BeforeEnd:
            if (Unit *unit = findUnit(e.result.id)) {
                QStringList lines;
                for (const int index : std::as_const(e.indexes))
                    lines.append(unit->job.lines.at(unit->job.indexes.indexOf(index)));
                trying(e.indexes, lines, unit->batch);
            }
            m_lanes->release(e.result.id);
            break;
        case SmtpLanes::Event::Kind::Result:
            if (Unit *unit = findUnit(e.result.id)) {
                unit->result = std::move(e.result);
                unit->done = true;
                if (unit->result.gaveUp)
                    m_stop = Stop::GaveUp;
            }
            break;
        }
    }
}

SendRun::Run::Unit *SendRun::Run::findUnit(int id)
{
    for (Unit &unit : m_units)
        if (unit.dispatched && unit.job.id == id)
            return &unit;
    for (Unit &unit : m_retries)
        if (unit.dispatched && unit.job.id == id)
            return &unit;
    return nullptr;
}

// Logs what is known, in list order: the units whose every earlier unit is logged, and the
// deferred lines' later tries as they finish.
void SendRun::Run::emitUnits()
{
    while (!m_units.empty() && m_units.front().done) {
        emitUnit(m_units.front());
        m_units.pop_front();
    }
    for (auto it = m_retries.begin(); it != m_retries.end();) {
        if (it->done) {
            emitUnit(*it);
            it = m_retries.erase(it);
        } else {
            ++it;
        }
    }
    showOldest();
}

// Progress, title and caret follow the oldest line not yet finished.
void SendRun::Run::showOldest()
{
    const int oldest = m_units.empty() ? m_readTo : m_units.front().firstIndex();
    if (oldest == m_shownTurn || !m_waiting.isEmpty() || oldest > m_lastLine)
        return;
    m_shownTurn = oldest;
    showTurn(oldest);
}

SendRun::Run::Unit *SendRun::Run::dueRetry(qint64 *nextDue)
{
    const qint64 now = steadyNow();
    for (Unit &unit : m_retries) {
        if (unit.dispatched)
            continue;
        if (unit.due <= now)
            return &unit;
        const qint64 in = unit.due - now;
        *nextDue = *nextDue < 0 ? in : std::min(*nextDue, in);
    }
    return nullptr;
}

// The run stops before their next try: the deferred lines were not delivered.
void SendRun::Run::failWaitingRetries()
{
    for (auto it = m_retries.begin(); it != m_retries.end();) {
        if (it->dispatched) {
            ++it;
            continue;
        }
        for (qsizetype k = 0; k < it->job.lines.size(); ++k) {
            const QString &line = it->job.lines.at(k);
            log(kBang + line + QStringLiteral("  ") + Text::SendError + it->result.reply);
            report(it->job.indexes.at(k), line, LineOutcome::Failed, 0, it->result.reply);
        }
        it = m_retries.erase(it);
    }
}

void SendRun::Run::emitUnit(Unit &unit)
{
    using Stage = LaneResult::Stage;
    const LaneJob &job = unit.job;
    const LaneResult &r = unit.result;
    const bool bcc = job.bcc;
    if (r.stage == Stage::SenderRefused && !job.lines.isEmpty())
        log(kBang + unit.senderText + Text::FromRefused);
    const LineOutcome batchOutcome = r.stage == Stage::Sent ? LineOutcome::Sent
        : r.stage == Stage::DataRefused                     ? LineOutcome::Refused
        : r.stage == Stage::Uncertain                       ? LineOutcome::Uncertain
                                                            : LineOutcome::Failed;
    QList<qsizetype> deferred;
    bool anyFinal = false;
    bool anyAccepted = false;
    qsizetype s = 0;
    m_journal.beginGroup();
    for (qsizetype k = 0; k <= job.lines.size(); ++k) {
        const int index
            = k < job.lines.size() ? job.indexes.at(k) : std::numeric_limits<int>::max();
        for (; s < unit.skipped.size() && unit.skipped.at(s) < index; ++s)
            report(unit.skipped.at(s), unit.skippedLines.at(s), LineOutcome::Skipped);
        if (k == job.lines.size())
            break;
        const QString &line = job.lines.at(k);
        m_host.moveCaretToLine(index);
        if (r.deferred.value(k)) {
            if (unit.tries == 0) // said once; the next line it gets is its outcome
                log(kBang + line + Text::Deferred);
            deferred.append(k);
            continue;
        }
        anyFinal = true;
        LineOutcome outcome = LineOutcome::Refused;
        bool inBatch = false;
        const bool accepted = r.rcpt.value(k) == 250 && !job.held.value(k);
        if (r.stage == Stage::Failed) {
            log(kBang + line + QStringLiteral("  ") + Text::SendError + r.reply);
            outcome = LineOutcome::Failed;
        } else if (r.stage == Stage::SenderRefused) {
            if (bcc) // in one-by-one mode the sender's line stands for it
                log(kBang + line + Text::AddressRefused);
        } else if (!accepted) {
            log(kBang + line + Text::AddressRefused);
        } else if (bcc) {
            log(line);
            anyAccepted = true;
            inBatch = r.tried;
            outcome = batchOutcome;
        } else {
            switch (r.stage) {
            case Stage::Sent:
                log(line);
                break;
            case Stage::Error:
                log(kBang + line + QStringLiteral("  ") + Text::SendError + r.reply);
                showSendError(r.reply);
                break;
            case Stage::Uncertain:
                log(kBang + line + Text::Uncertain);
                break;
            default:
                log(kBang + line + Text::DataRefused);
                break;
            }
            outcome
                = r.stage == Stage::Sent || r.stage == Stage::Error || r.stage == Stage::Uncertain
                ? batchOutcome
                : LineOutcome::Refused;
        }
        report(index, line, outcome, unit.batch, r.reply, inBatch);
    }
    if (bcc && anyFinal) {
        switch (r.stage) {
        case Stage::Sent:
            log(anyAccepted ? Text::BatchSent : Text::BatchRefused);
            break;
        case Stage::Uncertain:
            log(Text::BatchUncertain);
            break;
        case Stage::Error:
            log(kBang + Text::SendError + r.reply);
            showSendError(r.reply);
            break;
        case Stage::Failed:
            log(kBang + Text::SendError + r.reply);
            break;
        case Stage::Deferred:
            break; // the batch goes again
        default:
            log(Text::BatchRefused);
            break;
        }
    }
    if (bcc && r.tried && anyAccepted)
        m_journal.recordBatch(unit.batch, journalState(batchOutcome), r.reply);
    m_journal.endGroup();
    if (bcc && anyFinal)
        flushIfDue();
    if (deferred.isEmpty())
        return;
    // The deferred lines go again together, after at least the profile's wait.
    Unit again;
    again.job = job;
    again.job.indexes.clear();
    again.job.lines.clear();
    again.job.recipients.clear();
    again.job.held.clear();
    for (const qsizetype k : std::as_const(deferred)) {
        again.job.indexes.append(job.indexes.at(k));
        again.job.lines.append(job.lines.at(k));
        again.job.recipients.append(job.recipients.at(k));
        again.job.held.append(job.held.at(k));
    }
    again.tries = unit.tries + 1;
    again.due
        = steadyNow() + 1000LL * m_profile->retryDelaysSeconds.at(size_t(std::min(unit.tries, 2)));
    again.result.reply = r.reply;
    m_retries.push_back(std::move(again));
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

    const bool ok = !m_settings.testAddress.isEmpty() ? mailTest(*mail)
        : m_settings.sendAsBcc                        ? mailBcc(*mail)
                                                      : mailSingle(*mail);
    if (!ok)
        return false;
    log(Text::RouteEnd);
    return true;
}

bool SendRun::Run::handOver(
    MailObject &mail, const QList<int> &indexes, const QStringList &lines, int batch)
{
    trying(indexes, lines, batch);
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
    // The lines of the batch; the hand-over decides their outcome.
    QList<int> batch;
    QStringList batchLines;
    const auto handOverBatch = [&] {
        m_host.setProgressPosition(m_progressMaximum);
        const int number = ++m_batches;
        const bool ok = handOver(mail, batch, batchLines, number);
        const LineOutcome outcome = ok ? LineOutcome::Sent : LineOutcome::Failed;
        for (qsizetype k = 0; k < batch.size(); ++k)
            report(batch.at(k), batchLines.at(k), outcome, number, QString(), true);
        m_journal.recordBatch(number, journalState(outcome), ok ? QString() : m_error);
        flushIfDue();
        batch.clear();
        batchLines.clear();
        if (!ok)
            return false;
        log(Text::MailBatchSent);
        m_host.repaintMainWindow();
        return true;
    };
    for (int i = 0; i <= m_lastLine; ++i) {
        if (m_host.cancelRequested()) {
            log(Text::MailCancelled);
            break;
        }
        if (i % m_batchSize == 0) {
            if (i > 0 && !mail.recipients().isEmpty() && !handOverBatch())
                return false;
            mail.clearRecipients();
        }
        if (passedOver(i))
            continue;
        planAhead(i);
        const QString line = m_host.addressLine(i);
        if (!compose::IsBlankLine(line) && !isStarLine(line)) {
            if (compose::MailProgramTakes(line)) {
                mail.addRecipient(line, RecipientKind::Bcc);
                batch.append(i);
                batchLines.append(line);
                log(line);
            } else {
                log(kBang + line + Text::AddressRefused);
                report(i, line, LineOutcome::Refused);
            }
            m_host.moveCaretToLine(i);
        } else {
            report(i, line, LineOutcome::Skipped);
        }
        m_host.processEvents();
    }
    return mail.recipients().isEmpty() || handOverBatch();
}

// G. Mail program, one message per address line.
bool SendRun::Run::mailSingle(MailObject &mail)
{
    log(Text::MailSingle);
    setProgressMaximum(m_host.lineCount() - 1);
    for (int i = 0; i <= m_lastLine; ++i) {
        if (passedOver(i))
            continue;
        planAhead(i);
        m_host.processEvents();
        if (m_host.cancelRequested()) {
            log(Text::MailCancelled);
            break;
        }
        const QString line = m_host.addressLine(i);
        // Here a line whose very first character is "*" is skipped, not only "*" itself.
        if (compose::IsBlankLine(line) || line.startsWith(QLatin1Char('*'))) {
            report(i, line, LineOutcome::Skipped);
            continue;
        }
        if (!compose::MailProgramTakes(line)) {
            log(kBang + line + Text::AddressRefused);
            report(i, line, LineOutcome::Refused);
            continue;
        }
        m_host.setProgressPosition(i);
        mail.setBody(compose::ApplyMacros(
            m_template, line, m_host.sender(), m_host.subject(), m_settings.htmlBody));
        m_host.moveCaretToLine(i);
        mail.clearRecipients();
        mail.addRecipient(line, RecipientKind::To);
        if (!handOver(mail, {i}, {line}, 0)) {
            report(i, line, LineOutcome::Failed, 0, m_error);
            return false;
        }
        log(line);
        report(i, line, LineOutcome::Sent);
        m_host.repaintMainWindow();
        m_host.processEvents();
    }
    return true;
}

// A test send through the mail program: one message, To the test address only.
bool SendRun::Run::mailTest(MailObject &mail)
{
    const int index = m_settings.testLine;
    const QString line = m_host.addressLine(index);
    mail.setBody(compose::ApplyMacros(m_template, m_settings.sendAsBcc ? QString() : line,
        m_host.sender(), m_host.subject(), m_settings.htmlBody));
    mail.clearRecipients();
    mail.addRecipient(m_settings.testAddress, RecipientKind::To);
    const bool ok = handOver(mail, {}, {}, 0);
    const LineOutcome outcome = ok ? LineOutcome::Sent : LineOutcome::Failed;
    m_counts.add(outcome);
    m_host.lineOutcome(index, outcome);
    if (ok)
        log(m_settings.testAddress);
    return ok;
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
    if (s_running) {
        SendRunResult busy;
        busy.status = SendRunResult::Status::Busy;
        busy.error = busyText();
        return busy;
    }
    s_running = true;
    SendRunResult result;
    {
        Run run(*this, settings);
        result = run.execute();
    }
    s_running = false;
    return result;
}

JournalHeader RunJournalHeader(const SendRunSettings &settings, const SendRunHost &host)
{
    JournalHeader header;
    header.project = settings.projectPath;
    MessageFields message;
    message.sender = host.sender();
    message.subject = host.subject();
    message.body = settings.body;
    message.html = settings.htmlBody;
    message.pictures = settings.pictures;
    message.files = settings.files;
    header.messageHash = MessageHash(message);
    header.route = settings.routeName;
    if (header.route.isEmpty() && settings.route == 0)
        header.route = QStringLiteral("SMTP");
    header.bcc = settings.sendAsBcc;
    header.profile = settings.route == 0 ? host.profileName() : QString();
    header.batchSize = SendRun::batchSizeFromText(settings.batchSizeText);
    header.resumes = settings.resumes;
    return header;
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
