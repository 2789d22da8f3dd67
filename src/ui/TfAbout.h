#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TfAbout;
}

namespace kolporta::ui {

// The About window "O programu": what the program does, its maker with a mail link and the
// web page, and the version the build was made from. Modal; create one per showing, on the
// stack, with the main window as parent.
class TfAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfAbout(QWidget *parent = nullptr);
    ~TfAbout() override;

    // The version text: "major.minor.patch", or "major.minor.patch   (tweak)" for a version
    // of four parts, the build number standing in parentheses.
    static QString versionText(const QString &version);

private:
    void lEmailClick();

    std::unique_ptr<Ui::TfAbout> m_ui;
};

} // namespace kolporta::ui
