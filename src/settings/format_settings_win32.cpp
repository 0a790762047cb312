#include <windows.h>

#include "settings/format_settings.h"

namespace kiv {

namespace {

std::string LocaleText(LCTYPE type, const char* fallback) {
  char buffer[128];
  const int n = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
  return n > 1 ? std::string(buffer, static_cast<std::size_t>(n - 1)) : std::string(fallback);
}

TFormatSettings ReadUserSettings() {
  TFormatSettings fs;
  fs.DecimalSeparator = LocaleText(LOCALE_SDECIMAL, ".")[0];
  fs.ShortDateFormat = LocaleText(LOCALE_SSHORTDATE, "M/d/yyyy");
  fs.LongTimeFormat = LocaleText(LOCALE_STIMEFORMAT, "h:mm:ss tt");
  fs.TimeAMString = LocaleText(LOCALE_S1159, "AM");
  fs.TimePMString = LocaleText(LOCALE_S2359, "PM");
  return fs;
}

}  // namespace

const TFormatSettings& UserFormatSettings() {
  static const TFormatSettings settings = ReadUserSettings();
  return settings;
}

}  // namespace kiv
