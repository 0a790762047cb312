// Owning wrappers of Win32 handles (HANDLE, HKEY, mapped views), in the manner of WIL's
// unique_any: reset() and move-assignment release the old value. Included by _win32.cpp files
// only. A wrapper is used by one thread at a time.
#pragma once

#include <windows.h>

#include <utility>

namespace kiv {

template <typename T, auto Close, auto InvalidValue>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  ~UniqueAny() { reset(); }
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;

  T get() const { return value_; }
  bool valid() const { return value_ != Invalid(); }
  explicit operator bool() const { return valid(); }
  // Releases the held value and takes `value`.
  void reset(T value = Invalid()) {
    T old = std::exchange(value_, value);
    if (old != Invalid()) Close(old);
  }
  T release() { return std::exchange(value_, Invalid()); }
  // Address for out-parameters; releases the held value first.
  T* put() {
    reset();
    return &value_;
  }

 private:
  static T Invalid() { return reinterpret_cast<T>(InvalidValue); }
  T value_ = Invalid();
};

inline void CloseHandleValue(HANDLE h) { ::CloseHandle(h); }
inline void CloseKeyValue(HKEY k) { ::RegCloseKey(k); }
inline void UnmapViewValue(void* view) { ::UnmapViewOfFile(view); }
inline void FindCloseValue(HANDLE h) { ::FindClose(h); }

// A handle whose invalid value is INVALID_HANDLE_VALUE (files).
using UniqueFile = UniqueAny<HANDLE, CloseHandleValue, static_cast<std::intptr_t>(-1)>;
// A handle whose invalid value is null (events, mappings).
using UniqueHandle = UniqueAny<HANDLE, CloseHandleValue, static_cast<std::intptr_t>(0)>;
using UniqueKey = UniqueAny<HKEY, CloseKeyValue, static_cast<std::intptr_t>(0)>;
using UniqueView = UniqueAny<void*, UnmapViewValue, static_cast<std::intptr_t>(0)>;
// A directory search of FindFirstFile.
using UniqueFind = UniqueAny<HANDLE, FindCloseValue, static_cast<std::intptr_t>(-1)>;

}  // namespace kiv
