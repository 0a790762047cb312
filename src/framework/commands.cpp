// The command entry point, the command lock with its nesting refusal, and the command rows.
#include "framework/commands.h"
#include "platform/call_holds.h"
#include "platform/foreign_call.h"

#include "framework/call_params.h"
#include "framework/command_rows.h"
#include "framework/data_processing.h"
#include "framework/instance_registry.h"
#include "framework/module_params.h"
#include "paramlist/variant.h"
#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/scope_exit.h"

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

// Runs an application handler that reports its own code; a failure gives -3 and is logged
// under the command's name.
template <class Handler>
int32_t RunHandler(TkivPlugin& plugin, std::string_view context, int32_t& result, Handler&& handler) {
  try {
    handler();
  } catch (const Exception&) {
    LogCaughtException(plugin, context);
    return kCmdFailed;
  }
  return result;
}

// Stores a command's "RESULT". A result the host cannot take (its allocator out of memory, a
// list that refuses the value) fails the command, logged under its name: without it the host
// would read a missing answer as done.
int32_t Answer(TkivPlugin& plugin, IkivParamsListA* params, std::string_view command, const Variant& value) {
  if (WriteCallResult(params, value.Data())) return kCmdDone;
  plugin.Log(0, "{" + std::string(command) + "} The result could not be stored");
  return kCmdFailed;
}

int32_t RunEvent(TkivPlugin& plugin, TPluginCallRec* rec, IkivParamsListA* params) {
  std::string type;
  if (!ReadCallName(params, "EVENT-TYPE", type)) return kCmdNotDone;
  int32_t result = kCmdDone;
  return RunHandler(plugin, "EVENT", result, [&] {
    if (plugin.OnEvent) plugin.OnEvent(&plugin, type, rec, result);
  });
}

int32_t RunSetItems(TkivPlugin& plugin, TPluginCallRec*, IkivParamsListA* params) {
  Variant items;
  if (!ReadCallParam(params, "ITEMS", items) || (items.VType() != varOleStr && items.VType() != varString))
    return kCmdNotDone;
  if (!plugin.SetParserItemsText(WideToAnsi(items.AsWide()))) return kCmdNotDone;
  if (plugin.OnSetParserItems) plugin.OnSetParserItems(&plugin);
  return kCmdDone;
}

int32_t RunItems(TkivPlugin& plugin, TPluginCallRec*, IkivParamsListA* params) {
  const std::string name(kCallRecResult);
  int32_t index = -1;
  if (ForeignHResult([&] { return params->IndexOf(name.c_str(), 0, -1, &index); }) != KIV_S_OK || index < 0)
    return kCmdNotDone;
  if (plugin.OnGetParserItems) plugin.OnGetParserItems(&plugin);
  return Answer(plugin, params, "ITEMS", Variant::Wide(AnsiToWide(plugin.ParserItemsText())));
}

int32_t RunEventsSupport(TkivPlugin& plugin, TPluginCallRec*, IkivParamsListA* params) {
  return Answer(plugin, params, "EVENTS-SUPPORT", Variant::Wide(AnsiToWide(plugin.EventsSupported())));
}

int32_t RunGetModuleParameter(TkivPlugin& plugin, TPluginCallRec*, IkivParamsListA* params) {
  std::string name;
  if (!ReadCallText(params, "PARAM", name)) return kCmdNotHandled;
  return Answer(plugin, params, "GET-MODULE-PARAMETER", GetModuleParameter(plugin, name));
}

int32_t RunSetModuleParameter(TkivPlugin& plugin, TPluginCallRec*, IkivParamsListA* params) {
  std::string name;
  if (!ReadCallText(params, "PARAM", name)) return kCmdNotHandled;
  Variant value;
  ReadCallParam(params, "VALUE", value);  // absent reads as empty
  // The value is set even when the answer cannot be stored.
  return Answer(plugin, params, "SET-MODULE-PARAMETER", Variant::Bool(SetModuleParameter(plugin, name, value)));
}

