#include "preview/HtmlPreview.h"

#include "compose/MessageAssembly.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <atomic>

namespace kolporta::preview {

namespace {

// The longest data URL the view accepts; setHtml percent-encodes the page into one.
constexpr qsizetype kMaxDataUrl = 2 * 1024 * 1024;

bool isLocalScheme(const QString &scheme)
{
    return scheme == QLatin1String("file") || scheme == QLatin1String("data")
        || scheme == QLatin1String("blob") || scheme == QLatin1String("about")
        || scheme == QLatin1String("qrc");
}

bool isRemoteScheme(const QString &scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

qsizetype indexOfTag(QStringView html, QLatin1StringView tag)
{
    return html.indexOf(tag, 0, Qt::CaseInsensitive);
}

// A page that lives in a file of its own needs the base folder written into it.
QString withBaseElement(QString html, const QUrl &base)
{
    const QString element = QStringLiteral("<base href=\"%1\">")
                                .arg(QString::fromLatin1(base.toEncoded()).toHtmlEscaped());
    qsizetype at = 0;
    const qsizetype head = indexOfTag(html, QLatin1StringView("<head"));
    const qsizetype doctype = indexOfTag(html, QLatin1StringView("<!doctype"));
    if (head >= 0 && head + 5 < html.size()
        && (html[head + 5] == u'>' || html[head + 5].isSpace())) {
        const qsizetype close = html.indexOf(u'>', head);
        at = close < 0 ? html.size() : close + 1;
    } else if (doctype >= 0) {
        const qsizetype close = html.indexOf(u'>', doctype);
        at = close < 0 ? html.size() : close + 1;
    }
    html.insert(at, element);
    return html;
}

} // namespace

// Blocks every request but local ones, and http and https too unless remote content is
// allowed for the current preview.
class HtmlPreview::Blocker : public QWebEngineUrlRequestInterceptor
{
public:
    explicit Blocker(HtmlPreview *owner)
        : m_owner(owner)
    { }

    std::atomic<bool> allowRemote = false;

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QString scheme = info.requestUrl().scheme();
        if (isLocalScheme(scheme) || (allowRemote && isRemoteScheme(scheme)))
            return;
        info.block(true);
        if (isRemoteScheme(scheme))
            QMetaObject::invokeMethod(
                m_owner, &HtmlPreview::remoteRequestBlocked, Qt::QueuedConnection);
    }

private:
    HtmlPreview *m_owner;
};

// Only the preview's own loads navigate the page; a clicked link opens in the desktop's
// browser, and nothing else (a refresh, a form) leaves the preview.
class HtmlPreview::Page : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;

    bool expectLoad = false;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame)
            return true; // a frame's content still passes the blocker
        if (expectLoad && type != NavigationTypeLinkClicked) {
            expectLoad = false;
            return true;
        }
        if (type == NavigationTypeLinkClicked
            && (isRemoteScheme(url.scheme()) || url.scheme() == QLatin1String("mailto")))
            QDesktopServices::openUrl(url);
        return false;
    }
};

HtmlPreview::HtmlPreview(QWidget *parent)
    : QWidget(parent)
    , m_profile(new QWebEngineProfile(this)) // off the record: nothing is stored on disk
    , m_blocker(std::make_unique<Blocker>(this))
    , m_timeout(new QTimer(this))
{
    m_profile->setUrlRequestInterceptor(m_blocker.get());
    m_page = new Page(m_profile, this);
    QWebEngineSettings *settings = m_page->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    // The page is local content (a file base); whether it may reach the network is the
    // blocker's decision alone.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);

    m_recipientView = new QCheckBox(QStringLiteral("Náhled pro první adresu"), this);
    m_recipientView->setObjectName(QStringLiteral("cFirstAddress"));
    m_remotePictures = new QPushButton(QStringLiteral("Načíst obrázky z internetu"), this);
    m_remotePictures->setObjectName(QStringLiteral("bRemotePictures"));
    m_remotePictures->setToolTip(QStringLiteral("Načíst do tohoto náhledu i obrázky z internetu"));
    m_remotePictures->setEnabled(false);
    m_view = new QWebEngineView(this);
    m_view->setObjectName(QStringLiteral("WebBrowser"));
    m_view->setPage(m_page);

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_recipientView);
    bar->addStretch(1);
    bar->addWidget(m_remotePictures);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);

    m_timeout->setSingleShot(true);
    m_timeout->setTimerType(Qt::PreciseTimer);
    m_timeout->setInterval(kLoadTimeoutMs);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        m_view->stop(); // what has arrived stays on show
        loadEnded(false);
    });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (m_loading)
            loadEnded(ok);
    });
    connect(m_recipientView, &QCheckBox::toggled, this, [this] { showContent(m_content); });
    connect(m_remotePictures, &QPushButton::clicked, this, [this] {
        m_blocker->allowRemote = true;
        m_remotePictures->setEnabled(false);
        m_pending = true;
        if (!m_loading)
            startLoad();
    });
}

