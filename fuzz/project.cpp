// The project file: any bytes load, and what a save writes loads again as the same project.

#include "FuzzSupport.h"

#include "project/ProjectFile.h"

using namespace kolporta::project;

namespace {

const ProjectLists &lists()
{
    static const ProjectLists lists {
        {QStringLiteral("SMTP"), QStringLiteral("sendmail"), QStringLiteral("msmtp")},
        {QStringLiteral("Firma"), QStringLiteral("Pošta")},
    };
    return lists;
}

void checkSame(const Project &a, const Project &b)
{
    FUZZ_CHECK_EQUAL(a.addressList.toStringList(), b.addressList.toStringList());
    FUZZ_CHECK_EQUAL(a.subject, b.subject);
    FUZZ_CHECK_EQUAL(a.from, b.from);
    FUZZ_CHECK_EQUAL(a.text, b.text);
    FUZZ_CHECK(a.htmlBody == b.htmlBody);
    FUZZ_CHECK_EQUAL(a.attachments, b.attachments);
    FUZZ_CHECK_EQUAL(a.files, b.files);
    FUZZ_CHECK_EQUAL(a.mailer, b.mailer);
    FUZZ_CHECK_EQUAL(a.smtpServer, b.smtpServer);
    FUZZ_CHECK(a.sendAsBcc == b.sendAsBcc);
    FUZZ_CHECK_EQUAL(a.bccMaxCount, b.bccMaxCount);
    FUZZ_CHECK_EQUAL(a.blockFile, b.blockFile);
    FUZZ_CHECK(a.autoBlock == b.autoBlock);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString input = kolporta::fuzz::scratchFolder() + QStringLiteral("/in.kpj");
    static const QString saved = kolporta::fuzz::scratchFolder() + QStringLiteral("/saved.kpj");
    kolporta::fuzz::writeFile(
        input, QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));

    QString error;
    Project first;
    FUZZ_CHECK(LoadProject(input, &first, lists(), &error));
    // The selected items are always items of the lists, in their own spelling.
    FUZZ_CHECK(first.mailer.isEmpty() || lists().routes.contains(first.mailer));
    FUZZ_CHECK(first.smtpServer.isEmpty() || lists().profiles.contains(first.smtpServer));

    TextEncoding used = TextEncoding::Utf8;
    FUZZ_CHECK(SaveProject(saved, first, &error, &used));
    // Windows-1250 is written only for a file that was read in it.
    FUZZ_CHECK(used == TextEncoding::Utf8 || first.encoding == TextEncoding::Windows1250);

    Project second;
    FUZZ_CHECK(LoadProject(saved, &second, lists(), &error));
    checkSame(first, second);

    // The load, which reads a UTF-8 file line by line from its bytes, gives the project that
    // the whole text split into lines gives.
    QStringList lines;
    TextEncoding encoding = TextEncoding::Utf8;
    FUZZ_CHECK(TextFile::read(input, &lines, &encoding, &error));
    Project whole;
    ReadProjectLines(lines, &whole, lists());
    checkSame(first, whole);
    FUZZ_CHECK(encoding == first.encoding);
    return 0;
}
