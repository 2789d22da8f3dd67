// Sends many messages through SmtpClient to a local sink server and prints messages per
// second, one command at a time and pipelined (RFC 2920), next to msmtp (one process per
// message, as a mail program is used) against the same sink.
//
//   bench_smtp_client [--messages N] [--size BYTES] [--rcpts N] [--reconnect N] [--msmtp N]
//                     [--delay MS]
//
// --delay puts a delay line of MS milliseconds each way between the client and the sink, so
// the figures show what a server 2 x MS away costs.
#include "../support/DelayLine.h"
#include "delivery/SmtpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using kolporta::delivery::SmtpClient;
using kolporta::delivery::TransactionReplies;
using kolporta::settings::SmtpProfile;

namespace {

// A minimal SMTP sink on 127.0.0.1 that accepts everything and keeps nothing, so the figures
// measure the client and not the server. Connections are served one after another.
class Sink
{
public:
    Sink()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(m_listen, 16);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~Sink()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        ::close(m_listen);
        m_thread.join();
    }
    quint16 port() const { return m_port; }
    long messages() const { return m_messages; }

private:
    static void say(int fd, const char *text) { (void)!::send(fd, text, std::strlen(text), 0); }

    void run()
    {
        while (!m_stop) {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            serve(fd);
            ::close(fd);
        }
    }

    void serve(int fd)
    {
        // Replies to a pipelined group go one by one; Nagle's algorithm would hold each back
        // until the one before is acknowledged.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        say(fd, "220 sink ESMTP\r\n");
        std::string line;
        bool data = false;
        std::string tail = "\r\n"; // DATA may end at once with ".\r\n"
        char buf[256 * 1024];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            ssize_t i = 0;
            while (i < n) {
                if (data) {
                    // Look for CR LF "." CR LF across chunk borders.
                    std::string window = tail + std::string(buf + i, size_t(n - i));
                    const size_t end = window.find("\r\n.\r\n");
                    if (end == std::string::npos) {
                        tail = window.substr(window.size() >= 4 ? window.size() - 4 : 0);
                        i = n;
                        continue;
                    }
                    i += ssize_t(end + 5) - ssize_t(tail.size());
                    data = false;
                    tail = "\r\n";
                    ++m_messages;
                    say(fd, "250 Queued\r\n");
                    continue;
                }
                const char c = buf[i++];
                if (c != '\n') {
                    line += c;
                    continue;
                }
                const std::string verb = line.substr(0, 4);
                line.clear();
                if (verb == "EHLO" || verb == "ehlo")
                    say(fd, "250-sink\r\n250-PIPELINING\r\n250 SIZE 1000000000\r\n");
                else if (verb == "DATA" || verb == "data") {
                    say(fd, "354 Go ahead\r\n");
                    data = true;
                } else if (verb == "QUIT" || verb == "quit") {
                    say(fd, "221 Bye\r\n");
                    return;
                } else
                    say(fd, "250 OK\r\n");
            }
        }
    }

    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop {false};
    std::atomic<long> m_messages {0};
    std::thread m_thread;
};

