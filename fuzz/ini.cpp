// The INI store: any bytes load, and a save followed by a load gives the same sections, keys
// and values, in the same order.

#include "FuzzSupport.h"

#include "settings/IniFile.h"

using kolporta::settings::IniFile;

namespace {

// Every section, key and value as the store answers them, the first of a repeated name
// winning as it does for every reader.
QStringList contentOf(const IniFile &ini)
{
    QStringList content;
    for (const QString &section : ini.sections()) {
        content.append(QLatin1Char('[') + section + QLatin1Char(']'));
        for (const QString &key : ini.keys(section))
            content.append(key + QLatin1Char('=') + ini.value(section, key));
    }
    return content;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString input = kolporta::fuzz::scratchFolder() + QStringLiteral("/in.ini");
    static const QString saved = kolporta::fuzz::scratchFolder() + QStringLiteral("/saved.ini");
    kolporta::fuzz::writeFile(
        input, QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));

    QString error;
    IniFile first;
    FUZZ_CHECK(first.load(input, &error));
    FUZZ_CHECK(first.save(saved, &error));
    IniFile second;
    FUZZ_CHECK(second.load(saved, &error));
    FUZZ_CHECK_EQUAL(first.toLines(), second.toLines());
    FUZZ_CHECK_EQUAL(contentOf(first), contentOf(second));
    return 0;
}
