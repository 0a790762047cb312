#include "translation/thread_locale.h"

#include <windows.h>

namespace kiv {

std::uint32_t GetThreadLocaleId() { return GetThreadLocale(); }

bool SetThreadLocaleId(std::uint32_t locale) { return SetThreadLocale(locale) != FALSE; }

}  // namespace kiv
