// Symbol visibility. Brenvo builds with hidden visibility; whatever a host may use is marked
// BRENVO_EXPORT so it stays visible in the shared libraries.
#pragma once

// Brenvo's headers need C++20; hosts may use any later standard.
#if defined(__cplusplus) && __cplusplus < 202002L
#error "Brenvo needs C++20 or later: compile with -std=c++20 (or a later standard)"
#endif

// Windows: a DLL exports what it defines (BRENVO_BUILDING, set while a Brenvo library is built)
// and its users import it; users of static libraries define BRENVO_STATIC (the CMake targets do).
#if defined(_WIN32)
#if defined(BRENVO_STATIC)
#define BRENVO_EXPORT
#elif defined(BRENVO_BUILDING)
#define BRENVO_EXPORT __declspec(dllexport)
#else
#define BRENVO_EXPORT __declspec(dllimport)
#endif
#else
#define BRENVO_EXPORT __attribute__((visibility("default")))
#endif
