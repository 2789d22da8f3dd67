#include "settings/EditSmtpProfile.h"
#include "settings/SmtpProfile.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace kolporta::settings;
using kolporta::test::readBytes;
using kolporta::test::writeBytes;

namespace {

QString q(const char *text)
{
    return QString::fromUtf8(text);
}

QStringList fieldList(const SmtpProfileFields &f)
{
    return {f.name, f.server, f.port, f.user, f.password, f.security, f.timeout, f.caFile};
}

// Rows name the five fields of the dialog and, where they matter, the three optional keys;
// the keys a row leaves out are empty.
QStringList allFields(QStringList values)
{
    while (values.size() < 8)
        values.append(QString());
    return values;
}

// Answers like a user: OK with the given values, or Cancel; remembers what it was shown.
class ScriptedDialog : public SmtpProfileDialog
{
public:
    bool ok = false;
    QStringList answer; // name, server, port, user, password, security, timeout, caFile
    QStringList shown;
    bool nameEditable = false;
    int shownCount = 0;
    QStringList errors;

    bool exec(SmtpProfileFields *fields, bool editable) override
    {
        ++shownCount;
        shown = fieldList(*fields);
        nameEditable = editable;
        if (ok) {
            const QStringList a = allFields(answer);
            *fields = SmtpProfileFields {a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7]};
        }
        return ok;
    }
    void showError(const QString &text) override { errors.append(text); }
};

} // namespace

class TestEditSmtpProfile : public QObject
{
    Q_OBJECT

    QString iniPath() const { return kolporta::test::homePath() + QStringLiteral("/smtp.ini"); }

private slots:
    void init() { QFile::remove(iniPath()); }

