#include "ui/AddressListEditor.h"
#include "ui/BodyEditor.h"
#include "ui/ClipboardHtml.h"
#include "ui/EditorSetup.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <Qsci/qscilexerhtml.h>
#include <Qsci/qsciscintilla.h>

using namespace kolporta::ui;

namespace {

QString s(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QString plainText(QsciScintilla *editor)
{
    return editorLines(editor).join(u'\n');
}

} // namespace

class TestEditors : public QObject
{
    Q_OBJECT

    QWidget m_window;
    QLineEdit *m_search = nullptr;
    QsciScintilla *m_list = nullptr;
    QsciScintilla *m_body = nullptr;
    AddressListEditor *m_addresses = nullptr;
    BodyEditor *m_bodyTools = nullptr;

private slots:
    void initTestCase()
    {
        auto *layout = new QVBoxLayout(&m_window);
        m_search = new QLineEdit;
        m_list = new QsciScintilla;
        m_body = new QsciScintilla;
        layout->addWidget(m_search);
        layout->addWidget(m_list);
        layout->addWidget(m_body);
        m_addresses = new AddressListEditor(m_list, m_search, this);
        m_bodyTools = new BodyEditor(m_body, this);
        connect(m_search, &QLineEdit::textChanged, m_addresses, &AddressListEditor::search);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowActive(&m_window));
    }

