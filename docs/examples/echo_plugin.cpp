// A small inner plugin in C++: per-instance state, log lines, module parameters, an event and a
// custom command that reads a parameter and answers in the call's list.
//
//   ECHO    copies the parameter "TEXT" into "RESULT", logs it and counts the calls
//   COUNT   answers the number of ECHO calls in "RESULT"
//   event RESET sets the count back to zero
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>

#include "kiv/kiv_plugin.h"

namespace {

// The library is loaded once per process, however many instances the host creates: what belongs
// to one instance lives in an object that the plugin interface keeps for us under a name.
constexpr const wchar_t* kStateName = L"echo_plugin.state";

struct State {
  std::atomic<int32_t> echoes{0};
};

State* Find(IkivPluginW* plugin) {
  void* object = nullptr;
  if (plugin->GetNamedObject(kStateName, &object) != KIV_S_OK) return nullptr;
  return static_cast<State*>(object);
}

// Stores an integer under "RESULT" in `list`, adding the item when it is missing.
void SetResult(IkivParamsListW* list, int32_t n) {
  kivVARIANT v{};
  v.vt = KIV_VT_I4;
  v.lVal = n;
  list->SetValue(L"RESULT", &v, KIV_TRUE, nullptr);
}

}  // namespace

extern "C" {

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) {
  auto* state = new State;
  if (plugin->SetNamedObject(kStateName, state) != KIV_S_OK) delete state;
}

void KIV_STDCALL kivPluginDestroy(IkivPluginW* plugin) {
  void* object = nullptr;
  if (plugin->RemoveNamedObject(kStateName, &object) == KIV_S_OK) delete static_cast<State*>(object);
}

void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  // A variant output holds a new value that we free; text arrives as a BSTR.
  kivVARIANT index{};
  plugin->GetModuleParameter(L"ModuleIndex", &index);
  VariantChangeType(reinterpret_cast<VARIANT*>(&index), reinterpret_cast<VARIANT*>(&index), 0, VT_BSTR);
  std::wstring line = L"Echo plugin loaded as module ";
  line += index.vt == KIV_VT_BSTR && index.bstrVal ? index.bstrVal : L"?";
  VariantClear(reinterpret_cast<VARIANT*>(&index));
  plugin->AddLog(2, line.c_str());  // level 2: information
}

void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* event_type,
                                kivPluginCallRecIntf* rec, int32_t* result) {
  State* state = Find(plugin);
  if (!state || lstrcmpiW(event_type, L"RESET") != 0) return;  // other events keep the preset
  state->echoes = 0;
  *result = KIV_RESULT_DONE;
}

void KIV_STDCALL kivPluginExecuteCustomCommand(IkivPluginW* plugin, const kivWCHAR* command,
                                               kivPluginCallRecIntf* rec, int32_t* result) {
  State* state = Find(plugin);
  IkivParamsListW* params = rec->ParamsW;  // borrowed for this call: no Release
  if (!state || !params) return;
  if (lstrcmpiW(command, L"ECHO") == 0) {
    kivVARIANT text{};
    if (params->GetValue(L"TEXT", -1, -1, &text) != KIV_S_OK || text.vt == KIV_VT_EMPTY) {
      plugin->AddLog(1, L"ECHO needs a parameter TEXT");
      *result = KIV_RESULT_NOT_DONE;
      return;
    }
    params->SetValue(L"RESULT", &text, KIV_TRUE, nullptr);  // the list copies the value
    if (text.vt == KIV_VT_BSTR && text.bstrVal) {
      const std::wstring line = std::wstring(L"Echo: ") + text.bstrVal;
      plugin->AddLog(2, line.c_str());  // the module copies the text
    }
    VariantClear(reinterpret_cast<VARIANT*>(&text));  // our copy is ours to free
    ++state->echoes;
    *result = KIV_RESULT_DONE;
  } else if (lstrcmpiW(command, L"COUNT") == 0) {
    SetResult(params, state->echoes);
    *result = KIV_RESULT_DONE;
  }
  // Any other command keeps the preset result -2: not handled.
}

}  // extern "C"
