// Clang thread-safety annotations (checked by -Wthread-safety in clang builds, where a violation
// is an error). Under GCC they expand to nothing.
//
// Fields that a lock protects carry GUARDED_BY (PT_GUARDED_BY for what a pointer field points
// to); lock classes carry CAPABILITY, their guards SCOPED_CAPABILITY; a function that takes or
// releases a lock says so with ACQUIRE / RELEASE (and their _SHARED forms for read locks), and a
// helper that expects the lock held says REQUIRES. NO_THREAD_SAFETY_ANALYSIS goes with a comment
// saying why the analysis cannot follow the function.
#pragma once

#if defined(__clang__)
#define KIV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KIV_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KIV_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY KIV_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KIV_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) KIV_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) KIV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KIV_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) KIV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KIV_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) KIV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KIV_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) KIV_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KIV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) KIV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) KIV_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KIV_THREAD_ANNOTATION(no_thread_safety_analysis)
