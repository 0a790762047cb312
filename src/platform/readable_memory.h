// Readability tests of addresses that foreign code hands us, so that a bad pointer becomes an
// error code instead of a fault: a structured exception would pass through our frames without
// running their destructors. Any thread; the answer holds only as long as the owner keeps the
// memory.
#pragma once

#include <cstddef>
#include <string_view>

namespace kiv {

// Whether the `size` bytes at `address` are committed and readable now. True for size 0. On
// Windows the pages are read under the structured-exception guard; natively the kernel reads them.
bool IsReadableMemory(const void* address, size_t size) noexcept;

// Whether each of the `count` addresses at `addresses` (an array the caller has checked) has
// `size` readable bytes: IsReadableMemory of each, in one check for the lot (on Windows one
// guarded pass instead of one guard per address). True for count 0.
bool IsReadableEach(const void* const* addresses, size_t count, size_t size) noexcept;

// The same answer from the system's description of the pages, without reading them: slower, but
// usable inside an exception handler (the frame walk of a fault). Natively as IsReadableMemory.
bool IsMappedReadable(const void* address, size_t size) noexcept;

// Copies the `size` bytes at `source` to `target` when they are all readable; false (target
// unspecified) otherwise. Natively the copy goes through the kernel, so memory that was freed
// can be inspected without the sanitizers taking it for a use after free.
bool ReadableCopy(void* target, const void* source, size_t size) noexcept;

// The zero-terminated text at `text`, checking each page before reading it. False when the text
// is null, runs into unreadable memory before its terminator, or is longer than `max_length`.
bool ReadableText(const char* text, std::string_view& out, size_t max_length = 0x7FFFFFFF) noexcept;
bool ReadableText(const char16_t* text, std::u16string_view& out,
                  size_t max_length = 0x3FFFFFFF) noexcept;

// Reads foreign memory for one walk over a structure of someone else's (a host's list with its
// items, strings and values). Copy copies `size` bytes, Touch tells whether they can be read;
// both are false for null, a wrapping range or memory that cannot be read.
struct ForeignReader {
  bool (*Copy)(void* target, const void* source, size_t size) noexcept;
  bool (*Touch)(const void* address, size_t size) noexcept;
};
using ForeignWalk = bool (*)(const ForeignReader& reader, void* context);

// Runs walk(reader, context) and returns its answer; false when the walk met memory that cannot
// be read. On Windows the whole walk runs under one guard and reads directly (one registration
// instead of one per read); natively each read is checked by the kernel. The walk holds nothing
// with a destructor and takes no lock: a fault abandons it.
bool WalkForeignMemory(ForeignWalk walk, void* context) noexcept;

// ReadableText inside a walk: the pages are checked through `reader`.
bool ReadableText(const ForeignReader& reader, const char* text, std::string_view& out) noexcept;
bool ReadableText(const ForeignReader& reader, const char16_t* text, std::u16string_view& out) noexcept;

// Whether the `size` bytes at `address` are committed and writable now. The test changes no
// byte (each page gets an atomic add of zero), so memory that other threads use is safe. True
// for size 0. Natively the pages' protection is asked from the kernel.
bool IsWritableMemory(void* address, size_t size) noexcept;

#if defined(_WIN32)
// Inside a structured-exception guard only (an entry point's, which reads the host's record
// under it): adds zero to one byte of every page of the range with a locked instruction, so
// that a page that cannot be written faults there, in that guard. No byte changes, even under
// concurrent writers. The range must not wrap.
void TouchForWriteInGuard(void* address, size_t size) noexcept;
#endif

// Copies the `size` bytes at `source` into foreign memory at `target`; false when `target`
// cannot be written (on Windows a fault partway leaves the bytes before it written). `source`
// is ours and readable.
bool WritableCopy(void* target, const void* source, size_t size) noexcept;

}  // namespace kiv
