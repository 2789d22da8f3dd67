#pragma once

#include <QClipboard>
#include <QObject>
#include <QString>

class QsciLexerHTML;
class QsciScintilla;

namespace kolporta::ui {

// The message body editor's behaviour, attached to a plain QsciScintilla (memoText): the HTML
// highlighter while the body is HTML, pasting HTML copied from other programs, the
// character-set line after a plain paste into an HTML body, the macros, loading the body from
// a file or a dropped file, and removing diacritics. The window connects bodyReplaced() to
// setting the modified flag and errorOccurred() to its error box.
class BodyEditor : public QObject
{
    Q_OBJECT

public:
    explicit BodyEditor(QsciScintilla *body, QObject *parent = nullptr);

    QsciScintilla *editor() const { return m_body; }
    QsciLexerHTML *htmlLexer() const { return m_lexer; }

    // The HTML highlighter and the HTML paste while on.
    void setHtml(bool on);
    bool isHtml() const { return m_html; }

    // While HTML is on, HTML data on the clipboard replaces the selection as one edit;
    // otherwise the clipboard's text is pasted, followed in an HTML body by the character-set
    // line when the body declares none.
    void paste(QClipboard::Mode mode = QClipboard::Clipboard);

    // Replaces the selection (or inserts at the caret) as one edit.
    void insertMacro(const QString &macro);

    void removeDiacritics();

    // Replaces the body with the lines of a text file (UTF-8 when valid, else Windows-1250).
    // On failure the body stays and *error says why.
    bool loadFile(const QString &path, QString *error);

    // The filters of the body's file dialog: each caption as the user sees it, followed by the
    // patterns it stands for ("*" takes files without a dot too).
    static QStringList contentFileFilters();

signals:
    // The body was replaced from code (loaded, diacritics removed).
    void bodyReplaced();
    // A dropped file could not be read.
    void errorOccurred(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setUpLexer();

    QsciScintilla *m_body;
    QsciLexerHTML *m_lexer;
    bool m_html = false;
};

} // namespace kolporta::ui
