// Whether the SSE2 kernels are compiled. They are wherever the compiler targets SSE2 (every
// x86-64), unless BRENVO_NO_SIMD is defined; every kernel has a portable form of the same
// result, which other machines use and which BRENVO_NO_SIMD selects on x86-64 as well, so that
// it is built and tested there too. Test BRENVO_SSE2, never __SSE2__, around a kernel.
#pragma once

#if defined(__SSE2__) && !defined(BRENVO_NO_SIMD)
#define BRENVO_SSE2 1
#include <emmintrin.h>
#endif