    void dialog_data()
    {
        QTest::addColumn<QByteArray>("file"); // null: no file
        QTest::addColumn<QStringList>("list"); // cbSMTPServer items before
        QTest::addColumn<QString>("edit"); // profile to edit; null: aAddSMTP
        QTest::addColumn<bool>("ok");
        // name, server, port, user, password[, security, timeout, caFile]
        QTest::addColumn<QStringList>("answer");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QByteArray>("saved"); // null: the file must stay as it was
        QTest::addColumn<QStringList>("listAfter");

        const QStringList none;
        QTest::newRow("new profile, no file yet")
            << QByteArray() << none << QString() << true
            << QStringList {q("Firma"), q("smtp.firma.cz"), q("587"), q("jan"), q("h e s l o")}
            << QStringList {q(""), q(""), q("25"), q(""), q("")}
            << QByteArray("[Firma]\r\nServer=smtp.firma.cz\r\nUser=jan\r\nPassw=h e s l o\r\n"
                          "Port=587\r\n\r\n")
            << QStringList {q("Firma")};
        QTest::newRow("new profile under an existing name in another case")
            << QByteArray("[Firma]\r\nServer=old\r\nPort=25\r\n[Jiny]\r\nServer=j\r\n")
            << QStringList {q("Firma"), q("Jiny")} << QString() << true
            << QStringList {q("FIRMA"), q("new"), q("26"), q("u"), q("p")}
            << QStringList {q(""), q(""), q("25"), q(""), q("")}
            << QByteArray("[Firma]\r\nServer=new\r\nPort=26\r\nUser=u\r\nPassw=p\r\n\r\n"
                          "[Jiny]\r\nServer=j\r\n\r\n")
            << QStringList {q("Firma"), q("Jiny"), q("FIRMA")};
        QTest::newRow("new profile with an empty name")
            << QByteArray("[A]\r\n") << QStringList {q("A")} << QString() << true
            << QStringList {q(""), q("s"), q("25"), q(""), q("")}
            << QStringList {q(""), q(""), q("25"), q(""), q("")}
            << QByteArray("[A]\r\n\r\n[]\r\nServer=s\r\nUser=\r\nPassw=\r\nPort=25\r\n\r\n")
            << QStringList {q("A"), q("")};
        QTest::newRow("cancel of a new profile leaves the file")
            << QByteArray(";mine\r\n[A]\r\n  Server = s  \r\n") << QStringList {q("A")} << QString()
            << false << QStringList {} << QStringList {q(""), q(""), q("25"), q(""), q("")}
            << QByteArray() << QStringList {q("A")};
        QTest::newRow("cancel of an edit leaves the file")
            << QByteArray(";mine\r\n[A]\r\n  Server = s  \r\nPort=1\r\n") << QStringList {q("A")}
            << q("a") << false << QStringList {}
            << QStringList {q("a"), q("s"), q("1"), q(""), q("")} << QByteArray()
            << QStringList {q("A")};
        QTest::newRow("OK without changes rewrites the file")
            << QByteArray(";mine\r\n\r\n[A]\r\n  Server = s  \r\nUser=u\r\nPassw=p\r\nPort=25\r\n")
            << QStringList {q("A")} << q("A") << true
            << QStringList {q("A"), q("s"), q("25"), q("u"), q("p")}
            << QStringList {q("A"), q("s"), q("25"), q("u"), q("p")}
            << QByteArray("[A]\r\nServer=s\r\nUser=u\r\nPassw=p\r\nPort=25\r\n\r\n")
            << QStringList {q("A")};
        QTest::newRow("edit of a section removed by hand creates it again")
            << QByteArray("[B]\r\nServer=b\r\n") << QStringList {q("A"), q("B")} << q("A") << true
            << QStringList {q("A"), q("x"), q("25"), q(""), q("")}
            << QStringList {q("A"), q(""), q("25"), q(""), q("")}
            << QByteArray("[B]\r\nServer=b\r\n\r\n[A]\r\nServer=x\r\nUser=\r\nPassw=\r\n"
                          "Port=25\r\n\r\n")
            << QStringList {q("A"), q("B")};
        QTest::newRow("encryption keys follow the four, in place when present")
            << QByteArray("[A]\r\nSecurity=STARTTLS\r\nServer=s\r\nCAFile=ca.pem\r\n"
                          "Pipelining=1\r\n")
            << QStringList {q("A")} << q("A") << true
            << QStringList {q("A"), q("t"), q("587"), q(""), q(""), q("SSL"), q("30"), q("ca.pem")}
            << QStringList {q("A"), q("s"), q("25"), q(""), q(""), q("STARTTLS"), q(""),
                   q("ca.pem")}
            << QByteArray("[A]\r\nSecurity=SSL\r\nServer=t\r\nCAFile=ca.pem\r\n"
                          "Pipelining=1\r\nUser=\r\nPassw=\r\nPort=587\r\nTimeout=30\r\n\r\n")
            << QStringList {q("A")};
        QTest::newRow("cleared encryption keys are removed, other keys kept")
            << QByteArray("[A]\r\nServer=s\r\nSecurity=SSL\r\nTIMEOUT=9\r\nCAFile=c\r\n"
                          "Connections=4\r\n")
            << QStringList {q("A")} << q("A") << true
            << QStringList {q("A"), q("s"), q("25"), q(""), q("")}
            << QStringList {q("A"), q("s"), q("25"), q(""), q(""), q("SSL"), q("9"), q("c")}
            << QByteArray("[A]\r\nServer=s\r\nConnections=4\r\nUser=\r\nPassw=\r\n"
                          "Port=25\r\n\r\n")
            << QStringList {q("A")};
        QTest::newRow("new profile with the encryption keys")
            << QByteArray() << none << QString() << true
            << QStringList {q("S"), q("smtp.s.cz"), q("465"), q(""), q(""), q("SSL"), q("120"),
                   q("/etc/ssl/ca.pem")}
            << QStringList {q(""), q(""), q("25"), q(""), q("")}
            << QByteArray("[S]\r\nServer=smtp.s.cz\r\nUser=\r\nPassw=\r\nPort=465\r\n"
                          "Security=SSL\r\nTimeout=120\r\nCAFile=/etc/ssl/ca.pem\r\n\r\n")
            << QStringList {q("S")};
        QTest::newRow("pasted letters in the port are stored as they stand")
            << QByteArray("[A]\r\nPort=25\r\n") << QStringList {q("A")} << q("A") << true
            << QStringList {q("A"), q(""), q("2 5x"), q(""), q("")}
            << QStringList {q("A"), q(""), q("25"), q(""), q("")}
            << QByteArray("[A]\r\nPort=2 5x\r\nServer=\r\nUser=\r\nPassw=\r\n\r\n")
            << QStringList {q("A")};
    }
    void dialog()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, list);
        QFETCH(QString, edit);
        QFETCH(bool, ok);
        QFETCH(QStringList, answer);
        QFETCH(QStringList, shown);
        QFETCH(QByteArray, saved);
        QFETCH(QStringList, listAfter);

        if (!file.isNull())
            writeBytes(iniPath(), file);
        ScriptedDialog dialog;
        dialog.ok = ok;
        dialog.answer = answer;
        QStringList items = list;
        int selected = 0;
        QString error;
        if (edit.isNull()) {
            QCOMPARE(aAddSMTP(iniPath(), &items, &selected, dialog, &error), ok);
            QCOMPARE(selected, ok ? int(items.size()) - 1 : 0);
            QVERIFY(dialog.nameEditable);
        } else {
            aEditSMTP(iniPath(), edit, dialog, &error);
            QVERIFY(!dialog.nameEditable);
        }
        QVERIFY(error.isEmpty());
        QVERIFY(dialog.errors.isEmpty());
        QCOMPARE(dialog.shown, allFields(shown));
        QCOMPARE(items, listAfter);
        if (saved.isNull()) {
            QCOMPARE(readBytes(iniPath()), file);
            QCOMPARE(QFile::exists(iniPath()), !file.isNull());
        } else {
            QCOMPARE(readBytes(iniPath()), saved);
        }
    }

    void savedProfileIsWhatTheSendRunReads()
    {
        ScriptedDialog dialog;
        dialog.ok = true;
        dialog.answer = QStringList {q("Pošta"), q("smtp.x.cz"), q("465"), q("u"), q("p=;[x]"),
            q("SSL"), q("7"), q("ca.pem")};
        QString name;
        QVERIFY(EditSmtpProfile(iniPath(), name, dialog));
        QCOMPARE(name, q("Pošta"));
        SmtpProfile profile;
        QVERIFY(LoadSmtpProfile(iniPath(), q("POŠTA"), &profile));
        QCOMPARE(profile.server, q("smtp.x.cz"));
        QCOMPARE(profile.port, q("465"));
        QCOMPARE(profile.password, q("p=;[x]"));
        QCOMPARE(profile.security, q("SSL"));
        QCOMPARE(profile.timeoutSeconds, 7);
        QCOMPARE(profile.caFile, kolporta::test::homePath() + q("/ca.pem"));
        QCOMPARE(SmtpProfileNames(iniPath()), QStringList {q("Pošta")});
    }

    void saveFailureShowsTheBoxAndStillCountsAsOk()
    {
        // A file in the place of the folder makes every save fail, even for root.
        const QString blocker = kolporta::test::homePath() + QStringLiteral("/blocker");
        writeBytes(blocker, "x");
        const QString path = blocker + QStringLiteral("/smtp.ini");
        ScriptedDialog dialog;
        dialog.ok = true;
        dialog.answer = QStringList {q("N"), q("s"), q("25"), q(""), q("")};
        QStringList items {q("A")};
        int selected = 0;
        QVERIFY(aAddSMTP(path, &items, &selected, dialog));
        QCOMPARE(items, (QStringList {q("A"), q("N")}));
        QCOMPARE(selected, 1);
        QCOMPARE(dialog.errors,
            QStringList {q("Nepodařilo se uložit parametry SMTP serveru.\rChyba při ukládání "
                           "do souboru: ")
                + path});
    }

    void unreadableFileShowsNoDialog()
    {
        QDir().mkpath(iniPath()); // a folder cannot be read as a file
        ScriptedDialog dialog;
        dialog.ok = true;
        QStringList items;
        int selected = -1;
        QString error;
        QVERIFY(!aAddSMTP(iniPath(), &items, &selected, dialog, &error));
        QVERIFY(error.contains(iniPath()));
        QCOMPARE(dialog.shownCount, 0);
        QVERIFY(items.isEmpty());
        QVERIFY(QFileInfo(iniPath()).isDir());
        QDir().rmdir(iniPath());
    }

    void portKeyFilter_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("accepted");
        QTest::newRow("digits") << q("0123456789") << q("0123456789");
        QTest::newRow("letters, blank, punctuation dropped") << q("a5 -+.,x") << q("5");
        QTest::newRow("control keys pass")
            << q("\b\r\x1b\x16\x03\x18") << q("\b\r\x1b\x16\x03\x18");
        QTest::newRow("other digits dropped") << q("٣²") << q("");
        QTest::newRow("delete is not a control below 32") << q("\x7f") << q("");
    }
    void portKeyFilter()
    {
        QFETCH(QString, keys);
        QFETCH(QString, accepted);
        QString got;
        for (QChar key : keys) {
            if (SmtpPortKeyAccepted(key))
                got.append(key);
        }
        QCOMPARE(got, accepted);
    }
};

QTEST_GUILESS_MAIN(TestEditSmtpProfile)
#include "tst_EditSmtpProfile.moc"
