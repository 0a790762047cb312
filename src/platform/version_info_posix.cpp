#include "platform/version_info.h"

namespace kiv {

// No version resources outside Windows: every file reads as having none.
TkivVersionInfo::TkivVersionInfo(const std::string&) {}

}  // namespace kiv
