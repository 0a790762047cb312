#include "pe_exports.h"

#include <cstdint>
#include <cstring>

namespace kivhost {
namespace {

// Little-endian reads with bounds checks; a failed read leaves `ok` false.
class Bytes {
 public:
  explicit Bytes(std::string_view file) : file_(file) {}
  uint32_t U32(size_t at) { return Read(at, 4); }
  uint32_t U16(size_t at) { return Read(at, 2); }
  bool ok = true;

  // The zero-terminated text at `at` (at most 4096 bytes).
  std::string Text(size_t at) {
    if (at >= file_.size()) return ok = false, std::string();
    const size_t end = file_.find('\0', at);
    if (end == std::string_view::npos || end - at > 4096) return ok = false, std::string();
    return std::string(file_.substr(at, end - at));
  }

 private:
  uint32_t Read(size_t at, size_t n) {
    if (at > file_.size() || file_.size() - at < n) return ok = false, 0;
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(file_[at + i])) << (8 * i);
    return v;
  }
  std::string_view file_;
};

constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kPe32Magic = 0x10B;
constexpr size_t kCoffSize = 20;
constexpr size_t kExportDirOffset = 96;  // data directory 0 in the PE32 optional header
constexpr size_t kSectionSize = 40;
constexpr uint32_t kMaxNames = 65536;

}  // namespace

std::optional<std::vector<std::string>> ReadPeExportNames(std::string_view file) {
  Bytes b(file);
  if (b.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
  const size_t pe = b.U32(0x3C);
  if (!b.ok || b.U32(pe) != kPeSignature) return std::nullopt;
  const size_t coff = pe + 4;
  const uint32_t sections = b.U16(coff + 2);
  const uint32_t optional_size = b.U16(coff + 16);
  const size_t optional = coff + kCoffSize;
  if (!b.ok || b.U16(optional) != kPe32Magic || optional_size < kExportDirOffset + 8) return std::nullopt;
  const uint32_t export_rva = b.U32(optional + kExportDirOffset);
  if (!b.ok) return std::nullopt;
  if (export_rva == 0) return std::vector<std::string>{};
  const size_t table = optional + optional_size;

  // Maps an address of the loaded image to its file offset through the section table.
  auto offset_of = [&](uint32_t rva) -> std::optional<size_t> {
    for (uint32_t s = 0; s < sections; ++s) {
      const size_t at = table + s * kSectionSize;
      const uint32_t virtual_size = b.U32(at + 8), address = b.U32(at + 12);
      const uint32_t raw_size = b.U32(at + 16), raw = b.U32(at + 20);
      if (!b.ok) return std::nullopt;
      const uint32_t span = virtual_size > raw_size ? virtual_size : raw_size;
      if (rva >= address && rva - address < span && rva - address < raw_size) return size_t{raw} + (rva - address);
    }
    return std::nullopt;
  };

  const auto dir = offset_of(export_rva);
  if (!dir) return std::nullopt;
  const uint32_t count = b.U32(*dir + 24);
  const uint32_t names_rva = b.U32(*dir + 32);
  if (!b.ok || count > kMaxNames) return std::nullopt;
  std::vector<std::string> names;
  if (count == 0) return names;
  const auto names_at = offset_of(names_rva);
  if (!names_at) return std::nullopt;
  for (uint32_t i = 0; i < count; ++i) {
    const auto name_at = offset_of(b.U32(*names_at + 4 * size_t{i}));
    if (!b.ok || !name_at) return std::nullopt;
    names.push_back(b.Text(*name_at));
    if (!b.ok) return std::nullopt;
  }
  return names;
}

}  // namespace kivhost
