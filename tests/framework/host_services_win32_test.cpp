// Host services against the real system: the log notice posted to a window of ours, the host
// module found by name or handle, and its Vantrel_SendDataEx export (exported by this test
// executable) reached through RaiseHostEvent and SendHostData, also when it faults.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "framework/call_params.h"
#include "framework/plugin.h"
#include "plugin_call_helper.h"

namespace {

struct HostSeen {
  int calls = 0;
  int32_t args[5] = {};
  intptr_t p1 = 0, p2 = 0;
  std::string event_type;
  bool fault = false;
};
HostSeen g_host;

}  // namespace

extern "C" __declspec(dllexport) int32_t __stdcall Vantrel_SendDataEx(int32_t a, int32_t b, int32_t c, int32_t d,
                                                                      int32_t kind, intptr_t p1, intptr_t p2) {
  if (g_host.fault) *reinterpret_cast<volatile int*>(uintptr_t{16}) = 1;  // a host that crashes
  ++g_host.calls;
  const int32_t args[5] = {a, b, c, d, kind};
  std::copy(args, args + 5, g_host.args);
  g_host.p1 = p1;
  g_host.p2 = p2;
  if (kind == 7) kiv::ReadCallText(reinterpret_cast<IkivParamsListA*>(p1), "EVENT-TYPE", g_host.event_type);
  return 1000 + kind;
}

namespace kiv {
namespace {

using testing::PreparedCall;

std::u16string ExeName() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path);
  name = name.substr(name.find_last_of("\\/") + 1);
  return std::u16string(name.begin(), name.end());
}

TEST(HostServicesWin32, LogNoticeIsPostedToTheHostWindow) {
  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  TkivPlugin plugin(nullptr, nullptr);
  PreparedCall load;
  load.Host().SetModuleIndex(6);
  plugin.PluginLoad(load.Rec());
  plugin.SetMessageWindow(window);
  plugin.Log(2, "line");
  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, window, kMsgLogNotify, kMsgLogNotify, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 6u);
  EXPECT_EQ(msg.lParam, 0);
  DestroyWindow(window);
}

TEST(HostServicesWin32, HostModuleIsFoundAndItsExportCalled) {
  g_host = HostSeen{};
  TkivPlugin plugin(nullptr, nullptr);
  PreparedCall load;
  load.Text("APPLICATION-NAME", ExeName());
  load.Host().SetModuleIndex(2);
  plugin.PluginLoad(load.Rec());
  ASSERT_EQ(plugin.ParentApp(), GetModuleHandleA(nullptr));
  ASSERT_NE(plugin.HostFunctions().SendDataEx, nullptr);
  EXPECT_EQ(plugin.HostFunctions().SendNotify, nullptr);

  plugin.RaiseHostEvent(false, "Changed", nullptr);
  EXPECT_EQ(g_host.calls, 1);
  EXPECT_EQ(g_host.args[0], 2);
  EXPECT_EQ(g_host.args[4], 7);
  EXPECT_EQ(g_host.event_type, "CHANGED");

  PreparedCall data;
  data.Host().SetContext(21);
  data.Host().SetDataSourceId(22);
  EXPECT_EQ(plugin.SendHostData(data.Rec(), 0x100, 0x200), 1129);
  const int32_t expected[5] = {2, 21, 22, 0, 129};
  EXPECT_TRUE(std::equal(expected, expected + 5, g_host.args));
  EXPECT_EQ(g_host.p1, 0x100);
  EXPECT_EQ(g_host.p2, 0x200);

  // A fault inside the host's export is contained and reported as a failure.
  g_host.fault = true;
  EXPECT_EQ(plugin.SendHostData(nullptr, 1, 2), -1);
  plugin.RaiseHostEvent(true, "x", nullptr);
  EXPECT_EQ(g_host.calls, 2);
}

TEST(HostServicesWin32, HandleParameterNamesTheHostModule) {
  TkivPlugin plugin(nullptr, nullptr);
  PreparedCall load;
  load.Int("HANDLE", static_cast<int32_t>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))))
      .Text("APPLICATION-NAME", u"no-such-module.exe");
  plugin.PluginLoad(load.Rec());
  EXPECT_EQ(plugin.ParentApp(), GetModuleHandleA(nullptr));
  EXPECT_NE(plugin.HostFunctions().SendDataEx, nullptr);
}

}  // namespace
}  // namespace kiv
