#include "settings/stream.h"

#include <algorithm>
#include <cstring>

namespace kiv {

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  if (buffer == nullptr || position_ >= bytes_.size()) return 0;
  const std::size_t n = std::min(count, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (buffer == nullptr || count == 0) return 0;
  if (position_ + count > bytes_.size()) bytes_.resize(position_ + count);
  std::memcpy(bytes_.data() + position_, buffer, count);
  position_ += count;
  return count;
}

void TMemoryStream::SetPosition(std::size_t position) {
  position_ = std::min(position, bytes_.size());
}

}  // namespace kiv
