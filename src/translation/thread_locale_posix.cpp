#include "translation/thread_locale.h"

namespace kiv {
namespace {
constexpr std::uint32_t kEnglishUnitedStates = 0x0409;
thread_local std::uint32_t t_locale = kEnglishUnitedStates;
}  // namespace

std::uint32_t GetThreadLocaleId() { return t_locale; }

bool SetThreadLocaleId(std::uint32_t locale) {
  if (locale == 0) return false;
  t_locale = locale;
  return true;
}

}  // namespace kiv
