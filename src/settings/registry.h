// Registry access for the settings component behind a small seam: on Windows the Win32
// registry (keys opened with full access), natively a process-wide in-memory store with the
// same layout (root, key path, value name, value type). One TRegistry object per thread; the
// store itself may be used from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_any.h"

namespace kiv {

// Predefined roots and value types, with their Win32 numbers.
constexpr std::uint32_t kHKeyClassesRoot = 0x80000000u;
constexpr std::uint32_t kHKeyCurrentUser = 0x80000001u;
constexpr std::uint32_t kHKeyLocalMachine = 0x80000002u;
constexpr std::uint32_t kHKeyUsers = 0x80000003u;
constexpr std::uint32_t kHKeyCurrentConfig = 0x80000005u;

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

class TRegistry {
 public:
  explicit TRegistry(std::uint32_t rootKey = kHKeyCurrentUser) : root_(rootKey) {}
  ~TRegistry() { CloseKey(); }
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Sets the root for later OpenKey calls; closes the current key.
  void SetRootKey(std::uint32_t rootKey) {
    CloseKey();
    root_ = rootKey;
  }
  std::uint32_t RootKey() const { return root_; }

  // Closes the current key and opens `path` below the root (one leading "\" is dropped) with
  // full access, creating it (and its parents) when `create` is set. False on failure.
  bool OpenKey(std::string_view path, bool create);
  void CloseKey();
  bool HasCurrentKey() const { return open_; }

  // Type and raw bytes of a value of the current key (REG_SZ text without its terminating
  // zero). False when there is no current key or the value does not exist or cannot be read.
  bool ReadValue(std::string_view name, std::uint32_t& type, std::string& data);
  bool ValueExists(std::string_view name);
  // Writes a value; REG_SZ and REG_EXPAND_SZ text gets its terminating zero. False on failure.
  bool WriteValue(std::string_view name, std::uint32_t type, std::string_view data);
  bool DeleteValue(std::string_view name);

 private:
  std::uint32_t root_;
  bool open_ = false;
  // The open key: an HKEY on Windows, unused in the native store.
  struct KeyTraits {
    using type = std::intptr_t;
    static type Invalid() noexcept { return 0; }
    static void Close(type key) noexcept;
  };
  UniqueAny<KeyTraits> key_;
  std::string path_;       // the open key's path in the native store
};

// Deletes a key below `rootKey` with all its subkeys and values; false when it did not exist
// or could not be deleted.
bool DeleteRegistryTree(std::uint32_t rootKey, std::string_view path);

}  // namespace kiv
