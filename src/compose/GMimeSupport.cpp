#include "compose/GMimeSupport.h"

#include <gmime/gmime.h>

#include <mutex>

namespace kolporta::compose {

void ensureGMimeInitialized()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

void unrefGObject(void *object)
{
    g_object_unref(object);
}

} // namespace kolporta::compose
