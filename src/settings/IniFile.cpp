#include "settings/IniFile.h"
#include "project/Trim.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kolporta::settings {

using project::TextEncoding;
namespace TextFile = project::TextFile;

namespace {

QString trimBlanks(QStringView text)
{
    return project::trimControls(text).toString();
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool breaksLayout(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'))
        || text.contains(QChar(0));
}

} // namespace

bool IniFile::load(const QString &path, QString *error)
{
    clear();
    if (!QFileInfo::exists(path))
        return true;
    QStringList lines;
    if (!TextFile::read(path, &lines, &m_encoding, error))
        return false;

    Section *current = nullptr;
    for (const QString &raw : std::as_const(lines)) {
        const QString line = trimBlanks(raw);
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))
            && line.size() >= 2) {
            m_sections.append(Section {trimBlanks(QStringView(line).mid(1, line.size() - 2)), {}});
            current = &m_sections.last();
            continue;
        }
        if (!current)
            continue; // lines before the first section head belong to nothing
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            current->entries.append(Entry {line, QString(), false});
        } else {
            current->entries.append(Entry {trimBlanks(QStringView(line).left(eq)),
                trimBlanks(QStringView(line).mid(eq + 1)), true});
        }
    }
    return true;
}

QStringList IniFile::toLines() const
{
    QStringList lines;
    for (const Section &section : m_sections) {
        lines.append(QLatin1Char('[') + section.name + QLatin1Char(']'));
        for (const Entry &entry : section.entries)
            lines.append(entry.hasValue ? entry.key + QLatin1Char('=') + entry.value : entry.key);
        lines.append(QString());
    }
    return lines;
}

bool IniFile::save(const QString &path, QString *error) const
{
    for (const Section &section : m_sections) {
        bool bad = breaksLayout(section.name);
        for (const Entry &entry : section.entries)
            bad = bad || breaksLayout(entry.key) || breaksLayout(entry.value);
        if (bad) {
            if (error)
                *error = TextFile::createErrorText(path,
                    QStringLiteral("Section \"%1\" holds a line break or NUL character.")
                        .arg(section.name));
            return false;
        }
    }

    const QByteArray bytes = TextFile::encodeLines(toLines(), m_encoding);
    QSaveFile file(path);
    // The temporary file gets 0600 before any byte is written, so the passwords are never
    // readable by others, not even for a moment.
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = TextFile::createErrorText(path, file.errorString());
        return false;
    }
    return true;
}

void IniFile::clear()
{
    m_sections.clear();
    m_encoding = TextEncoding::Utf8;
}

const IniFile::Section *IniFile::findSection(const QString &name) const
{
    for (const Section &section : m_sections) {
        if (sameName(section.name, name))
            return &section;
    }
    return nullptr;
}

IniFile::Section *IniFile::findSection(const QString &name)
{
    return const_cast<Section *>(std::as_const(*this).findSection(name));
}

qsizetype IniFile::findKey(const Section &section, const QString &key)
{
    for (qsizetype i = 0; i < section.entries.size(); ++i) {
        if (section.entries.at(i).hasValue && sameName(section.entries.at(i).key, key))
            return i;
    }
    return -1;
}

QStringList IniFile::sections() const
{
    QStringList names;
    for (const Section &section : m_sections)
        names.append(section.name);
    return names;
}

bool IniFile::hasSection(const QString &section) const
{
    return findSection(section) != nullptr;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList names;
    if (const Section *found = findSection(section)) {
        for (const Entry &entry : found->entries) {
            if (entry.hasValue)
                names.append(entry.key);
        }
    }
    return names;
}

bool IniFile::contains(const QString &section, const QString &key) const
{
    const Section *found = findSection(section);
    return found && findKey(*found, key) >= 0;
}

QString IniFile::value(
    const QString &section, const QString &key, const QString &defaultValue) const
{
    const Section *found = findSection(section);
    if (!found)
        return defaultValue;
    const qsizetype i = findKey(*found, key);
    return i < 0 ? defaultValue : found->entries.at(i).value;
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    Section *found = findSection(section);
    if (!found) {
        m_sections.append(Section {section, {}});
        found = &m_sections.last();
    }
    const qsizetype i = findKey(*found, key);
    if (i >= 0)
        found->entries[i] = Entry {key, value, true};
    else
        found->entries.append(Entry {key, value, true});
}

void IniFile::remove(const QString &section, const QString &key)
{
    if (Section *found = findSection(section)) {
        found->entries.removeIf(
            [&](const Entry &entry) { return entry.hasValue && sameName(entry.key, key); });
    }
}

} // namespace kolporta::settings
