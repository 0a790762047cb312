// Module information: the fixed part and the two UTF-8 texts in the caller's buffer.
#include "framework/module_info.h"

#include <cstring>
#include <string>

#include "framework/instance_registry.h"
#include "platform/code_page.h"
#include "platform/readable_memory.h"

namespace kiv {
namespace {

std::string AnsiToUtf8(const std::string& text) {
  return text.empty() ? std::string() : WideToCodePage(kCodePageUtf8, AnsiToWide(text));
}

void Put32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }

// Addresses in the buffer are 32-bit fields; a 64-bit build keeps the low half.
uint32_t Address32(const uint8_t* at) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(at)); }

}  // namespace

bool GetModuleInfoImpl(TPluginCallRec* rec, void* buffer, uint32_t* size) {
  // The out size is written only where the host's variable is writable memory.
  const bool size_usable = size && IsWritableMemory(size, sizeof *size);
  if (size_usable) *size = 0;
  try {
    TPluginRef plugin = FindInstance(rec);
    if (!plugin) return false;
    const std::string description = AnsiToUtf8(plugin->Description());
    const std::string commands = AnsiToUtf8(plugin->CustomCommands().AsText());
    const uint64_t needed = uint64_t{kModuleInfoFixedSize} + description.size() + commands.size();
    if (needed > UINT32_MAX) return false;
    if (size_usable) *size = static_cast<uint32_t>(needed);

    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t capacity = 0;
    if (!bytes || !ReadableCopy(&capacity, bytes, 4) || capacity < kModuleInfoFixedSize) return false;
    const bool fits = capacity >= needed;
    if (!IsWritableMemory(bytes, fits ? needed : kModuleInfoFixedSize)) return false;

    std::memset(bytes, 0, kModuleInfoFixedSize);
    Put32(bytes, capacity);
    Put32(bytes + 4, plugin->ModuleType() | (uint32_t{plugin->ModuleOptions()} << 16));
    Put32(bytes + 8, kFrameworkVersionMajor | (uint32_t{kFrameworkVersionMinor} << 16));
    const float version = plugin->FrameworkVersion();
    std::memcpy(bytes + 12, &version, 4);
    bytes[16] = plugin->EnabledByte();
    if (!fits) return false;

    uint8_t* text = bytes + kModuleInfoFixedSize;
    const auto write_text = [&text](uint8_t* field, const std::string& value) {
      if (value.empty()) return;
      Put32(field, static_cast<uint32_t>(value.size()));
      Put32(field + 4, Address32(text));
      std::memcpy(text, value.data(), value.size());
      text += value.size();
    };
    write_text(bytes + 17, description);
    write_text(bytes + 25, commands);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace kiv
