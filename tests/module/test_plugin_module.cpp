// A test module: the module's own entry points and start-up, with a plugin class whose LOAD and
// UNLOAD handlers do what the record's "TEST-ACTION" asks, so that the end-to-end tests can watch
// each path from the host's side. Its construction faults when the creating record asks.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "framework/call_params.h"
#include "framework/instance_registry.h"
#include "framework/list_save.h"
#include "framework/parsed_data.h"
#include "paramlist/params_list.h"
#include "support/thread_object.h"
#include "module/module_entry.h"
#include "platform/exception.h"
#include "platform/seh_guard.h"
#include "module/test_plugin_actions.h"

KIV_EXTERN_C int32_t KIV_STDCALL ExecutePluginCommand(kiv::TPluginCallRec* rec);

namespace kiv {
namespace {

void WriteNull(void*) { *static_cast<volatile int*>(nullptr) = 1; }

std::string ActionOf(TPluginCallRec* rec) {
  std::string action;
  if (rec) ReadCallText(CallParams(*rec), kTestActionParam, action);
  return action;
}

// Marks a list as seen by the plugin: an item "SEEN" with the given name.
void MarkList(IkivParamsListW* list, const char16_t* name) {
  if (!list) return;
  Variant value = Variant::Wide(name);
  list->SetValue(L"SEEN", reinterpret_cast<const kivVARIANT*>(&value.Data()), 1, nullptr);
}
void MarkSlot(const TPluginCallValue& slot, const char16_t* name) { MarkList(CallSlotIntf(slot), name); }

// Issues the call's command again from inside its handler, or the one "NEST-COMMAND" names (the
// call's "COMMAND" is put back afterwards).
int32_t Nest(IkivParamsListA* params, TPluginCallRec* rec) {
  std::string inner, outer;
  if (!ReadCallText(params, kNestCommandParam, inner)) return ExecutePluginCommand(rec);
  ReadCallText(params, "COMMAND", outer);
  params->SetValue("COMMAND", reinterpret_cast<const kivVARIANT*>(&Variant::Ansi(inner).Data()), 1, nullptr);
  const int32_t result = ExecutePluginCommand(rec);
  params->SetValue("COMMAND", reinterpret_cast<const kivVARIANT*>(&Variant::Ansi(outer).Data()), 1, nullptr);
  return result;
}

// Saves the call's values of the test list's items, or loads the list into the call's parameters.
void ListSettings(TkivPlugin& plugin, IkivParamsListA* params, bool load) {
  ParamsListPtr list = TkivParamsList::Create();
  list->SetTag(1);  // texts held plain
  for (const TestListItem& def : kTestListItems) {
    Variant value;
    if (!load) ReadCallParam(params, def.Name, value);
    list->Add(def.Name, value.Data())->SetDataType(def.DataType);
  }
  std::string ini;
  ReadCallText(params, kListIniParam, ini);
  const bool done = load ? LoadListSettings(plugin, *list, kTestListSection, ini)
                         : SaveListSettings(plugin, *list, kTestListSection, ini);
  for (int i = 0; load && i < list->Count(); ++i) {
    const Variant value = list->Items(i)->GetValue();
    if (!value.IsEmptyOrNull())
      params->SetValue(std::string(list->Items(i)->Name()).c_str(), reinterpret_cast<const kivVARIANT*>(&value.Data()),
                       1, nullptr);
  }
  WriteCallResult(params, Variant::Bool(done).Data());
}

void Act(TkivPlugin& plugin, const std::string& action, TPluginCallRec* rec, const char* phase) {
  IkivParamsListA* params = CallParams(*rec);
  WriteCallResult(params, Variant::Ansi(phase).Data());
  if (action == kActionLog) {
    plugin.Log(1, std::string(phase) + " logged");
  } else if (action == kActionEvent) {
    plugin.RaiseHostEvent(false, "port-open", nullptr);
  } else if (action == kActionSend) {
    const int32_t sent = plugin.SendHostData(rec, reinterpret_cast<intptr_t>(kTestData), sizeof kTestData);
    WriteCallResult(params, Variant::Int32(sent).Data());
  } else if (action == kActionSlots) {
    MarkSlot(rec->Input, u"Input");
    MarkSlot(rec->Output, u"Output");
    rec->Output.Kind = 5;
    rec->Output.Value = kTestOutputValue;
    rec->Input.Counter += 1;
  } else if (action == kActionNest) {
    WriteCallResult(params, Variant::Int32(Nest(params, rec)).Data());
  } else if (action == kActionSaveList || action == kActionLoadList) {
    ListSettings(plugin, params, action == kActionLoadList);
  } else if (action == kActionHold) {
    // Counts the handlers running at once on any thread; a serialised instance sees only itself.
    static std::atomic<int> running{0};
    WriteCallResult(params, Variant::Int32(++running).Data());
    Sleep(150);
    --running;
  } else if (action == kActionThrow) {
    throw Exception("Handler refused");
  } else if (action == kActionRawFault) {
    WriteNull(nullptr);
  } else if (action == kActionFault) {
    // Plugin code that faults is run under the guard, as the proxy runs the inner plugin.
    if (!CallSehGuarded(&WriteNull, nullptr)) throw Exception("Access violation in the handler");
  }
}

// The data handler: see test_plugin_actions.h.
void ProcessAct(TPluginCallRec& rec, int32_t& result) {
  const std::string action = ActionOf(&rec);
  if (action == kActionThrow) throw Exception("Handler refused");
  if (action == kActionRawFault) WriteNull(nullptr);
  if (action == kActionFail) {
    result = -1;
  } else if (action == kActionDeliver) {
    const std::string n = std::to_string(rec.Output.Counter + 1);
    TParsedDataList parsed;
    parsed.AddPacket("packet" + n);
    parsed.Add("ITEM", Variant::Ansi(n).Data());
    DeliverParsedData(&rec, parsed, true);
  } else {
    WriteCallResult(CallParams(rec), Variant::Ansi(rec.Input.Value != 0 ? "input" : "none").Data());
    result = 1;
  }
}

class TTestPlugin : public TkivPlugin {
 public:
  TTestPlugin(TPluginCallRec* rec, ModuleHandle module) : TkivPlugin(rec, module) {
    // A fault outside any guard of the plugin's: only the entry point's guard stops it.
    if (ActionOf(rec) == kActionFault) WriteNull(nullptr);
    OnPluginLoad = [this](TObject*, TPluginCallRec* r, int32_t&) { Act(*this, ActionOf(r), r, "loaded"); };
    OnPluginUnload = [this](TObject*, TPluginCallRec* r, int32_t&) { Act(*this, ActionOf(r), r, "unloaded"); };
    OnEvent = [this](TObject*, const std::string&, TPluginCallRec* r, int32_t&) {
      Act(*this, ActionOf(r), r, "event");
    };
    OnExecuteCustomCommand = [this](TObject*, const std::string&, TPluginCallRec* r, int32_t& result) {
      Act(*this, ActionOf(r), r, "custom");
      result = kTestCustomResult;
    };
    // Settings: the log title, kept as "Title" in section "Test" of the current INI file.
    OnSaveSettingsNow = [this](TObject*) {
      WritePrivateProfileStringA(kTestIniSection, kTestIniKey, LogTitle().c_str(), INIFile().c_str());
    };
    OnLoadSettingsNow = [this](TObject*) {
      char title[256] = {};
      GetPrivateProfileStringA(kTestIniSection, kTestIniKey, "", title, sizeof title, INIFile().c_str());
      SetLogTitle(title);
      WriteLocked<TkivParamsList> values(CustomValues());
      values->SetValue(kReloadThreadValue, Variant::Int32(static_cast<int32_t>(GetCurrentThreadId())).Data(), true);
    };
    OnShowOptionsDialog = [this](TObject*, TPluginCallRec* r, bool& result) {
      const std::string action = ActionOf(r);
      if (action == kActionThrow) throw Exception("Dialog refused");
      if (action == kActionRawFault) WriteNull(nullptr);
      int32_t seen = DialogOptions() | (DialogOpen() ? 0x100 : 0);
      if (DialogParams()) seen |= 0x200;
      MarkList(DialogParams(), u"Dialog");
      WriteCallResult(CallParams(*r), Variant::Int32(seen).Data());
      result = action != kActionCancel;
    };
    if (ActionOf(rec) != kActionNoDataHandler)
      OnProcessData = [](TObject*, TPluginCallRec* r, int32_t& result) { ProcessAct(*r, result); };
  }
};

}  // namespace
}  // namespace kiv

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    kiv::ModuleProcessAttach();
    kiv::RegisterPluginClass(&kiv::PluginClassOf<kiv::TTestPlugin>);
  } else if (reason == DLL_PROCESS_DETACH) {
    kiv::ModuleProcessDetach(reserved != nullptr);
  }
  return TRUE;
}
