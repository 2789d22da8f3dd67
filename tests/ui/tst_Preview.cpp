#include "preview/HtmlPreview.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

using kolporta::preview::HtmlPreview;
using kolporta::preview::PreviewContent;

namespace {

const QColor kGreen(10, 200, 30);

void writePicture(const QString &path)
{
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(kGreen);
    QVERIFY(image.save(path));
}

// Waits until the view shows the picture's colour at a point, or a few seconds have passed.
QColor colourAt(QWebEngineView *view, const QPoint &at, const QColor &wanted)
{
    QColor seen;
    for (int i = 0; i < 50; ++i) {
        seen = view->grab().toImage().pixelColor(at);
        if (seen == wanted)
            break;
        QTest::qWait(100);
    }
    return seen;
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    // A local picture shows, through the project's folder or, in the recipient's view, through
    // the picture list; scripts do not run; nothing is written to the project's folder, even a
    // read-only one, and a large page's temporary file is gone once it is loaded.
    void localPicture_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<bool>("recipientView");
        QTest::addColumn<int>("padding");
        QTest::newRow("relative to the project") << QStringLiteral("g.png") << false << 0;
        QTest::newRow("large page") << QStringLiteral("g.png") << false << 800000;
        QTest::newRow("recipient's view, from the picture list")
            << QStringLiteral("elsewhere/g.png") << true << 0;
    }
    void localPicture()
    {
        QFETCH(QString, picture);
        QFETCH(bool, recipientView);
        QFETCH(int, padding);
        QTemporaryDir project;
        QTemporaryDir temp;
        writePicture(project.filePath(QStringLiteral("g.png")));
        QDir(project.path()).mkdir(QStringLiteral("elsewhere"));
        writePicture(project.filePath(QStringLiteral("elsewhere/g.png")));
        if (recipientView)
            QFile::remove(project.filePath(QStringLiteral("g.png")));
        const QStringList before = QDir(project.path()).entryList(QDir::AllEntries | QDir::Hidden);
        QFile::setPermissions(project.path(), QFile::ReadOwner | QFile::ExeOwner);

        PreviewContent content;
        content.body = QStringLiteral("<html><head></head><body style='margin:0'>"
                                      "<img src='g.png' width=100 height=100>"
                                      "<script>document.body.style.background='red'</script>"
                                      "<!--%1--></body></html>")
                           .arg(QString(padding, u'<'));
        content.baseFolder = project.path();
        content.pictures = {project.filePath(picture)};

        const QByteArray oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        HtmlPreview preview;
        preview.resize(300, 300);
        preview.show();
        preview.findChild<QCheckBox *>(QStringLiteral("cFirstAddress"))->setChecked(recipientView);
        QSignalSpy finished(&preview, &HtmlPreview::finished);
        preview.showContent(content);
        qputenv("TMPDIR", oldTemp);
        QVERIFY(finished.wait(HtmlPreview::kLoadTimeoutMs + 5000));
        QCOMPARE(finished.constLast().constFirst().toBool(), true);

        QCOMPARE(colourAt(preview.view(), QPoint(50, 50), kGreen), kGreen);
        QCOMPARE(preview.view()->grab().toImage().pixelColor(200, 200), QColor(Qt::white));
        QFile::setPermissions(
            project.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(QDir(project.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
        QCOMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), {});
    }

    // A remote picture is not fetched until the button asks for it; a server that never
    // answers holds the load only until the wait runs out, and the large page's temporary
    // file goes then too.
    void remotePicture()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTemporaryDir temp;
        PreviewContent content;
        content.body = QStringLiteral("<img src='http://127.0.0.1:%1/x.png'><!--%2-->")
                           .arg(server.serverPort())
                           .arg(QString(800000, u'<'));
        const QByteArray oldTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        HtmlPreview preview;
        preview.show();
        QSignalSpy finished(&preview, &HtmlPreview::finished);
        preview.showContent(content);
        QVERIFY(finished.wait(HtmlPreview::kLoadTimeoutMs + 5000));
        QVERIFY(!server.waitForNewConnection(500));
        auto *button = preview.findChild<QPushButton *>(QStringLiteral("bRemotePictures"));
        QTRY_VERIFY(button->isEnabled());
        QElapsedTimer clock;
        clock.start();
        button->click();
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 10000);
        qputenv("TMPDIR", oldTemp);
        QVERIFY(finished.wait(HtmlPreview::kLoadTimeoutMs + 5000));
        QCOMPARE(finished.constLast().constFirst().toBool(), false);
        QVERIFY(clock.elapsed() >= HtmlPreview::kLoadTimeoutMs - 100);
        QCOMPARE(QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), {});
        server.close();
    }

    // The recipient's view fills the macros and leaves a picture the list lacks unresolved.
    void recipientHtml()
    {
        PreviewContent content;
        content.body = QStringLiteral("%TO%|%FROM%|%SUBJECT%|<img src=\"C:\\a\\x.gif\">");
        content.firstAddressLine = QStringLiteral("Jan <jan@x.cz>");
        content.from = QStringLiteral("me@x.cz");
        content.subject = QStringLiteral("Hi");
        content.pictures = {QStringLiteral("/p/y.gif")};
        QCOMPARE(HtmlPreview::recipientHtml(content),
            QStringLiteral(
                "Jan &lt;jan@x.cz&gt;|me@x.cz|Hi|<img src=\"cid:x.gif@preview.kolporta\">"));
        content.pictures << QStringLiteral("/p/x.gif");
        QCOMPARE(HtmlPreview::recipientHtml(content),
            QStringLiteral("Jan &lt;jan@x.cz&gt;|me@x.cz|Hi|<img src=\"file:///p/x.gif\">"));
    }
};

int main(int argc, char **argv)
{
    // Chromium's sandbox cannot run as root or in most containers, and there is no GPU here.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestPreview test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Preview.moc"
