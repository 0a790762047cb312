#include "settings/file_stream.h"

#include <cstdint>

namespace kiv {

namespace {

// The folder-less part of a file name; both separators count, as on Windows.
std::string_view BaseName(std::string_view fileName) {
  const std::size_t slash = fileName.find_last_of("\\/");
  return slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
}

// Reads decimal digits up to `stop` from the front of `text`, within 32 bits.
bool TakeNumber(std::string_view& text, char stop, std::uint32_t& number) {
  std::uint64_t value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
    if (value > 0xFFFFFFFFu) return false;
  }
  if (i == 0 || i >= text.size() || text[i] != stop) return false;
  number = static_cast<std::uint32_t>(value);
  text.remove_prefix(i + 1);
  return true;
}

}  // namespace

std::string TempFileBeside(const std::string& fileName, std::uint32_t pid, std::uint32_t n) {
  return fileName + ".~" + std::to_string(pid) + "-" + std::to_string(n) + ".tmp";
}

bool IsTempFileBeside(const std::string& fileName, std::string_view entry, std::uint32_t& pid) {
  const std::string prefix = std::string(BaseName(fileName)) + ".~";
  if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix) return false;
  entry.remove_prefix(prefix.size());
  std::uint32_t owner = 0, n = 0;
  if (!TakeNumber(entry, '-', owner) || !TakeNumber(entry, '.', n) || entry != "tmp") return false;
  pid = owner;
  return true;
}

}  // namespace kiv
