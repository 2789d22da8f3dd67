#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>

namespace kolporta::test {

class FakeSmtpWorker;

// A scripted SMTP server on 127.0.0.1 (port 0, so it never clashes) for faults a real server
// cannot be made to produce. It runs in a thread of its own, because the SMTP client blocks
// the test's thread while it waits for a reply.
//
// Replies are chosen per command verb: "GREETING" for the greeting, the upper-case first word
// of a command ("EHLO", "MAIL", "RCPT", "DATA", "QUIT", "AUTH", "STARTTLS" ...), "AUTH-DATA"
// for a line the client sends after a 334 reply, and "." for the end of the DATA lines.
// A one-shot reply queued for a verb is used before its standing reply. A reply is sent as
// given, with CR LF added when it does not end with a line end, so "250-a\r\n250 b" is a
// two-line reply. Defaults make a minimal working server: "220 fake.test ESMTP",
// EHLO/HELO "250 fake.test", MAIL/RCPT/RSET/NOOP "250 OK", DATA "354 Go ahead",
// "." "250 Queued", QUIT "221 Bye" (and closes), AUTH "504 Unrecognized",
// AUTH-DATA "535 Failed", STARTTLS "454 TLS not available" (or "220 Ready to start TLS" once
// setTls() was called), anything else "502 Not implemented".
//
// Everything is recorded: the command lines without CR LF, and each message as its DATA
// bytes arrived (still dot-stuffed, without the closing ".\r\n"). Commands that arrive
// together (a pipelined group) are answered in order and their replies go out in one write.
// Script it before the client connects; the recording may be read at any time.
class FakeSmtpServer
{
public:
    enum class Fault {
        None,
        Drop, // close the connection instead of replying
        Silent, // never reply again on this connection, keep it open
        ReplyThenDrop, // send the reply, then close (a reply cut off mid-way if it has "250-")
        Closing, // "421 Service closing transmission channel", then close (RFC 5321)
    };

    // A message the server kept: its "." was not answered with 4xx or 5xx (a drop or silence
    // after the "." keeps it, as a real server may have delivered it by then), with the
    // addresses the server accepted for it.
    struct Delivery
    {
        QByteArrayList recipients;
        QByteArray data;
    };

    FakeSmtpServer();
    ~FakeSmtpServer();
    FakeSmtpServer(const FakeSmtpServer &) = delete;
    FakeSmtpServer &operator=(const FakeSmtpServer &) = delete;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(m_port); }

    void setReply(const QByteArray &verb, const QByteArray &reply);
    void queueReply(const QByteArray &verb, const QByteArray &reply);
    // At the n-th command with this verb (counted over all connections; 1 is the first).
    void setFault(const QByteArray &verb, Fault fault, int occurrence = 1);
    // Writes every reply one byte per TCP segment, to exercise reassembly in the client.
    void setByteByByte(bool on);
    // Waits this long before each reply: a slow server, so that a client can be stopped at
    // any point of a session. What the server got is recorded before the wait.
    void setReplyDelay(int milliseconds);
    // The n-th connection (from 0, counted over the server's life) answers every command
    // milliseconds[n % size] late, without holding up the others: servers of different speeds.
    void setConnectionDelays(const QList<int> &milliseconds);
    // Enables STARTTLS: after a 2xx reply to "STARTTLS" the server starts TLS with this
    // certificate and key (PEM files). Whatever else the reply text holds goes out in the
    // same write, before the handshake, which is how an injection attack looks.
    bool setTls(const QString &certFile, const QString &keyFile, QString *error = nullptr);

    QList<QByteArray> commands() const;
    // The commands again, grouped by the reads they arrived in: a client that waits for each
    // reply gives groups of one, a pipelining client one group per transaction.
    QList<QByteArrayList> commandGroups() const;
    QList<QByteArray> messages() const;
    QList<Delivery> deliveries() const;
    int connectionCount() const;
    int tlsHandshakeCount() const;
    // Polls (without needing an event loop) until the condition holds or the time is up.
    bool waitForCommandCount(int count, int timeoutMs = 5000) const;
    bool waitForDisconnected(int timeoutMs = 5000) const; // every connection so far closed

private:
    friend class FakeSmtpWorker;

    struct FaultRule
    {
        Fault fault;
        int occurrence;
    };

    // Called from the worker thread with m_mutex held.
    QByteArray takeReply(const QByteArray &verb);
    Fault takeFault(const QByteArray &verb);

    mutable QMutex m_mutex;
    QHash<QByteArray, QByteArray> m_replies;
    QHash<QByteArray, QList<QByteArray>> m_queued;
    QHash<QByteArray, QList<FaultRule>> m_faults;
    QHash<QByteArray, int> m_seen;
    QList<QByteArray> m_commands;
    QList<QByteArrayList> m_groups;
    QList<QByteArray> m_messages;
    QList<Delivery> m_deliveries;
    int m_connections = 0;
    int m_open = 0;
    int m_handshakes = 0;
    bool m_byteByByte = false;
    int m_replyDelayMs = 0;
    QList<int> m_connectionDelays;
    bool m_tls = false;

    QThread m_thread;
    FakeSmtpWorker *m_worker = nullptr;
    quint16 m_port = 0;
};

} // namespace kolporta::test
