// One data call as a host makes it: a chunk of raw bytes in Input (kind 0, the host's own
// buffer, so that the module never resizes it), a parameter list with the request's values, an
// Output list for the items; afterwards the delivered block (kind 4) is read and given back to
// the shared allocator. Windows only; the module may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_module.h"
#include "request.h"
#include "result.h"

namespace kivhost {

struct DataCallOutcome {
  CallResult Call;
  bool Taken = false;              // Input no longer addresses the caller's bytes
  uint32_t Deliveries = 0;         // Output.Counter after the call
  std::string Block;               // the delivered packet text (kind-4 block), if any
  std::vector<NamedValue> Items;   // the Output list's items
  std::vector<NamedValue> Values;  // items the module added to the parameter list
};

// Feeds `data` to `instance` on the given data source; `options` as the record's Options.
DataCallOutcome FeedChunk(HostModule& module, uintptr_t instance, int32_t module_index, int32_t source_id,
                          std::string_view source_name, uint8_t options, std::string_view data,
                          const std::vector<CallValue>& values);

// The Options byte of a feed: the parser path sets 0x02.
inline uint8_t FeedOptionsByte(const FeedOptions& feed) {
  return static_cast<uint8_t>(feed.Options | (feed.ParserPath ? 0x02 : 0));
}
// The name of a stress run's data source `id`: the one given, else "source<id>".
inline std::string FeedSourceName(const FeedOptions& feed, int32_t id) {
  return feed.SourceNames.empty() || feed.SourceNames[0].empty() ? "source" + std::to_string(id) : feed.SourceNames[0];
}
// The first data source id of a stress run.
inline int32_t FirstSourceId(const FeedOptions& feed) { return feed.SourceIds.empty() ? 1 : feed.SourceIds[0]; }

}  // namespace kivhost