QList<QByteArray> message(int size)
{
    QList<QByteArray> lines {"From: bench@test.cz", "To: to@test.cz", "Subject: bench", ""};
    int total = 0;
    const QByteArray body(76, 'x');
    while (total < size) {
        lines.append(total % 7600 == 0 ? "." + body : body); // some lines need dot-stuffing
        total += 78;
    }
    return lines;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const char *name, int fallback) {
        const qsizetype i = args.indexOf(QString::fromLatin1(name));
        return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : fallback;
    };
    const int count = option("--messages", 10000);
    const int size = option("--size", 10000);
    const int perConnection = option("--reconnect", 500);
    const int msmtpCount = option("--msmtp", 200);
    const int rcpts = qMax(1, option("--rcpts", 1));
    const int delayMs = option("--delay", 0);
    QTextStream out(stdout);

    Sink sink;
    kolporta::bench::DelayLine delayLine(sink.port(), delayMs);
    if (delayMs > 0 && !delayLine.start()) {
        out << "cannot start the delay line" << Qt::endl;
        return 1;
    }
    const quint16 port = delayMs > 0 ? delayLine.port() : sink.port();
    if (delayMs > 0)
        out << "through a delay line of " << delayMs << " ms each way" << Qt::endl;
    SmtpProfile profile;
    profile.server = QStringLiteral("127.0.0.1");
    profile.port = QString::number(port);
    QStringList recipients;
    for (int i = 0; i < rcpts; ++i)
        recipients.append(QStringLiteral("to%1@test.cz").arg(i));
    const QList<QByteArray> lines = message(size);
    qint64 bytes = 0;
    for (const QByteArray &l : lines)
        bytes += l.size() + 2;

    for (const bool pipelined : {false, true}) {
        SmtpProfile p = profile;
        p.pipelining = pipelined;
        SmtpClient client(p);
        QElapsedTimer t;
        t.start();
        bool ok = client.open() && client.pipelining() == pipelined;
        for (int i = 0; ok && i < count; ++i) {
            QString error;
            if (pipelined) {
                TransactionReplies replies;
                ok = client.startTransaction(
                         QStringLiteral("bench@test.cz"), bytes, recipients, &replies)
                    && client.sendMessageLines(lines, &error) && client.sendEndOfData(&error);
                continue;
            }
            ok = client.mailFrom(QStringLiteral("bench@test.cz"), bytes);
            for (const QString &r : std::as_const(recipients))
                ok = ok && client.rcptTo(r);
            ok = ok && client.sendData(lines, &error);
        }
        client.close();
        const double s = t.nsecsElapsed() / 1e9;
        out << "SmtpClient, one session, " << (pipelined ? "pipelined" : "lock-step") << ": "
            << count << " messages of " << bytes << " bytes to " << rcpts << " recipients in " << s
            << " s: " << count / s << " msg/s, " << count * rcpts / s << " rcpt/s, "
            << count * bytes / s / 1e6 << " MB/s" << (ok ? "" : " (FAILED)") << Qt::endl;
    }
    {
        SmtpClient client(profile);
        QElapsedTimer t;
        t.start();
        bool ok = true;
        for (int i = 0; ok && i < perConnection; ++i) {
            QString error;
            ok = client.open() && client.mailFrom(QStringLiteral("bench@test.cz"), bytes)
                && client.rcptTo(QStringLiteral("to@test.cz")) && client.sendData(lines, &error);
            client.close();
        }
        const double s = t.nsecsElapsed() / 1e9;
        out << "SmtpClient, one connection per message: " << perConnection << " messages in " << s
            << " s: " << perConnection / s << " msg/s" << (ok ? "" : " (FAILED)") << Qt::endl;
    }

    const QString msmtp = QStandardPaths::findExecutable(QStringLiteral("msmtp"));
    if (msmtp.isEmpty() || msmtpCount <= 0) {
        out << "msmtp: not found, no reference figure" << Qt::endl;
        return 0;
    }
    QByteArray raw;
    for (const QByteArray &l : lines)
        raw += l + "\n";
    QElapsedTimer t;
    t.start();
    int sent = 0;
    for (int i = 0; i < msmtpCount; ++i) {
        QProcess p;
        p.start(msmtp,
            {QStringLiteral("--file=/dev/null"), QStringLiteral("--host=127.0.0.1"),
                QStringLiteral("--port=") + QString::number(port), QStringLiteral("--auth=off"),
                QStringLiteral("--tls=off"), QStringLiteral("--from=bench@test.cz"),
                QStringLiteral("to@test.cz")});
        p.write(raw);
        p.closeWriteChannel();
        p.waitForFinished();
        if (p.exitCode() == 0)
            ++sent;
    }
    const double s = t.nsecsElapsed() / 1e9;
    out << "msmtp (reference), one process per message: " << sent << "/" << msmtpCount
        << " messages in " << s << " s: " << sent / s << " msg/s" << Qt::endl;
    return 0;
}
