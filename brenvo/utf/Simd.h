// Whether the SSE2 kernels are compiled. They are wherever the compiler targets SSE2 (every
// x86-64), unless BRENVO_NO_SIMD is defined; every kernel has a portable form of the same
// result, which other machines use and which BRENVO_NO_SIMD selects on x86-64 as well, so that
// it is built and tested there too. Test BRENVO_SSE2, never __SSE2__, around a kernel.
#pragma once

#if defined(__SSE2__) && !defined(BRENVO_NO_SIMD)
#define BRENVO_SSE2 1
#include <emmintrin.h>
#endif

// Whether the NEON kernels are compiled: on little-endian 64-bit ARM, unless BRENVO_NO_SIMD is
// defined. Only some kernels have a NEON form; the others take the portable one there.
#if defined(__aarch64__) && defined(__ARM_NEON) && (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) &&  \
    !defined(BRENVO_NO_SIMD)
#define BRENVO_NEON 1
#include <arm_neon.h>
#endif
