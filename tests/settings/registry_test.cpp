#include "settings/registry.h"

#include <gtest/gtest.h>

#include "settings/registry_key_helper.h"

namespace kiv {
namespace {

TEST(Registry, OpensOnlyExistingKeysUnlessCreating) {
  test::TestRegistryKey key;
  TRegistry reg(kHKeyCurrentUser);
  EXPECT_FALSE(reg.OpenKey(key.Path() + "\\A\\B", false));
  EXPECT_FALSE(reg.HasCurrentKey());
  EXPECT_TRUE(reg.OpenKey(key.Path() + "\\A\\B", true));
  EXPECT_TRUE(reg.OpenKey(key.Path().substr(1) + "\\a", false));  // without "\", other case
  EXPECT_TRUE(reg.HasCurrentKey());
}

TEST(Registry, ValuesKeepTheirTypeAndBytes) {
  test::TestRegistryKey key;
  TRegistry reg(kHKeyCurrentUser);
  ASSERT_TRUE(reg.OpenKey(key.Path(), true));
  const std::string dword("\x2A\0\0\0", 4), binary("\x01\x00\xFF", 3);
  ASSERT_TRUE(reg.WriteValue("Num", kRegDword, dword));
  ASSERT_TRUE(reg.WriteValue("Text", kRegSz, "hello"));
  ASSERT_TRUE(reg.WriteValue("Bin", kRegBinary, binary));
  std::uint32_t type = 0;
  std::string data;
  ASSERT_TRUE(reg.ReadValue("num", type, data));
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(data, dword);
  ASSERT_TRUE(reg.ReadValue("Text", type, data));
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, "hello");
  ASSERT_TRUE(reg.ReadValue("Bin", type, data));
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(data, binary);
  EXPECT_TRUE(reg.DeleteValue("Text"));
  EXPECT_FALSE(reg.ValueExists("Text"));
  EXPECT_FALSE(reg.DeleteValue("Text"));
  EXPECT_FALSE(reg.ReadValue("Missing", type, data));
}

TEST(Registry, DeleteTreeRemovesSubkeysButNeverARoot) {
  test::TestRegistryKey key;
  TRegistry reg(kHKeyCurrentUser);
  ASSERT_TRUE(reg.OpenKey(key.Path() + "\\A\\B", true));
  ASSERT_TRUE(reg.WriteValue("x", kRegSz, "1"));
  reg.CloseKey();
  EXPECT_TRUE(DeleteRegistryTree(kHKeyCurrentUser, key.Path() + "\\A"));
  EXPECT_FALSE(reg.OpenKey(key.Path() + "\\A\\B", false));
  EXPECT_TRUE(reg.OpenKey(key.Path(), false));
  EXPECT_FALSE(DeleteRegistryTree(kHKeyCurrentUser, ""));
  EXPECT_FALSE(DeleteRegistryTree(kHKeyCurrentUser, "\\"));
}

TEST(Registry, NothingWorksWithoutAnOpenKey) {
  TRegistry reg;
  std::uint32_t type;
  std::string data;
  EXPECT_FALSE(reg.ReadValue("x", type, data));
  EXPECT_FALSE(reg.WriteValue("x", kRegSz, "1"));
  EXPECT_FALSE(reg.DeleteValue("x"));
  reg.SetRootKey(0x12345678u);
  EXPECT_FALSE(reg.OpenKey("Software", false));
}

}  // namespace
}  // namespace kiv
