#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QMimeData;

namespace kolporta::ui {

// HTML copied from other programs, taken from the clipboard's data for pasting into the body.
// Pure functions on bytes, texts and QMimeData, so they can be tested and fuzzed without a
// window or a real clipboard.
namespace ClipboardHtml {

struct Result
{
    bool found = false;
    QString text;
};

// The first clipboard format, in the clipboard's own order, that holds HTML: "text/html",
// or any format whose text carries the clipboard header form some programs write (the words
// "STARTHTML" and "ENDHTML"). Its text is cut to the document and its "charset=utf-8"
// declaration is rewritten, as cutHtmlDocument does.
Result GetClipboardHtml(const QMimeData *data);

// One format's bytes as text: the bytes up to the first NUL, decoded by DecodeUtf8Text; data
// that starts with a UTF-16 byte-order mark (as some browsers put "text/html") is read as
// UTF-16 instead.
QString formatText(QByteArrayView bytes);

// UTF-8 bytes to text. Sequences of two and three bytes are taken by their lead byte without
// checking the bytes that follow; a sequence of four bytes is taken when it is well formed.
// Stray continuation bytes, a sequence cut off by the end of the input and any other byte from
// 0x80 are dropped. Nothing beyond the input is ever read, and every character is kept as it
// is: the text stays Unicode.
QString DecodeUtf8Text(QByteArrayView bytes);

// The document out of a clipboard text: from "<!DOCTYPE" to the end when there is one;
// otherwise from "<HTML" to the end of "</HTML>" (either cut is skipped when its tag is
// missing). Then every "charset=utf-8" becomes "charset=windows-1250". Tags in any letter case.
QString cutHtmlDocument(const QString &text);

// The line that declares the body's character set, put in after "<head>".
QString charsetMetaLine();

// Where the character-set line goes after a plain paste into an HTML body: just after the
// first "<head>" (any letter case; a head tag with attributes does not count), or -1 when the
// body has no such tag or already says "charset=" somewhere.
qsizetype charsetMetaPosition(QStringView body);

// The body with the line break and charsetMetaLine inserted at charsetMetaPosition, or
// unchanged when there is no position.
QString withCharsetMeta(const QString &body, QStringView lineBreak = u"\r\n");

} // namespace ClipboardHtml
} // namespace kolporta::ui
