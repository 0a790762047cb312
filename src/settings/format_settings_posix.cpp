#include "settings/format_settings.h"

namespace kiv {

const TFormatSettings& UserFormatSettings() {
  static const TFormatSettings settings;
  return settings;
}

}  // namespace kiv
