// The host window on its own: messages from other threads are recorded only while the owner pumps,
// the pump ends at its condition or its time-out, and a throwing callback does not lose a message.
#include "host/host_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <thread>
#include <utility>

namespace kivhost {
namespace {

TEST(HostWindow, RecordsNoticesPostedAndSentFromOtherThreadsWhilePumped) {
  HostWindow window;
  const HWND hwnd = static_cast<HWND>(window.Handle());
  std::thread poster([hwnd] {
    PostMessageA(hwnd, kMsgLogNotify, 3, 0);
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(hwnd, kMsgReloadSettings, 4, 9, SMTO_ABORTIFHUNG, 5000, &answer);
    PostMessageA(hwnd, WM_USER + 1, 0, 0);  // not a notice: not recorded
  });
  EXPECT_TRUE(window.Pump(10000, [&] { return window.Messages().size() == 2; }));
  poster.join();
  window.Pump(0);
  // A sent message is served before posted ones, so the order of arrival may differ.
  auto messages = window.Messages();
  ASSERT_EQ(messages.size(), 2u);
  if (messages[0].Message != kMsgLogNotify) std::swap(messages[0], messages[1]);
  EXPECT_EQ(messages[0].Message, kMsgLogNotify);
  EXPECT_EQ(messages[0].WParam, 3u);
  EXPECT_EQ(messages[1].Message, kMsgReloadSettings);
  EXPECT_EQ(messages[1].WParam, 4u);
  EXPECT_EQ(messages[1].LParam, 9);
  window.Clear();
  EXPECT_TRUE(window.Messages().empty());
}

TEST(HostWindow, PumpEndsAtItsTimeOutWhenTheConditionNeverHolds) {
  HostWindow window;
  EXPECT_FALSE(window.Pump(30, [] { return false; }));
  EXPECT_FALSE(window.Pump(0));
}

TEST(HostWindow, ThrowingCallbackKeepsTheMessageAndThePump) {
  HostWindow window;
  int calls = 0;
  window.SetCallback([&](const HostMessage&) {
    ++calls;
    throw std::runtime_error("callback failed");
  });
  PostMessageA(static_cast<HWND>(window.Handle()), kMsgLogNotify, 1, 0);
  PostMessageA(static_cast<HWND>(window.Handle()), kMsgLogNotify, 2, 0);
  EXPECT_TRUE(window.Pump(5000, [&] { return window.Count(kMsgLogNotify) == 2; }));
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace kivhost
