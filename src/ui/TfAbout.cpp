#include "ui/TfAbout.h"
#include "ui_TfAbout.h"

#include "ui/ActionIcons.h"
#include "ui/HelpPage.h"

#include <QDesktopServices>
#include <QUrl>

namespace kolporta::ui {

namespace {

constexpr int contentWidth = 322;

QString link(const QString &href, const QString &text)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(href.toHtmlEscaped(), text.toHtmlEscaped());
}

} // namespace

TfAbout::TfAbout(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TfAbout>())
{
    m_ui->setupUi(this);
    setWindowFlags(
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    QPalette band = m_ui->Panel1->palette();
    band.setColor(QPalette::Window, Qt::white);
    band.setColor(QPalette::WindowText, Qt::black);
    m_ui->Panel1->setPalette(band);
    // A word-wrapped label has no natural width: give it the window's, and the height the
    // text needs at that width, so the fixed-size window neither clips nor stretches it.
    const QMargins margins = m_ui->Panel1->layout()->contentsMargins();
    const int textWidth = contentWidth - margins.left() - margins.right();
    m_ui->Label1->setFixedSize(textWidth, m_ui->Label1->heightForWidth(textWidth));

    const qreal ratio = devicePixelRatioF();
    m_ui->Image1->setPixmap(applicationIcon().pixmap(QSize(96, 96), ratio));

    m_ui->Label4->setText(makerName());
    m_ui->lEmail->setText(link(supportMailAddress(), supportMailAddress()));
    connect(m_ui->lEmail, &QLabel::linkActivated, this, &TfAbout::lEmailClick);
    m_ui->lWWW->setText(link(webPageUrl().toString(), webPageUrl().host()));
    m_ui->lWWW->setOpenExternalLinks(true);
    m_ui->lVersion->setText(versionText(QStringLiteral(KOLPORTA_VERSION)));
}

TfAbout::~TfAbout() = default;

QString TfAbout::versionText(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    if (parts.size() == 4) {
        return QStringList(parts.mid(0, 3)).join(QLatin1Char('.')) + QStringLiteral("   (")
            + parts.at(3) + QLatin1Char(')');
    }
    return version;
}

void TfAbout::lEmailClick()
{
    // The mail program gets the version in the subject; blanks must be escaped in the URL.
    QString mail = QStringLiteral("mailto:") + supportMailAddress()
        + QStringLiteral("?subject=Kolporta verze ") + m_ui->lVersion->text();
    mail.replace(QLatin1Char(' '), QStringLiteral("%20"));
    QDesktopServices::openUrl(QUrl(mail));
}

} // namespace kolporta::ui
