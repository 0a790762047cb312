// Fuzzes the setting-text codec: decoding the encoding gives back the text, the encoding is
// 7-bit, and decoding arbitrary bytes never fails.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/setting_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (data == nullptr) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string encoded = kiv::EncodeSettingText(text);
  for (char c : encoded)
    if (static_cast<unsigned char>(c) >= 128) std::abort();
  if (kiv::DecodeSettingText(encoded) != text) std::abort();
  kiv::DecodeSettingText(text);
  return 0;
}
