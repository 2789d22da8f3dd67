// The program's main job, timed: kolporta-cli send on generated projects against a fast SMTP
// sink, beside Postfix's smtp-source sending as many messages of the same size over one
// session. Prints msg/s, recipients/s, the ratio to smtp-source and kolporta-cli's peak RSS.
// Cases A and C (a' and c') put a delay line of 10 ms each way in front of the sink, as a
// real server is that far away, and compare the profile's speed keys.
//
//   bench_send_throughput [--cases abcACm] [--scale F] [--builtin-sink] [--delay MS] [--cli PATH]
//
// Case m (1,000,000 addresses in BCC mode, for the peak memory) runs only when asked for.
//
// The sink is Postfix's smtp-sink when it is found (on the PATH, in /usr/sbin, or in
// $KOLPORTA_POSTFIX_BIN with its libraries in $KOLPORTA_POSTFIX_LIB; bench/send_throughput/run
// unpacks Postfix there without installing it), otherwise a small sink of our own. --scale
// multiplies the address counts, for a quick look. --cli times another build of kolporta-cli
// (an earlier commit's, say) in the same setting.

#include "../support/DelayLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

QTextStream out(stdout);

// One way of sending a case: the extra keys of its SMTP profile, and its goals.
struct Variant
{
    QString keys; // "Pipelining=1\r\n..." added to the profile; "" for the default
    double goalRcptPerSecond = 0; // 0: none
    double goalMsgPerSecond = 0;
};

struct Case
{
    char id;
    QString title;
    int addresses;
    bool bcc;
    int batch;
    int bodyBytes; // HTML body size, personalised with %TO%
    int attachmentBytes; // 0: none
    double goalRatio; // against smtp-source, 0: none
    double goalRcptPerSecond;
    bool delayed = false; // through the delay line
    QList<Variant> variants = {Variant()};
    double rssGoalMb = 200;
};

struct Timed
{
    double seconds = 0;
    long peakRssKb = 0;
    int status = -1;
};

// Runs a program to its end with stdout to /dev/null (or a file); wall time and peak RSS.
Timed runTimed(const QStringList &args, const QString &stdoutPath = QStringLiteral("/dev/null"),
    const QStringList &env = {})
{
    QList<QByteArray> argBytes;
    for (const QString &a : args)
        argBytes.append(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    QList<QByteArray> envBytes;
    for (char **e = environ; *e; ++e)
        envBytes.append(QByteArray(*e));
    for (const QString &e : env)
        envBytes.append(e.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &e : envBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray outPath = QFile::encodeName(stdoutPath);
    posix_spawn_file_actions_addopen(
        &actions, 1, outPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Timed t;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return t;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    t.seconds = clock.nsecsElapsed() / 1e9;
    t.peakRssKb = usage.ru_maxrss;
    t.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return t;
}

quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool waitListening(quint16 port)
{
    for (int i = 0; i < 100; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok)
            return true;
        ::usleep(50000);
    }
    return false;
}

// A sink of our own: accepts everything as fast as it can read, one thread per connection.
class BuiltinSink
{
public:
    bool start(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(m_fd, 64))
            return false;
        std::thread([fd = m_fd] {
            for (;;) {
                const int c = ::accept(fd, nullptr, nullptr);
                if (c < 0)
                    return;
                std::thread(serve, c).detach();
            }
        }).detach();
        return true;
    }

private:
    static void say(int c, const char *text)
    {
        [[maybe_unused]] auto n = ::write(c, text, strlen(text));
    }
    static void serve(int c)
    {
        int one = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        say(c, "220 sink ESMTP\r\n");
        QByteArray buf;
        bool data = false;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(c, chunk, sizeof chunk);
            if (n <= 0)
                break;
            buf.append(chunk, n);
            for (;;) {
                if (data) {
                    const qsizetype end = buf.indexOf("\r\n.\r\n");
                    if (end < 0) {
                        // Keep only a tail that may hold the start of the end mark.
                        if (buf.size() > 8)
                            buf.remove(0, buf.size() - 4);
                        break;
                    }
                    buf.remove(0, end + 5);
                    data = false;
                    say(c, "250 2.0.0 Ok: queued\r\n");
                    continue;
                }
                const qsizetype eol = buf.indexOf("\r\n");
                if (eol < 0)
                    break;
                const QByteArray verb = buf.left(4).toUpper();
                buf.remove(0, eol + 2);
                if (verb == "EHLO")
                    say(c, "250-sink\r\n250-PIPELINING\r\n250 SIZE 0\r\n");
                else if (verb == "DATA") {
                    say(c, "354 End data with <CR><LF>.<CR><LF>\r\n");
                    data = true;
                    // The ".\r\n" after an empty body follows the line end already consumed.
                    buf.prepend("\r\n");
                } else if (verb == "QUIT") {
                    say(c, "221 Bye\r\n");
                    ::close(c);
                    return;
                } else
                    say(c, "250 Ok\r\n");
            }
        }
        ::close(c);
    }
    int m_fd = -1;
};

