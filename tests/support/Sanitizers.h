// Whether the tests run under AddressSanitizer, however the compiler says so: GCC defines
// __SANITIZE_ADDRESS__, clang answers __has_feature(address_sanitizer).
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define BRENVO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRENVO_TEST_ASAN 1
#endif
#endif