HtmlPreview::~HtmlPreview()
{
    // The page goes before its profile, and the profile before its interceptor.
    delete m_view;
    delete m_page;
    delete m_profile;
}

void HtmlPreview::showContent(const PreviewContent &content)
{
    m_content = content;
    m_blocker->allowRemote = false;
    m_remotePictures->setEnabled(false);
    m_pending = true;
    if (!m_loading)
        startLoad();
}

bool HtmlPreview::needsTemporaryFile(const QByteArray &utf8Html)
{
    // setHtml makes "data:text/html;charset=UTF-8," followed by the percent-encoded page.
    qsizetype length = 64;
    for (char c : utf8Html) {
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
            || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        length += unreserved ? 1 : 3;
    }
    return length > kMaxDataUrl;
}

QString HtmlPreview::recipientHtml(const PreviewContent &content)
{
    // The body as the message carries it, its picture references turned into Content-IDs,
    // and each Content-ID then into the picture's own file, as a mail reader resolves it.
    const QByteArray domain = QByteArrayLiteral("preview.kolporta");
    const QString html = compose::ApplyMacros(
        compose::PrepareHtmlBody(content.body, false, content.pictures, domain),
        content.firstAddressLine, content.from, content.subject, true);
    compose::ContentIds ids(content.pictures, domain);
    QHash<QString, QString> files;
    for (const QString &picture : content.pictures) {
        QString url = QString::fromLatin1(
            QUrl::fromLocalFile(QFileInfo(picture).absoluteFilePath()).toEncoded());
        url.replace(u'\'', QLatin1String("%27"));
        files.insert(QString::fromLatin1(ids.ofPicture(QFileInfo(picture).fileName())), url);
    }
    static const QRegularExpression cid(QStringLiteral("cid:([A-Za-z0-9._-]+@[A-Za-z0-9._-]+)"));
    QString result;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = cid.globalMatch(html);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const auto file = files.constFind(match.captured(1));
        if (file == files.constEnd())
            continue;
        result += QStringView(html).sliced(copied, match.capturedStart(0) - copied);
        result += *file;
        copied = match.capturedEnd(0);
    }
    result += QStringView(html).sliced(copied);
    return result;
}

void HtmlPreview::startLoad()
{
    m_pending = false;
    m_loading = true;
    m_file.reset();
    const QString html = m_recipientView->isChecked() ? recipientHtml(m_content) : m_content.body;
    QString folder = m_content.baseFolder.isEmpty() ? QDir::currentPath() : m_content.baseFolder;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QUrl base = QUrl::fromLocalFile(folder);

    m_page->expectLoad = true;
    m_timeout->start();
    const QByteArray bytes = html.toUtf8();
    if (!needsTemporaryFile(bytes)) {
        m_page->setHtml(html, base);
        return;
    }
    // Too long for a direct load: a temporary file in the system's temporary folder, never in
    // the project's folder (which may be read-only); the byte-order mark settles the encoding
    // whatever the page declares.
    m_file = std::make_unique<QTemporaryFile>(
        QDir::tempPath() + QStringLiteral("/kolporta-preview-XXXXXX.html"));
    if (!m_file->open() || m_file->write("\xEF\xBB\xBF") != 3
        || m_file->write(withBaseElement(html, base).toUtf8()) < 0 || !m_file->flush()) {
        m_file.reset();
        m_page->setHtml(QStringLiteral("<p>Náhled nelze připravit: v dočasné složce nelze "
                                       "vytvořit soubor.</p>"));
        return;
    }
    m_file->close();
    m_page->load(QUrl::fromLocalFile(m_file->fileName()));
}

void HtmlPreview::loadEnded(bool ok)
{
    m_timeout->stop();
    m_page->expectLoad = false;
    m_file.reset(); // the page is read: its file goes
    m_loading = false;
    if (m_pending)
        startLoad();
    else
        emit finished(ok);
}

void HtmlPreview::remoteRequestBlocked()
{
    if (!m_blocker->allowRemote)
        m_remotePictures->setEnabled(true);
}

} // namespace kolporta::preview
