#include "framework/parser_items.h"

#include <iterator>
#include <utility>

#include "platform/text_utils.h"

namespace kiv {

namespace {

const TextLines& TypeNames() {
  static const TextLines names = SplitToNewList(kParserItemTypeNames, '|');
  return names;
}

}  // namespace

std::string ParserItemTypeName(std::uint8_t type) {
  const TextLines& names = TypeNames();
  return type < names.size() ? names[type] : std::string();
}

std::uint8_t ParserItemType(std::string_view name) {
  const int index = IndexInBarList(kParserItemTypeNames, name, true);
  return index < 0 ? kNoParserItemType : static_cast<std::uint8_t>(index);
}

const TParserItemList& StandardParserItems() {
  static const TParserItemList items = {
      {"FULL_DATA_PACKET", "Full data packet", 0, ""},
      {"DATA_PACKET", "Data packet", 0, ""},
      {"DATE_TIME_STAMP", "Datetime stamp", 11, "1"},
      {"DATA_SOURCE_ID", "Data source ID", 8, ""},
      {"DATA_SOURCE_NAME", "Data source name", 0, "1"},
      {"DATA_SOURCE_FULL_NAME", "Data source long name", 0, ""},
      {"CLIENTID", "Client ID", 8, ""},
  };
  return items;
}

std::string ParserItemsText(const TParserItemList& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const TParserItem& item = items[i];
    if (i > 0) text += "\r\n";
    text += item.Description + "|" + item.Name + "|" + ParserItemTypeName(item.Type) + "|" +
            item.Extra;
  }
  return text;
}

TParserItemList ParseParserItems(std::string_view text) {
  TParserItemList items;
  TextLines fields;
  for (const std::string& line : SplitLines(text)) {
    if (line.empty()) continue;
    SplitText(fields, line, '|');
    if (fields.size() < 2) break;
    TParserItem item;
    item.Description = fields[0];
    item.Name = fields[1];
    item.Type = fields.size() > 2 ? ParserItemType(fields[2]) : kNoParserItemType;
    if (fields.size() > 3) item.Extra = fields[3];
    items.push_back(std::move(item));
  }
  return items;
}

void SetParserItems(TParserItemList& items, std::string_view text, bool replace) {
  TParserItemList parsed = ParseParserItems(text);
  if (replace) {
    items = std::move(parsed);
  } else {
    items.insert(items.end(), std::make_move_iterator(parsed.begin()),
                 std::make_move_iterator(parsed.end()));
  }
}

bool SetParserItemsText(TParserItemList& items, std::string_view text) {
  TParserItemList parsed = ParseParserItems(text);
  if (parsed.empty() && text.find_first_not_of("\r\n") != std::string_view::npos) return false;
  items = std::move(parsed);
  return true;
}

}  // namespace kiv
