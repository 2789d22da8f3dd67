// Figures of the mail-program route: composing messages, handing them to a program, and
// the memory a big attachment costs. Run: build/bench/mailprogram/bench_mailprogram
#include "compose/MailProgramMessage.h"
#include "delivery/MailObject.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using kolporta::compose::MailProgramMessage;
using kolporta::delivery::MailObject;
using kolporta::delivery::RecipientKind;

namespace {

QByteArray noise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

QString htmlBody()
{
    return QStringLiteral(
        "<p>P\u0159\u00edli\u0161 \u017elu\u0165ou\u010dk\u00fd k\u016f\u0148 "
        "\u00fap\u011bl \u010f\u00e1belsk\u00e9 \u00f3dy. <img src=\"cid:p1.png\"></p>\r\n")
        .repeated(250);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QStringList pictures;
    for (int i = 1; i <= 3; ++i) {
        pictures.append(dir.filePath(QStringLiteral("p%1.png").arg(i)));
        writeFile(pictures.last(), noise(100 * 1024, quint32(i)));
    }

    // Composing: an HTML body of about 20 KB with three 100 KB pictures and 50 recipients.
    MailProgramMessage message;
    message.subject = QStringLiteral("Pozv\u00e1nka");
    message.body = htmlBody();
    message.html = true;
    message.pictures = pictures;
    for (int i = 0; i < 50; ++i)
        message.recipients.append(
            {QStringLiteral("Adres\u00e1t %1 <a%1@example.cz>").arg(i), true});
    const int composeCount = 200;
    QByteArray bytes;
    QString error;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < composeCount; ++i)
        message.build(&bytes, &error);
    double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("compose: %d messages of %lld bytes in %.3f s: %.1f msg/s, %.1f MB/s\n",
        composeCount, static_cast<long long>(bytes.size()), seconds, composeCount / seconds,
        composeCount * bytes.size() / seconds / 1e6);

    // Handing over to a program that only reads its input, against starting the same
    // program and writing the same bytes with QProcess alone (the cost of a process).
    const QString sink = QStringLiteral("/bin/sh -c \"cat >/dev/null\"");
    MailObject mail({{QStringLiteral("sink"), sink, true}});
    mail.prepareClient(0, &error);
    mail.setHtml(true);
    mail.setSubject(message.subject);
    mail.setBody(message.body);
    mail.setPictures(pictures, QByteArrayLiteral("bench.kolporta"));
    mail.addRecipient(QStringLiteral("Adres\u00e1t <a@example.cz>"), RecipientKind::Bcc);
    const int sendCount = 100;
    timer.restart();
    for (int i = 0; i < sendCount; ++i) {
        if (!mail.send(&error))
            qFatal("send failed: %s", qPrintable(error));
    }
    seconds = timer.nsecsElapsed() / 1e9;
    std::printf(
        "hand-over: %d messages in %.3f s: %.1f msg/s\n", sendCount, seconds, sendCount / seconds);
    timer.restart();
    for (int i = 0; i < sendCount; ++i) {
        QProcess process;
        process.start(QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("cat >/dev/null"), QStringLiteral("-i"),
                QStringLiteral("-t")});
        process.waitForStarted();
        process.write(bytes);
        process.closeWriteChannel();
        process.waitForFinished();
    }
    seconds = timer.nsecsElapsed() / 1e9;
    std::printf("reference, QProcess writing a ready message: %.1f msg/s\n", sendCount / seconds);

    // Memory: one message carrying a 20 MB attachment.
    const QString big = dir.filePath(QStringLiteral("big.bin"));
    writeFile(big, noise(20 * 1024 * 1024, 7));
    const long before = peakKiB();
    MailProgramMessage large;
    large.body = QStringLiteral("x");
    large.files = {big};
    large.recipients = {{QStringLiteral("a@example.cz"), false}};
    timer.restart();
    large.build(&bytes, &error);
    seconds = timer.nsecsElapsed() / 1e9;
    const long after = peakKiB();
    std::printf("20 MB attachment: message of %.1f MB built in %.3f s, peak memory grew by "
                "%.1f MB (%.2f x the file)\n",
        bytes.size() / 1e6, seconds, (after - before) / 1024.0, (after - before) / 1024.0 / 20.0);
    return 0;
}
