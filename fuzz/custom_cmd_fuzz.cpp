// Custom-command text: parsing arbitrary text never fails, and the text form of what was parsed
// parses back into the same commands.
#include <string_view>

#include "fuzz_input.h"
#include "framework/custom_cmd.h"

using kiv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kiv::TkivPluginCustomCmdList list, copy(false);
  list.AddFromText(text);
  copy.AddFromText(list.AsText());
  Check(copy.Count() == list.Count() && copy.AsText() == list.AsText());
  for (std::size_t i = 0; i < list.Count(); ++i)
    Check(*copy.Items(i) == *list.Items(i));
  return 0;
}
