#include "ui/TfSMTPEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using kolporta::settings::SmtpProfileFields;
using kolporta::ui::TfSMTPEdit;

namespace {

QString q(const char *text)
{
    return QString::fromUtf8(text);
}

template <typename T> T *child(QWidget *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}

// Types like the keyboard does, with the characters X11 gives backspace and delete.
void type(QWidget *widget, const QString &keys)
{
    for (QChar key : keys) {
        const Qt::Key code = key == QLatin1Char('\b') ? Qt::Key_Backspace
            : key == QChar(0x7f)                      ? Qt::Key_Delete
            : key.isDigit()                           ? Qt::Key(Qt::Key_0 + key.digitValue())
                                                      : Qt::Key(key.toUpper().unicode());
        QTest::sendKeyEvent(QTest::Click, widget, code, QString(key), Qt::NoModifier);
    }
}

} // namespace

// The dialog's own behaviour: its port key filter, the mapping of its two choices to the
// profile keys, and how it ends. What is stored in smtp.ini is the settings tests' part.
class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void portKeyFilter_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("typed"); // "\b" backspace, "\x7f" delete
        QTest::addColumn<QString>("pasted"); // pasted with Ctrl+V after typing
        QTest::addColumn<QString>("after");

        QTest::newRow("letters, blanks and punctuation are dropped")
            << q("") << 0 << q("a5 -x.7+") << q("") << q("57");
        QTest::newRow("backspace edits") << q("587") << 3 << q("\b\b") << q("") << q("5");
        QTest::newRow("delete edits") << q("587") << 0 << q("\x7f") << q("") << q("87");
        QTest::newRow("pasted text is not filtered")
            << q("") << 0 << q("1") << q("2 5x") << q("12 5x");
    }
    void portKeyFilter()
    {
        QFETCH(QString, before);
        QFETCH(int, cursor);
        QFETCH(QString, typed);
        QFETCH(QString, pasted);
        QFETCH(QString, after);

        TfSMTPEdit dialog;
        SmtpProfileFields fields;
        fields.port = before;
        dialog.setFields(fields, false);
        auto *port = child<QLineEdit>(&dialog, "eSMTPPort");
        port->setCursorPosition(cursor);
        type(port, typed);
        if (!pasted.isEmpty()) {
            QApplication::clipboard()->setText(pasted);
            QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
        }
        QCOMPARE(port->text(), after);
        QCOMPARE(dialog.fields().port, after);
    }

    void optionalKeys_data()
    {
        QTest::addColumn<QString>("security"); // as read from the file
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("shown"); // cbSecurity's text
        QTest::addColumn<int>("chooseSecurity"); // -1: untouched
        QTest::addColumn<int>("chooseTimeout"); // -1: untouched
        QTest::addColumn<QString>("securityAfter");
        QTest::addColumn<QString>("timeoutAfter");

        QTest::newRow("absent keys stay absent")
            << q("") << q("") << q("žádné") << -1 << -1 << q("") << q("");
        QTest::newRow("untouched keys come back as written")
            << q(" starttls") << q("045") << q("STARTTLS") << -1 << -1 << q(" starttls")
            << q("045");
        QTest::newRow("an unknown security value is shown and kept")
            << q("TLS1.3") << q("") << q("TLS1.3") << -1 << -1 << q("TLS1.3") << q("");
        QTest::newRow("a timeout that is no number is kept")
            << q("") << q("abc") << q("žádné") << -1 << -1 << q("") << q("abc");
        QTest::newRow("chosen STARTTLS and a timeout")
            << q("") << q("") << q("žádné") << 1 << 90 << q("STARTTLS") << q("90");
        QTest::newRow("chosen SSL over STARTTLS")
            << q("STARTTLS") << q("30") << q("STARTTLS") << 2 << -1 << q("SSL") << q("30");
        QTest::newRow("none and the default clear both keys")
            << q("SSL") << q("30") << q("SSL") << 0 << 0 << q("") << q("");
    }
    void optionalKeys()
    {
        QFETCH(QString, security);
        QFETCH(QString, timeout);
        QFETCH(QString, shown);
        QFETCH(int, chooseSecurity);
        QFETCH(int, chooseTimeout);
        QFETCH(QString, securityAfter);
        QFETCH(QString, timeoutAfter);

        TfSMTPEdit dialog;
        SmtpProfileFields fields;
        fields.security = security;
        fields.timeout = timeout;
        dialog.setFields(fields, false);
        auto *combo = child<QComboBox>(&dialog, "cbSecurity");
        auto *spin = child<QSpinBox>(&dialog, "eTimeout");
        QCOMPARE(combo->currentText(), shown);
        if (chooseSecurity >= 0)
            combo->setCurrentIndex(chooseSecurity);
        if (chooseTimeout >= 0)
            spin->setValue(chooseTimeout);
        QCOMPARE(dialog.fields().security, securityAfter);
        QCOMPARE(dialog.fields().timeout, timeoutAfter);
    }

    void ending_data()
    {
        QTest::addColumn<bool>("nameEditable");
        QTest::addColumn<QString>("how"); // "OK", "Storno", "Enter", "Esc"
        QTest::addColumn<bool>("accepted");

        QTest::newRow("OK button, new profile") << true << q("OK") << true;
        QTest::newRow("Enter is OK") << false << q("Enter") << true;
        QTest::newRow("Storno button") << false << q("Storno") << false;
        QTest::newRow("Esc is Storno") << true << q("Esc") << false;
    }
    void ending()
    {
        QFETCH(bool, nameEditable);
        QFETCH(QString, how);
        QFETCH(bool, accepted);

        TfSMTPEdit dialog;
        SmtpProfileFields before;
        before.server = q("old");
        bool nameEnabled = false;
        QTimer::singleShot(0, &dialog, [&] {
            auto *server = child<QLineEdit>(&dialog, "eSMTPServer");
            nameEnabled = child<QLineEdit>(&dialog, "eSMTPName")->isEnabled();
            server->selectAll();
            type(server, q("smtp.nový.cz"));
            child<QLineEdit>(&dialog, "eSMTPPassw")->setText(q("heslo"));
            if (how == q("OK"))
                child<QPushButton>(&dialog, "bOK")->click();
            else if (how == q("Storno"))
                child<QPushButton>(&dialog, "bCancel")->click();
            else
                QTest::keyClick(server, how == q("Enter") ? Qt::Key_Return : Qt::Key_Escape);
        });
        SmtpProfileFields fields = before;
        QCOMPARE(dialog.exec(&fields, nameEditable), accepted);
        QCOMPARE(nameEnabled, nameEditable);
        QCOMPARE(fields.server, accepted ? q("smtp.nový.cz") : before.server);
        QCOMPARE(fields.password, accepted ? q("heslo") : before.password);
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_Dialogs.moc"
