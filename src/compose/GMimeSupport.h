#pragma once

#include <memory>

namespace kolporta::compose {

// Initialises GMime once per process, from whichever thread gets there first. Every code
// path that touches GMime calls it; callers never include GMime headers themselves.
void ensureGMimeInitialized();

// Drops one GObject reference (g_object_unref), so that owning pointers to GMime objects
// need no GLib header here.
void unrefGObject(void *object);

template <typename T> struct GObjectDeleter
{
    void operator()(T *object) const
    {
        if (object)
            unrefGObject(object);
    }
};

// Owns one reference to a GMime object.
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectDeleter<T>>;

} // namespace kolporta::compose
