#pragma once

#include <QString>

namespace kolporta::compose {

// The e-mail address of an address line or of the sender field: the text after the first
// "<" (all of it when there is none), cut before the next ">", trimmed of codes 0..32.
QString AddressOfLine(const QString &line);

// Whether a line is blank: empty once codes 0..32 are trimmed from both ends.
bool IsBlankLine(const QString &line);

// Prepares an HTML body once per send run: on the mail-program route the charset
// declaration and the text move to ISO-8859-2; on both routes local picture references
// become "cid:" references.
QString PrepareHtmlBody(const QString &body, bool mailProgramRoute);

// Fills "%TO%", "%FROM%" and "%SUBJECT%", case-sensitively and in that order.
QString ApplyMacros(const QString &body, const QString &toText, const QString &from,
                    const QString &subject);

} // namespace kolporta::compose
