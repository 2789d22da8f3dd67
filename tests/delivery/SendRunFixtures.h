#pragma once

#include "delivery/RunJournal.h"
#include "delivery/SendRunHost.h"
#include "delivery/SmtpSession.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace kolporta::test {

// A host that holds the address list and the fields like the window does, and records what
// the run shows. The user's actions during a run are simulated by hooks: the cancel button
// is "pressed" while a given line is being read, or a hook edits the list.
class RecordingHost : public delivery::SendRunHost
{
public:
    QStringList lines;
    QString from = QStringLiteral("Odesilatel <from@example.cz>");
    QString subj = QStringLiteral("Předmět");
    QString profile;
    int cancelAtRead = -1; // the cancel button is pressed while this line is read
    std::function<void(int index)> onRead;
    std::function<void()> onPump;
    std::function<void(const QString &text)> onWaiting;

    bool cancel = false;
    QStringList titles;
    QList<int> carets;
    QStringList boxes; // "caption|text"
    QStringList generalErrors;
    QStringList logLines;
    QStringList statusLines;
    int progressMaximum = -1;
    int progressPosition = -1;
    int pumps = 0;
    QMap<int, delivery::LineOutcome> outcomes;
    int outcomeReports = 0;
    bool progressWindowOpen = false;
    bool busy = false;

    int lineCount() const override { return int(lines.size()); }
    QString addressLine(int index) const override
    {
        auto *self = const_cast<RecordingHost *>(this);
        if (index == cancelAtRead)
            self->cancel = true;
        if (onRead)
            onRead(index);
        return index < lines.size() ? lines.at(index) : QString();
    }
    QString sender() const override { return from; }
    QString subject() const override { return subj; }
    QString profileName() const override { return profile; }
    bool cancelRequested() const override { return cancel; }
    void clearCancelRequested() override { cancel = false; }
    void setProgressMaximum(int maximum) override { progressMaximum = maximum; }
    void setProgressPosition(int position) override { progressPosition = position; }
    void setTitle(const QString &title) override { titles.append(title); }
    void showWaiting(const QString &text) override
    {
        if (onWaiting)
            onWaiting(text);
    }
    void moveCaretToLine(int index) override { carets.append(index); }
    void processEvents() override
    {
        ++pumps;
        if (onPump)
            onPump();
    }
    void showErrorBox(const QString &text, const QString &caption) override
    {
        boxes.append(caption + QLatin1Char('|') + text);
    }
    void showGeneralError(const QString &text) override { generalErrors.append(text); }
    void showProgressWindow() override { progressWindowOpen = true; }
    void closeProgressWindow() override { progressWindowOpen = false; }
    void setBusyCursor(bool b) override { busy = b; }
    void statusLine(const QString &line) override { statusLines.append(line); }
    void sendLogLine(const QString &line) override { logLines.append(line); }
    void lineOutcome(int index, delivery::LineOutcome outcome) override
    {
        ++outcomeReports;
        outcomes.insert(index, outcome);
    }

    // One letter per address line: S sent, R refused, F failed, U uncertain, K skipped, and
    // "-" for a line without an outcome.
    QString outcomeText() const
    {
        QString text;
        for (int i = 0; i < lines.size(); ++i) {
            if (!outcomes.contains(i)) {
                text += QLatin1Char('-');
                continue;
            }
            switch (outcomes.value(i)) {
            case delivery::LineOutcome::Sent:
                text += QLatin1Char('S');
                break;
            case delivery::LineOutcome::Refused:
                text += QLatin1Char('R');
                break;
            case delivery::LineOutcome::Failed:
                text += QLatin1Char('F');
                break;
            case delivery::LineOutcome::Uncertain:
                text += QLatin1Char('U');
                break;
            case delivery::LineOutcome::Skipped:
                text += QLatin1Char('K');
                break;
            }
        }
        return text;
    }
};

// A run's journal after its header, as "2K 1t/1 1S/1": each record's line, its state (t
// trying, S sent, R refused, F failed, U uncertain, K skipped) and its batch, planned records
// left out; "!" and why, when it cannot be read or has no end record.
inline QString journalText(const QString &path)
{
    delivery::Journal journal;
    QString error;
    if (!delivery::ReadJournal(path, &journal, &error))
        return QLatin1Char('!') + error;
    if (!journal.complete)
        return QStringLiteral("!no end record");
    QStringList out;
    for (const delivery::JournalRecord &r : std::as_const(journal.records)) {
        if (r.state == delivery::JournalState::Planned)
            continue;
        static const char codes[] = "tSRFUK";
        QString text = QString::number(r.line) + QLatin1Char(codes[int(r.state)]);
        if (r.batch > 0)
            text += QLatin1Char('/') + QString::number(r.batch);
        out.append(text);
    }
    return out.join(QLatin1Char(' '));
}

// An SMTP session that answers as scripted and writes down every operation, for the
// faults a real server cannot be made to show on cue (an error raised inside DATA).
class ScriptedSession : public delivery::SmtpSession
{
public:
    struct Script
    {
        QList<bool> opens; // results of open() in turn; true after the list ends
        QSet<int> refusedMailFrom; // 1-based numbers of the MAIL FROM calls refused
        QSet<QString> refusedRcpt; // addresses refused by RCPT TO
        // Results of the DATA calls in turn: "" accepted, "refuse", or "error:TEXT".
        QStringList data;
    };

    ScriptedSession(Script script, QStringList *transcript)
        : m_script(std::move(script))
        , m_transcript(transcript)
    { }

    QList<QList<QByteArray>> messages; // the lines of every accepted DATA

    bool open() override
    {
        m_transcript->append(QStringLiteral("open"));
        return m_opens < m_script.opens.size() ? m_script.opens.at(m_opens++) : true;
    }
    bool mailFrom(const QString &address, qint64 size) override
    {
        m_transcript->append(QStringLiteral("MAIL ") + address);
        m_lastSize = size;
        return !m_script.refusedMailFrom.contains(++m_mails);
    }
    bool rcptTo(const QString &address) override
    {
        m_transcript->append(QStringLiteral("RCPT ") + address);
        return !m_script.refusedRcpt.contains(address);
    }
    bool sendDataLines(const QList<QByteArray> &lines, QString *) override
    {
        m_transcript->append(QStringLiteral("DATA"));
        m_lines = lines;
        return true;
    }
    // The scripted result comes with the end of the data, where a real server gives it.
    bool sendEndOfData(QString *error) override
    {
        const QString result
            = m_datas < m_script.data.size() ? m_script.data.at(m_datas) : QString();
        ++m_datas;
        if (result.startsWith(QLatin1String("error:"))) {
            *error = result.mid(6);
            return false;
        }
        if (result == QLatin1String("refuse"))
            return false;
        qint64 size = 0;
        for (const QByteArray &l : std::as_const(m_lines))
            size += l.size() + 2;
        if (size != m_lastSize)
            m_transcript->append(QStringLiteral("SIZE MISMATCH"));
        messages.append(m_lines);
        sharedMessages().append(m_lines);
        return true;
    }
    void close() override { m_transcript->append(QStringLiteral("close")); }
    int lastReplyCode() const override { return 250; }

    // Every accepted message of the current test, across sessions.
    static QList<QList<QByteArray>> &sharedMessages()
    {
        static QList<QList<QByteArray>> all;
        return all;
    }

private:
    Script m_script;
    QStringList *m_transcript;
    int m_opens = 0;
    int m_mails = 0;
    int m_datas = 0;
    qint64 m_lastSize = -1;
    QList<QByteArray> m_lines;
};

} // namespace kolporta::test
