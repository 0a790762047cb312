#include "support/process_messages.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

int g_received = 0;

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    ++g_received;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// A message-only window of the test thread that counts WM_APP.
class MessagePumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &CountingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KivPumpTestWindow";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            wc.hInstance, nullptr);
    ASSERT_NE(hwnd_, nullptr);
    g_received = 0;
    MSG drain;
    while (PeekMessageA(&drain, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override { DestroyWindow(hwnd_); }
  void Post(int n) {
    for (int i = 0; i < n; ++i) PostMessageA(hwnd_, WM_APP, 0, 0);
  }
  HWND hwnd_ = nullptr;
};

TEST_F(MessagePumpTest, DispatchesWindowMessagesUpToTheLimit) {
  Post(25);
  EXPECT_EQ(kiv::ProcessMessages(5), 5);
  EXPECT_EQ(g_received, 5);
  EXPECT_EQ(kiv::ProcessMessages(), 20);
  EXPECT_EQ(g_received, 25);
  EXPECT_FALSE(kiv::ProcessOneMessage());
}

TEST_F(MessagePumpTest, QuitMessageEndsThePumpAndStaysInTheQueue) {
  Post(3);
  PostQuitMessage(7);
  EXPECT_EQ(kiv::ProcessMessages(), 3);
  EXPECT_EQ(g_received, 3);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(MessagePumpTest, ThreadMessagesAreTakenAndDropped) {
  PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_TRUE(kiv::ProcessOneMessage());
  EXPECT_EQ(g_received, 0);
  EXPECT_FALSE(kiv::ProcessOneMessage());
}

}  // namespace
