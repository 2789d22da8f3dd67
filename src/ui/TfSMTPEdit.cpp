#include "ui/TfSMTPEdit.h"
#include "ui_TfSMTPEdit.h"

#include "settings/EditSmtpProfile.h"
#include "settings/HomeFolder.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>

namespace kolporta::ui {

namespace {

// The "Security" values of the three fixed items of cbSecurity, in their order.
const QString securityKeys[] = {QString(), QStringLiteral("STARTTLS"), QStringLiteral("SSL")};
constexpr int fixedSecurityItems = 3;

} // namespace

TfSMTPEdit::TfSMTPEdit(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TfSMTPEdit>())
{
    m_ui->setupUi(this);
    m_ui->Label1->setContentsMargins(0, 8, 0, 0);
    // The three short fields share one width, so their right edges line up.
    const int shortWidth
        = std::max(m_ui->cbSecurity->sizeHint().width(), m_ui->eTimeout->sizeHint().width());
    for (QWidget *field : {static_cast<QWidget *>(m_ui->eSMTPPort),
             static_cast<QWidget *>(m_ui->cbSecurity), static_cast<QWidget *>(m_ui->eTimeout)})
        field->setFixedWidth(shortWidth);
    // The key filter sees typed characters only; composed input would pass around it.
    m_ui->eSMTPPort->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_ui->eSMTPPort->installEventFilter(this);
    connect(m_ui->bCAFile, &QToolButton::clicked, this, &TfSMTPEdit::chooseCAFile);
}

TfSMTPEdit::~TfSMTPEdit() = default;

void TfSMTPEdit::setFields(const settings::SmtpProfileFields &fields, bool nameEditable)
{
    m_ui->eSMTPName->setText(fields.name);
    m_ui->eSMTPName->setEnabled(nameEditable);
    m_ui->eSMTPServer->setText(fields.server);
    m_ui->eSMTPPort->setText(fields.port);
    m_ui->eSMTPUser->setText(fields.user);
    m_ui->eSMTPPassw->setText(fields.password);
    m_ui->eCAFile->setText(fields.caFile);

    // The client reads the key trimmed and in any case; a value it does not know is shown
    // as an item of its own rather than silently turned into "žádné".
    QComboBox *security = m_ui->cbSecurity;
    while (security->count() > fixedSecurityItems)
        security->removeItem(security->count() - 1);
    const QString key = fields.security.trimmed().toUpper();
    int index = -1;
    for (int i = 0; i < fixedSecurityItems; ++i) {
        if (key == securityKeys[i])
            index = i;
    }
    if (index < 0) {
        security->addItem(fields.security);
        index = fixedSecurityItems;
    }
    security->setCurrentIndex(index);
    m_readSecurity = fields.security;
    m_readSecurityIndex = index;

    // A timeout that is no positive number means the default, as the client reads it.
    bool ok = false;
    const int seconds = fields.timeout.trimmed().toInt(&ok);
    m_ui->eTimeout->setValue(ok && seconds > 0 ? seconds : 0);
    m_readTimeout = fields.timeout;
    m_readTimeoutValue = m_ui->eTimeout->value();
}

settings::SmtpProfileFields TfSMTPEdit::fields() const
{
    settings::SmtpProfileFields fields;
    fields.name = m_ui->eSMTPName->text();
    fields.server = m_ui->eSMTPServer->text();
    fields.port = m_ui->eSMTPPort->text();
    fields.user = m_ui->eSMTPUser->text();
    fields.password = m_ui->eSMTPPassw->text();
    fields.caFile = m_ui->eCAFile->text();

    const int index = m_ui->cbSecurity->currentIndex();
    if (index == m_readSecurityIndex)
        fields.security = m_readSecurity;
    else if (index >= 0 && index < fixedSecurityItems)
        fields.security = securityKeys[index];
    else
        fields.security = m_ui->cbSecurity->currentText();

    const int seconds = m_ui->eTimeout->value();
    if (seconds == m_readTimeoutValue)
        fields.timeout = m_readTimeout;
    else
        fields.timeout = seconds > 0 ? QString::number(seconds) : QString();
    return fields;
}

bool TfSMTPEdit::exec(settings::SmtpProfileFields *fields, bool nameEditable)
{
    setFields(*fields, nameEditable);
    if (QDialog::exec() != QDialog::Accepted)
        return false;
    *fields = this->fields();
    return true;
}

void TfSMTPEdit::showError(const QString &text)
{
    // The dialog has closed by now; the box belongs to the window that opened it.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Chyba"),
        QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')), QMessageBox::Ok,
        parentWidget());
    box.exec();
}

bool TfSMTPEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->eSMTPPort && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Delete and the Ctrl combinations (paste, copy, undo) are commands, not typed
        // characters, on every platform, though some report a letter or DEL as their text.
        if (key->key() == Qt::Key_Delete
            || key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))
            return false;
        const QString text = key->text();
        for (QChar c : text) {
            if (!settings::SmtpPortKeyAccepted(c))
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfSMTPEdit::chooseCAFile()
{
    // A relative path is read beside smtp.ini, so the chooser starts there too.
    const QString home = settings::HomeFolder::path();
    QString start = m_ui->eCAFile->text().trimmed();
    start = start.isEmpty() ? home : QFileInfo(QDir(home), start).absoluteFilePath();
    const QString file
        = QFileDialog::getOpenFileName(this, QStringLiteral("Soubor s certifikátem CA"), start,
            QStringLiteral("Certifikáty (*.pem *.crt *.cer);;Všechny soubory (*)"));
    if (!file.isEmpty())
        m_ui->eCAFile->setText(QDir::toNativeSeparators(file));
}

} // namespace kolporta::ui
