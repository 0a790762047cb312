#include "platform/path_names.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(WithBackslash, AppendsOneUnlessTheTextEndsWithOne) {
  EXPECT_EQ(WithBackslash(""), "\\");
  EXPECT_EQ(WithBackslash("C:\\data"), "C:\\data\\");
  EXPECT_EQ(WithBackslash("C:\\data\\"), "C:\\data\\");
  EXPECT_EQ(WithBackslash("\\"), "\\");
}

// Shift-JIS lead bytes: the trail byte of a double-byte character may be 0x5C, a backslash.
bool ShiftJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

TEST(WithBackslash, BackslashAsSecondByteOfADoubleByteCharacterDoesNotCount) {
  EXPECT_EQ(WithBackslash("\x95\x5C", ShiftJisLead), "\x95\x5C\\");
  EXPECT_EQ(WithBackslash("a\x95\x5C\\", ShiftJisLead), "a\x95\x5C\\");
  // A backslash after a complete double-byte character is a real one.
  EXPECT_EQ(WithBackslash("\x95\x41\\", ShiftJisLead), "\x95\x41\\");
  // In a single-byte code page the same bytes end with a backslash.
  EXPECT_EQ(WithBackslash("\x95\x5C", [](unsigned char) { return false; }), "\x95\x5C");
  EXPECT_TRUE(EndsInTrailByte("a\x95\x5C", ShiftJisLead));
  EXPECT_FALSE(EndsInTrailByte("\x95", ShiftJisLead));
}

TEST(FileFolder, KeepsTheFolderWithItsDelimiter) {
#ifdef _WIN32
  EXPECT_EQ(FileFolder("C:\\dir\\sub\\plugin.dll"), "C:\\dir\\sub\\");
  EXPECT_EQ(FileFolder("C:\\plugin.dll"), "C:\\");
  EXPECT_EQ(FileFolder("C:plugin.dll"), "C:");
#else
  EXPECT_EQ(FileFolder("/dir/sub/plugin.so"), "/dir/sub/");
  EXPECT_EQ(FileFolder("/plugin.so"), "/");
#endif
  EXPECT_EQ(FileFolder("plugin.dll"), "");
#ifdef _WIN32
  EXPECT_EQ(FileFolder("C:\\\x95\x5Cx.dll", ShiftJisLead), "C:\\");
#endif
  EXPECT_EQ(FileFolder(""), "");
}

TEST(WithPathDelim, UsesThePlatformDelimiter) {
  EXPECT_EQ(WithPathDelim("x"), std::string("x") + kPathDelim);
  EXPECT_EQ(WithPathDelim(std::string("x") + kPathDelim), std::string("x") + kPathDelim);
}

}  // namespace
}  // namespace kiv