// SAVE-SETTINGS-NOW and LOAD-SETTINGS-NOW: the handlers run with the INI file the host names,
// and the instance's own INI file is put back afterwards. The code stays -2: the host decides.
int32_t RunSettingsNow(TkivPlugin& plugin, IkivParamsListA* params, bool load) {
  std::string kept = plugin.INIFile();
  ScopeExit restore([&plugin, &kept] { plugin.SetINIFile(std::move(kept)); });
  plugin.ReadIniFile(params, true);
  if (load) {
    if (plugin.OnLoadSettingsNow) plugin.OnLoadSettingsNow(&plugin);
    plugin.SetINIFile(kept);  // what was read is saved to the instance's own file
  }
  int32_t noSave = 0;
  if (!ReadCallInt(params, "NO-SAVE", noSave)) noSave = 0;
  if (plugin.OnSaveSettingsNow && noSave == 0) plugin.OnSaveSettingsNow(&plugin);
  return kCmdNotHandled;
}

int32_t RunSaveSettingsNow(TkivPlugin& plugin, TPluginCallRec*, IkivParamsListA* params) {
  return RunSettingsNow(plugin, params, false);
}

int32_t RunLoadSettingsNow(TkivPlugin& plugin, TPluginCallRec*, IkivParamsListA* params) {
  return RunSettingsNow(plugin, params, true);
}

// A name no row knows goes to the application.
int32_t RunCustomCommand(TkivPlugin& plugin, const std::string& name, TPluginCallRec* rec) {
  int32_t result = kCmdNotHandled;
  return RunHandler(plugin, name, result, [&] {
    if (plugin.OnExecuteCustomCommand) plugin.OnExecuteCustomCommand(&plugin, name, rec, result);
  });
}

// The rows in dispatch order; the first exact match wins.
constexpr CommandRow kCommandRows[] = {
    {"LOAD", &RunLoad},
    {"UNLOAD", &RunUnload},
    {"EVENT", &RunEvent},
    {"SET-ITEMS", &RunSetItems},
    {"ITEMS", &RunItems},
    {"SET-STATE", &RunSetState},
    {"EVENTS-SUPPORT", &RunEventsSupport},
    {"GET-MODULE-PARAMETER", &RunGetModuleParameter},
    {"SET-MODULE-PARAMETER", &RunSetModuleParameter},
    {"SAVE-SETTINGS-NOW", &RunSaveSettingsNow},
    {"LOAD-SETTINGS-NOW", &RunLoadSettingsNow},
};

}  // namespace

// Holds an instance's command gate, its lock and one step of its depth, for the length of a
// command.
class [[nodiscard]] SCOPED_CAPABILITY CommandScope {
 public:
  explicit CommandScope(TkivPlugin& plugin) ACQUIRE(plugin.Commands())
      : gate_(plugin.Commands()), lock_(gate_.lock_) {
    nested_ = gate_.depth_.fetch_add(1) + 1 != 1;
    hold_ = CallHold(&ReleaseAbandoned, &gate_);
  }
  ~CommandScope() RELEASE() { gate_.depth_.fetch_sub(1); }
  CommandScope(const CommandScope&) = delete;
  CommandScope& operator=(const CommandScope&) = delete;
  // Whether this command was issued from inside another on the same thread.
  bool Nested() const { return nested_; }

 private:
  // What the destructor does, for a scope that a contained fault abandoned. The lock was taken
  // in a frame that no longer exists, which the analysis cannot follow.
  static void ReleaseAbandoned(void* gate) noexcept NO_THREAD_SAFETY_ANALYSIS {
    auto& owner = *static_cast<TCommandGate*>(gate);
    owner.depth_.fetch_sub(1);
    owner.lock_.unlock();
  }

  TCommandGate& gate_;
  LockGuard<RecursiveMutex> lock_;
  bool nested_ = false;
  CallHold hold_;  // destroyed first: dropped before the depth and the lock are released
};

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
    return RunCustomCommand(plugin, name, rec);
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
    if (!ReadCallName(params, "COMMAND", name)) return kCmdNotDone;
    context = name;
    return ExecuteCommand(*plugin.get(), name, rec);
  } catch (...) {
    LogCaughtException(*plugin.get(), context);
    return kCmdFailed;
  }
}

}  // namespace kiv
