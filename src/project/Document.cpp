#include "project/Document.h"

#include "project/WindowTexts.h"

#include <QFileInfo>

namespace kolporta::project {

Document::Document(DocumentPrompts *prompts, const QString &projectsFolder, QObject *parent)
    : QObject(parent)
    , m_prompts(prompts)
    , m_projectsFolder(projectsFolder)
{ }

void Document::SetProjectFileName(const QString &path)
{
    m_projectFileName = path;
    emit captionChanged(caption());
}

QString Document::caption() const
{
    return WindowTexts::caption(m_projectFileName);
}

bool Document::loadProject(const QString &path, QString *error)
{
    LoadEffects effects;
    if (!LoadProject(path, &m_project, m_lists, error, &effects))
        return false;
    memoListChange();
    emit projectLoaded(effects);
    return true;
}

void Document::aNewExecute()
{
    // Emptying a subject that held text is a reported change of that edit; the lists are
    // emptied from code, which reports nothing.
    const bool subjectChanged = !m_project.subject.isEmpty();
    m_project.addressList.clear();
    m_project.text.clear();
    m_project.attachments.clear();
    m_project.files.clear();
    m_project.subject.clear();
    m_project.encoding = TextEncoding::Utf8; // a new file
    if (subjectChanged)
        memoTextChange();
    SetProjectFileName(m_projectsFolder + QStringLiteral(u"/Nový projekt.kpj"));
    m_untitled = true;
    emit projectCleared();
}

void Document::aOpenExecute()
{
    if (m_modified) {
        switch (m_prompts->askYesNoCancel(
            QStringLiteral(u"Uložit projekt?"), QStringLiteral("Question"))) {
        case PromptAnswer::Cancel:
            return;
        case PromptAnswer::Yes:
            // A cancelled save dialog goes on to open; a save that failed stops here, so the
            // unsaved project is not thrown away after an error the user has just seen.
            if (aSaveExecute() == SaveOutcome::Failed)
                return;
            break;
        case PromptAnswer::No:
            break;
        }
    }
    FileDialogRequest request;
    request.nameFilters
        = QStringList {QStringLiteral("Kolporta (*.kpj)"), QStringLiteral("All files (*.*)")};
    request.defaultSuffix = QStringLiteral("kpj");
    request.initialFolder = m_openFolder;
    const QString path = m_prompts->openFileName(request);
    if (path.isEmpty())
        return;
    QString error;
    if (!loadProject(path, &error)) {
        m_prompts->showError(error);
        return;
    }
    SetProjectFileName(path);
    m_untitled = false;
    m_modified = false;
    m_openFolder = QFileInfo(path).absolutePath();
}

bool Document::saveTo(const QString &path)
{
    QString error;
    TextEncoding used = m_project.encoding;
    if (!SaveProject(path, m_project, &error, &used)) {
        m_prompts->showError(error);
        return false;
    }
    // After a fall-back to UTF-8 the file is UTF-8, and later saves keep it so.
    m_project.encoding = used;
    return true;
}

Document::SaveOutcome Document::saveWithDialog()
{
    FileDialogRequest request;
    request.nameFilters = QStringList {QStringLiteral("Kolporta (*.kpj)")};
    request.defaultSuffix = QStringLiteral("kpj");
    request.fileName = m_projectFileName;
    request.initialFolder = QFileInfo(m_projectFileName).absolutePath();
    request.confirmOverwrite = false;
    const QString path = m_prompts->saveFileName(request);
    if (path.isEmpty())
        return SaveOutcome::Cancelled;
    if (!saveTo(path))
        return SaveOutcome::Failed;
    SetProjectFileName(path);
    m_untitled = false;
    m_modified = false;
    return SaveOutcome::Saved;
}

Document::SaveOutcome Document::aSaveExecute()
{
    if (m_untitled)
        return saveWithDialog();
    if (!saveTo(m_projectFileName))
        return SaveOutcome::Failed;
    m_modified = false;
    return SaveOutcome::Saved;
}

Document::SaveOutcome Document::aSaveAsExecute()
{
    return saveWithDialog();
}

bool Document::FormCloseQuery()
{
    bool canClose = true;
    if (m_modified) {
        switch (m_prompts->askYesNoCancel(
            QStringLiteral(u"Uložit aktuální projekt ?"), QStringLiteral("Dotaz"))) {
        case PromptAnswer::Cancel:
            canClose = false;
            break;
        case PromptAnswer::Yes:
            // A cancelled save dialog still closes; a failed save keeps the window open
            // so the project is not lost.
            canClose = aSaveExecute() != SaveOutcome::Failed;
            break;
        case PromptAnswer::No:
            break;
        }
    }
    m_prompts->writeWindowSettings();
    return canClose;
}

} // namespace kolporta::project
