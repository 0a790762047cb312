// The command entry point, the command lock with its nesting refusal, and the command rows.
#include "framework/commands.h"

#include "framework/call_params.h"
#include "framework/data_processing.h"
#include "framework/instance_registry.h"
#include "platform/exception.h"

namespace kiv {

namespace {

// One command row: the name, compared exactly, and what it does. The handler gets the instance,
// the prepared record and its parameter interface, and returns the command's code.
using CommandHandler = int32_t (*)(TkivPlugin& plugin, TPluginCallRec* rec, IkivParamsListA* params);
struct CommandRow {
  std::string_view Name;
  CommandHandler Run;
};

int32_t RunLoad(TkivPlugin& plugin, TPluginCallRec* rec, IkivParamsListA*) {
  // The language was applied before the common values were read (ExecuteCommand).
  try {
    plugin.PluginLoad(rec);
  } catch (const Exception&) {
    LogCaughtException(plugin, "LOAD");
    return kCmdFailed;
  }
  return kCmdDone;
}

int32_t RunUnload(TkivPlugin& plugin, TPluginCallRec* rec, IkivParamsListA*) {
  try {
    plugin.PluginUnload(rec);
  } catch (const Exception&) {
    return kCmdFailed;  // not logged: the instance is going away
  }
  return kCmdDone;
}

// The rows in dispatch order; the first exact match wins.
constexpr CommandRow kCommandRows[] = {
    {"LOAD", &RunLoad},
    {"UNLOAD", &RunUnload},
};

// Holds the command lock and one step of the command depth for the length of a command.
class CommandScope {
 public:
  explicit CommandScope(TkivPlugin& plugin) : plugin_(plugin), lock_(plugin.CommandLock()) {
    nested_ = plugin_.CommandDepth().fetch_add(1) + 1 != 1;
  }
  ~CommandScope() { plugin_.CommandDepth().fetch_sub(1); }
  CommandScope(const CommandScope&) = delete;
  CommandScope& operator=(const CommandScope&) = delete;
  // Whether this command was issued from inside another on the same thread.
  bool Nested() const { return nested_; }

 private:
  TkivPlugin& plugin_;
  std::lock_guard<std::recursive_mutex> lock_;
  bool nested_ = false;
};

}  // namespace

int32_t ExecuteCommand(TkivPlugin& plugin, const std::string& name, TPluginCallRec* rec) {
  try {
    CommandScope scope(plugin);
    if (scope.Nested()) throw EAssertionFailed(std::string(kNestedCommandMessage));
    IkivParamsListA* params = CallParams(*rec);
    if (name == "LOAD") plugin.ApplyLanguage(params);
    int32_t value = 0;
    if (ReadCallInt(params, "MSG-PROC-HANDLE", value))
      plugin.SetMessageWindow(reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(static_cast<uint32_t>(value))));
    if (ReadCallInt(params, "OWNER-FORM", value))
      plugin.SetOwnerForm(reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(static_cast<uint32_t>(value))));
    for (const CommandRow& row : kCommandRows)
      if (row.Name == name) return row.Run(plugin, rec, params);
    return kCmdNotHandled;
  } catch (const Exception&) {
    return kCmdFailed;
  }
}

int32_t ExecutePluginCommandImpl(TPluginCallRec* rec) noexcept {
  if (!CallRecordAccepted(rec)) return kCmdNotDone;
  TPluginRef plugin = FindInstance(rec);
  if (!plugin) return kCmdNotDone;
  TPluginCallRecIntf saved;  // restores the record on every exit
  std::string context = "CMD?";
  try {
    if (!PrepareCallRec(rec, saved)) return kCmdNotDone;
    IkivParamsListA* params = CallParams(*rec);
    bool temporary = false;
    if (ReadCallBool(params, "TEMPORARY-LOAD", temporary)) plugin->SetIsTemporaryLoad(temporary);
    std::string name;
    if (!ReadCallText(params, "COMMAND", name)) return kCmdNotDone;
    context = name;
    return ExecuteCommand(*plugin.get(), name, rec);
  } catch (...) {
    LogCaughtException(*plugin.get(), context);
    return kCmdFailed;
  }
}

}  // namespace kiv
