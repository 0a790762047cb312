#include "platform/version_info.h"

#include "kiv/kiv_defs.h"

namespace kiv {

std::string TkivVersionInfo::VersionText() const {
  return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) +
         "." + std::to_string(Build);
}

std::string SdkVersionText(std::uint32_t packed) {
  return std::to_string(KIV_VERSION_MAJOR(packed)) + "." + std::to_string(KIV_VERSION_MINOR(packed)) + "." +
         std::to_string(KIV_VERSION_PATCH(packed));
}

}  // namespace kiv
