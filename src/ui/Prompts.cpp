#include "ui/Prompts.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include <algorithm>

namespace kolporta::ui {

namespace {

struct Script
{
    bool on = false;
    QList<project::PromptAnswer> answers;
    QStringList fileNames;
    QList<Prompts::Shown> shown;
};

Script &state()
{
    static Script s;
    return s;
}

// The system's texts break lines with a lone carriage return, which a Qt label ignores.
QString forDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

void record(Prompts::Kind kind, const QString &caption, const QString &text)
{
    state().shown.append({kind, caption, text});
}

QString scriptedFileName()
{
    return state().fileNames.isEmpty() ? QString() : state().fileNames.takeFirst();
}

QStringList runFileDialog(QWidget *parent, const project::FileDialogRequest &request,
    QFileDialog::AcceptMode accept, QFileDialog::FileMode mode)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(accept);
    dialog.setFileMode(mode);
    dialog.setNameFilters(request.nameFilters);
    // Filters written as a caption followed by their patterns ("Všechny soubory (*.*) (*)")
    // show the caption alone.
    static const QRegularExpression captionThenPatterns(QStringLiteral("\\)\\s*\\([^()]*\\)$"));
    if (!request.nameFilters.isEmpty()
        && std::all_of(request.nameFilters.begin(), request.nameFilters.end(),
            [](const QString &filter) { return captionThenPatterns.match(filter).hasMatch(); }))
        dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.confirmOverwrite)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.initialFolder.isEmpty())
        dialog.setDirectory(request.initialFolder);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString firstOf(const QStringList &paths)
{
    return paths.isEmpty() ? QString() : paths.constFirst();
}

} // namespace

project::PromptAnswer Prompts::question(
    QWidget *parent, const QString &caption, const QString &text)
{
    if (state().on) {
        record(Kind::Question, caption, text);
        return state().answers.isEmpty() ? project::PromptAnswer::Cancel
                                         : state().answers.takeFirst();
    }
    QMessageBox box(QMessageBox::Question, caption, forDisplay(text),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return project::PromptAnswer::Yes;
    case QMessageBox::No:
        return project::PromptAnswer::No;
    default:
        return project::PromptAnswer::Cancel;
    }
}

void Prompts::information(QWidget *parent, const QString &caption, const QString &text)
{
    if (state().on)
        return record(Kind::Information, caption, text);
    QMessageBox box(QMessageBox::Information, caption, forDisplay(text), QMessageBox::Ok, parent);
    box.exec();
}

void Prompts::error(QWidget *parent, const QString &caption, const QString &text)
{
    if (state().on)
        return record(Kind::Error, caption, text);
    QMessageBox box(QMessageBox::Critical, caption, forDisplay(text), QMessageBox::Ok, parent);
    box.exec();
}

QString Prompts::openFileName(QWidget *parent, const project::FileDialogRequest &request)
{
    if (state().on) {
        record(Kind::OpenFile, request.nameFilters.join(QStringLiteral(";;")), request.fileName);
        return scriptedFileName();
    }
    return firstOf(
        runFileDialog(parent, request, QFileDialog::AcceptOpen, QFileDialog::ExistingFile));
}

QStringList Prompts::openFileNames(QWidget *parent, const project::FileDialogRequest &request)
{
    if (state().on) {
        record(Kind::OpenFile, request.nameFilters.join(QStringLiteral(";;")), request.fileName);
        return scriptedFileName().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    return runFileDialog(parent, request, QFileDialog::AcceptOpen, QFileDialog::ExistingFiles);
}

QString Prompts::saveFileName(QWidget *parent, const project::FileDialogRequest &request)
{
    if (state().on) {
        record(Kind::SaveFile, request.nameFilters.join(QStringLiteral(";;")), request.fileName);
        return scriptedFileName();
    }
    return firstOf(runFileDialog(parent, request, QFileDialog::AcceptSave, QFileDialog::AnyFile));
}

void Prompts::openUrl(const QUrl &url)
{
    if (state().on)
        return record(Kind::Url, QString(), url.toString());
    QDesktopServices::openUrl(url);
}

void Prompts::script()
{
    state() = Script();
    state().on = true;
}

bool Prompts::isScripted()
{
    return state().on;
}

void Prompts::setNextAnswer(project::PromptAnswer answer)
{
    state().answers.append(answer);
}

void Prompts::setNextFileName(const QString &path)
{
    state().fileNames.append(path);
}

QList<Prompts::Shown> Prompts::takeShown()
{
    return std::exchange(state().shown, {});
}

} // namespace kolporta::ui
