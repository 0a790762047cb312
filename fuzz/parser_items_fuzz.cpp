// Parser-item text: parsing arbitrary text never fails, and the text form of what was parsed
// parses back into the same items.
#include <string_view>

#include "fuzz_input.h"
#include "framework/parser_items.h"

using kiv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const kiv::TParserItemList items = kiv::ParseParserItems(text);
  Check(kiv::ParseParserItems(kiv::ParserItemsText(items)) == items);
  kiv::TParserItemList appended = items;
  kiv::SetParserItems(appended, text, false);
  Check(appended.size() == 2 * items.size());
  return 0;
}
