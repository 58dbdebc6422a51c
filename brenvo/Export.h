// Symbol visibility. Brenvo builds with hidden visibility; whatever a host may use is marked
// BRENVO_EXPORT so it stays visible in the shared libraries.
#pragma once

// Brenvo's headers need C++20; hosts may use any later standard.
#if defined(__cplusplus) && __cplusplus < 202002L
#error "Brenvo needs C++20 or later: compile with -std=c++20 (or a later standard)"
#endif

#if defined(_WIN32)
#define BRENVO_EXPORT
#else
#define BRENVO_EXPORT __attribute__((visibility("default")))
#endif
