#include "data_call.h"

#include <algorithm>

#include "call_values.h"
#include "host/host_allocator.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"

namespace kivhost {

DataCallOutcome FeedChunk(HostModule& module, uintptr_t instance, int32_t module_index, int32_t source_id,
                          std::string_view source_name, uint8_t options, std::string_view data,
                          const std::vector<CallValue>& values) {
  HostParamsList params, output;
  AddValues(params, values);
  const size_t given = params.Items().size();
  // The module may keep the address of Input only during the call; a copy keeps the caller's
  // data safe from a module that writes into it.
  std::string bytes(data);
  HostCallRecord rec;
  rec.SetInstance(instance);
  rec.SetModuleIndex(module_index);
  rec.SetDataSourceId(source_id);
  rec.SetDataSourceName(source_name);
  rec.SetOptions(options);
  rec.SetParams(params.Object());
  const auto address = reinterpret_cast<uintptr_t>(bytes.data());
  rec.SetInput(HostSlot{0, static_cast<uint32_t>(bytes.size()), 0, bytes.empty() ? 0 : address});
  rec.SetOutput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(output.Object())});

  DataCallOutcome outcome;
  outcome.Call = module.ProcessData(rec.data());
  const HostSlot in = rec.Input();
  outcome.Taken = bytes.empty() || in.Value != address;
  if (in.Kind == 4 && in.Value != 0 && in.Value != address) {
    outcome.Block.assign(reinterpret_cast<const char*>(in.Value), in.Size);
    PublishedAllocatorFree(reinterpret_cast<void*>(in.Value));
  }
  outcome.Deliveries = rec.Output().Counter;
  outcome.Items = NamedItems(output.Items());
  const std::vector<NamedValue> all = NamedItems(params.Items());
  outcome.Values.assign(all.begin() + static_cast<std::ptrdiff_t>(std::min(given, all.size())), all.end());
  return outcome;
}

}  // namespace kivhost
