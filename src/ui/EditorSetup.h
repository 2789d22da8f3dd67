#pragma once

#include "project/AddressTools.h"

#include <QByteArray>
#include <QFont>
#include <QString>
#include <QStringList>

class QsciScintilla;

namespace kolporta::ui {

// The settings both text editors share: the system's fixed-width font at 9 points, no margin,
// no wrap, the caret line in pale yellow, auto-indent, tabs typed as blanks, Ctrl+M for a line
// break and Ctrl+Shift+M to jump to the matching bracket.
void configureEditor(QsciScintilla *editor);

QFont editorFont();

// The whole text, read straight from the editor's buffer.
QString documentText(const QsciScintilla *editor);

// The editor's lines as it shows them: its text split at every CR LF, CR or LF, so a text
// that ends with a line end has a last empty line. An empty editor holds no line at all.
QStringList editorLines(const QsciScintilla *editor);

// Replaces the whole text from code: the lines joined by the editor's own line end. The undo
// history goes with the old text.
void replaceEditorLines(QsciScintilla *editor, const QStringList &lines);

// The editor's own line end ("\n", "\r\n" or "\r").
QString lineBreakOf(const QsciScintilla *editor);

// The text with every CR LF, CR or LF turned into the given line end.
QString withLineBreaks(QStringView text, const QString &lineBreak);

// The caret as (column, line), the column counted in text units of the line.
project::AddressTools::Caret caretOf(const QsciScintilla *editor);

// Puts the caret at (column, line), clamped to the text, with no selection.
void setCaret(QsciScintilla *editor, project::AddressTools::Caret caret);

// The document position of a column (text units) of a line; the line must exist.
long positionOf(const QsciScintilla *editor, qsizetype line, qsizetype column);

// A message to the editor with numeric arguments (QScintilla's overloads take no plain long).
long send(const QsciScintilla *editor, unsigned int message, long wParam = 0, long lParam = 0);

// The text of one line without its line end.
QString lineText(const QsciScintilla *editor, qsizetype line);

} // namespace kolporta::ui
