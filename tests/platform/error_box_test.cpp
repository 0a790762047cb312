#include "platform/error_box.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string g_seen;
void Capture(const std::string& title, const std::string& text) { g_seen = title + "|" + text; }

TEST(ErrorBox, ReplaceableHandlerReceivesTitleAndTextAndCanBeRestored) {
  kiv::ErrorBoxHandler old = kiv::SetErrorBoxHandler(&Capture);
  kiv::ShowErrorBox("Title", "Text");
  EXPECT_EQ(g_seen, "Title|Text");
  EXPECT_EQ(kiv::SetErrorBoxHandler(old), &Capture);
}

}  // namespace
