// Owners of Win32 handles (kernel handles, files, registry keys, mapped views, directory
// searches, libraries, windows), built on UniqueAny. Included by _win32.cpp files only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/unique_any.h"

namespace kiv {

// Traits of a handle of type `T` whose owning-nothing value is `InvalidValue` and which
// `CloseFn` releases.
template <typename T, auto CloseFn, std::intptr_t InvalidValue>
struct HandleTraits {
  using type = T;
  static type Invalid() noexcept { return reinterpret_cast<T>(InvalidValue); }
  static void Close(type value) noexcept { CloseFn(value); }
};

inline void CloseHandleValue(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseKeyValue(HKEY k) noexcept { ::RegCloseKey(k); }
inline void UnmapViewValue(void* view) noexcept { ::UnmapViewOfFile(view); }
inline void FindCloseValue(HANDLE h) noexcept { ::FindClose(h); }
inline void FreeLibraryValue(HMODULE m) noexcept { ::FreeLibrary(m); }
inline void DestroyWindowValue(HWND w) noexcept { ::DestroyWindow(w); }

// A handle whose invalid value is INVALID_HANDLE_VALUE (files).
using UniqueFile = UniqueAny<HandleTraits<HANDLE, CloseHandleValue, -1>>;
// A handle whose invalid value is null (events, mappings, threads).
using UniqueHandle = UniqueAny<HandleTraits<HANDLE, CloseHandleValue, 0>>;
using UniqueKey = UniqueAny<HandleTraits<HKEY, CloseKeyValue, 0>>;
using UniqueView = UniqueAny<HandleTraits<void*, UnmapViewValue, 0>>;
// A directory search of FindFirstFile.
using UniqueFind = UniqueAny<HandleTraits<HANDLE, FindCloseValue, -1>>;
// A library of LoadLibrary.
using UniqueLibrary = UniqueAny<HandleTraits<HMODULE, FreeLibraryValue, 0>>;
// A window of CreateWindow; destroy it on the thread that created it.
using UniqueWindow = UniqueAny<HandleTraits<HWND, DestroyWindowValue, 0>>;

}  // namespace kiv
