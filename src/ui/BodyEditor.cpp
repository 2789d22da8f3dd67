#include "ui/BodyEditor.h"

#include "compose/Konvert.h"
#include "project/TextFile.h"
#include "ui/ClipboardHtml.h"
#include "ui/EditorPasteHook.h"
#include "ui/EditorSetup.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>

#include <Qsci/qscilexerhtml.h>
#include <Qsci/qsciscintilla.h>

namespace kolporta::ui {

namespace {

// The first dropped item when it is a local file (a dragged web link stays text).
QString droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return {};
    const QUrl url = data->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

BodyEditor::BodyEditor(QsciScintilla *body, QObject *parent)
    : QObject(parent)
    , m_body(body)
    , m_lexer(new QsciLexerHTML(this))
{
    configureEditor(body);
    body->setEdgeMode(QsciScintilla::EdgeLine);
    body->setEdgeColumn(70);
    setUpLexer();
    new EditorPasteHook(body, [this](QClipboard::Mode mode) { paste(mode); });
    body->viewport()->installEventFilter(this);
}

void BodyEditor::setUpLexer()
{
    // Black on white throughout, in the editor's font; then the colours of the HTML source.
    const QFont font = editorFont();
    QFont italic = font;
    italic.setItalic(true);
    m_lexer->setDefaultFont(font);
    m_lexer->setDefaultColor(Qt::black);
    m_lexer->setDefaultPaper(Qt::white);
    m_lexer->setFont(font, -1);
    m_lexer->setColor(Qt::black, -1);
    m_lexer->setPaper(Qt::white, -1);
    const QColor teal(0, 128, 128);
    const QColor purple(128, 0, 128);
    const QColor blue(0, 0, 255);
    for (int style :
        {QsciLexerHTML::HTMLComment, QsciLexerHTML::SGMLComment, QsciLexerHTML::ASPXCComment}) {
        m_lexer->setColor(teal, style);
        m_lexer->setFont(italic, style);
    }
    m_lexer->setColor(purple, QsciLexerHTML::Tag);
    for (int style : {QsciLexerHTML::HTMLDoubleQuotedString, QsciLexerHTML::HTMLSingleQuotedString,
             QsciLexerHTML::HTMLValue, QsciLexerHTML::HTMLNumber})
        m_lexer->setColor(blue, style);
}

void BodyEditor::setHtml(bool on)
{
    m_html = on;
    if (on == (m_body->lexer() == m_lexer))
        return;
    m_body->setLexer(on ? m_lexer : nullptr);
    if (!on) {
        // The text keeps the HTML styles it was given: every style back to the plain one.
        m_body->setFont(editorFont());
        m_body->setColor(Qt::black);
        m_body->setPaper(Qt::white);
        send(m_body, QsciScintilla::SCI_STYLECLEARALL);
        send(m_body, QsciScintilla::SCI_CLEARDOCUMENTSTYLE);
    }
    m_body->setCaretLineBackgroundColor(QColor(255, 255, 128));
}

void BodyEditor::paste(QClipboard::Mode mode)
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(mode);
    const QString lineBreak = lineBreakOf(m_body);
    if (m_html) {
        const ClipboardHtml::Result html = ClipboardHtml::GetClipboardHtml(data);
        if (html.found) {
            m_body->beginUndoAction();
            m_body->replaceSelectedText(withLineBreaks(html.text, lineBreak));
            m_body->endUndoAction();
            return;
        }
    }
    // The paste and the character-set line after it are undone together.
    m_body->beginUndoAction();
    if (mode == QClipboard::Clipboard)
        send(m_body, QsciScintilla::SCI_PASTE);
    else if (data && data->hasText())
        m_body->replaceSelectedText(withLineBreaks(data->text(), lineBreak));
    if (m_html) {
        const QString text = m_body->text();
        const qsizetype at = ClipboardHtml::charsetMetaPosition(text);
        if (at >= 0) {
            const QByteArray line = (lineBreak + ClipboardHtml::charsetMetaLine()).toUtf8();
            m_body->SendScintilla(QsciScintilla::SCI_INSERTTEXT,
                static_cast<unsigned long>(text.left(at).toUtf8().size()), line.constData());
        }
    }
    m_body->endUndoAction();
}

void BodyEditor::insertMacro(const QString &macro)
{
    m_body->beginUndoAction();
    m_body->replaceSelectedText(macro);
    m_body->endUndoAction();
}

void BodyEditor::removeDiacritics()
{
    replaceEditorLines(m_body, compose::RemoveDiacritics(editorLines(m_body)));
    setCaret(m_body, {});
    emit bodyReplaced();
}

bool BodyEditor::loadFile(const QString &path, QString *error)
{
    QStringList lines;
    project::TextEncoding encoding;
    if (!project::TextFile::read(path, &lines, &encoding, error))
        return false;
    replaceEditorLines(m_body, lines);
    setCaret(m_body, {});
    emit bodyReplaced();
    return true;
}

QStringList BodyEditor::contentFileFilters()
{
    return {
        QStringLiteral("HTML soubory (*.htm, *.html) (*.htm *.html)"),
        QStringLiteral("Textové soubory (*.txt) (*.txt)"),
        QStringLiteral("Všechny soubory (*.*) (*)"),
    };
}

bool BodyEditor::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (droppedFile(drag->mimeData()).isEmpty())
            break;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = droppedFile(drop->mimeData());
        if (path.isEmpty())
            break;
        drop->acceptProposedAction();
        // The first file only; the drop position does not matter.
        QString error;
        if (!loadFile(path, &error))
            emit errorOccurred(error);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kolporta::ui
