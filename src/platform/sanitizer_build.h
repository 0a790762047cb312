// Whether this build runs under AddressSanitizer or ThreadSanitizer. Those must see every
// allocation and free as it happens, so pools of our own step aside for them. GCC says so with
// __SANITIZE_ADDRESS__ and __SANITIZE_THREAD__; clang (before version 16) only through
// __has_feature.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KIV_SANITIZER_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KIV_SANITIZER_BUILD 1
#endif
#endif
#ifndef KIV_SANITIZER_BUILD
#define KIV_SANITIZER_BUILD 0
#endif

namespace kiv {

inline constexpr bool kSanitizerBuild = KIV_SANITIZER_BUILD != 0;

}  // namespace kiv
