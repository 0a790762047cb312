#include "call_probe.h"

#include <cstring>

#include "kiv/kiv_plugin.h"
#include "platform/seh_guard.h"

// uint32_t kivhost_call_measured(const void* fn, const uint32_t* args, uint32_t count): pushes
// args[count-1] .. args[0], calls fn and returns how many argument bytes fn removed from the stack.
// The stack pointer is put back from a callee-saved register whatever fn did to it.
extern "C" uint32_t kivhost_call_measured(const void* fn, const uint32_t* args, uint32_t count);
asm(R"(
  .text
  .globl _kivhost_call_measured
_kivhost_call_measured:
  push %ebp
  mov %esp, %ebp
  push %esi
  push %edi
  push %ebx
  mov 12(%ebp), %esi
  mov 16(%ebp), %ecx
  mov %esp, %edi
1:
  test %ecx, %ecx
  jz 2f
  dec %ecx
  pushl (%esi,%ecx,4)
  jmp 1b
2:
  call *8(%ebp)
  mov %esp, %eax
  sub %edi, %eax
  mov 16(%ebp), %ecx
  lea (%eax,%ecx,4), %eax
  mov %edi, %esp
  pop %ebx
  pop %edi
  pop %esi
  pop %ebp
  ret
)");

namespace kivhost {
namespace {

// The plugin interface the direct calls hand over: identifies itself, fails every service and
// clears every output, so that a plugin that checks its results stays on its error paths.
class StandInPlugin final : public IkivPluginW, public IkivPluginEx {
 public:
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override {
    if (!obj) return KIV_E_UNEXPECTED;
    *obj = nullptr;
    if (kivIsEqualGUID(&iid, &IID_IkivPluginW) || kivIsEqualGUID(&iid, &IID_IkivPlugin_))
      *obj = static_cast<IkivPluginW*>(this);
    else if (kivIsEqualGUID(&iid, &IID_IkivPluginEx))
      *obj = static_cast<IkivPluginEx*>(this);
    return *obj ? KIV_S_OK : KIV_E_NOINTERFACE;
  }
  int32_t KIV_STDCALL AddRef() override { return -1; }
  int32_t KIV_STDCALL Release() override { return -1; }

  kivHRESULT KIV_STDCALL AddLog(int32_t, const kivWCHAR*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL GetModuleParameter(const kivWCHAR*, kivVARIANT* value) override { return Clear(value); }
  kivHRESULT KIV_STDCALL SetModuleParameter(const kivWCHAR*, const kivVARIANT*, kivBOOL* accepted) override {
    return Clear(accepted);
  }
  kivHRESULT KIV_STDCALL GetParsedData(IkivParamsListW** list) override { return Clear(list); }
  kivHRESULT KIV_STDCALL SetNamedObject(const kivWCHAR*, void*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL GetNamedObject(const kivWCHAR*, void** object) override { return Clear(object); }
  kivHRESULT KIV_STDCALL RemoveNamedObject(const kivWCHAR*, void** object) override { return Clear(object); }
  kivHRESULT KIV_STDCALL GetParserItems(kivVARIANT* text) override { return Clear(text); }
  kivHRESULT KIV_STDCALL GetModuleConfigs(kivVARIANT* text) override { return Clear(text); }
  kivHRESULT KIV_STDCALL SendData(const kivPluginCallRecIntf*, const void*, uint32_t, int32_t* result) override {
    if (result) *result = -1;
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL CreateParamsList(IkivParamsListW** list) override { return Clear(list); }
  kivHRESULT KIV_STDCALL FireEvent(const kivWCHAR*, IkivParamsListW*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL ProcessSettings(kivBOOL, IkivParamsListW*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL GetParserClientBuffer(const kivPluginCallRecIntf*, IkivFifoBuffer** buffer) override {
    return Clear(buffer);
  }

 private:
  template <class T>
  static kivHRESULT Clear(T* out) {
    if (out) std::memset(out, 0, sizeof *out);
    return KIV_E_UNEXPECTED;
  }
};

struct MeasuredCall {
  const void* Fn;
  const uint32_t* Args;
  uint32_t Count;
  uint32_t Removed;
};

void CallMeasured(void* context) {
  auto* call = static_cast<MeasuredCall*>(context);
  call->Removed = kivhost_call_measured(call->Fn, call->Args, call->Count);
}

template <class T>
uint32_t Arg(T* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

}  // namespace

std::array<ProbeOutcome, kInnerEntryCount> ProbeEntryPoints(const std::array<void*, kInnerEntryCount>& entries) {
  StandInPlugin plugin;
  const uint32_t intf = Arg(static_cast<IkivPluginW*>(&plugin));
  kivPluginCallRecIntf rec{};
  rec.Rec.Size = sizeof rec.Rec;
  int32_t result = 0;
  kivBOOL shown = KIV_FALSE;
  static const kivWCHAR kName[] = KIV_TEXT_W("CHECK");

  // Look-up indices in the order an instance meets them, and the arguments of each.
  constexpr size_t kOrder[kInnerEntryCount] = {0, 2, 4, 5, 7, 8, 9, 10, 6, 11, 3, 1};
  std::array<ProbeOutcome, kInnerEntryCount> out{};
  for (const size_t entry : kOrder) {
    if (!entries[entry]) continue;
    uint32_t args[4] = {intf, 0, 0, 0};
    switch (entry) {
      case 2: case 3: case 11: args[1] = Arg(&rec), args[2] = Arg(&result); break;
      case 6: args[1] = Arg(&rec), args[2] = Arg(&shown); break;
      case 7: case 8: args[1] = Arg(kName), args[2] = Arg(&rec), args[3] = Arg(&result); break;
      default: break;  // the plugin alone; StateChanged's mask stays 0
    }
    result = 0;
    MeasuredCall call{entries[entry], args, InnerEntryArgBytes(entry) / 4, 0};
    ProbeOutcome& o = out[entry];
    if (!kiv::CallSehGuarded(&CallMeasured, &call)) {
      o.Conv = Convention::Faulted;
      continue;
    }
    o.BytesRemoved = call.Removed;
    o.Conv = call.Removed == InnerEntryArgBytes(entry) ? Convention::Stdcall
             : call.Removed == 0                       ? Convention::Cdecl
                                                       : Convention::Mismatch;
  }
  return out;
}

}  // namespace kivhost
