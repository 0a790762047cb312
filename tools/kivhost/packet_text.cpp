#include "packet_text.h"

namespace kivhost {

std::vector<std::string> SplitPackets(std::string_view block) {
  std::vector<std::string> packets;
  if (block.empty()) return packets;
  for (;;) {
    const size_t at = block.find(kDataSeparator);
    packets.emplace_back(block.substr(0, at));
    if (at == std::string_view::npos) break;
    block.remove_prefix(at + kDataSeparator.size());
  }
  return packets;
}

}  // namespace kivhost
