// The frame parser's core: good frames decoded, bad ones skipped with resynchronisation, frames
// split across calls left in the stream until whole.
#include "frame_core.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const Bytes& payload) {
  uint8_t out[FP_MAX_FRAME];
  const size_t n = fp_encode(payload.data(), payload.size(), out);
  return Bytes(out, out + n);
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Recorder {
  std::vector<std::string> frames;  // hex of each payload
  std::vector<std::vector<int>> samples;
  std::vector<std::pair<fp_error, size_t>> bad;
  size_t noise = 0;
  Bytes held;

  // Appends to what the last call left, as the FIFO does, and parses.
  void Feed(const Bytes& chunk) {
    held.insert(held.end(), chunk.begin(), chunk.end());
    fp_handler h{};
    h.frame = [](void* c, const fp_frame* f) {
      auto* r = static_cast<Recorder*>(c);
      char hex[2 * FP_MAX_PAYLOAD + 1];
      fp_hex(f->payload, f->length, hex);
      r->frames.push_back(hex);
      std::vector<int> s = {f->channel, f->sequence};
      for (size_t i = 0; i < f->sample_count; ++i) s.push_back(f->samples[i]);
      r->samples.push_back(s);
    };
    h.bad_frame = [](void* c, fp_error e, size_t offset) {
      static_cast<Recorder*>(c)->bad.push_back({e, offset});
    };
    h.noise = [](void* c, size_t, size_t count) { static_cast<Recorder*>(c)->noise += count; };
    h.ctx = this;
    const size_t used = fp_parse(held.data(), held.size(), &h);
    held.erase(held.begin(), held.begin() + used);
  }
};

TEST(FrameCore, ChecksumIsCrc8WithPolynomial07) {
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(fp_crc8(check, sizeof check), 0xF4);  // the catalogued check value of CRC-8
  EXPECT_EQ(fp_crc8(nullptr, 0), 0);
}

TEST(FrameCore, EncodeRefusesInvalidLengths) {
  uint8_t out[FP_MAX_FRAME];
  const Bytes big(FP_MAX_PAYLOAD + 2, 0);
  EXPECT_EQ(fp_encode(big.data(), 1, out), 0u);
  EXPECT_EQ(fp_encode(big.data(), 3, out), 0u);  // odd sample byte
  EXPECT_EQ(fp_encode(big.data(), FP_MAX_PAYLOAD + 2, out), 0u);
  EXPECT_EQ(fp_encode(big.data(), FP_MAX_PAYLOAD, out), size_t(FP_MAX_FRAME));
}

TEST(FrameCore, GoodFramesAreDecodedWithLittleEndianSignedSamples) {
  Recorder r;
  r.Feed(Join({Frame({3, 9, 0x34, 0x12, 0xFF, 0xFF}), Frame({1, 2})}));
  EXPECT_EQ(r.frames, (std::vector<std::string>{"03093412FFFF", "0102"}));
  EXPECT_EQ(r.samples, (std::vector<std::vector<int>>{{3, 9, 0x1234, -1}, {1, 2}}));
  EXPECT_TRUE(r.held.empty());
  EXPECT_TRUE(r.bad.empty());
}

TEST(FrameCore, SplitFrameStaysUntilWholeAtEveryCutPoint) {
  const Bytes frame = Frame({7, 1, 10, 0, 20, 0});
  for (size_t cut = 1; cut < frame.size(); ++cut) {
    Recorder r;
    r.Feed(Bytes(frame.begin(), frame.begin() + cut));
    EXPECT_TRUE(r.frames.empty()) << cut;
    EXPECT_EQ(r.held.size(), cut);
    r.Feed(Bytes(frame.begin() + cut, frame.end()));
    EXPECT_EQ(r.frames, (std::vector<std::string>{"07010A001400"})) << cut;
    EXPECT_TRUE(r.held.empty());
  }
}

TEST(FrameCore, BadChecksumAndBadLengthAreSkippedByResynchronising) {
  Bytes corrupt = Frame({5, 5, 1, 0});
  corrupt.back() ^= 0x01;
  const Bytes bad_length = {FP_START, 0x03, 0xAA, 0xBB, 0xCC, 0xDD};
  Recorder r;
  r.Feed(Join({{0x00, 0x11}, corrupt, bad_length, Frame({6, 1}), {0x7E, 0x01}, Frame({6, 2})}));
  EXPECT_EQ(r.frames, (std::vector<std::string>{"0601", "0602"}));
  ASSERT_EQ(r.bad.size(), 3u);
  EXPECT_EQ(r.bad[0], std::make_pair(FP_BAD_CHECKSUM, size_t(2)));
  EXPECT_EQ(r.bad[1], std::make_pair(FP_BAD_LENGTH, size_t(2 + corrupt.size())));
  EXPECT_EQ(r.bad[2].first, FP_BAD_LENGTH);
  // Everything but the start bytes of the bad frames is noise.
  EXPECT_EQ(r.noise, 2 + (corrupt.size() - 1) + (bad_length.size() - 1) + 1);
  EXPECT_TRUE(r.held.empty());
}

TEST(FrameCore, StartByteInsidePayloadOfABadFrameStartsTheNextAttempt) {
  // A frame whose checksum fails hides a good frame in its payload: resynchronising finds it.
  const Bytes inner = Frame({9, 9});  // 5 bytes
  Bytes outer = Join({{FP_START, 6}, inner, {0x00}});
  outer.push_back(uint8_t(fp_crc8(&outer[1], 7) ^ 0xFF));
  Recorder r;
  r.Feed(outer);
  EXPECT_EQ(r.frames, (std::vector<std::string>{"0909"}));
  EXPECT_EQ(r.bad.size(), 1u);
}

TEST(FrameCore, TruncatedFrameAtTheEndWaitsAndNoiseWithoutStartIsConsumed) {
  Recorder r;
  r.Feed({0x01, 0x02, 0x03});
  EXPECT_EQ(r.noise, 3u);
  EXPECT_TRUE(r.held.empty());
  r.Feed({FP_START});
  EXPECT_EQ(r.held.size(), 1u);  // its length byte is still to come
  r.Feed({0x02, 0x04});
  EXPECT_EQ(r.held.size(), 3u);
  r.Feed({0x05});
  EXPECT_EQ(r.held.size(), 4u);
  EXPECT_TRUE(r.frames.empty());
}

}  // namespace
