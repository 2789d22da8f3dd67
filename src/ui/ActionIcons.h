#pragma once

#include <QIcon>

namespace kolporta::ui {

// The number of pictures of the action list; their indexes are 0 to actionIconCount - 1.
inline constexpr int actionIconCount = 17;

// The picture of the action list at `index`: 0 new, 1 open, 2 save, 3 save as, 4 copy,
// 5 paste, 6 cut, 7 delete, 8 sort alphabetically, 9 sort by domain, 10 lower case, 11 about,
// 12 add attachment, 13 remove attachment, 14 block addresses, 15 send, 16 load message
// content. The desktop theme's icons of the matching freedesktop names are used when the theme
// has all of them; otherwise, and for the roles no name fits, the bundled 16x16 set is, so
// the set stays of one style and no button is ever blank. An index outside the range gives
// a null icon.
QIcon actionIcon(int index);

// The program's own icon: the installed theme icon, else the bundled one.
QIcon applicationIcon();

} // namespace kolporta::ui
