// kolporta [PROJECT]: the desktop window.

#include "settings/HomeFolder.h"
#include "ui/ActionIcons.h"
#include "ui/TfKolporta.h"

#include <QApplication>
#include <QCommandLineParser>

#include <unistd.h>

int main(int argc, char **argv)
{
    // The HTML preview (Qt WebEngine) needs contexts shared from the application's start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Chromium refuses to start its sandbox for root; the preview runs no scripts and loads
    // nothing remote unless asked, so it goes without one there rather than not at all.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kolporta"));
    QApplication::setApplicationVersion(QStringLiteral(KOLPORTA_VERSION));
    QApplication::setWindowIcon(kolporta::ui::applicationIcon());
    // Ties the window to org.kolporta.Kolporta.desktop (its icon and name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kolporta.Kolporta"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends one e-mail message to every address of a list."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"),
        QStringLiteral("The folder of smtp.ini, Log/, settings.ini ... (default: "
                       "$KOLPORTA_HOME, else ~/.local/share/kolporta)."),
        QStringLiteral("DIR"));
    parser.addOption(home);
    parser.addPositionalArgument(
        QStringLiteral("PROJECT"), QStringLiteral("The project (.kpj) to open."));
    parser.process(app);
    if (parser.isSet(home))
        kolporta::settings::HomeFolder::setOverride(parser.value(home));

    kolporta::ui::TfKolporta window(parser.positionalArguments());
    window.show();
    return app.exec();
}
