// The wait of a data call keeps the calling thread's window messages served: a window of the
// calling thread ends the running call from its window procedure while the data call waits.
#include "framework/data_processing.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "framework/instance_registry.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"

namespace kiv {
namespace {

TkivPlugin* g_waiting_plugin = nullptr;
int g_served = 0;

LRESULT CALLBACK EndRunningCallProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_APP) return DefWindowProcA(hwnd, msg, wp, lp);
  ++g_served;
  g_waiting_plugin->Processing().store(false);
  return 0;
}

TEST(DataCallWait, ServesTheCallingThreadsMessagesWhileWaiting) {
  FrameworkInitialize();
  kivhost::HostParamsList params;
  kivhost::HostCallRecord host;
  host.SetParams(params.Object());
  auto* rec = static_cast<TPluginCallRec*>(host.data());
  ASSERT_EQ(CreatePluginInstanceImpl(rec), 0);
  g_waiting_plugin = FindInstance(rec).get();
  int handled = 0;
  g_waiting_plugin->OnProcessData = [&](TObject*, TPluginCallRec*, int32_t&) { ++handled; };

  WNDCLASSA wc{};
  wc.lpfnWndProc = &EndRunningCallProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "KivDataWaitWindow";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  g_served = 0;
  PostMessageA(window, WM_APP, 0, 0);

  g_waiting_plugin->SetTerminateNow(true);
  g_waiting_plugin->Processing().store(true);
  host.SetOptions(0x02);
  EXPECT_EQ(ProcessDataImpl(rec), -1);  // the call ended, but the instance is terminating
  EXPECT_EQ(g_served, 1);
  EXPECT_FALSE(g_waiting_plugin->Processing().load());
  EXPECT_EQ(handled, 0);

  DestroyWindow(window);
  FrameworkFinalize();
}

}  // namespace
}  // namespace kiv
