#pragma once

#include "project/Project.h"

#include <QString>
#include <QStringList>

namespace kolporta::project {

// The items of the two drop-down lists a load selects from: the delivery routes ("SMTP"
// followed by the mail programs) and the SMTP profile names.
struct ProjectLists
{
    QStringList routes;
    QStringList profiles;
};

// What a window must do after LoadProject, because the load runs the handlers of the
// controls it changes. A window that keeps its controls in step with the Project record
// applies these after copying the fields into its controls.
struct LoadEffects
{
    // The reset unchecked a checked HTML body box, so its click handler ran once
    // (the preview tab, the highlighter and the focus follow the unchecked box).
    bool htmlBoxResetClick = false;
    // The reset unchecked a checked BCC box: its click handler disabled the batch-size
    // field and its label.
    bool bccBoxResetClick = false;
    // The HTML preview tab is hidden by every load.
    bool hidePreviewTab = true;
    // cHTMLBodyClick runs this many times during the scan: once when a "1" line checks
    // the box, and once for every line of an [HTMLBody] section.
    int htmlBodyClicks = 0;
    // The BCC box's click handler ran because a "1" line checked it (it enables the
    // batch-size field and its label).
    bool bccBoxClick = false;
    // After the scan, always: body caret to 0, focus to the address list, memoListChange
    // (sets IsModified and the counter), UpdateTabCaptions.
    bool bodyCaretToStart = true;
    bool focusAddressList = true;
    bool memoListChange = true;
    bool updateTabCaptions = true;
};

// Replaces the project by the content of the file at `path`. [Mailer] and [SmtpServer]
// select from `lists` without regard to case; the stored text is the matched item's own.
// On failure *error is "Cannot open file "path". reason" and the project is unchanged.
bool LoadProject(const QString &path, Project *project, const ProjectLists &lists, QString *error,
    LoadEffects *effects = nullptr);

// The lines of the file SaveProject writes, in order.
QStringList ProjectFileLines(const Project &project);

// Writes the project in the encoding it was read in (UTF-8 when a character does not fit
// Windows-1250); *used gets the encoding written. The old file is replaced atomically, so
// a failed save leaves it intact; *error is then "Cannot create file "path". reason".
bool SaveProject(
    const QString &path, const Project &project, QString *error, TextEncoding *used = nullptr);

// The parsing step of LoadProject on lines already read; exposed for the benchmark and for
// callers that hold the text in memory.
void ReadProjectLines(const QStringList &lines, Project *project, const ProjectLists &lists,
    LoadEffects *effects = nullptr);

} // namespace kolporta::project
