#pragma once

#include "project/TextFile.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kolporta::settings {

// An INI file held in memory the way classic profile files behave: every line
// is trimmed, blank lines and ";" comments are dropped, section names and keys match without
// regard to case, and the blanks around the first "=" go. A missing file reads as empty.
// Saving rewrites the whole file ("[name]", "key=value" lines, one empty line per section)
// in the encoding it was read in, atomically and readable by the owner only (0600), because
// smtp.ini holds passwords. When a section or key occurs twice, the first one is used.
class IniFile
{
public:
    // Reads the file; a missing file gives an empty store. false with *error only when the
    // file exists but cannot be read; the store is then empty.
    bool load(const QString &path, QString *error = nullptr);

    // Writes the whole store. false with *error when the file cannot be written (the old
    // file stays as it was) or when a name or value holds a line break or NUL, which the
    // line-based layout cannot carry.
    bool save(const QString &path, QString *error = nullptr) const;

    void clear();

    // Section names in file order.
    QStringList sections() const;
    bool hasSection(const QString &section) const;
    // Key names of a section in file order; lines without "=" are not keys.
    QStringList keys(const QString &section) const;
    bool contains(const QString &section, const QString &key) const;
    QString value(
        const QString &section, const QString &key, const QString &defaultValue = QString()) const;

    // Replaces the key in place, or appends it to the end of its section, or appends a new
    // section after the last one.
    void setValue(const QString &section, const QString &key, const QString &value);

    // Removes every line of the key from the section; the section itself stays.
    void remove(const QString &section, const QString &key);

    // The lines save() writes, without line ends.
    QStringList toLines() const;

    project::TextEncoding encoding() const { return m_encoding; }

private:
    struct Entry
    {
        QString key;
        QString value;
        bool hasValue = true; // false: a line without "=", kept as it stands in `key`
    };
    struct Section
    {
        QString name;
        QList<Entry> entries;
    };

    const Section *findSection(const QString &name) const;
    Section *findSection(const QString &name);
    static qsizetype findKey(const Section &section, const QString &key);

    QList<Section> m_sections;
    project::TextEncoding m_encoding = project::TextEncoding::Utf8;
};

} // namespace kolporta::settings
