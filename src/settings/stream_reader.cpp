#include "settings/stream_reader.h"

#include <algorithm>
#include <cstring>

namespace kiv {

TStreamReader::TStreamReader(TStream* stream, std::size_t bufferSize) : stream_(stream) {
  if (stream == nullptr) throw EInOutError("Stream is nil");
  buffer_.resize(std::max(bufferSize, kMinBufferSize));
}

bool TStreamReader::Fill() {
  if (eof_) return false;
  pos_ = 0;
  end_ = stream_->Read(buffer_.data(), buffer_.size());
  if (end_ == 0) eof_ = true;
  return end_ != 0;
}

bool TStreamReader::EndOfStream() { return pos_ >= end_ && !Fill(); }

bool TStreamReader::ReadLine(std::string& line) {
  line.clear();
  if (EndOfStream()) return false;
  for (;;) {
    const char* start = buffer_.data() + pos_;
    const std::size_t avail = end_ - pos_;
    // Scan for the first CR or LF in the buffered bytes.
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', avail));
    const std::size_t scan = lf != nullptr ? static_cast<std::size_t>(lf - start) : avail;
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', scan));
    const char* brk = cr != nullptr ? cr : lf;
    if (brk == nullptr) {
      line.append(start, avail);
      pos_ = end_;
      if (!Fill()) return true;  // last line without a break
      continue;
    }
    line.append(start, static_cast<std::size_t>(brk - start));
    pos_ += static_cast<std::size_t>(brk - start) + 1;
    if (*brk == '\r') {
      // CR LF is one break, also when LF starts the next buffer.
      if (pos_ >= end_ && !Fill()) return true;
      if (buffer_[pos_] == '\n') ++pos_;
    }
    return true;
  }
}

}  // namespace kiv
