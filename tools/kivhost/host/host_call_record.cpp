#include "host/host_call_record.h"

#include <algorithm>
#include <cstring>

namespace kivhost {

HostCallRecord::HostCallRecord() : bytes_(kRecordSize, 0) { SetSize(static_cast<uint32_t>(kRecordSize)); }

HostSlot HostCallRecord::SlotAt(size_t at) const {
  return HostSlot{Get<uint32_t>(at), Get<uint32_t>(at + 4), Get<uint8_t>(at + 8), Get<uintptr_t>(at + 9)};
}

void HostCallRecord::SetSlotAt(size_t at, const HostSlot& slot) {
  Set(at, slot.Counter);
  Set(at + 4, slot.Size);
  Set(at + 8, slot.Kind);
  Set(at + 9, slot.Value);
}

std::string_view HostCallRecord::DataSourceName() const {
  const char* name = reinterpret_cast<const char*>(bytes_.data() + kNameAt);
  return {name, static_cast<size_t>(std::find(name, name + kNameSize, '\0') - name)};
}

void HostCallRecord::SetDataSourceName(std::string_view name) {
  unsigned char* field = bytes_.data() + kNameAt;
  std::memset(field, 0, kNameSize);
  std::memcpy(field, name.data(), std::min(name.size(), kNameSize));
}

}  // namespace kivhost
