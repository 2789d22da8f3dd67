#include "ui/EditorSetup.h"

#include <QFontDatabase>
#include <QShortcut>

#include <Qsci/qsciscintilla.h>

namespace kolporta::ui {

using project::AddressTools::Caret;

QFont editorFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    return font;
}

void configureEditor(QsciScintilla *editor)
{
    // Once per editor: a second Ctrl+Shift+M shortcut would make the key ambiguous.
    static const char *const configured = "kolporta_editor_configured";
    if (editor->property(configured).toBool())
        return;
    editor->setProperty(configured, true);
    editor->setUtf8(true);
    editor->setFont(editorFont());
    for (int margin = 0; margin < editor->margins(); ++margin)
        editor->setMarginWidth(margin, 0);
    editor->setWrapMode(QsciScintilla::WrapNone);
    editor->setCaretLineVisible(true);
    editor->setCaretLineBackgroundColor(QColor(255, 255, 128));
    send(editor, QsciScintilla::SCI_SETCARETLINEVISIBLEALWAYS, 1); // also without the focus
    editor->setAutoIndent(true);
    editor->setIndentationsUseTabs(false);
    // The horizontal scroll bar follows the longest line shown instead of a fixed width.
    send(editor, QsciScintilla::SCI_SETSCROLLWIDTH, 1);
    send(editor, QsciScintilla::SCI_SETSCROLLWIDTHTRACKING, 1);

    editor->SendScintilla(QsciScintilla::SCI_ASSIGNCMDKEY,
        static_cast<unsigned long>('M' | QsciScintilla::SCMOD_CTRL << 16),
        long(QsciScintilla::SCI_NEWLINE));
    auto *matchingBracket = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), editor,
        nullptr, nullptr, Qt::WidgetShortcut);
    QObject::connect(matchingBracket, &QShortcut::activated, editor, [editor] {
        long brace = -1;
        long other = -1;
        editor->findMatchingBrace(brace, other, QsciScintilla::SloppyBraceMatch);
        if (other >= 0)
            send(editor, QsciScintilla::SCI_GOTOPOS, other);
    });
}

QString withLineBreaks(QStringView text, const QString &lineBreak)
{
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += lineBreak;
            if (i + 1 < n && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += lineBreak;
        } else {
            out += c;
        }
    }
    return out;
}

QString documentText(const QsciScintilla *editor)
{
    const auto *bytes = reinterpret_cast<const char *>(
        editor->SendScintilla(QsciScintilla::SCI_GETCHARACTERPOINTER));
    return QString::fromUtf8(bytes, send(editor, QsciScintilla::SCI_GETLENGTH));
}

QStringList editorLines(const QsciScintilla *editor)
{
    const QString text = documentText(editor);
    if (text.isEmpty())
        return {};
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    lines.append(text.sliced(start));
    return lines;
}

QString lineBreakOf(const QsciScintilla *editor)
{
    switch (editor->eolMode()) {
    case QsciScintilla::EolWindows:
        return QStringLiteral("\r\n");
    case QsciScintilla::EolMac:
        return QStringLiteral("\r");
    case QsciScintilla::EolUnix:
        break;
    }
    return QStringLiteral("\n");
}

void replaceEditorLines(QsciScintilla *editor, const QStringList &lines)
{
    editor->setText(lines.join(lineBreakOf(editor)));
    send(editor, QsciScintilla::SCI_EMPTYUNDOBUFFER);
}

long send(const QsciScintilla *editor, unsigned int message, long wParam, long lParam)
{
    return editor->SendScintilla(message, static_cast<unsigned long>(wParam), lParam);
}

QString lineText(const QsciScintilla *editor, qsizetype line)
{
    QString text = editor->text(int(line));
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    return text;
}

long positionOf(const QsciScintilla *editor, qsizetype line, qsizetype column)
{
    const long start = send(editor, QsciScintilla::SCI_POSITIONFROMLINE, line);
    return start + long(lineText(editor, line).left(column).toUtf8().size());
}

Caret caretOf(const QsciScintilla *editor)
{
    const long pos = send(editor, QsciScintilla::SCI_GETCURRENTPOS);
    const long line = send(editor, QsciScintilla::SCI_LINEFROMPOSITION, pos);
    const long start = send(editor, QsciScintilla::SCI_POSITIONFROMLINE, line);
    const QByteArray bytes = lineText(editor, line).toUtf8();
    return {QString::fromUtf8(bytes.left(pos - start)).size(), line};
}

void setCaret(QsciScintilla *editor, Caret caret)
{
    const long lines = send(editor, QsciScintilla::SCI_GETLINECOUNT);
    caret.line = std::clamp<qsizetype>(caret.line, 0, lines - 1);
    caret.column = std::clamp<qsizetype>(caret.column, 0, lineText(editor, caret.line).size());
    const long pos = positionOf(editor, caret.line, caret.column);
    send(editor, QsciScintilla::SCI_SETEMPTYSELECTION, pos);
    send(editor, QsciScintilla::SCI_SCROLLCARET);
}

} // namespace kolporta::ui
