#include "ui/ActionIcons.h"

// The pictures are compiled into this static library, whose resource initialiser the linker
// would drop because nothing refers to it.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace kolporta::ui {

namespace {

struct Picture
{
    const char *themeName; // nullptr: no freedesktop name fits the role
    const char *bundled; // file under :/kolporta/icons/
};

// clang-format off
constexpr Picture pictures[actionIconCount] = {
    {"document-new", "document-new"},
    {"document-open", "document-open"},
    {"document-save", "document-save"},
    {"document-save-as", "document-save-as"},
    {"edit-copy", "edit-copy"},
    {"edit-paste", "edit-paste"},
    {"edit-cut", "edit-cut"},
    {"edit-delete", "edit-delete"},
    {"view-sort-ascending", "sort-alphabetically"},
    {nullptr, "sort-by-domain"},
    {"format-text-lowercase", "lower-case"},
    {"help-about", "help-about"},
    {"list-add", "attachment-add"}, // adds to the list of pictures or attachments
    {"list-remove", "attachment-remove"},
    {"mail-mark-junk", "block-addresses"},
    {"mail-send", "mail-send"},
    {"document-import", "load-content"},
};
// clang-format on

QIcon bundledIcon(const char *name)
{
    static const bool initialised = (initIconResources(), true);
    Q_UNUSED(initialised);
    return QIcon(QStringLiteral(":/kolporta/icons/%1.svg").arg(QLatin1String(name)));
}

// A theme's pictures mixed with bundled ones look patched together, so the theme is used
// only when it has a picture for every role that has a freedesktop name.
bool themeIsComplete()
{
    for (const Picture &picture : pictures) {
        if (picture.themeName && !QIcon::hasThemeIcon(QLatin1String(picture.themeName)))
            return false;
    }
    return true;
}

} // namespace

QIcon actionIcon(int index)
{
    if (index < 0 || index >= actionIconCount)
        return QIcon();
    const Picture &picture = pictures[index];
    const QIcon bundled = bundledIcon(picture.bundled);
    if (!picture.themeName || !themeIsComplete())
        return bundled;
    return QIcon::fromTheme(QLatin1String(picture.themeName), bundled);
}

QIcon applicationIcon()
{
    return QIcon::fromTheme(QStringLiteral("org.kolporta.Kolporta"), bundledIcon("kolporta"));
}

} // namespace kolporta::ui
