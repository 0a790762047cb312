#include "platform/path_names.h"

namespace kiv {

// The portable build uses the single-byte Windows-1252 code page: no lead bytes.
bool IsAnsiLeadByte(unsigned char) { return false; }

}  // namespace kiv
