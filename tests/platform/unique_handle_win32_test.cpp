// The Win32 owners close the system's handles.
#include "platform/unique_handle_win32.h"

#include <gtest/gtest.h>

#include <utility>

namespace kiv {
namespace {

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

TEST(UniqueHandle, ResetAndMoveAssignmentCloseTheOldHandle) {
  UniqueHandle first(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle second(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(first && second);
  const HANDLE old = first.get(), moved = second.get();
  first = std::move(second);
  EXPECT_FALSE(IsOpen(old));
  EXPECT_EQ(first.get(), moved);
  first.reset();
  EXPECT_FALSE(IsOpen(moved));
}

TEST(UniqueKey, ClosesTheKeyItOpened) {
  UniqueKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
  const HKEY raw = key.get();
  key.reset();
  EXPECT_NE(RegQueryValueExA(raw, "", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
}

}  // namespace
}  // namespace kiv
