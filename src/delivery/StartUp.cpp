#include "delivery/StartUp.h"

#include "delivery/MailPrograms.h"
#include "settings/HomeFolder.h"
#include "settings/SmtpProfile.h"

#include <QDir>

namespace kolporta::delivery {

void PrepareStartUp(StartUp *s)
{
    // A folder that cannot be made costs only the log files.
    QDir().mkpath(settings::HomeFolder::logFolder());
    s->mailProgramsError.clear();
    s->programs = LoadMailPrograms(&s->mailProgramsError);
    s->mail = std::make_unique<MailObject>(s->programs);
    s->lists.routes = QStringList {QStringLiteral("SMTP")};
    for (const MailProgram &p : std::as_const(s->programs))
        s->lists.routes.append(p.name);
    // With a mail program installed, start-up selects the last route listed.
    s->defaultRoute = s->mail->anyClientInstalled() ? s->lists.routes.last() : QString();
    s->lists.profiles = settings::SmtpProfileNames(settings::HomeFolder::smtpIniPath());
}

bool LoadStartUpProject(const QString &path, const StartUp &s, project::Project *p, QString *error)
{
    p->mailer = s.defaultRoute;
    return project::LoadProject(path, p, s.lists, error);
}

SendRunSettings RunSettingsOf(const project::Project &p, const project::ProjectLists &lists)
{
    SendRunSettings settings;
    settings.route = p.mailer.isEmpty() ? -1 : int(lists.routes.indexOf(p.mailer));
    settings.sendAsBcc = p.sendAsBcc;
    settings.batchSizeText = p.bccMaxCount;
    settings.body = p.text.join(QStringLiteral("\r\n"));
    settings.htmlBody = p.htmlBody;
    settings.pictures = p.attachments;
    settings.files = p.files;
    settings.routeName = p.mailer;
    settings.addressLines = p.addressList;
    return settings;
}

} // namespace kolporta::delivery
