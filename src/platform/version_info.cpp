#include "platform/version_info.h"

namespace kiv {

std::string TkivVersionInfo::VersionText() const {
  return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) +
         "." + std::to_string(Build);
}

}  // namespace kiv
