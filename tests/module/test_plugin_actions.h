// What the test module's handlers do, named by the "TEST-ACTION" parameter of a call; shared by
// the test module and the tests that drive it.
#pragma once

#include <cstdint>

namespace kiv {

inline constexpr const char* kTestActionParam = "TEST-ACTION";
inline constexpr const char* kActionLog = "LOG";        // adds a log line (the host hears 1809)
inline constexpr const char* kActionEvent = "EVENT";    // raises the host event "port-open"
inline constexpr const char* kActionSend = "SEND";      // sends kTestData; "RESULT" := the host's answer
inline constexpr const char* kActionSlots = "SLOTS";    // marks list slots, changes Output and Input.Counter
inline constexpr const char* kActionNest = "NEST";      // "RESULT" := the same command issued again inside
inline constexpr const char* kActionThrow = "THROW";    // raises an exception of the framework's
inline constexpr const char* kActionFault = "FAULT";    // writes to address 0 (in construction: unguarded)
inline constexpr const char* kActionHold = "HOLD";      // "RESULT" := handlers running at entry, then waits
// The EVENT handler and custom commands act as LOAD does; a custom command then returns
// kTestCustomResult.
inline constexpr int32_t kTestCustomResult = 7;
// The settings handlers save and load the log title as this key of the INI file they are given.
inline constexpr const char* kTestIniSection = "Test";
inline constexpr const char* kTestIniKey = "Title";
// Data calls. The handler writes "RESULT" := "input" or "none" (whether Input has data) and
// returns 1, unless:
inline constexpr const char* kActionFail = "FAIL";        // returns -1
inline constexpr const char* kActionDeliver = "DELIVER";  // delivers packet "packet<n>" and item
                                                          // "ITEM" = n, appending; n = Output.Counter + 1
// In the creating record: the instance has no data handler.
inline constexpr const char* kActionNoDataHandler = "NO-DATA-HANDLER";

inline constexpr unsigned char kTestData[] = {'d', 'a', 't', 'a', 0, 0xFF};
inline constexpr uintptr_t kTestOutputValue = 1234;

}  // namespace kiv
