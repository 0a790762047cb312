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
inline constexpr const char* kActionNest = "NEST";      // "RESULT" := the same command issued again inside,
                                                        // or the command named by kNestCommandParam
inline constexpr const char* kActionThrow = "THROW";    // raises an exception of the framework's
inline constexpr const char* kActionFault = "FAULT";    // writes to address 0 (in construction: unguarded)
inline constexpr const char* kActionRawFault = "RAW-FAULT";  // writes to address 0 outside any guard of
                                                             // the plugin's (commands, data, dialog)
inline constexpr const char* kActionHold = "HOLD";      // "RESULT" := handlers running at entry, then waits
inline constexpr const char* kNestCommandParam = "NEST-COMMAND";
// The EVENT handler and custom commands act as LOAD does; a custom command then returns
// kTestCustomResult.
inline constexpr int32_t kTestCustomResult = 7;
// The settings handlers save and load the log title as this key of the INI file they are given.
inline constexpr const char* kTestIniSection = "Test";
inline constexpr const char* kTestIniKey = "Title";
// The settings load handler also stores the id of the thread it ran on as the custom value
// kReloadThreadValue.
inline constexpr const char* kReloadThreadValue = "ReloadThread";
// The options dialog handler writes "RESULT" := the dialog options | 0x100 while the dialog flag
// is set | 0x200 when the dialog has parameters (marked "SEEN" = "Dialog"), and confirms the
// dialog unless the action is:
inline constexpr const char* kActionCancel = "CANCEL";  // not confirmed (THROW raises an exception)

// Custom commands on a settings list of the items below, stored below section kTestListSection of
// the instance's settings (the registry, or the INI file kListIniParam names when given):
inline constexpr const char* kActionSaveList = "SAVE-LIST";  // saves the call's parameters of these
                                                             // names; "RESULT" := the save's answer
inline constexpr const char* kActionLoadList = "LOAD-LIST";  // loads the list, writes each value read
                                                             // to the call's parameters; "RESULT" := the
                                                             // load's answer
inline constexpr const char* kListIniParam = "LIST-INI";
inline constexpr const char* kTestListSection = "Lists\\Port";
struct TestListItem {
  const char* Name;
  int32_t DataType;  // a variant type
};
inline constexpr TestListItem kTestListItems[] = {{"Speed", 3}, {"Port", 8}, {"Enabled", 11}, {"Ratio", 5}};

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
