#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace kolporta::compose {

// The e-mail address of an address line or of the sender field: the text after the first
// "<" (all of it when there is none), cut before the next ">", trimmed of codes 0..32.
// Without "<", parenthesised comments at either end are dropped, so "addr (Name)" gives
// addr in the envelope as in the headers. A CR or LF left inside becomes a space, so the
// address can never end a command line.
QString AddressOfLine(const QString &line);

// The address as it travels: without SMTPUTF8 (RFC 6531) a domain that is not ASCII is
// written in its IDNA form (punycode); with SMTPUTF8 the address stays as it is.
QString TransportAddress(const QString &address, bool smtpUtf8);

// Whether the address can travel only with SMTPUTF8: its local part is not ASCII (or its
// domain has no IDNA form).
bool NeedsSmtpUtf8(const QString &address);

// Whether a line is blank: empty once codes 0..32 are trimmed from both ends.
bool IsBlankLine(const QString &line);

// The Content-IDs (RFC 2392) of the pictures of one run, in msg-id form "left@domain" built
// only of letters, digits, ".", "-" and "_", which need no escaping in a header or in a
// "cid:" URL. The left part is the file name when it is made of those alone, otherwise a
// transliterated form of it with a counter ("obrázek.jpg" gives "obrazek-1.jpg"). The same
// picture list and domain always give the same IDs, so the HTML body prepared once per run
// and every message built later agree.
class ContentIds
{
public:
    // An empty domain stands for a fixed one.
    ContentIds(const QStringList &picturePaths, const QByteArray &domain);

    // The ID of a listed picture, by its file name.
    QByteArray ofPicture(const QString &fileName);
    // The ID a reference to this file name points to: a listed picture's when the name
    // matches one as written, percent-decoded, or in another letter case; else one of its
    // own, which points to no part.
    QByteArray ofReference(const QString &fileName);

private:
    QByteArray leftPart(const QString &fileName);

    QByteArray m_domain;
    QStringList m_listed;
    QHash<QString, QByteArray> m_left;
    QSet<QByteArray> m_taken;
    int m_counter = 0;
};

// Prepares an HTML body once per send run. On the mail-program route the charset
// declaration and the text move to ISO-8859-2: the result, encoded in ISO-8859-2, gives the
// bytes of the Windows-1250 text after the code-page conversion. A body holding a character
// outside Windows-1250 is kept as Unicode instead, and its declaration
// "charset=windows-1250" becomes "charset=utf-8", since the conversion would destroy it. On
// the SMTP route, which sends the HTML as UTF-8, every <meta> charset declaration says
// "utf-8". On both routes every local picture reference (src and background attributes,
// CSS url() in style attributes and <style> blocks) becomes "cid:" and the picture's
// Content-ID; nothing else in the text changes.
QString PrepareHtmlBody(const QString &body, bool mailProgramRoute, const QStringList &pictures,
    const QByteArray &contentIdDomain);

// Fills "%TO%", "%FROM%" and "%SUBJECT%", case-sensitively and in that order. In an HTML
// body the values are escaped for HTML ("&", "<", ">", '"'), so that a "Name <address>"
// shows as text rather than vanishing as an unknown tag.
QString ApplyMacros(const QString &body, const QString &toText, const QString &from,
    const QString &subject, bool html = false);

// The display name of a sender or address line, for its mailbox: the text between double
// quotation marks, else before the first "<", else between parentheses; "" when none.
QString DisplayNameOfLine(const QString &text);

// A header text on one line: CR LF, a lone CR or LF and the other control characters
// become spaces, so no value can start a header line of its own.
QString OneHeaderLine(const QString &text);

} // namespace kolporta::compose
