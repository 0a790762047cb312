// The dialog exports against the real system: raw-data resources of this executable found by
// the loader, and the reload notice posted to a real window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "framework/options_dialog.h"
#include "plugin_call_helper.h"
#include "registered_instances.h"

namespace kiv {
namespace {

class OptionsDialogSystemTest : public testing::RegisteredInstances {
 protected:
  OptionsDialogSystemTest() { handle_ = Create(); }

  std::string Describe(const char* form_name) {
    std::vector<char> buffer(256, 0);
    std::strcpy(buffer.data(), form_name);
    host_.SetInput({0, static_cast<uint32_t>(buffer.size()), 2, reinterpret_cast<uintptr_t>(buffer.data())});
    GetOptionsDialogImpl(RecFor(handle_));
    if (host_.Output().Kind != ckBuffer) return "status " + std::to_string(host_.Output().Value);
    std::string text;
    for (int i = 0; i < 3; ++i) {
      uint32_t pair[2];
      std::memcpy(pair, buffer.data() + 8 * i, sizeof pair);
      text += "[" + std::string(buffer.data() + pair[0], pair[1]) + "]";
    }
    return text;
  }

  uintptr_t handle_ = 0;
};

TEST_F(OptionsDialogSystemTest, ResourcesOfTheModuleAreReadAsTheyAre) {
  EXPECT_EQ(Describe("MyForm"), "[<form/>][][code]");
  EXPECT_EQ(Describe(""), "[<form/>][][default code]");
  EXPECT_EQ(Describe("absent"), "status 2");
  EXPECT_EQ(SystemModuleResourceReader()(GetModuleHandleA(nullptr), "MYFORM_CODE"), "code");
  EXPECT_EQ(SystemModuleResourceReader()(GetModuleHandleA("kernel32.dll"), "MYFORM"), "");
}

TEST_F(OptionsDialogSystemTest, ReloadNoticeReachesTheWindowOfAnInstanceOnAnotherThread) {
  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const uintptr_t peer = Create();
  for (uintptr_t handle : {handle_, peer}) {
    std::thread([&] {
      testing::PreparedCall call;
      call.Text("REGISTRY-PATH", u"Software\\Shared");
      call.Host().SetModuleIndex(handle == peer ? 9 : 1);
      Plugin(handle).PluginLoad(call.Rec());
    }).join();
    Plugin(handle).OnLoadSettingsNow = [](TObject*) {};
  }
  Plugin(peer).SetMessageWindow(window);
  Plugin(handle_).OnShowOptionsDialog = [](TObject*, TPluginCallRec*, bool& result) { result = true; };
  ShowOptionsDialogImpl(RecFor(handle_));
  EXPECT_EQ(host_.Output().Value, 1u);

  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, window, kMsgReloadSettings, kMsgReloadSettings, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 9u);
  EXPECT_EQ(msg.lParam, 0);
  EXPECT_FALSE(PeekMessageA(&msg, window, kMsgReloadSettings, kMsgReloadSettings, PM_REMOVE));
  Plugin(peer).SetMessageWindow(nullptr);
  DestroyWindow(window);
}

}  // namespace
}  // namespace kiv
