#pragma once

#include "delivery/StartUp.h"
#include "project/Project.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

namespace kolporta::cli {

using delivery::StartUp;

// The core start-up, with an unreadable mailclients.ini reported on stderr.
void startUp(StartUp *s);

// Loads the project as start-up would, against the start-up lists. On failure the reason
// goes to stderr and the result is false.
bool loadStartUpProject(const QString &path, const StartUp &s, project::Project *p);

struct Arguments
{
    QString project; // the one positional argument (PROJECT, or JOURNAL)
    QString to;
    bool help = false;
    QHash<QString, QString> values; // "--list" -> its value
    QSet<QString> flags; // "--json" ...
};

// What a command takes besides "--home DIR" and "--help": its positional argument's name and
// its own options, those with a value ("--to" and what it names: "a folder") and flags.
struct CommandSyntax
{
    QString command;
    QString positional = QStringLiteral("PROJECT");
    QList<QPair<QString, QString>> valueOptions;
    QStringList flagOptions;
};

// Parses the arguments in any order; a value may also follow "=". Returns an error text.
QString parseArguments(const CommandSyntax &syntax, QStringList args, Arguments *out);

// Parses "PROJECT [--to DIR] [--home DIR] [--help]" in any order; returns an error text.
QString parseArguments(const QString &command, QStringList args, bool takesTo, Arguments *out);

} // namespace kolporta::cli
