#pragma once

#include <QClipboard>
#include <QCollator>
#include <QLocale>
#include <QObject>
#include <QString>

#include <vector>

class QLineEdit;
class QsciScintilla;

namespace kolporta::ui {

// The address list editor's behaviour, attached to a plain QsciScintilla (MemoList) and the
// quick-search field (eSearch): starred lines drawn in the highlight colour, every paste
// rewritten into one address per line, the two sorts and lower-casing, and the quick search
// (the field holds lower case only, and Enter in it moves to the list). The window connects
// the field's changes to search() and linesReplaced() to what it does after a tool changed the
// list (the modified flag and the address counter).
class AddressListEditor : public QObject
{
    Q_OBJECT

public:
    // The indicator that colours starred lines.
    static constexpr int kStarIndicator = 8;

    AddressListEditor(QsciScintilla *list, QLineEdit *search, QObject *parent = nullptr);

    QsciScintilla *editor() const { return m_list; }

    // The clipboard's text rewritten into one address per line, put back on the clipboard and
    // pasted. The selection (middle button) is pasted rewritten but left as it is.
    void paste(QClipboard::Mode mode = QClipboard::Clipboard);

    void sortAlphabetically();
    void sortByDomain();
    void toLowerCase();

    // Selects the first hit of the (lower-case) search text, from the first line.
    void search(const QString &text);

    // Whether line (0-based) is drawn as a starred line.
    bool isMarkedStarred(qsizetype line) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    // A tool replaced the list from code.
    void linesReplaced();

private:
    void replaceLines(const QStringList &lines);
    void documentModified(int position, int type, const char *, int length, int linesAdded);
    void markStarredLines(long firstLine, long lastLine);
    void buildSearchIndex();

    QsciScintilla *m_list;
    QLineEdit *m_search;
    QLocale m_locale = QLocale::system();

    // The quick search works on the whole list in lower case, built once after each change:
    // when the search field gets the focus, or else on the first keystroke.
    bool m_indexValid = false;
    QString m_lowerText;
    std::vector<qsizetype> m_lowerLineStarts;
};

} // namespace kolporta::ui
