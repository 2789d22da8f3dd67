// The HTML body: the picture-reference rewriting of both routes and the plain-text part.
// The results are valid Unicode; the pictures of the list, referenced by name, get exactly
// the Content-IDs of their parts; every Content-ID written is one a header and a "cid:" URL
// carry unescaped; and the plain text read once per run and filled in per message is the
// text of the filled message. The input is the HTML, then (after \x01 separators) the
// values of %TO%, %FROM% and %SUBJECT%; its first byte picks the route.

#include "FuzzSupport.h"

#include "compose/HtmlBody.h"
#include "compose/MessageAssembly.h"

using namespace kolporta::compose;

namespace {

const QStringList &pictures()
{
    static const QStringList list {QStringLiteral("/home/jan/obrázky/logo.png"),
        QStringLiteral("/tmp/my banner.PNG"), QStringLiteral("obrázek.jpg"),
        QStringLiteral("foto.JPEG"), QStringLiteral("a_1-x.gif")};
    return list;
}

const QByteArray kDomain = QByteArrayLiteral("run.example.cz");

// The Content-IDs that "cid:" references in the text name, each as often as it occurs.
QStringList contentIdsIn(const QString &text)
{
    QStringList ids;
    for (qsizetype at = text.indexOf(QLatin1String("cid:")); at >= 0;
         at = text.indexOf(QLatin1String("cid:"), at + 4)) {
        qsizetype end = at + 4;
        while (end < text.size()
            && (text.at(end).isLetterOrNumber() || QStringView(u"._-@").contains(text.at(end))))
            ++end;
        ids.append(text.mid(at + 4, end - at - 4));
    }
    return ids;
}

bool isSafeContentId(const QString &id)
{
    const qsizetype at = id.indexOf(u'@');
    if (at <= 0 || id.mid(at + 1) != QString::fromLatin1(kDomain))
        return false;
    for (const QChar c : QStringView(id).first(at)) {
        const char16_t u = c.unicode();
        if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.'
                || u == '-' || u == '_'))
            return false;
    }
    return true;
}

void checkRewriting(const QString &html, bool mailProgramRoute)
{
    // Every listed picture referenced by its file name, ahead of the fuzzed HTML, must get
    // the ID its part gets in the message.
    ContentIds parts(pictures(), kDomain);
    QString references;
    QString expected;
    for (const QString &path : pictures()) {
        const QString name = QFileInfo(path).fileName();
        references += QStringLiteral("<img src=\"%1\">").arg(name);
        expected += QStringLiteral("<img src=\"cid:%1\">")
                        .arg(QString::fromLatin1(parts.ofPicture(name)));
    }
    const QString input = references + html;
    const QString out = PrepareHtmlBody(input, mailProgramRoute, pictures(), kDomain);
    FUZZ_CHECK(kolporta::fuzz::validUnicode(out));
    FUZZ_CHECK_EQUAL(out.left(expected.size()), expected);

    // Whatever "cid:" the rewriting added names an ID in the safe form.
    QStringList added = contentIdsIn(out);
    for (const QString &id : contentIdsIn(input))
        added.removeOne(id);
    for (const QString &id : std::as_const(added)) {
        if (!isSafeContentId(id))
            kolporta::fuzz::fail("safe Content-ID", __FILE__, __LINE__, kolporta::fuzz::show(id));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool mailProgramRoute = data[0] & 1;
    const QStringList parts
        = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1)
              .split(QChar(1));
    const QString html = parts.value(0);
    checkRewriting(html, mailProgramRoute);

    const QString text = PlainTextOfHtml(html);
    FUZZ_CHECK(kolporta::fuzz::validUnicode(text));
    FUZZ_CHECK(!text.contains(QChar(0)));

    if (parts.size() > 1) {
        const QString to = parts.value(1);
        const QString from = parts.value(2);
        const QString subject = parts.value(3);
        const PlainTextTemplate once(html);
        FUZZ_CHECK_EQUAL(once.text(to, from, subject),
            PlainTextOfHtml(ApplyMacros(html, to, from, subject, true)));
    }
    return 0;
}
