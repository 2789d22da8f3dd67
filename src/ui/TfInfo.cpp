#include "ui/TfInfo.h"

#include "ui_TfInfo.h"

#include <QGuiApplication>
#include <QScreen>

namespace kolporta::ui {

TfInfo::TfInfo(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TfInfo>())
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // A title but no buttons in it: the window is closed by its own button or by the run.
    setWindowFlags(
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFixedSize(sizeHint().expandedTo(QSize(248, 65)));
    connect(m_ui->Button1, &QPushButton::clicked, this, &TfInfo::Button1Click);
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    move(screen ? screen->availableGeometry().topLeft() : QPoint(0, 0));
}

TfInfo::~TfInfo() = default;

void TfInfo::Button1Click()
{
    if (!m_done) {
        m_done = true;
        emit cancelRequested();
    }
    QDialog::reject(); // closes, and so deletes, the window
}

void TfInfo::closeQuietly()
{
    m_done = true;
    close();
}

void TfInfo::reject()
{
    // Esc and closing the window by other means count as the button.
    Button1Click();
}

} // namespace kolporta::ui
