// The address of a line and the header mailbox: whatever the line, neither can break a
// command or header line, and whenever the envelope address is one a server accepts, the
// From or To header built from the same line names exactly that address.

#include "FuzzSupport.h"

#include "compose/GMimeSupport.h"
#include "compose/MessageAssembly.h"
#include "compose/MimeMessage.h"
#include "delivery/PreflightCheck.h"
#include "project/Trim.h"

// GLib names a member "signals"; only GMime's address parser is used below.
#undef signals
#include <gmime/gmime.h>

using namespace kolporta;

namespace {

// The one address a header value names as GMime's parser reads it; "" when it names none
// or several.
QString headerAddress(const QByteArray &value)
{
    InternetAddressList *list = internet_address_list_parse(nullptr, value.constData());
    QString address;
    if (list && internet_address_list_length(list) == 1) {
        InternetAddress *mailbox = internet_address_list_get_address(list, 0);
        if (INTERNET_ADDRESS_IS_MAILBOX(mailbox))
            address = QString::fromUtf8(
                internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(mailbox)));
    }
    if (list)
        g_object_unref(list);
    return address;
}

// No control character but the tab, which is white space in a header, can reach the value.
void checkHeaderValue(const QByteArray &value)
{
    for (const char c : value)
        FUZZ_CHECK((uchar(c) >= 0x20 || c == '\t') && uchar(c) != 0x7F);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    compose::ensureGMimeInitialized();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString envelope = compose::AddressOfLine(line);
    FUZZ_CHECK(!envelope.contains(u'\r') && !envelope.contains(u'\n'));
    FUZZ_CHECK_EQUAL(project::trimControls(envelope).toString(), envelope);

    // The sender's line goes into From whole; an address line in one-by-one mode goes into
    // To as its address.
    const QByteArray fromLine = compose::FormatMailbox(line);
    const QByteArray toAddress = compose::FormatMailbox(envelope);
    checkHeaderValue(fromLine);
    checkHeaderValue(toAddress);
    if (delivery::MailboxProblem(envelope).isEmpty()) {
        // The envelope address goes through the same parser, which writes an IDNA domain
        // ("xn--...") in Unicode: both sides are then read alike.
        const QString expected = headerAddress(envelope.toUtf8());
        FUZZ_CHECK(!expected.isEmpty());
        FUZZ_CHECK_EQUAL(headerAddress(fromLine), expected);
        FUZZ_CHECK_EQUAL(headerAddress(toAddress), expected);
    }
    return 0;
}
