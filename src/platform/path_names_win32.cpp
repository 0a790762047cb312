#include <windows.h>

#include "platform/path_names.h"

namespace kiv {

bool IsAnsiLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

}  // namespace kiv
