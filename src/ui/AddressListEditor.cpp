#include "ui/AddressListEditor.h"

#include "project/AddressTools.h"
#include "ui/EditorPasteHook.h"
#include "ui/EditorSetup.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QValidator>

#include <Qsci/qsciscintilla.h>

#include <algorithm>

namespace kolporta::ui {

namespace AddressTools = project::AddressTools;

namespace {

// The quick-search field holds lower case only, whatever is typed or pasted into it.
class LowerCaseValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        const QString lower = QLocale::system().toLower(input);
        if (lower != input) {
            pos += int(lower.size() - input.size());
            pos = std::clamp(pos, 0, int(lower.size()));
            input = lower;
        }
        return Acceptable;
    }
};

// A starred line on the document's bytes: its first byte above 32 is '*'. The bytes up to
// 32 are exactly the characters the trim removes, and UTF-8 uses no such byte inside a
// character, so this agrees with AddressTools::isStarredLine.
bool isStarredBytes(const char *begin, const char *end)
{
    while (begin < end && uchar(*begin) <= 32)
        ++begin;
    return begin < end && *begin == '*';
}

} // namespace

AddressListEditor::AddressListEditor(QsciScintilla *list, QLineEdit *search, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_search(search)
{
    configureEditor(list);
    list->indicatorDefine(QsciScintilla::TextColorIndicator, kStarIndicator);
    list->setIndicatorForegroundColor(list->palette().color(QPalette::Highlight), kStarIndicator);
    connect(list, &QsciScintilla::SCN_MODIFIED, this,
        [this](int position, int type, const char *text, int length, int linesAdded) {
            documentModified(position, type, text, length, linesAdded);
        });
    markStarredLines(0, send(list, QsciScintilla::SCI_GETLINECOUNT) - 1);

    new EditorPasteHook(list, [this](QClipboard::Mode mode) { paste(mode); });

    if (search) {
        search->setValidator(new LowerCaseValidator(search));
        search->installEventFilter(this);
    }
}

void AddressListEditor::paste(QClipboard::Mode mode)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString text = clipboard->text(mode);
    if (text.isEmpty()) {
        if (mode == QClipboard::Clipboard)
            send(m_list, QsciScintilla::SCI_PASTE);
        return;
    }
    const QString rewritten = AddressTools::reformatPaste(text);
    if (mode == QClipboard::Clipboard) {
        // The clipboard keeps the rewritten text, and the editor's own paste takes it from there.
        clipboard->setText(rewritten, mode);
        send(m_list, QsciScintilla::SCI_PASTE);
    } else {
        m_list->replaceSelectedText(withLineBreaks(rewritten, lineBreakOf(m_list)));
    }
}

void AddressListEditor::replaceLines(const QStringList &lines)
{
    const AddressTools::Caret caret = caretOf(m_list);
    replaceEditorLines(m_list, lines);
    setCaret(m_list, caret);
    emit linesReplaced();
}

void AddressListEditor::sortAlphabetically()
{
    replaceLines(AddressTools::sortAlphabetically(editorLines(m_list)));
}

void AddressListEditor::sortByDomain()
{
    replaceLines(AddressTools::sortByDomain(editorLines(m_list)));
}

void AddressListEditor::toLowerCase()
{
    replaceLines(AddressTools::toLowerCase(editorLines(m_list), m_locale));
}

bool AddressListEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_search) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                m_list->setFocus(Qt::OtherFocusReason);
                return true; // the field gets nothing of it
            }
        } else if (event->type() == QEvent::FocusIn && !m_indexValid) {
            buildSearchIndex(); // now rather than on the first keystroke
        }
    }
    return QObject::eventFilter(watched, event);
}

