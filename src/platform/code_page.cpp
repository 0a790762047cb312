#include "platform/code_page.h"

namespace kiv {

bool AnsiSameText(std::string_view a, std::string_view b) { return AnsiCompareText(a, b) == 0; }

}  // namespace kiv
