// Builds and encodes personalised messages as an SMTP send run in individual mode does (the
// plain-text part generated from each message's HTML), and prints messages per second and the
// peak resident set size:
//   (a) a 2 KB HTML body with two 50 KB pictures,
//   (b) the same plus one 500 KB attachment.
// Each case runs with the full builder for every message and as a run makes them, filled in
// from the run's template; for reference also without the part cache, re-reading and
// re-encoding every file for every message.
#include "compose/HtmlBody.h"
#include "compose/MessageAssembly.h"
#include "compose/MimeMessage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <sys/resource.h>

using namespace kolporta::compose;

namespace {

long peakRssKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void writeRandom(const QString &path, int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 24);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
        qFatal("cannot write %s", qPrintable(path));
}

QString htmlBody()
{
    QString body = QStringLiteral(
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1250\">"
        "</head><body>\r\n<p>Dobrý den, %TO%,</p>\r\n<img src=\"obrazky/logo.gif\">\r\n");
    while (body.size() < 1900)
        body += QStringLiteral(
            u"<p>Příliš žluťoučký kůň úpěl ďábelské ódy. Nabídka platí do konce měsíce.</p>\r\n");
    body += QStringLiteral("<img src=\"obrazky/foto.png\"></body></html>");
    return body;
}

// CPU seconds of this process: unlike the wall clock, they do not count the time the
// machine gave to other work, so the figures stay comparable on a busy machine.
double cpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

struct Result
{
    double perSecond;
    double perCpuSecond;
    qint64 bytes;
};

// With `fromTemplate`, as a send run makes them: filled in from the run's message template.
Result run(const MessageContent &base, PartCache *cache, int count, const QString &prepared,
    bool fromTemplate = false)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = cpuSeconds();
    qint64 bytes = 0;
    MessageContent templateContent = base;
    templateContent.body = prepared;
    MessageTemplate once(templateContent, cache);
    for (int i = 0; i < count; ++i) {
        const QString line = QStringLiteral("Adresat %1 <adresat%1@example.cz>").arg(i);
        MessageContent content = base;
        content.macroTo = line;
        content.macroFrom = QStringLiteral("Petr <petr@example.cz>");
        content.macroSubject = QStringLiteral("Nabídka");
        QString error;
        std::unique_ptr<MimeMessage> message;
        if (fromTemplate) {
            message = once.message(line, content.macroFrom, content.macroSubject, &error);
        } else {
            content.body = ApplyMacros(
                prepared, content.macroTo, content.macroFrom, content.macroSubject, true);
            message = BuildMessage(content, cache, &error);
        }
        if (!message)
            qFatal("%s", qPrintable(error));
        message->setFrom(QStringLiteral("Petr Svoboda <petr@example.cz>"));
        message->setTo({AddressOfLine(line)});
        message->setSubject(QStringLiteral(u"Nabídka pro vás"));
        message->encode();
        bytes += message->size();
    }
    return {count * 1000.0 / qMax<qint64>(1, timer.elapsed()),
        count / qMax(1e-9, cpuSeconds() - cpuStart), bytes / count};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 10000;
    QTemporaryDir dir;
    const QString logo = dir.filePath(QStringLiteral("logo.gif"));
    const QString photo = dir.filePath(QStringLiteral("foto.png"));
    const QString attachment = dir.filePath(QStringLiteral("cenik.pdf"));
    writeRandom(logo, 50 * 1024, 1);
    writeRandom(photo, 50 * 1024, 2);
    writeRandom(attachment, 500 * 1024, 3);
    const QByteArray domain = NewContentIdDomain();
    const QString prepared = PrepareHtmlBody(htmlBody(), false, {logo, photo}, domain);

    MessageContent a;
    a.html = true;
    // As a send run does: the text part is read from the body once and filled in per message.
    a.textTemplate = std::make_shared<PlainTextTemplate>(prepared);
    a.pictures = {logo, photo};
    a.contentIdDomain = domain;
    MessageContent b = a;
    b.attachments = {attachment};

    std::printf("%d personalised messages per case, body %lld chars\n", count,
        static_cast<long long>(prepared.size()));
    const struct
    {
        const char *name;
        const MessageContent &content;
        double goal;
    } cases[] = {
        {"(a) 2 KB HTML + 2 x 50 KB pictures", a, 3000}, {"(b) (a) + 500 KB attachment", b, 1000}};
    for (const auto &c : cases) {
        PartCache cache;
        const long before = peakRssKiB();
        const Result tenth = run(c.content, &cache, count / 10, prepared);
        const long atTenth = peakRssKiB();
        const Result all = run(c.content, &cache, count, prepared);
        std::printf(
            "%s: %.0f msg/s (goal %.0f; %.0f per CPU second), %lld bytes/msg; peak RSS %ld KiB "
            "before, %ld KiB after %d msgs, %ld KiB after %d more\n",
            c.name, all.perSecond, c.goal, all.perCpuSecond, static_cast<long long>(all.bytes),
            before, atTenth, count / 10, peakRssKiB(), count);
        (void)tenth;
        const Result filled = run(c.content, &cache, count, prepared, true);
        std::printf("    filled in from the run's template: %.0f msg/s (%.0f per CPU second)\n",
            filled.perSecond, filled.perCpuSecond);
        const Result uncached = run(c.content, nullptr, qMax(1, count / 10), prepared);
        std::printf("    reference without the part cache: %.0f msg/s\n", uncached.perSecond);
    }
    // The share of the plain-text part: read from each message's filled HTML, and filled in
    // from the template read once, as a run does.
    const PlainTextTemplate once(prepared);
    for (const bool fromTemplate : {false, true}) {
        const double cpuStart = cpuSeconds();
        qsizetype chars = 0;
        for (int i = 0; i < count; ++i) {
            const QString to = QStringLiteral("Adresat %1 <adresat%1@example.cz>").arg(i);
            const QString from = QStringLiteral("Petr <petr@example.cz>");
            const QString subject = QStringLiteral("Nabídka");
            chars
                += (fromTemplate ? once.text(to, from, subject)
                                 : PlainTextOfHtml(ApplyMacros(prepared, to, from, subject, true)))
                       .size();
        }
        std::printf("plain-text part alone, %s: %.1f us of CPU per message, %lld chars\n",
            fromTemplate ? "filled in from the template" : "read from the filled body",
            (cpuSeconds() - cpuStart) * 1e6 / count, static_cast<long long>(chars / count));
    }
    return 0;
}
