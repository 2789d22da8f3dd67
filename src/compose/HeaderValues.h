#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kolporta::compose {

// Header values as both routes write them (RFC 5322 folding, RFC 2047 encoded words).
// A value is a list of tokens joined by single blanks; a line is folded only at those blanks,
// so the value reads the same once unfolded. Encoded words never exceed 75 characters.

struct HeaderToken
{
    enum Fold {
        Free, // fold here when the line would pass 78 characters
        LastResort, // only when it would pass 998, the most a line may hold
        Never, // the blank stays on the line
    };
    QByteArray text;
    Fold fold = Free; // for the blank in front of this token
};
using HeaderTokens = QList<HeaderToken>;

// Unstructured text such as the Subject. Printable ASCII is written as it is, folded at its
// blanks; only words that are not (or that are too long for a line, or that read like an
// encoded word) become encoded words, in the first ISO-8859 set that holds the whole text.
HeaderTokens UnstructuredTokens(const QString &text);

// A mailbox: the display name (a quoted string when it is printable ASCII, otherwise encoded
// words, never folded inside but as a last resort), then the address in angle brackets; the
// bare address when the name is empty. The address bytes are written as given. With
// quoteWhenNeeded, a name of plain words only goes without quotation marks.
HeaderTokens MailboxTokens(
    const QString &name, const QByteArray &address, bool quoteWhenNeeded = false);

// The raw value GMime writes after "Name:": a leading blank, the folded tokens, and "\n".
QByteArray FoldedHeaderValue(const QByteArray &name, const HeaderTokens &tokens);

} // namespace kolporta::compose
