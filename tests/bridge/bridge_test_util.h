// Record builders for the bridge tests.
#pragma once

#include <string_view>

#include "framework/call_record.h"

namespace kiv::bridge_test {

// A host-form record for data source `id` named `name` whose Input is (kind, value).
inline TPluginCallRec Rec(int32_t id, std::string_view name = {}, uint8_t kind = 0, uintptr_t value = 0) {
  TPluginCallRec rec{};
  rec.Size = kCallRecSize;
  rec.DataSourceId = id;
  name.copy(rec.DataSourceName, sizeof rec.DataSourceName);
  rec.Input.Kind = kind;
  rec.Input.Value = value;
  return rec;
}

}  // namespace kiv::bridge_test
