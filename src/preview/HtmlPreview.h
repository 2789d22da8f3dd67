#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <memory>

class QCheckBox;
class QPushButton;
class QTemporaryFile;
class QTimer;
class QWebEngineProfile;
class QWebEngineView;

namespace kolporta::preview {

// What the preview shows: the body's HTML source, and for the recipient's view the values
// the first message gets.
struct PreviewContent
{
    QString body;
    QString baseFolder; // relative references resolve here: the project's folder
    QString firstAddressLine; // the first non-blank address line, for "%TO%"
    QString from;
    QString subject;
    QStringList pictures; // the picture list, attached to the message as "cid:" parts
};

// The HTML preview page: a web view that shows the body as a mail reader would. Remote content
// (http and https) is blocked and JavaScript is off, as mail readers do; a button loads the
// remote pictures for this preview. The check box "Náhled pro první adresu" shows the body as
// the first address receives it: macros filled in and pictures resolved through the picture
// list. The body is handed to the view directly (a large body through a temporary file outside
// the project's folder, removed once loaded), and a load that has not finished after
// kLoadTimeoutMs stops and shows what it has. Loads never overlap: content given while one runs
// is shown after it.
class HtmlPreview : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLoadTimeoutMs = 10000;

    explicit HtmlPreview(QWidget *parent = nullptr);
    ~HtmlPreview() override;

    // Starts showing the content and returns at once; finished() follows.
    void showContent(const PreviewContent &content);
    bool isLoading() const { return m_loading; }

    QWebEngineView *view() const { return m_view; }

    // The body as the first address receives it, its "cid:" pictures pointing at the files of
    // the picture list with the same Content-ID; a picture the list lacks stays unresolved.
    static QString recipientHtml(const PreviewContent &content);

    // Whether the HTML, encoded as the view's direct load needs it, is too long for one.
    static bool needsTemporaryFile(const QByteArray &utf8Html);

signals:
    // The load ended: ok is false when it failed or the wait ran out.
    void finished(bool ok);

private:
    class Blocker;
    class Page;

    void startLoad();
    void loadEnded(bool ok);
    void remoteRequestBlocked();

    QWebEngineProfile *m_profile;
    std::unique_ptr<Blocker> m_blocker;
    Page *m_page;
    QWebEngineView *m_view;
    QCheckBox *m_recipientView;
    QPushButton *m_remotePictures;
    QTimer *m_timeout;
    std::unique_ptr<QTemporaryFile> m_file;
    PreviewContent m_content;
    bool m_loading = false;
    bool m_pending = false;
};

} // namespace kolporta::preview
