// Parser items: the named fields an instance can deliver from its data, and their text form.
//
// One line per item, "Description|Name|TypeName|Extra", lines joined by CR LF. The instance
// keeps its items in a TParserItemList and guards it itself; these functions hold no state and
// are safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

struct TParserItem {
  std::string Name;         // identifier, such as "FULL_DATA_PACKET"
  std::string Description;  // text shown to the user
  std::uint8_t Type = 17;   // index into the type names; kNoParserItemType means none
  std::string Extra;        // fourth field, kept and reported unchanged

  bool operator==(const TParserItem&) const = default;
};

using TParserItemList = std::vector<TParserItem>;

inline constexpr std::uint8_t kNoParserItemType = 17;

// The type names, indexed from 0, as one bar-separated text.
inline constexpr std::string_view kParserItemTypeNames =
    "String|Memo|Bytes|Blob|Boolean|Float|Smallint|Word|Integer|Date|Time|DateTime|DWord|Byte|"
    "Shortint|Int64|Currency|";

// Name of type `type`; empty for kNoParserItemType and any other index without a name.
std::string ParserItemTypeName(std::uint8_t type);
// Index of `name` among the type names, compared without regard to (ASCII) case;
// kNoParserItemType when it is not one of them.
std::uint8_t ParserItemType(std::string_view name);

// The framework's standard items, in their fixed order.
const TParserItemList& StandardParserItems();

// The text form of `items`: lines joined by CR LF, no separator after the last.
std::string ParserItemsText(const TParserItemList& items);

// Parses a text form: empty lines are skipped, a line with fewer than two fields ends the parse
// (the items before it are kept), a missing or unknown type name gives kNoParserItemType.
TParserItemList ParseParserItems(std::string_view text);

// Replaces `items` by the items parsed from `text`, or appends them when `replace` is false.
void SetParserItems(TParserItemList& items, std::string_view text, bool replace);

// Replaces `items` by those of `text`, as the host and the inner plugin set them. A text that
// holds more than line breaks but not one item is refused: false, and `items` stay as they are.
bool SetParserItemsText(TParserItemList& items, std::string_view text);

inline std::size_t ParserItemCount(const TParserItemList& items) { return items.size(); }

}  // namespace kiv
