#pragma once

#include "project/DocumentPrompts.h"
#include "project/Project.h"
#include "project/ProjectFile.h"

#include <QObject>
#include <QString>

namespace kolporta::project {

// The open project with its document state (ProjectFileName, IsUntitled, IsModified) and
// the actions that change them: New, Open, Save, Save as and the close question. Every
// question, dialog and error box goes through DocumentPrompts, so the decisions are core
// logic that a window, the command line and the tests share. The window keeps its
// controls in step with project() and applies the signals below.
class Document : public QObject
{
    Q_OBJECT

public:
    enum class SaveOutcome { Saved, Cancelled, Failed };

    // `projectsFolder` is where New proposes "Nový projekt.kpj" (the Projects folder of
    // the home folder).
    Document(DocumentPrompts *prompts, const QString &projectsFolder, QObject *parent = nullptr);

    Project &project() { return m_project; }
    const Project &project() const { return m_project; }

    // The items LoadProject selects the route and the profile from.
    void setLists(const ProjectLists &lists) { m_lists = lists; }
    const ProjectLists &lists() const { return m_lists; }

    const QString &projectFileName() const { return m_projectFileName; }
    bool isUntitled() const { return m_untitled; }
    bool isModified() const { return m_modified; }
    void setUntitled(bool untitled) { m_untitled = untitled; }
    void setModified(bool modified) { m_modified = modified; }

    // Stores the path and sets the caption from it.
    void SetProjectFileName(const QString &path);
    QString caption() const;

    // The open dialog's initial folder (restored at start-up, stored at exit).
    const QString &openFolder() const { return m_openFolder; }
    void setOpenFolder(const QString &folder) { m_openFolder = folder; }

    // Loads the file into the project (and sets IsModified, as the load's memoListChange
    // does). The file name and the flags are the caller's. Errors are returned, not shown.
    bool loadProject(const QString &path, QString *error);

    // The change handlers: an edit of the address list, and a reported change of sender,
    // subject, body, route or profile or a click in a file list.
    void memoListChange() { m_modified = true; }
    void memoTextChange() { m_modified = true; }

    void aNewExecute();
    void aOpenExecute();
    SaveOutcome aSaveExecute();
    SaveOutcome aSaveAsExecute();
    // Whether the window may close. Writes the window settings in every case.
    bool FormCloseQuery();

signals:
    void captionChanged(const QString &caption);
    // A load replaced the project; the window applies the effects.
    void projectLoaded(const kolporta::project::LoadEffects &effects);
    // New emptied the project: hide the preview tab, show the emptied fields, update the
    // tab captions.
    void projectCleared();

private:
    SaveOutcome saveWithDialog();
    bool saveTo(const QString &path);

    DocumentPrompts *m_prompts;
    QString m_projectsFolder;
    Project m_project;
    ProjectLists m_lists;
    QString m_projectFileName;
    QString m_openFolder;
    bool m_untitled = true;
    bool m_modified = false;
};

} // namespace kolporta::project
