#pragma once

#include <QClipboard>
#include <QObject>

#include <functional>

class QsciScintilla;

namespace kolporta::ui {

// Routes every paste into an editor through one function, whichever way the paste comes: a
// key bound to the editor's paste command (Ctrl+V, Shift+Insert), the paste entry of the
// editor's own context menu, and the middle mouse button (the X11 selection). A window action
// with the paste key comes first; the window's Paste action calls the same function.
class EditorPasteHook : public QObject
{
    Q_OBJECT

public:
    using PasteFunction = std::function<void(QClipboard::Mode)>;

    EditorPasteHook(QsciScintilla *editor, PasteFunction paste);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isPasteKey(const QKeyEvent *event) const;
    void showStandardMenu(const QPoint &globalPos);

    QsciScintilla *m_editor;
    PasteFunction m_paste;
};

} // namespace kolporta::ui
