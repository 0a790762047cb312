// A call record as a host builds it: the bytes at the shared offsets, written field by field
// without the module's record type, so that tests check the module's layout against it.
//
// Address fields (Instance, Params, slot Values) are 4 bytes on the 32-bit target and
// pointer-wide natively; every other field has its documented width. One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace kivhost {

// One value slot as the host reads and writes it.
struct HostSlot {
  uint32_t Counter = 0;
  uint32_t Size = 0;
  uint8_t Kind = 0;
  uintptr_t Value = 0;
};

class HostCallRecord {
 public:
  static constexpr size_t kAddress = sizeof(void*);
  static constexpr size_t kSlotSize = 9 + kAddress;
  // Offsets: 0 Size, 4 Flags, 5 Instance, then ModuleIndex, Context, DataSourceId, Options,
  // Params, Input, Output, DataSourceName (50 bytes).
  static constexpr size_t kSizeAt = 0, kFlagsAt = 4, kInstanceAt = 5;
  static constexpr size_t kModuleIndexAt = kInstanceAt + kAddress;
  static constexpr size_t kContextAt = kModuleIndexAt + 4;
  static constexpr size_t kDataSourceIdAt = kContextAt + 4;
  static constexpr size_t kOptionsAt = kDataSourceIdAt + 4;
  static constexpr size_t kParamsAt = kOptionsAt + 1;
  static constexpr size_t kInputAt = kParamsAt + kAddress;
  static constexpr size_t kOutputAt = kInputAt + kSlotSize;
  static constexpr size_t kNameAt = kOutputAt + kSlotSize;
  static constexpr size_t kNameSize = 50;
  static constexpr size_t kRecordSize = kNameAt + kNameSize;  // 102 on the 32-bit target

  // A zeroed record whose Size field states its full size.
  HostCallRecord();

  // The record's bytes, to pass by address to an entry point.
  void* data() noexcept { return bytes_.data(); }
  const void* data() const noexcept { return bytes_.data(); }

  uint32_t Size() const { return Get<uint32_t>(kSizeAt); }
  void SetSize(uint32_t size) { Set(kSizeAt, size); }
  uint8_t Flags() const { return Get<uint8_t>(kFlagsAt); }
  void SetFlags(uint8_t flags) { Set(kFlagsAt, flags); }
  uintptr_t Instance() const { return Get<uintptr_t>(kInstanceAt); }
  void SetInstance(uintptr_t handle) { Set(kInstanceAt, handle); }
  int32_t ModuleIndex() const { return Get<int32_t>(kModuleIndexAt); }
  void SetModuleIndex(int32_t index) { Set(kModuleIndexAt, index); }
  int32_t Context() const { return Get<int32_t>(kContextAt); }
  void SetContext(int32_t context) { Set(kContextAt, context); }
  int32_t DataSourceId() const { return Get<int32_t>(kDataSourceIdAt); }
  void SetDataSourceId(int32_t id) { Set(kDataSourceIdAt, id); }
  uint8_t Options() const { return Get<uint8_t>(kOptionsAt); }
  void SetOptions(uint8_t options) { Set(kOptionsAt, options); }
  uintptr_t Params() const { return Get<uintptr_t>(kParamsAt); }
  void SetParams(const void* params) { Set(kParamsAt, reinterpret_cast<uintptr_t>(params)); }

  HostSlot Input() const { return SlotAt(kInputAt); }
  void SetInput(const HostSlot& slot) { SetSlotAt(kInputAt, slot); }
  HostSlot Output() const { return SlotAt(kOutputAt); }
  void SetOutput(const HostSlot& slot) { SetSlotAt(kOutputAt, slot); }

  // The name up to its terminator or the 50th byte; a longer name is cut to 50 bytes.
  std::string_view DataSourceName() const;
  void SetDataSourceName(std::string_view name);

 private:
  template <class T>
  T Get(size_t at) const {
    T value;
    std::memcpy(&value, bytes_.data() + at, sizeof value);
    return value;
  }
  template <class T>
  void Set(size_t at, T value) {
    std::memcpy(bytes_.data() + at, &value, sizeof value);
  }
  HostSlot SlotAt(size_t at) const;
  void SetSlotAt(size_t at, const HostSlot& slot);

  std::vector<unsigned char> bytes_;
};

}  // namespace kivhost