QString findTool(const QString &name)
{
    const QString dir = qEnvironmentVariable("KOLPORTA_POSTFIX_BIN");
    if (!dir.isEmpty() && QFile::exists(dir + QLatin1Char('/') + name))
        return dir + QLatin1Char('/') + name;
    QString p = QStandardPaths::findExecutable(name);
    if (p.isEmpty())
        p = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin")});
    return p;
}

QStringList postfixEnv()
{
    const QString lib = qEnvironmentVariable("KOLPORTA_POSTFIX_LIB");
    return lib.isEmpty() ? QStringList() : QStringList {QStringLiteral("LD_LIBRARY_PATH=") + lib};
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

// A project file for the case; addresses differ, so nothing can be shared between messages.
QString makeProject(const QString &dir, const Case &c, quint16 port, const QString &keys = {})
{
    writeFile(dir + QStringLiteral("/smtp.ini"),
        (QStringLiteral("[sink]\r\nServer=127.0.0.1\r\nPort=%1\r\n").arg(port) + keys).toUtf8());
    // No mail program is looked for on this machine.
    writeFile(dir + QStringLiteral("/mailclients.ini"), QByteArray());
    QByteArray p;
    p.reserve(c.addresses * 48 + c.bodyBytes + 1024);
    p += "[Address list]\r\n";
    for (int i = 0; i < c.addresses; ++i)
        p += "Adresát " + QByteArray::number(i) + " <rcpt" + QByteArray::number(i)
            + "@example.cz>\r\n";
    p += "[Subject]\r\nNabídka pro vás\r\n[From]\r\nKolporta <bench@example.cz>\r\n";
    p += "[Mailer]\r\nSMTP\r\n[SmtpServer]\r\nsink\r\n";
    p += "[SendAsBCC]\r\n" + QByteArray(c.bcc ? "1" : "0") + "\r\n";
    p += "[HTMLBody]\r\n" + QByteArray(c.bodyBytes > 0 ? "1" : "0") + "\r\n";
    p += "[BCCMaxCount]\r\n" + QByteArray::number(c.batch) + "\r\n[Text]\r\n";
    if (c.bodyBytes > 0) {
        p += "<html><body><p>Dobrý den, %TO%,</p>\r\n";
        const QByteArray para
            = "<p>Posíláme Vám naši nabídku na tento měsíc. Ceny platí do konce měsíce.</p>\r\n";
        qsizetype size = p.size();
        const qsizetype target = size + c.bodyBytes - 40;
        while (size < target) {
            p += para;
            size += para.size();
        }
        p += "<p>%FROM%</p></body></html>\r\n";
    } else {
        p += "Dobrý den, %TO%,\r\nv příloze posíláme ceník.\r\n";
    }
    if (c.attachmentBytes > 0) {
        QByteArray blob(c.attachmentBytes, Qt::Uninitialized);
        QRandomGenerator gen(42);
        gen.fillRange(reinterpret_cast<quint32 *>(blob.data()), blob.size() / 4);
        const QString path = dir + QStringLiteral("/cenik.bin");
        writeFile(path, blob);
        p += "[Files]\r\n" + QFile::encodeName(path) + "\r\n";
    }
    const QString path = dir + QStringLiteral("/bench.kpj");
    writeFile(path, p);
    return path;
}

// The size of one message of the case, as kolporta-cli export writes it.
qint64 messageSize(const QString &cli, const QString &dir, const Case &c, quint16 port)
{
    Case one = c;
    one.addresses = c.bcc ? c.batch : 1;
    const QString sub = dir + QStringLiteral("/one");
    QDir().mkpath(sub);
    const QString project = makeProject(sub, one, port);
    const QString to = sub + QStringLiteral("/out");
    runTimed({cli, QStringLiteral("--home"), sub, QStringLiteral("export"), project,
        QStringLiteral("--to"), to});
    return QFileInfo(to + QStringLiteral("/00001.eml")).size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString cases = QStringLiteral("abcAC");
    double scale = 1.0;
    bool builtin = false;
    int delayMs = 10;
    QString cli = QStringLiteral(KOLPORTA_CLI);
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--cases") && i + 1 < args.size())
            cases = args[++i];
        else if (args[i] == QLatin1String("--scale") && i + 1 < args.size())
            scale = args[++i].toDouble();
        else if (args[i] == QLatin1String("--builtin-sink"))
            builtin = true;
        else if (args[i] == QLatin1String("--delay") && i + 1 < args.size())
            delayMs = args[++i].toInt();
        else if (args[i] == QLatin1String("--cli") && i + 1 < args.size())
            cli = args[++i];
        else {
            std::fputs("usage: bench_send_throughput [--cases abcACm] [--scale F] [--builtin-sink] "
                       "[--delay MS] [--cli PATH]\n",
                stderr);
            return 2;
        }
    }
    const QString sinkTool = builtin ? QString() : findTool(QStringLiteral("smtp-sink"));
    const QString sourceTool = findTool(QStringLiteral("smtp-source"));

    QTemporaryDir tmp;
    const quint16 port = freePort();
    pid_t sinkPid = 0;
    BuiltinSink ownSink;
    if (!sinkTool.isEmpty()) {
        const QByteArray user = qgetenv("USER").isEmpty() ? QByteArray("root") : qgetenv("USER");
        QStringList sinkArgs {sinkTool, QStringLiteral("-u"), QString::fromLocal8Bit(user),
            QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("256")};
        QList<QByteArray> bytes;
        for (const QString &a : sinkArgs)
            bytes.append(QFile::encodeName(a));
        std::vector<char *> argvS;
        for (QByteArray &b : bytes)
            argvS.push_back(b.data());
        argvS.push_back(nullptr);
        const QString lib = qEnvironmentVariable("KOLPORTA_POSTFIX_LIB");
        if (!lib.isEmpty())
            qputenv("LD_LIBRARY_PATH", QFile::encodeName(lib));
        posix_spawn(&sinkPid, argvS[0], nullptr, nullptr, argvS.data(), environ);
        qunsetenv("LD_LIBRARY_PATH");
    } else if (!ownSink.start(port)) {
        std::fputs("cannot start the sink\n", stderr);
        return 1;
    }
    if (!waitListening(port)) {
        std::fputs("the sink does not listen\n", stderr);
        return 1;
    }
    kolporta::bench::DelayLine delayLine(port, delayMs);
    if (!delayLine.start()) {
        std::fputs("cannot start the delay line\n", stderr);
        return 1;
    }
    out << "sink: " << (sinkTool.isEmpty() ? QStringLiteral("built-in C++ sink") : sinkTool)
        << "\nreference: "
        << (sourceTool.isEmpty() ? QStringLiteral("none (smtp-source not found)") : sourceTool)
        << "\n\n";
    out.flush();

    const QList<Case> all {
        {'a', QStringLiteral("10,000 addresses one by one, 2 KB personalised HTML"), 10000, false,
            50, 2048, 0, 0.6, 0},
        {'b', QStringLiteral("2,000 addresses one by one, 500 KB attachment"), 2000, false, 50, 0,
            500 * 1024, 0.6, 0},
        {'c', QStringLiteral("100,000 addresses in BCC batches of 50"), 100000, true, 50, 0, 0, 0,
            15000},
        {'C',
            QStringLiteral("(c') 2,000 addresses in BCC batches of 50, %1 ms each way")
                .arg(delayMs),
            2000, true, 50, 0, 0, 0, 0, true,
            {Variant(), Variant {QStringLiteral("Pipelining=1\r\n"), 800, 0}}},
        {'A',
            QStringLiteral("(a') 200 addresses one by one, 4 KB personalised HTML, %1 ms each way")
                .arg(delayMs),
            200, false, 50, 4096, 0, 0, 0, true,
            {Variant(), Variant {QStringLiteral("Pipelining=1\r\n")},
                Variant {QStringLiteral("Connections=4\r\n")},
                Variant {QStringLiteral("Connections=16\r\n")},
                Variant {QStringLiteral("Connections=16\r\nPipelining=1\r\n"), 0, 150}}},
        // Memory: the address list and everything kept per line, at a size where they
        // outweigh the rest.
        {'m', QStringLiteral("1,000,000 addresses in BCC batches of 50, peak memory"), 1000000,
            true, 50, 0, 0, 0, 0, false, {Variant()}, 150},
    };
    bool allGoals = true;
    for (const Case &full : all) {
        if (!cases.contains(QLatin1Char(full.id)))
            continue;
        Case c = full;
        c.addresses = qMax(c.bcc ? c.batch : 1, int(c.addresses * scale));
        const quint16 target = c.delayed ? delayLine.port() : port;
        const QString dir = tmp.path() + QLatin1Char('/') + QLatin1Char(c.id);
        QDir().mkpath(dir);
        const qint64 size = messageSize(cli, dir, c, port);
        const int messages = c.bcc ? (c.addresses + c.batch - 1) / c.batch : c.addresses;
        const int perMessage = c.bcc ? c.batch : 1;
        out << "(" << c.id << ") " << c.title << "\n";
        out << QStringLiteral("    %1 messages of %2 bytes, %3 recipients\n")
                   .arg(messages)
                   .arg(size)
                   .arg(c.addresses);
        double msgRate = 0;
        for (const Variant &v : std::as_const(c.variants)) {
            const QString project = makeProject(dir, c, target, v.keys);
            const Timed k
                = runTimed({cli, QStringLiteral("--home"), dir, QStringLiteral("send"), project},
                    dir + QStringLiteral("/stdout.txt"));
            msgRate = messages / k.seconds;
            const double rcptRate = c.addresses / k.seconds;
            const QString label = v.keys.isEmpty()
                ? QStringLiteral("default")
                : QString(v.keys).replace(QStringLiteral("\r\n"), QStringLiteral(" ")).trimmed();
            out << QStringLiteral(
                "    kolporta-cli, %1: %2 s (exit %3), %4 msg/s, %5 recipients/s, "
                "peak RSS %6 MB\n")
                       .arg(label)
                       .arg(k.seconds, 0, 'f', 2)
                       .arg(k.status)
                       .arg(msgRate, 0, 'f', 1)
                       .arg(rcptRate, 0, 'f', 0)
                       .arg(k.peakRssKb / 1024.0, 0, 'f', 1);
            QStringList verdicts;
            const auto goal = [&](double goal, double got, const QString &unit) {
                if (goal <= 0)
                    return;
                const bool ok = got >= goal;
                allGoals &= ok;
                verdicts << QStringLiteral("%1 %2: %3")
                                .arg(goal, 0, 'f', 0)
                                .arg(unit, ok ? QStringLiteral("met") : QStringLiteral("MISSED"));
            };
            goal(v.goalRcptPerSecond > 0 ? v.goalRcptPerSecond : c.goalRcptPerSecond, rcptRate,
                QStringLiteral("recipients/s"));
            goal(v.goalMsgPerSecond, msgRate, QStringLiteral("msg/s"));
            const bool rssOk = k.peakRssKb < c.rssGoalMb * 1024;
            allGoals &= rssOk && k.status == 0;
            verdicts << QStringLiteral("RSS under %1 MB: %2")
                            .arg(c.rssGoalMb)
                            .arg(rssOk ? QStringLiteral("met") : QStringLiteral("MISSED"));
            out << "        goals: " << verdicts.join(QStringLiteral("; ")) << "\n";
            out.flush();
        }
        if (!sourceTool.isEmpty()) {
            QStringList src {sourceTool, QStringLiteral("-d"), QStringLiteral("-s"),
                QStringLiteral("1"), QStringLiteral("-m"), QString::number(messages),
                QStringLiteral("-l"), QString::number(size), QStringLiteral("-f"),
                QStringLiteral("bench@example.cz"), QStringLiteral("-t"),
                QStringLiteral("rcpt@example.cz")};
            if (perMessage > 1)
                src << QStringLiteral("-r") << QString::number(perMessage);
            src << QStringLiteral("127.0.0.1:%1").arg(target);
            const Timed s = runTimed(src, QStringLiteral("/dev/null"), postfixEnv());
            const double srcRate = messages / s.seconds;
            // The ratio is the last variant's: the default where there is only one.
            const double ratio = msgRate / srcRate;
            out << QStringLiteral("    smtp-source:   %1 msg/s over one session (%2 s); "
                                  "kolporta-cli reaches %3%\n")
                       .arg(srcRate, 0, 'f', 0)
                       .arg(s.seconds, 0, 'f', 2)
                       .arg(ratio * 100, 0, 'f', 0);
            if (c.goalRatio > 0) {
                const bool ok = ratio >= c.goalRatio;
                allGoals &= ok;
                out << QStringLiteral("        goal: %1% of smtp-source: %2\n")
                           .arg(c.goalRatio * 100, 0, 'f', 0)
                           .arg(ok ? QStringLiteral("met") : QStringLiteral("MISSED"));
            }
        }
        out << "\n";
        out.flush();
    }
    if (sinkPid > 0) {
        ::kill(sinkPid, SIGTERM);
        ::waitpid(sinkPid, nullptr, 0);
    }
    out << (allGoals ? "all goals met\n" : "some goals missed\n");
    return 0;
}
