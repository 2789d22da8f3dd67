#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kolporta::compose {

// Byte-level conversion of 8-bit Central European text between five code pages by one
// shared table (128 rows for the bytes 0x80..0xFF of the default code page, one column per
// target). Bytes below 0x80 always pass unchanged. The table starts out initialised for the
// Windows-1250 default, as the program does at start-up; unlike the Windows unit it is
// guarded by a lock, so a send run on another thread may re-initialise it safely.

using TCodePage = quint8;
enum : TCodePage {
    cpDOS852 = 0,
    cpKamenicky = 1,
    cpASCII = 2, // letters without diacritics; valid only as a target
    cpWin1250 = 3,
    cpISO88592 = 4,
};

// What KonvertInit(cpASCII) shows instead of the Windows beep and information box.
struct KonvertNotifier
{
    std::function<void()> beep;
    std::function<void(const QString &caption, const QString &text)> information;
};
// Replaces the notifier; empty members do nothing (the core never shows a window).
void SetKonvertNotifier(const KonvertNotifier &notifier);

// Fills the table for a default code page: all five columns for cpWin1250, only the
// cpWin1250 column for cpDOS852, cpKamenicky and cpISO88592. cpASCII beeps and informs
// through the notifier and changes nothing; any other value does nothing.
void KonvertInit(TCodePage defaultCodePage);

// A copy of the text with every byte >= 0x80 replaced by the table's entry in the target's
// column. The target must be one of the five identifiers.
QByteArray KonvertString(const QByteArray &text, TCodePage target);

// The same for one byte, in place.
void KonvertChar(char &c, TCodePage target);

// Text of the information box of KonvertInit(cpASCII).
QString KonvertAsciiDefaultText();

// Removes diacritics from a body: its lines joined with CR LF go through the cpASCII column
// byte by byte in Windows-1250; a character outside Windows-1250 stays as it is. The result
// is split at its line ends again, so a last empty line disappears.
QStringList RemoveDiacritics(const QStringList &bodyLines);

} // namespace kolporta::compose
