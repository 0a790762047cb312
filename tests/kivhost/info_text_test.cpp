#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dialog_form_text.h"
#include "module_info_text.h"

namespace kivhost {
namespace {

void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

// A module-information buffer as the module fills it, laid out from `base` in the module's view.
std::vector<unsigned char> Info(uint32_t base, const std::string& description, const std::string& commands) {
  std::vector<unsigned char> b(kModuleInfoFixedSize + description.size() + commands.size());
  Put32(b, 0, static_cast<uint32_t>(b.size()));
  Put32(b, 4, 0x27 | (5u << 16));
  Put32(b, 8, 4);
  const float version = 5.0f;
  std::memcpy(b.data() + 12, &version, 4);
  b[16] = 1;
  size_t at = kModuleInfoFixedSize;
  for (const auto& [field, text] : {std::pair<size_t, const std::string*>{17, &description}, {25, &commands}}) {
    if (text->empty()) continue;
    Put32(b, field, static_cast<uint32_t>(text->size()));
    Put32(b, field + 4, base + static_cast<uint32_t>(at));
    std::memcpy(b.data() + at, text->data(), text->size());
    at += text->size();
  }
  return b;
}

TEST(DescribeModuleInfo, ReadsTheFixedPartAndBothTexts) {
  const std::vector<unsigned char> b = Info(0x10000, "Varnolet", "RESET|Reset the port");
  EXPECT_EQ(DescribeModuleInfo(b.data(), b.size(), 0x10000),
            (std::vector<NamedValue>{Figure("module-type", 39),
                                     Figure("module-options", 5),
                                     {"framework", "4.0"},
                                     {"version", "5.0"},
                                     {"description", "Varnolet"},
                                     {"custom-commands", "RESET|Reset the port"}}));
}

TEST(DescribeModuleInfo, IgnoresTextsOutsideTheBufferAndShortBuffers) {
  std::vector<unsigned char> b = Info(0x10000, "abc", "");
  Put32(b, 21, 0x10000 + 34);  // one byte past the start of the text: runs over the end
  EXPECT_EQ(DescribeModuleInfo(b.data(), b.size(), 0x10000)[4].Value, "");
  Put32(b, 21, 0x10000 + 8);  // inside the fixed part
  EXPECT_EQ(DescribeModuleInfo(b.data(), b.size(), 0x10000)[4].Value, "");
  Put32(b, 21, 0x0FFF0);  // before the buffer
  EXPECT_EQ(DescribeModuleInfo(b.data(), b.size(), 0x10000)[4].Value, "");
  Put32(b, 17, 0xFFFFFFFF);  // a length that would wrap
  Put32(b, 21, 0x10000 + 33);
  EXPECT_EQ(DescribeModuleInfo(b.data(), b.size(), 0x10000)[4].Value, "");
  EXPECT_TRUE(DescribeModuleInfo(b.data(), kModuleInfoFixedSize - 1, 0x10000).empty());
}

TEST(DescribeDialogForm, ReadsTheThreeBlocksByTheHeader) {
  const std::string form = "object F end", code = "begin end;";
  std::vector<char> b(kDialogHeaderSize + form.size() + code.size() + 10, '#');
  auto put = [&](size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); };
  put(0, 24), put(4, static_cast<uint32_t>(form.size()));
  put(8, static_cast<uint32_t>(24 + form.size())), put(12, 0);
  put(16, static_cast<uint32_t>(24 + form.size())), put(20, static_cast<uint32_t>(code.size()));
  std::memcpy(b.data() + 24, form.data(), form.size());
  std::memcpy(b.data() + 24 + form.size(), code.data(), code.size());
  const size_t total = 24 + form.size() + code.size();
  EXPECT_EQ(DescribeDialogForm(b.data(), b.size(), total),
            (std::vector<NamedValue>{Figure("size", total), {"form", form}, {"form-data", ""}, {"code", code}}));
  // A block reaching past what was written is left out; so is everything when the size is wrong.
  put(20, static_cast<uint32_t>(code.size() + 1));
  EXPECT_EQ(DescribeDialogForm(b.data(), b.size(), total).size(), 3u);
  EXPECT_TRUE(DescribeDialogForm(b.data(), b.size(), 23).empty());
  EXPECT_TRUE(DescribeDialogForm(b.data(), 30, total).empty());
}

}  // namespace
}  // namespace kivhost
