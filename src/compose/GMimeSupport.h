#pragma once

namespace kolporta::compose {

// Initialises GMime once per process, from whichever thread gets there first. Every code
// path that touches GMime calls it; callers never include GMime headers themselves.
void ensureGMimeInitialized();

} // namespace kolporta::compose
