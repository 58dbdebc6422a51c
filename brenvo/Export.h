// Symbol visibility. Brenvo builds with hidden visibility; whatever a host may use is marked
// BRENVO_EXPORT so it stays visible in the shared libraries.
#pragma once

#if defined(_WIN32)
#define BRENVO_EXPORT
#else
#define BRENVO_EXPORT __attribute__((visibility("default")))
#endif
