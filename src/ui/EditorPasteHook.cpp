#include "ui/EditorPasteHook.h"
#include "ui/EditorSetup.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <Qsci/qscicommandset.h>
#include <Qsci/qsciscintilla.h>

namespace kolporta::ui {

EditorPasteHook::EditorPasteHook(QsciScintilla *editor, PasteFunction paste)
    : QObject(editor)
    , m_editor(editor)
    , m_paste(std::move(paste))
{
    editor->installEventFilter(this);
    editor->viewport()->installEventFilter(this);
}

bool EditorPasteHook::isPasteKey(const QKeyEvent *event) const
{
    if (event->matches(QKeySequence::Paste))
        return true;
    const int modifiers = int(event->modifiers()
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const QsciCommand *command = m_editor->standardCommands()->boundTo(event->key() | modifiers);
    return command && command->command() == QsciCommand::Paste;
}

void EditorPasteHook::showStandardMenu(const QPoint &globalPos)
{
    QMenu *menu = m_editor->createStandardContextMenu();
    if (!menu)
        return;
    // The menu's paste entry would reach the editor's own paste directly.
    for (QAction *action : menu->actions()) {
        if (QObject::disconnect(action, SIGNAL(triggered()), m_editor, SLOT(paste())))
            connect(action, &QAction::triggered, this, [this] { m_paste(QClipboard::Clipboard); });
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

bool EditorPasteHook::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (isPasteKey(static_cast<QKeyEvent *>(event))) {
            if (!m_editor->isReadOnly())
                m_paste(QClipboard::Clipboard);
            return true;
        }
        break;
    case QEvent::ContextMenu:
        if (m_editor->contextMenuPolicy() == Qt::DefaultContextMenu) {
            showStandardMenu(static_cast<QContextMenuEvent *>(event)->globalPos());
            return true;
        }
        break;
    case QEvent::MouseButtonPress:
        if (watched == m_editor->viewport()) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::MiddleButton
                && QGuiApplication::clipboard()->supportsSelection() && !m_editor->isReadOnly()) {
                const QPoint at = mouse->position().toPoint();
                const long pos = m_editor->SendScintilla(QsciScintilla::SCI_POSITIONFROMPOINT,
                    static_cast<unsigned long>(at.x()), long(at.y()));
                send(m_editor, QsciScintilla::SCI_SETEMPTYSELECTION, pos);
                m_editor->setFocus(Qt::MouseFocusReason);
                m_paste(QClipboard::Selection);
                return true;
            }
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kolporta::ui
