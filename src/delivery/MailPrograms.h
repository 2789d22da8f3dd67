#pragma once

#include "delivery/MailObject.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::delivery {

// How a mail program's command line is read and found, and how the list of mail programs is
// built: from mailclients.ini when it exists, else by looking at what is installed. No shell
// runs the command: it is split into words at blanks, double quotes group a word with blanks
// in it, and each word has $NAME, ${NAME} and a leading "~/" expanded, so a command can name
// a program in the user's own folders.
namespace MailPrograms {

// The words of a command with the environment expanded; empty for a blank command.
QStringList splitCommand(const QString &command);

// The program a command starts: its first word, looked up on the PATH when it holds no "/",
// else taken as a path (relative to the working folder when not absolute). Empty when no
// such file is found; the file found is not checked for being executable here.
QString programPath(const QString &command);

// Whether the program of the command exists and may be executed.
bool isInstalled(const QString &command);

// The list read from an INI file: one entry per section in file order, "[Display name]" with
// "Command=...". A missing file gives an empty list; false with *error when it exists but
// cannot be read.
bool readIni(const QString &path, QList<MailProgram> *programs, QString *error);

// The list found on this machine: "sendmail" when sendmailPath exists, then "msmtp" when
// msmtp is on the PATH.
QList<MailProgram> detect(const QString &sendmailPath = QStringLiteral("/usr/sbin/sendmail"));

} // namespace MailPrograms

// As LoadMailPrograms(), with *error set when mailclients.ini exists but cannot be read; the
// list is then empty, so no message goes to a program the user did not choose.
QList<MailProgram> LoadMailPrograms(QString *error);

} // namespace kolporta::delivery
