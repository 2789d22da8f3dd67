#pragma once

#include <QString>
#include <QUrl>

namespace kolporta::ui {

// The Czech help page as a file URL: the installed copy (share/kolporta/help beside the
// program's bin folder) when it exists, else the copy in the source tree, so a program run
// from its build folder finds it too. F1 opens it in the desktop's browser.
QUrl helpPageUrl();

// The maker's web page ("Navštívit stránku programu", the About window).
QUrl webPageUrl();

// The maker's name and support mail address, shown in the About window.
QString makerName();
QString supportMailAddress();

} // namespace kolporta::ui
