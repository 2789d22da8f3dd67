// The address of a line and the mailbox of the headers: whatever the line, no header line of
// the message built for it breaks, and whenever its envelope address is one a server takes,
// the From and To headers of the same line name exactly that address. The first byte of the
// input says whether the server offers SMTPUTF8; the rest is the line.

#include "FuzzSupport.h"

#include "compose/GMimeSupport.h"
#include "compose/MessageAssembly.h"
#include "compose/MimeMessage.h"
#include "delivery/PreflightCheck.h"
#include "project/Trim.h"

// GLib names a member "signals"; only GMime's parser is used below.
#undef signals
#include <gmime/gmime.h>

using namespace kolporta;

namespace {

// The addresses of a header as GMime's parser reads them; an IDNA domain comes out in
// Unicode, so both sides of a comparison go through it.
QStringList addressesOf(InternetAddressList *list)
{
    QStringList addresses;
    for (int i = 0; list && i < internet_address_list_length(list); ++i) {
        InternetAddress *item = internet_address_list_get_address(list, i);
        addresses.append(INTERNET_ADDRESS_IS_MAILBOX(item) ? QString::fromUtf8(
                             internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(item)))
                                                           : QStringLiteral("(group)"));
    }
    return addresses;
}

QString parsedAddress(const QString &address)
{
    InternetAddressList *list = internet_address_list_parse(nullptr, address.toUtf8().constData());
    const QStringList addresses = addressesOf(list);
    if (list)
        g_object_unref(list);
    return addresses.size() == 1 ? addresses.first() : QString();
}

struct Parsed
{
    GMimeMessage *message = nullptr;
    explicit Parsed(const QByteArray &wire)
    {
        GMimeStream *stream = g_mime_stream_mem_new_with_buffer(wire.constData(), wire.size());
        GMimeParser *parser = g_mime_parser_new_with_stream(stream);
        message = g_mime_parser_construct_message(parser, nullptr);
        g_object_unref(parser);
        g_object_unref(stream);
    }
    ~Parsed()
    {
        if (message)
            g_object_unref(message);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    compose::ensureGMimeInitialized();
    compose::SetMessageEnvironment({[] { return QDateTime(QDate(2026, 3, 1), QTime(9, 0)); },
        [] { return QByteArrayLiteral("boundary"); }, [] { return QByteArrayLiteral("id"); },
        [] { return QByteArrayLiteral("run.example.cz"); }});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool smtpUtf8 = data[0] & 1;
    const QString line
        = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    const QString address = compose::AddressOfLine(line);
    FUZZ_CHECK(!address.contains(u'\r') && !address.contains(u'\n'));
    FUZZ_CHECK_EQUAL(project::trimControls(address).toString(), address);

    // The sender's line goes into From whole; an address line in one-by-one mode goes into
    // To as its address, and in the other modes as it stands.
    compose::MessageContent content;
    content.body = QStringLiteral("x");
    QString error;
    std::unique_ptr<compose::MimeMessage> message = compose::BuildMessage(content, nullptr, &error);
    FUZZ_CHECK(message != nullptr);
    message->setFrom(line);
    message->setTo({line, address});
    message->setSubject(line);
    message->setSmtpUtf8(smtpUtf8);
    // An address that does not fit a line on its own cannot be written in any header without
    // changing it; it is no mailbox either (the check reports it, a server refuses it).
    const bool addressFits = address.toUtf8().size() <= 990;
    QByteArray wire;
    for (const QByteArray &encoded : message->encode()) {
        FUZZ_CHECK(!encoded.contains('\r') && !encoded.contains('\n') && !encoded.contains('\0'));
        if (addressFits && encoded.size() > 998)
            kolporta::fuzz::fail("a line of at most 998 characters (RFC 5322)", __FILE__, __LINE__,
                kolporta::fuzz::show(encoded));
        wire += encoded + "\r\n";
    }

    // The envelope of the line, when it has one on this server (RFC 6531: a local part that
    // is not ASCII needs SMTPUTF8).
    if (!smtpUtf8 && compose::NeedsSmtpUtf8(address))
        return 0;
    const QString envelope = compose::TransportAddress(address, smtpUtf8);
    if (!delivery::MailboxProblem(address).isEmpty())
        return 0;
    const QString expected = parsedAddress(envelope);
    FUZZ_CHECK(!expected.isEmpty());
    const Parsed parsed(wire);
    FUZZ_CHECK(parsed.message != nullptr);
    FUZZ_CHECK_EQUAL(addressesOf(g_mime_message_get_from(parsed.message)), QStringList {expected});
    FUZZ_CHECK_EQUAL(
        addressesOf(g_mime_message_get_to(parsed.message)), (QStringList {expected, expected}));
    return 0;
}