void AddressListEditor::buildSearchIndex()
{
    // Lower-casing never adds or removes a line end, so the line of a hit in the lower-case
    // text is the line of the hit in the list, even where a character changes its length.
    m_lowerText = m_locale.toLower(documentText(m_list));
    m_lowerLineStarts.clear();
    m_lowerLineStarts.push_back(0);
    const qsizetype n = m_lowerText.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = m_lowerText[i];
        if (c == u'\n' || (c == u'\r' && (i + 1 >= n || m_lowerText[i + 1] != u'\n')))
            m_lowerLineStarts.push_back(i + 1);
    }
    m_indexValid = true;
}

void AddressListEditor::search(const QString &text)
{
    const long anchor = send(m_list, QsciScintilla::SCI_GETSELECTIONSTART);
    send(m_list, QsciScintilla::SCI_SETEMPTYSELECTION, anchor);
    if (text.isEmpty())
        return;
    if (!m_indexValid)
        buildSearchIndex();
    const QString needle = m_locale.toLower(text);
    const qsizetype at = m_lowerText.indexOf(needle);
    if (at < 0)
        return;
    const auto next = std::upper_bound(m_lowerLineStarts.begin(), m_lowerLineStarts.end(), at);
    const qsizetype line = qsizetype(next - m_lowerLineStarts.begin()) - 1;
    // The column and length within the line as typed come from the core's search of that line.
    const AddressTools::SearchHit hit
        = AddressTools::quickSearch({lineText(m_list, line)}, text, m_locale);
    if (!hit.found())
        return;
    const long begin = positionOf(m_list, line, hit.column);
    const long end = positionOf(m_list, line, hit.column + hit.length);
    send(m_list, QsciScintilla::SCI_SETSEL, begin, end);
}

void AddressListEditor::documentModified(
    int position, int type, const char *, int length, int linesAdded)
{
    Q_UNUSED(linesAdded);
    const bool inserted = type & QsciScintilla::SC_MOD_INSERTTEXT;
    if (!inserted && !(type & QsciScintilla::SC_MOD_DELETETEXT))
        return;
    m_indexValid = false;
    const long first = send(m_list, QsciScintilla::SCI_LINEFROMPOSITION, position);
    const long last
        = inserted ? send(m_list, QsciScintilla::SCI_LINEFROMPOSITION, position + length) : first;
    markStarredLines(first, last);
}

void AddressListEditor::markStarredLines(long firstLine, long lastLine)
{
    const long start = send(m_list, QsciScintilla::SCI_POSITIONFROMLINE, firstLine);
    const long end = send(m_list, QsciScintilla::SCI_GETLINEENDPOSITION, lastLine);
    send(m_list, QsciScintilla::SCI_SETINDICATORCURRENT, kStarIndicator);
    send(m_list, QsciScintilla::SCI_INDICATORCLEARRANGE, start, end - start);
    if (end <= start)
        return;
    const auto *text = reinterpret_cast<const char *>(m_list->SendScintilla(
        QsciScintilla::SCI_GETRANGEPOINTER, static_cast<unsigned long>(start), end - start));
    const long n = end - start;
    long lineStart = 0;
    for (long i = 0; i <= n; ++i) {
        if (i < n && text[i] != '\r' && text[i] != '\n')
            continue;
        if (isStarredBytes(text + lineStart, text + i))
            send(m_list, QsciScintilla::SCI_INDICATORFILLRANGE, start + lineStart, i - lineStart);
        if (i < n && text[i] == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
}

bool AddressListEditor::isMarkedStarred(qsizetype line) const
{
    const long start = send(m_list, QsciScintilla::SCI_POSITIONFROMLINE, long(line));
    const long end = send(m_list, QsciScintilla::SCI_GETLINEENDPOSITION, long(line));
    if (end <= start)
        return false;
    return send(m_list, QsciScintilla::SCI_INDICATORVALUEAT, kStarIndicator, start) != 0
        && send(m_list, QsciScintilla::SCI_INDICATOREND, kStarIndicator, start) >= end;
}

} // namespace kolporta::ui
