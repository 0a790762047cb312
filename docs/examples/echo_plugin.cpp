// A small inner plugin in C++: per-instance state, log lines, module parameters, an event and a
// custom command that reads a parameter and answers in the call's list.
//
//   ECHO    copies the parameter "TEXT" into "RESULT", logs it and counts the calls
//   COUNT   answers the number of ECHO calls in "RESULT"
//   event RESET sets the count back to zero
#include <atomic>
#include <string>

#include "kiv/kiv_cpp.h"

namespace sdk = kiv::sdk;

namespace {

// The library is loaded once per process, however many instances the host creates: what belongs
// to one instance lives in an object that the plugin interface keeps for us under a name.
constexpr const kivWCHAR* kStateName = KIV_TEXT_W("echo_plugin.state");

struct State {
  std::atomic<int32_t> echoes{0};
};

}  // namespace

// Tells checking tools which SDK this plugin was built with.
KIV_PLUGIN_SDK_VERSION_EXPORT;

extern "C" {

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) { sdk::CreateState<State>(plugin, kStateName); }

void KIV_STDCALL kivPluginDestroy(IkivPluginW* plugin) { sdk::DestroyState<State>(plugin, kStateName); }

void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  // The variant output is owned (and freed) by sdk::Variant; AsText converts the number.
  const sdk::Variant index = sdk::ModuleParameter(plugin, KIV_TEXT_W("ModuleIndex"));
  const sdk::WString line = KIV_TEXT_W("Echo plugin loaded as module ") +
                            index.AsText().value_or(KIV_TEXT_W("?"));
  sdk::Log(plugin, sdk::kLogInfo, line);
}

void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* event_type,
                                kivPluginCallRecIntf* rec, int32_t* result) {
  State* state = sdk::FindState<State>(plugin, kStateName);
  if (!state || !sdk::EqualsNoCase(event_type, KIV_TEXT_W("RESET"))) return;  // other events keep the preset
  state->echoes = 0;
  *result = KIV_RESULT_DONE;
}

void KIV_STDCALL kivPluginExecuteCustomCommand(IkivPluginW* plugin, const kivWCHAR* command,
                                               kivPluginCallRecIntf* rec, int32_t* result) {
  State* state = sdk::FindState<State>(plugin, kStateName);
  sdk::List params(rec->ParamsW);  // borrowed for this call: held only while `params` lives
  if (!state || !params) return;
  if (sdk::EqualsNoCase(command, KIV_TEXT_W("ECHO"))) {
    const sdk::Variant text = params.Value(KIV_TEXT_W("TEXT"));
    if (text.empty()) {
      sdk::Log(plugin, sdk::kLogWarning, KIV_TEXT_W("ECHO needs a parameter TEXT"));
      *result = KIV_RESULT_NOT_DONE;
      return;
    }
    params.Set(KIV_TEXT_W("RESULT"), text);  // the list copies the value
    if (const auto echoed = text.AsText())
      sdk::Log(plugin, sdk::kLogInfo, KIV_TEXT_W("Echo: ") + *echoed);  // the module copies the text
    ++state->echoes;
    *result = KIV_RESULT_DONE;
  } else if (sdk::EqualsNoCase(command, KIV_TEXT_W("COUNT"))) {
    params.Set(KIV_TEXT_W("RESULT"), sdk::Int(state->echoes));
    *result = KIV_RESULT_DONE;
  }
  // Any other command keeps the preset result -2: not handled.
}

}  // extern "C"
