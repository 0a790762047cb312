// Line reader over a byte stream through a buffer (4096 bytes by default, never less than 128).
// A line ends at CR, LF or CR LF (one break); bytes are not converted. One thread per reader.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "settings/stream.h"

namespace kiv {

class TStreamReader {
 public:
  static constexpr std::size_t kDefaultBufferSize = 4096;
  static constexpr std::size_t kMinBufferSize = 128;

  // Borrows `stream`, which must outlive the reader; throws EInOutError("Stream is nil") for null.
  explicit TStreamReader(TStream* stream, std::size_t bufferSize = kDefaultBufferSize);

  // Reads the next line without its break into `line`; false at the end of the stream.
  // A last line without a break is still returned; lines longer than the buffer are read whole.
  bool ReadLine(std::string& line);
  bool EndOfStream();

 private:
  bool Fill();  // refills the buffer; false at the end

  TStream* stream_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
};

}  // namespace kiv
