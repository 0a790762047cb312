// The host's exports and the instance's calls into them: RaiseHostEvent and SendHostData.
#include "framework/host_services.h"

#include <atomic>

#include "framework/call_params.h"
#include "framework/plugin.h"
#include "interfaces/params_list_wrap.h"
#include "platform/code_page.h"
#include "platform/seh_guard.h"

namespace kiv {

const char* const kHostFunctionNames[5] = {"Vantrel_SendNotify", "Vantrel_SendDataEx",
                                           "Vantrel_DataSourceData", "Vantrel_DataSourceState",
                                           "Vantrel_ManageDynForm"};

// The system's services, in host_services_win32.cpp or host_services_posix.cpp.
namespace host_system {
std::string ModuleFileName(ModuleHandle module);
std::string ApplicationFileName();
ModuleHandle LoadedModule(const std::string& name);
void* ExportAddress(ModuleHandle module, const char* name);
bool PostNotice(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
bool SendNoticeTimeout(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                        uint32_t timeout_ms);
uint32_t CurrentThreadId();
}  // namespace host_system

namespace {

// Kinds of the fifth argument of Vantrel_SendDataEx.
constexpr int32_t kSendKindEvent = 7;
constexpr int32_t kSendKindData = 129;

std::atomic<const HostPlatform*> g_platform{nullptr};

struct SendDataExCall {
  TSendDataExProc proc;
  int32_t args[5];
  intptr_t p1;
  intptr_t p2;
  int32_t result;
};

// Runs inside the guard: nothing here has a destructor.
void CallSendDataExGuarded(void* context) {
  auto* call = static_cast<SendDataExCall*>(context);
  call->result = call->proc(call->args[0], call->args[1], call->args[2], call->args[3], call->args[4],
                            call->p1, call->p2);
}

}  // namespace

const HostPlatform& SystemHostPlatform() {
  static const HostPlatform platform{host_system::ModuleFileName,     host_system::ApplicationFileName,
                                     host_system::LoadedModule,       host_system::ExportAddress,
                                     host_system::PostNotice,        host_system::SendNoticeTimeout,
                                     host_system::CurrentThreadId};
  return platform;
}

const HostPlatform& CurrentHostPlatform() {
  const HostPlatform* platform = g_platform.load(std::memory_order_acquire);
  return platform ? *platform : SystemHostPlatform();
}

const HostPlatform* SetHostPlatform(const HostPlatform* platform) {
  const HostPlatform* previous = g_platform.exchange(platform, std::memory_order_acq_rel);
  return previous ? previous : &SystemHostPlatform();
}

THostFunctions LookUpHostFunctions(ModuleHandle module) {
  THostFunctions functions;
  if (!module) return functions;
  const HostPlatform& platform = CurrentHostPlatform();
  void** slots[5] = {&functions.SendNotify, &functions.SendDataEx, &functions.DataSourceData,
                     &functions.DataSourceState, &functions.ManageDynForm};
  for (int i = 0; i < 5; ++i) *slots[i] = platform.ExportAddress(module, kHostFunctionNames[i]);
  return functions;
}

bool CallSendDataEx(TSendDataExProc proc, const int32_t (&args)[5], intptr_t p1, intptr_t p2,
                    int32_t& result) {
  SendDataExCall call{proc, {args[0], args[1], args[2], args[3], args[4]}, p1, p2, 0};
  if (!CallSehGuarded(&CallSendDataExGuarded, &call)) return false;
  result = call.result;
  return true;
}

void TkivPlugin::RaiseHostEvent(bool global, std::string_view eventType, IkivParamsListA* list) {
  auto proc = reinterpret_cast<TSendDataExProc>(host_.Functions.SendDataEx);
  if (!proc) return;
  // The caller's own "EVENT-GLOBAL" decides; without it the flag does.
  bool listed = false;
  const bool is_global = ReadCallBool(list, "EVENT-GLOBAL", listed) ? listed : global;
  ParamsListPtr items = TkivParamsList::Create();
  if (is_global) items->Add("EVENT-GLOBAL", Variant::Bool(true));
  items->Add("EVENT-TYPE", Variant::Ansi(AnsiUpperCase(eventType)));
  IntfPtr<IkivParamsListW> wrap = TkivParamsListWrap::Create(std::move(items));
  auto* event_list = static_cast<IkivParamsListA*>(TkivParamsListWrap::FromIntf(wrap.get()));
  if (list) TkivParamsListWrap::CopyItems(list, event_list, 0, -1);
  int32_t ignored = 0;
  CallSendDataEx(proc, {host_.ModuleIndex, 0, 0, 0, kSendKindEvent}, reinterpret_cast<intptr_t>(event_list), 0,
                 ignored);
  // The reference was lent for the call; our release frees the list.
}

int32_t TkivPlugin::SendHostData(const TPluginCallRec* rec, intptr_t p1, intptr_t p2) {
  auto proc = reinterpret_cast<TSendDataExProc>(host_.Functions.SendDataEx);
  if (!proc) return KIV_RESULT_NOT_DONE;
  const int32_t context = rec ? rec->Context : 0;
  const int32_t source = rec ? rec->DataSourceId : 0;
  int32_t result = KIV_RESULT_NOT_DONE;
  if (!CallSendDataEx(proc, {host_.ModuleIndex, context, source, 0, kSendKindData}, p1, p2, result))
    return KIV_RESULT_NOT_DONE;
  return result;
}

}  // namespace kiv