    void decodeUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("one to four bytes kept")
            << QByteArray("a\xC5\xBE\xE2\x82\xAC\xCE\xB1\xF0\x9F\x98\x80") << s("až€α😀");
        QTest::newRow("continuation bytes not checked") << QByteArray("\xC5"
                                                                      "A")
                                                        << s("Ł");
        QTest::newRow("stray continuation and bad lead dropped") << QByteArray("\x80"
                                                                               "a\xF8"
                                                                               "b")
                                                                 << s("ab");
        QTest::newRow("half a surrogate pair") << QByteArray("\xED\xA0\x80") << s("\xEF\xBF\xBD");
        // The bytes that would complete a sequence are not read (a NUL follows in memory).
        QTest::newRow("cut-off two-byte sequence") << QByteArray("a\xC5") << s("a");
        QTest::newRow("cut-off three-byte sequence") << QByteArray("b\xE2\x82") << s("b");
        QTest::newRow("cut-off four-byte sequence") << QByteArray("x\xF0\x9F\x98") << s("x");
    }
    void decodeUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(ClipboardHtml::DecodeUtf8Text(bytes), text);
    }

    void clipboardHtml_data()
    {
        QTest::addColumn<QStringList>("formats");
        QTest::addColumn<QList<QByteArray>>("data");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("text");

        const QByteArray header("Version:0.9\r\nStartHTML:0000000105\r\nEndHTML:0000000200\r\n");
        QTest::newRow("header form with a doctype: to the end")
            << QStringList {QStringLiteral("HTML Format")}
            << QList<QByteArray> {header + "<!doctype html><HTML><meta charset=UTF-8></HTML>tail"}
            << true << s("<!doctype html><HTML><meta charset=windows-1250></HTML>tail");
        QTest::newRow("header form without a doctype: cut at </html>")
            << QStringList {QStringLiteral("HTML Format")}
            << QList<QByteArray> {header + "<html><body>\xC5\xBE</Html>tail\0junk"} << true
            << s("<html><body>ž</Html>");
        QTest::newRow("text/html fragment, after a plain format")
            << QStringList {QStringLiteral("text/plain"), QStringLiteral("text/html")}
            << QList<QByteArray> {"bold", "<meta charset=utf-8><b>bold</b>"} << true
            << s("<meta charset=windows-1250><b>bold</b>");
        QTest::newRow("text/html in UTF-16")
            << QStringList {QStringLiteral("text/html")}
            << QList<QByteArray> {QByteArray("\xFF\xFE<\0i\0>\0\xB1\x03<\0/\0i\0>\0", 18)} << true
            << s("<i>α</i>");
        QTest::newRow("UTF-16 with half a surrogate pair")
            << QStringList {QStringLiteral("text/html")}
            << QList<QByteArray> {QByteArray("\xFF\xFE<\0\x3D\xD8>\0\x00\xDE\x3D\xD8\x00\xDE", 14)}
            << true << s("<\xEF\xBF\xBD>\xEF\xBF\xBD😀");
        QTest::newRow("plain text only")
            << QStringList {QStringLiteral("text/plain")} << QList<QByteArray> {"<html>x</html>"}
            << false << QString();
    }
    void clipboardHtml()
    {
        QFETCH(QStringList, formats);
        QFETCH(QList<QByteArray>, data);
        QMimeData mime;
        for (qsizetype i = 0; i < formats.size(); ++i)
            mime.setData(formats[i], data[i]);
        const ClipboardHtml::Result result = ClipboardHtml::GetClipboardHtml(&mime);
        QTEST(result.found, "found");
        QTEST(result.text, "text");
    }

    void charsetMeta_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("result");
        const QString meta = ClipboardHtml::charsetMetaLine();
        QTest::newRow("head in capitals")
            << s("<HTML><HEAD></HEAD>") << s("<HTML><HEAD>\r\n") + meta + s("</HEAD>");
        QTest::newRow("charset already declared")
            << s("<head><meta content='text/html; CHARSET=x'>")
            << s("<head><meta content='text/html; CHARSET=x'>");
        QTest::newRow("head with attributes") << s("<head lang=cs>") << s("<head lang=cs>");
        QTest::newRow("no head") << s("<p>x</p>") << s("<p>x</p>");
    }
    void charsetMeta()
    {
        QFETCH(QString, body);
        QTEST(ClipboardHtml::withCharsetMeta(body), "result");
    }

    // Each list tool keeps the caret's (column, line) within the new text and cannot be undone.
    void listTools_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("newLine");
        QTest::addColumn<int>("newColumn");
        QTest::newRow("sort: empty lines go, caret clamped")
            << 0 << s("b\n\na\n  \ncc\n") << 5 << 0 << s("  \na\nb\ncc") << 3 << 0;
        QTest::newRow("sort by domain") << 1 << s("x <a@zz.cz>\ny <b@aa.cz>") << 0 << 11
                                        << s("y <b@aa.cz>\nx <a@zz.cz>") << 0 << 11;
        QTest::newRow("lower case, column clamped")
            << 2 << s("ŽLUŤOUČKÝ\n\nA") << 0 << 8 << s("žluťoučký\na") << 0 << 8;
        QTest::newRow("lower case, line clamped")
            << 2 << s("ŽLUŤOUČKÝ\n\nA") << 2 << 1 << s("žluťoučký\na") << 1 << 1;
    }
    void listTools()
    {
        QFETCH(int, tool);
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, column);
        m_list->setText(text);
        m_list->insertAt(QStringLiteral("z"), 0, 0); // edits that could be undone
        m_list->setSelection(0, 0, 0, 1);
        m_list->removeSelectedText();
        QVERIFY(m_list->isUndoAvailable());
        m_list->setCursorPosition(line, column);
        QSignalSpy replaced(m_addresses, &AddressListEditor::linesReplaced);
        void (AddressListEditor::*tools[])() = {&AddressListEditor::sortAlphabetically,
            &AddressListEditor::sortByDomain, &AddressListEditor::toLowerCase};
        (m_addresses->*tools[tool])();
        QTEST(plainText(m_list), "result");
        QFETCH(int, newLine);
        QFETCH(int, newColumn);
        QCOMPARE(caretOf(m_list), (kolporta::project::AddressTools::Caret {newColumn, newLine}));
        QVERIFY(!m_list->hasSelectedText());
        QVERIFY(!m_list->isUndoAvailable());
        QCOMPARE(replaced.count(), 1);
    }

    // Every way of pasting into the list rewrites the clipboard text first; one undo takes the
    // paste back.
    void listPaste_data()
    {
        QTest::addColumn<int>("path");
        QTest::newRow("Ctrl+V") << 0;
        QTest::newRow("Shift+Insert") << 1;
        QTest::newRow("Paste action") << 2;
        QTest::newRow("context menu") << 3;
    }
    void listPaste()
    {
        QFETCH(int, path);
        m_list->setText(s("x"));
        m_list->setCursorPosition(0, 0);
        QGuiApplication::clipboard()->setText(s("Novák, Jan <jan@x.cz>; 'eva'@y.cz"));
        m_list->setFocus();
        switch (path) {
        case 0:
            QTest::keyClick(m_list, Qt::Key_V, Qt::ControlModifier);
            break;
        case 1:
            QTest::keyClick(m_list, Qt::Key_Insert, Qt::ShiftModifier);
            break;
        case 2:
            m_addresses->paste();
            break;
        case 3: {
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                m_list->viewport()->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(m_list->viewport(), &event);
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction *action : menu->actions())
                if (action->text().contains(QLatin1String("Paste")))
                    action->trigger();
            menu->close();
            break;
        }
        }
        QCOMPARE(plainText(m_list), s("Novák\nJan <jan@x.cz>\neva@y.cz\nx"));
        QCOMPARE(
            QGuiApplication::clipboard()->text(), s("Novák\r\nJan <jan@x.cz>\r\neva@y.cz\r\n"));
        QCOMPARE(caretOf(m_list), (kolporta::project::AddressTools::Caret {0, 3}));
        m_list->undo();
        QCOMPARE(m_list->text(), s("x"));
    }

    // Starred lines are marked as they are typed, changed and split.
    void starredLines()
    {
        auto marks = [this] {
            QString m;
            for (int line = 0; line < m_list->lines(); ++line)
                m += m_addresses->isMarkedStarred(line) ? u'*' : u'-';
            return m;
        };
        m_list->setText(s("  *a\nb*\n\t* c\n\nd"));
        QCOMPARE(marks(), s("*-*--"));
        m_list->insertAt(s("*"), 4, 0);
        m_list->insertAt(s("x"), 0, 0);
        QCOMPARE(marks(), s("--*-*"));
        m_list->setSelection(2, 0, 2, 1);
        m_list->removeSelectedText();
        QCOMPARE(marks(), s("--*-*"));
        m_list->insertAt(s("\n"), 2, 1); // "* c" split into "*" and " c"
        QCOMPARE(marks(), s("--*--*"));
    }

    // The search field lower-cases what is typed; each keystroke selects the first hit from the
    // top while the focus stays in the field; Enter moves to the list.
    void quickSearch()
    {
        m_list->setText(s("Alfa <a@x.cz>\nBeta <B@Y.cz>\nbeta <b@y.cz>"));
        m_list->setCursorPosition(2, 3);
        m_search->clear();
        m_search->setFocus();
        QTest::keyClicks(m_search, s("B@Y"));
        QCOMPARE(m_search->text(), s("b@y"));
        int lineFrom, indexFrom, lineTo, indexTo;
        m_list->getSelection(&lineFrom, &indexFrom, &lineTo, &indexTo);
        QCOMPARE(QList<int>({lineFrom, indexFrom, lineTo, indexTo}), QList<int>({1, 6, 1, 9}));
        QCOMPARE(caretOf(m_list), (kolporta::project::AddressTools::Caret {9, 1}));
        QVERIFY(m_search->hasFocus());
        QTest::keyClick(m_search, Qt::Key_Q);
        QVERIFY(!m_list->hasSelectedText());
        QCOMPARE(caretOf(m_list), (kolporta::project::AddressTools::Caret {6, 1}));
        QTest::keyClick(m_search, Qt::Key_Return);
        QVERIFY(m_list->hasFocus());
        QCOMPARE(m_search->text(), s("b@yq"));
    }

    void htmlPaste_data()
    {
        QTest::addColumn<bool>("html");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("result");
        const QString meta = ClipboardHtml::charsetMetaLine();
        QTest::newRow("HTML data, kept in Unicode")
            << true << s("text/html")
            << QByteArray("<p>\xCE\xB1\xCE\xB2 \xF0\x9F\x98\x80 \xE2\x82\xAC</p>") << s("[]")
            << s("[<p>αβ 😀 €</p>]");
        QTest::newRow("plain paste into an HTML body gets the charset line")
            << true << s("text/plain") << QByteArray("x") << s("<html><head>[]")
            << s("<html><head>\n") + meta + s("[x]");
        QTest::newRow("a second plain paste adds nothing")
            << true << s("text/plain") << QByteArray("x") << s("<head>\n") + meta + s("[]")
            << s("<head>\n") + meta + s("[x]");
        QTest::newRow("no HTML body: plain text, no charset line")
            << false << s("text/html") << QByteArray("<b>x</b>") << s("<head>[]") << s("<head>[y]");
    }
    void htmlPaste()
    {
        QFETCH(bool, html);
        QFETCH(QString, format);
        QFETCH(QByteArray, data);
        QFETCH(QString, body);
        auto *mime = new QMimeData;
        mime->setData(format, data);
        if (!html)
            mime->setText(s("y"));
        QGuiApplication::clipboard()->setMimeData(mime);
        m_bodyTools->setHtml(html);
        QCOMPARE(m_body->lexer() != nullptr, html);
        m_body->setText(body);
        m_body->SendScintilla(QsciScintilla::SCI_GOTOPOS,
            static_cast<unsigned long>(body.left(body.indexOf(u']')).toUtf8().size()));
        m_body->setFocus();
        QTest::keyClick(m_body, Qt::Key_V, Qt::ControlModifier);
        QTEST(plainText(m_body), "result");
        m_body->undo(); // the paste and its charset line go back together
        QCOMPARE(m_body->text(), body);
    }

    // Back from HTML, the text loses the highlighter's styles and fonts.
    void htmlOff()
    {
        m_body->setText(s("<p a=\"b\">x</p>"));
        m_bodyTools->setHtml(true);
        m_body->SendScintilla(QsciScintilla::SCI_COLOURISE, 0UL, -1L);
        QVERIFY(m_body->SendScintilla(QsciScintilla::SCI_GETSTYLEAT, 1UL) != 0);
        m_bodyTools->setHtml(false);
        QVERIFY(!m_body->lexer());
        QCOMPARE(m_body->SendScintilla(QsciScintilla::SCI_GETSTYLEAT, 1UL), 0);
    }

    void macro()
    {
        m_body->setText(s("Dear NAME,"));
        m_body->setSelection(0, 5, 0, 9);
        m_bodyTools->insertMacro(s("%TO%"));
        QCOMPARE(m_body->text(), s("Dear %TO%,"));
        m_body->undo();
        QCOMPARE(m_body->text(), s("Dear NAME,"));
    }

    // Loading the body from a file: UTF-8 when valid, else Windows-1250; a file that cannot be
    // read leaves the body as it was.
    void loadFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("result");
        QTest::newRow("UTF-8") << QByteArray("\xC5\xBElu\xC5\xA5\r\nk\xC5\xAF\xC5\x88\n")
                               << s("žluť\nkůň");
        QTest::newRow("Windows-1250") << QByteArray("\x9Elu\x9D\rk\xF9\xF2") << s("žluť\nkůň");
        QTest::newRow("a folder") << QByteArray() << s("old");
    }
    void loadFile()
    {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("body.txt"));
        if (bytes.isEmpty()) {
            path = dir.path();
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        m_body->setText(s("old"));
        m_body->setCursorPosition(0, 2);
        QSignalSpy replaced(m_bodyTools, &BodyEditor::bodyReplaced);
        QString error;
        QCOMPARE(m_bodyTools->loadFile(path, &error), !bytes.isEmpty());
        QTEST(plainText(m_body), "result");
        QCOMPARE(replaced.count(), bytes.isEmpty() ? 0 : 1);
        QCOMPARE(error.isEmpty(), !bytes.isEmpty());
        if (!bytes.isEmpty())
            QCOMPARE(caretOf(m_body), kolporta::project::AddressTools::Caret {});
    }

    // Of two files dropped on the body only the first is loaded.
    void dropFiles()
    {
        QTemporaryDir dir;
        QStringList paths;
        for (const char *text : {"first", "second"}) {
            paths << dir.filePath(QLatin1String(text));
            QFile file(paths.last());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        }
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1])});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(m_body->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QSignalSpy replaced(m_bodyTools, &BodyEditor::bodyReplaced);
        QApplication::sendEvent(m_body->viewport(), &drop);
        QCOMPARE(m_body->text(), s("first"));
        QCOMPARE(replaced.count(), 1);
    }

    void removeDiacritics()
    {
        m_body->setText(s("Příliš\nžluťoučký 😀\n"));
        m_body->setCursorPosition(1, 3);
        QSignalSpy replaced(m_bodyTools, &BodyEditor::bodyReplaced);
        m_bodyTools->removeDiacritics();
        QCOMPARE(m_body->text(), s("Prilis\nzlutoucky 😀"));
        QCOMPARE(caretOf(m_body), kolporta::project::AddressTools::Caret {});
        QVERIFY(!m_body->isUndoAvailable());
        QCOMPARE(replaced.count(), 1);
    }

    void keyBindings()
    {
        m_body->setText(s("f(a[1]) x"));
        m_body->setFocus();
        m_body->setCursorPosition(0, 1);
        QTest::keyClick(m_body, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(caretOf(m_body), (kolporta::project::AddressTools::Caret {6, 0}));
        QTest::keyClick(m_body, Qt::Key_M, Qt::ControlModifier);
        QCOMPARE(plainText(m_body), s("f(a[1]\n) x"));
    }
};

QTEST_MAIN(TestEditors)
#include "tst_Editors.moc"
