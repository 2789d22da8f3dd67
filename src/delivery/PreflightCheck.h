#pragma once

#include "delivery/StartUp.h"
#include "project/Project.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kolporta::delivery {

// One thing the pre-flight check found. Errors would make lines fail (an invalid address,
// a file that cannot be read, a bad sender, no profile, no route, no server); warnings are
// worth a look before sending (duplicates, look-alike macros, picture mismatches, a message
// over the server's SIZE, an empty subject); information only describes (skipped lines,
// the files and their sizes, the biggest message, what the server offers).
struct CheckFinding
{
    enum class Severity { Error, Warning, Info };

    Severity severity = Severity::Info;
    QString code; // a stable name, such as "address-invalid"
    QList<int> lines; // line numbers, counted from 1: of the address list, or of the body
    bool bodyLines = false; // `lines` are lines of the body
    QString subject; // what it is about: the address line, file, macro ...; may be empty
    QString message; // what is wrong, in a sentence
};

struct CheckReport
{
    QList<CheckFinding> findings;
    qint64 largestMessage = -1; // bytes; -1 when no message could be built
    int largestMessageLine = 0; // the address line it is built for, 0 for a BCC message

    int count(CheckFinding::Severity severity) const;
    // 0 nothing but information, 1 warnings, 2 errors.
    int exitStatus() const;
    // One JSON object: counts, largestMessage and the findings in order.
    QByteArray toJson() const;
};

// Looks at a loaded project as the send run would go through it, without sending anything.
// With `server`, it also connects to the SMTP profile's server, reads its EHLO (SIZE, TLS,
// AUTH), logs in with the profile's credentials, and leaves with QUIT without starting any
// transaction.
CheckReport PreflightCheck(const project::Project &p, const StartUp &s, bool server);

// Why an address is no RFC 5321 mailbox ("missing \"@\"", "blanks in the address", "two
// \"@\"", "bad domain", "non-ASCII local part" ...), or "" when it is one.
QString MailboxProblem(const QString &address);

// Whether the run skips the line in its mode: blank lines always; on the BCC modes a line
// that is exactly "*"; on the mail program's one-by-one mode any line starting with "*".
bool RunSkipsLine(const QString &line, bool mailProgram, bool bcc);

} // namespace kolporta::delivery
