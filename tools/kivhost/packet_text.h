// The packet text of a delivery: packets joined by the data separator "<{[::]}>". Pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kivhost {

inline constexpr std::string_view kDataSeparator = "<{[::]}>";

// The packets of a delivered block, in order; an empty block has none, and empty packets
// between two separators are kept.
std::vector<std::string> SplitPackets(std::string_view block);

}  // namespace kivhost
