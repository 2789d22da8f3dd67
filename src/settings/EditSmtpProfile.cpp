#include "settings/EditSmtpProfile.h"

#include "settings/IniFile.h"

namespace kolporta::settings {

namespace {

struct OptionalKey
{
    QString key;
    QString SmtpProfileFields::*member;
};

const OptionalKey optionalKeys[] = {
    {QStringLiteral("Security"), &SmtpProfileFields::security},
    {QStringLiteral("Timeout"), &SmtpProfileFields::timeout},
    {QStringLiteral("CAFile"), &SmtpProfileFields::caFile},
};

} // namespace

QString SmtpSaveErrorText(const QString &iniPath)
{
    return QStringLiteral("Nepodařilo se uložit parametry SMTP serveru.\rChyba při ukládání "
                          "do souboru: ")
        + iniPath;
}

bool EditSmtpProfile(
    const QString &iniPath, QString &name, SmtpProfileDialog &dialog, QString *error)
{
    IniFile ini;
    if (!ini.load(iniPath, error))
        return false;

    SmtpProfileFields fields;
    fields.name = name;
    fields.server = ini.value(name, QStringLiteral("Server"));
    fields.user = ini.value(name, QStringLiteral("User"));
    fields.password = ini.value(name, QStringLiteral("Passw"));
    fields.port = ini.value(name, QStringLiteral("Port"), QStringLiteral("25"));
    for (const auto &[key, member] : optionalKeys)
        fields.*member = ini.value(name, key);
    if (!dialog.exec(&fields, name.isEmpty()))
        return false;

    name = fields.name;
    ini.setValue(name, QStringLiteral("Server"), fields.server);
    ini.setValue(name, QStringLiteral("User"), fields.user);
    ini.setValue(name, QStringLiteral("Passw"), fields.password);
    ini.setValue(name, QStringLiteral("Port"), fields.port);
    // An empty optional key is left out, so a profile that never used one is written as
    // before and a cleared one falls back to the default.
    for (const auto &[key, member] : optionalKeys) {
        if ((fields.*member).isEmpty())
            ini.remove(name, key);
        else
            ini.setValue(name, key, fields.*member);
    }
    if (!ini.save(iniPath))
        dialog.showError(SmtpSaveErrorText(iniPath));
    return true;
}

bool aEditSMTPEnabled(const QString &currentText)
{
    return !currentText.isEmpty();
}

void aEditSMTP(
    const QString &iniPath, const QString &currentText, SmtpProfileDialog &dialog, QString *error)
{
    QString name = currentText;
    EditSmtpProfile(iniPath, name, dialog, error);
}

bool aAddSMTP(const QString &iniPath, QStringList *items, int *selected, SmtpProfileDialog &dialog,
    QString *error)
{
    QString name;
    if (!EditSmtpProfile(iniPath, name, dialog, error))
        return false;
    items->append(name);
    *selected = int(items->size()) - 1;
    return true;
}

bool SmtpPortKeyAccepted(QChar key)
{
    return key.unicode() < 32 || (key >= QLatin1Char('0') && key <= QLatin1Char('9'));
}

} // namespace kolporta::settings
