// Loading a library by its full file name and finding its exports: LoadLibraryA, GetProcAddress
// and FreeLibrary on Windows, dlopen and its siblings elsewhere.
//
// Any thread; the platform counts loads, so a library loaded twice needs two frees.
#pragma once

#include <string>

#include "platform/unique_any.h"

namespace kiv {

using LibraryHandle = void*;

// The library at `fileName` (8-bit, system code page), or null when it cannot be loaded.
LibraryHandle LoadLibraryFile(const std::string& fileName) noexcept;
// Why the last LoadLibraryFile of the calling thread failed, as the system words it ("The
// specified module could not be found. (error 126)"); call it right after the failed load.
// Empty when the system gives no reason or on failure.
std::string LibraryLoadError() noexcept;
// The address of the export `name`, or null when it is missing or `library` is null.
void* LibrarySymbol(LibraryHandle library, const char* name) noexcept;
// Drops one load of `library` (null: nothing). False when the platform refused.
bool FreeLibraryFile(LibraryHandle library) noexcept;

struct LibraryFileTraits {
  using type = LibraryHandle;
  static type Invalid() noexcept { return nullptr; }
  static void Close(type library) noexcept { FreeLibraryFile(library); }
};
// Owns one load of a library: drops it on reset, move-assignment and destruction.
using UniqueLibraryFile = UniqueAny<LibraryFileTraits>;

}  // namespace kiv
