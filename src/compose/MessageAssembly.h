#pragma once

#include <QString>

namespace kolporta::compose {

// The e-mail address of an address line or of the sender field: the text after the first
// "<" (all of it when there is none), cut before the next ">", trimmed of codes 0..32.
// A CR or LF left inside becomes a space, so the address can never end a command line.
QString AddressOfLine(const QString &line);

// Whether a line is blank: empty once codes 0..32 are trimmed from both ends.
bool IsBlankLine(const QString &line);

// Prepares an HTML body once per send run: on the mail-program route the charset
// declaration and the text move to ISO-8859-2; on both routes local picture references
// become "cid:" references. On the mail-program route the result, encoded in ISO-8859-2,
// gives the bytes of the Windows-1250 text after the code-page conversion. A body holding a
// character outside Windows-1250 is kept as Unicode instead, and its declaration
// "charset=windows-1250" becomes "charset=utf-8", since the conversion would destroy it.
QString PrepareHtmlBody(const QString &body, bool mailProgramRoute);

// Fills "%TO%", "%FROM%" and "%SUBJECT%", case-sensitively and in that order.
QString ApplyMacros(
    const QString &body, const QString &toText, const QString &from, const QString &subject);

// The display name of a sender or address line, for its mailbox: the text between double
// quotation marks, else before the first "<", else between parentheses; "" when none.
QString DisplayNameOfLine(const QString &text);

// The address of a sender or address line for its mailbox: AddressOfLine, except that a
// parenthesised display name ("addr (Name)") is not taken for a part of the address.
QString MailboxAddressOfLine(const QString &text);

// A header text on one line: CR LF, a lone CR or LF and the other control characters
// become spaces, so no value can start a header line of its own.
QString OneHeaderLine(const QString &text);

// The Content-ID of a picture: its file name, with the bytes that cannot stand in a header
// line (controls, non-ASCII, the angle brackets) percent-encoded as in a "cid:" URL.
QByteArray ContentIdOf(const QString &fileName);

} // namespace kolporta::compose
