// Module information: the fixed part, the UTF-8 texts and their addresses, and buffers that are
// missing, short, exact or large, never written beyond their capacity.
#include "framework/module_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "registered_instances.h"

namespace kiv {
namespace {

constexpr uint8_t kFill = 0xCD;

class ModuleInfoTest : public testing::RegisteredInstances {
 protected:
  ModuleInfoTest() {
    handle_ = Create();
    TkivPlugin& plugin = Plugin(handle_);
    plugin.SetModuleType(0x05);
    plugin.SetModuleOptions(0x06);
    plugin.SetEnabledByte(1);
  }
  // A buffer of `bytes` bytes filled with kFill, stating `capacity`.
  static std::vector<uint8_t> Buffer(size_t bytes, uint32_t capacity) {
    std::vector<uint8_t> buffer(bytes, kFill);
    std::memcpy(buffer.data(), &capacity, 4);
    return buffer;
  }
  static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
  }
  bool Get(std::vector<uint8_t>& buffer, uint32_t& size) {
    return GetModuleInfoImpl(RecFor(handle_), buffer.empty() ? nullptr : buffer.data(), &size);
  }
  void ExpectFixedPart(const std::vector<uint8_t>& b, uint32_t capacity) {
    EXPECT_EQ(U32(b, 0), capacity);
    EXPECT_EQ(U32(b, 4), 0x05u | (0x06u << 16));
    EXPECT_EQ(U32(b, 8), 4u);
    float version;
    std::memcpy(&version, b.data() + 12, 4);
    EXPECT_EQ(version, 4.0f);
    EXPECT_EQ(b[16], 1);
  }

  uintptr_t handle_ = 0;
};

TEST_F(ModuleInfoTest, ExactBufferGetsTheFixedPartAndBothTextsInUtf8) {
  TkivPlugin& plugin = Plugin(handle_);
  plugin.SetDescription("Caf\xE9 reader");  // Windows-1252 e acute
  plugin.CustomCommands().Add("RUN", "Run", "", true, false);
  const std::string description = "Caf\xC3\xA9 reader";
  const std::string commands = "RUN|Run||1|0\r\n";
  const uint32_t needed = 33 + static_cast<uint32_t>(description.size() + commands.size());

  auto buffer = Buffer(needed + 8, needed);
  uint32_t size = 0;
  ASSERT_TRUE(Get(buffer, size));
  EXPECT_EQ(size, needed);
  ExpectFixedPart(buffer, needed);
  const auto address = [&](size_t offset) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer.data() + offset));
  };
  EXPECT_EQ(U32(buffer, 17), description.size());
  EXPECT_EQ(U32(buffer, 21), address(33));
  EXPECT_EQ(U32(buffer, 25), commands.size());
  EXPECT_EQ(U32(buffer, 29), address(33 + description.size()));
  EXPECT_EQ(std::string(buffer.begin() + 33, buffer.begin() + needed), description + commands);
  // Nothing beyond the needed size, and a larger capacity is written back unchanged.
  for (size_t i = needed; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kFill) << i;
  auto large = Buffer(needed + 100, needed + 100);
  ASSERT_TRUE(Get(large, size));
  EXPECT_EQ(U32(large, 0), needed + 100);
  EXPECT_EQ(large[needed], kFill);
}

TEST_F(ModuleInfoTest, ShortBufferGetsOnlyTheFixedPartAndTheNeededSize) {
  Plugin(handle_).SetDescription("Reader");
  auto buffer = Buffer(48, 33);
  uint32_t size = 0;
  EXPECT_FALSE(Get(buffer, size));
  EXPECT_EQ(size, 33u + 6u);
  ExpectFixedPart(buffer, 33);
  for (size_t at : {17, 21, 25, 29}) EXPECT_EQ(U32(buffer, at), 0u) << at;
  for (size_t i = 33; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kFill) << i;
}

TEST_F(ModuleInfoTest, MissingOrTooSmallBufferIsUntouchedButTheSizeIsSet) {
  Plugin(handle_).SetDescription("Reader");
  std::vector<uint8_t> none;
  uint32_t size = 0;
  EXPECT_FALSE(Get(none, size));
  EXPECT_EQ(size, 39u);
  auto small = Buffer(40, 32);
  EXPECT_FALSE(Get(small, size));
  EXPECT_EQ(size, 39u);
  EXPECT_EQ(U32(small, 0), 32u);
  for (size_t i = 4; i < small.size(); ++i) EXPECT_EQ(small[i], kFill) << i;
  // An address that is no memory of the caller's is refused, not written.
  size = 0;
  EXPECT_FALSE(GetModuleInfoImpl(RecFor(handle_), reinterpret_cast<void*>(0x10), &size));
  EXPECT_EQ(size, 39u);
}

TEST_F(ModuleInfoTest, EmptyTextsLeaveTheirFieldsZeroAndFitTheFixedPart) {
  auto buffer = Buffer(33, 33);
  uint32_t size = 0;
  EXPECT_TRUE(Get(buffer, size));
  EXPECT_EQ(size, 33u);
  ExpectFixedPart(buffer, 33);
  for (size_t at : {17, 21, 25, 29}) EXPECT_EQ(U32(buffer, at), 0u) << at;
}

TEST_F(ModuleInfoTest, UnknownInstanceGivesFalseAndSizeZero) {
  auto buffer = Buffer(64, 64);
  uint32_t size = 99;
  EXPECT_FALSE(GetModuleInfoImpl(RecFor(handle_ + 1), buffer.data(), &size));
  EXPECT_EQ(size, 0u);
  for (size_t i = 4; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kFill) << i;
  EXPECT_FALSE(GetModuleInfoImpl(nullptr, buffer.data(), nullptr));
}

}  // namespace
}  // namespace kiv
