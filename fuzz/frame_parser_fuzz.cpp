// The sample frame parser's core on arbitrary bytes. Input: one byte for the chunk size, then the
// stream. Checks that feeding the stream in chunks (unconsumed bytes kept in front, as the FIFO
// keeps them) finds the same frames and bad frames as one block, that every frame re-encodes to
// the bytes it was read from, and that what stays unconsumed is shorter than a frame.
#include <cstring>
#include <string>
#include <vector>

#include "frame_core.h"
#include "fuzz_input.h"

using kiv::fuzz::Check;

namespace {

struct Outcome {
  std::vector<std::string> frames;
  std::vector<int> bad;
  std::vector<uint8_t> held;
};

void OnFrame(void* ctx, const fp_frame* f) {
  uint8_t encoded[FP_MAX_FRAME];
  const size_t n = fp_encode(f->payload, f->length, encoded);
  Check(n == f->length + 3);
  // The payload sits right after the start and length bytes of the frame it came from.
  Check(std::memcmp(encoded, f->payload - 2, n) == 0);
  Check(f->sample_count == (f->length - 2) / 2);
  static_cast<Outcome*>(ctx)->frames.emplace_back(reinterpret_cast<const char*>(f->payload),
                                                  f->length);
}

void OnBad(void* ctx, fp_error e, size_t) { static_cast<Outcome*>(ctx)->bad.push_back(e); }

Outcome Feed(const uint8_t* data, size_t size, size_t chunk) {
  Outcome out;
  fp_handler h{OnFrame, OnBad, nullptr, &out};
  for (size_t pos = 0; pos < size; pos += chunk) {
    out.held.insert(out.held.end(), data + pos, data + std::min(size, pos + chunk));
    const size_t used = fp_parse(out.held.data(), out.held.size(), &h);
    Check(used <= out.held.size());
    out.held.erase(out.held.begin(), out.held.begin() + used);
    Check(out.held.size() < FP_MAX_FRAME);
    Check(out.held.empty() || out.held[0] == FP_START);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = data[0] % 80 + 1;
  const Outcome whole = Feed(data + 1, size - 1, size);
  const Outcome chunked = Feed(data + 1, size - 1, chunk);
  Check(whole.frames == chunked.frames);
  Check(whole.bad == chunked.bad);
  Check(whole.held == chunked.held);
  return 0;
}
