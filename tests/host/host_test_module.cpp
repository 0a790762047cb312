// A small plugin module for the host-library tests. It exports six of the eight entry points
// (FreePluginInstance and GetOptionsDialog are missing on purpose) and, on the command in a
// record's Options byte, calls back into the host's exported services, notifies the host window
// or faults. Records are read at their byte offsets, as any module reads them.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>

#include "interfaces/params_list_wrap.h"
#include "kiv/kiv_defs.h"
#include "kiv/kiv_params_list.h"

namespace {

// Offsets of the call record's fields.
constexpr int kInstanceAt = 5, kModuleIndexAt = 9, kContextAt = 13, kDataSourceIdAt = 17, kOptionsAt = 21;
constexpr int kInputAt = 26, kOutputAt = 39, kNameAt = 52;
constexpr int kSlotSize = 4, kSlotKind = 8, kSlotValue = 9;

// Commands in Options of ExecutePluginCommand.
enum Command : uint8_t {
  kSendData = 1, kRaiseEvent = 2, kPostLog = 3, kSendReload = 4, kFault = 5, kRaise = 6, kOtherServices = 7,
};

template <class T>
T Get(const void* rec, int at) {
  T v;
  std::memcpy(&v, static_cast<const char*>(rec) + at, sizeof v);
  return v;
}
template <class T>
void Put(void* rec, int at, T v) {
  std::memcpy(static_cast<char*>(rec) + at, &v, sizeof v);
}

// A service the host process exports, null when it does not.
template <class F>
F HostService(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name)));
}

using SendDataEx = int32_t(KIV_STDCALL*)(int32_t, int32_t, int32_t, int32_t, int32_t, uintptr_t, int32_t);

int32_t CallSendDataEx(void* rec, int32_t kind, uintptr_t p1, int32_t p2, bool with_record) {
  auto send = HostService<SendDataEx>("Vantrel_SendDataEx");
  if (!send) return -1;
  return send(Get<int32_t>(rec, kModuleIndexAt), with_record ? Get<int32_t>(rec, kContextAt) : 0,
              with_record ? Get<int32_t>(rec, kDataSourceIdAt) : 0, 0, kind, p1, p2);
}

int32_t RaiseEvent(void* rec) {
  kiv::IntfPtr<IkivParamsListW> wide = kiv::TkivParamsListWrap::Create();
  IkivParamsListA* list = nullptr;
  wide->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(&list));
  kivVARIANT value{};
  value.vt = KIV_VT_BOOL;
  value.boolVal = -1;
  list->Add("EVENT-GLOBAL", &value, nullptr);
  value.vt = KIV_VT_BSTR;
  value.bstrVal = SysAllocString(L"SAMPLE");
  list->Add("EVENT-TYPE", &value, nullptr);
  SysFreeString(value.bstrVal);
  value.vt = KIV_VT_I4;
  value.lVal = 3;
  list->Add("Count", &value, nullptr);
  const int32_t result = CallSendDataEx(rec, 7, reinterpret_cast<uintptr_t>(list), 0, false);
  list->Release();
  return result;
}

int32_t CallOtherServices(void* rec) {
  const int32_t index = Get<int32_t>(rec, kModuleIndexAt), source = Get<int32_t>(rec, kDataSourceIdAt);
  const char* name = static_cast<const char*>(rec) + kNameAt;
  using Three = int32_t(KIV_STDCALL*)(int32_t, int32_t, int32_t);
  using Data = int32_t(KIV_STDCALL*)(int32_t, int32_t, const void*, int32_t);
  using Form = int32_t(KIV_STDCALL*)(int32_t, int32_t, void*);
  int32_t found = 0;
  if (auto notify = HostService<Three>("Vantrel_SendNotify")) {
    notify(index, 11, 22);
    ++found;
  }
  if (auto data = HostService<Data>("Vantrel_DataSourceData")) {
    data(index, source, name, static_cast<int32_t>(strnlen(name, 50)));
    ++found;
  }
  if (auto state = HostService<Three>("Vantrel_DataSourceState")) {
    state(index, source, 1);
    ++found;
  }
  if (auto form = HostService<Form>("Vantrel_ManageDynForm")) {
    form(index, 3, nullptr);
    ++found;
  }
  return found;
}

HWND WindowOf(const void* rec) { return reinterpret_cast<HWND>(Get<uintptr_t>(rec, kInputAt + kSlotValue)); }

}  // namespace

KIV_EXTERN_C int32_t KIV_STDCALL CreatePluginInstance(void* rec) {
  if (Get<uint32_t>(rec, kInstanceAt) != 0) return -1;
  Put<uint32_t>(rec, kInstanceAt, 0x4B490000u | (Get<uint32_t>(rec, kModuleIndexAt) & 0xFFFFu));
  return 0;
}

KIV_EXTERN_C int32_t KIV_STDCALL ExecutePluginCommand(void* rec) {
  const char* name = static_cast<const char*>(rec) + kNameAt;
  switch (Get<uint8_t>(rec, kOptionsAt)) {
    case kSendData:
      return CallSendDataEx(rec, 129, reinterpret_cast<uintptr_t>(name), static_cast<int32_t>(strnlen(name, 50)), true);
    case kRaiseEvent:
      return RaiseEvent(rec);
    case kPostLog:
      return PostMessageA(WindowOf(rec), 1809, Get<uint32_t>(rec, kModuleIndexAt), 0) ? 0 : -1;
    case kSendReload: {
      DWORD_PTR answer = 0;
      return SendMessageTimeoutA(WindowOf(rec), 1812, Get<uint32_t>(rec, kModuleIndexAt), 0, SMTO_ABORTIFHUNG, 1000,
                                 &answer)
                 ? 0
                 : -1;
    }
    case kFault: {
      volatile uintptr_t unmapped = 16;
      return *reinterpret_cast<volatile int32_t*>(unmapped);
    }
    case kRaise:
      RaiseException(0xE0001234u, 0, 0, nullptr);
      return 0;
    case kOtherServices:
      return CallOtherServices(rec);
    default:
      return -2;
  }
}

// Echoes what it read: Output becomes an integer of Input's size times two; the result is the
// record's data source.
KIV_EXTERN_C int32_t KIV_STDCALL ProcessData(void* rec) {
  Put<uint8_t>(rec, kOutputAt + kSlotKind, 5);
  Put<uint32_t>(rec, kOutputAt + kSlotValue, Get<uint32_t>(rec, kInputAt + kSlotSize) * 2);
  return Get<int32_t>(rec, kDataSourceIdAt);
}

// Copies a fixed log text into the caller's buffer (Input: Size and Value), as much as fits.
KIV_EXTERN_C int32_t KIV_STDCALL GetLogEx(void* rec) {
  static const char kLog[] = "first line\r\nsecond line";
  const uint32_t room = Get<uint32_t>(rec, kInputAt + kSlotSize);
  const uint32_t n = room < sizeof kLog - 1 ? room : sizeof kLog - 1;
  if (n) std::memcpy(reinterpret_cast<void*>(Get<uintptr_t>(rec, kInputAt + kSlotValue)), kLog, n);
  return static_cast<int32_t>(n);
}

// Writes its name into `info` when `*size` leaves room for it; `*size` becomes the size needed.
KIV_EXTERN_C uint8_t KIV_STDCALL GetModuleInfo(void* rec, void* info, uint32_t* size) {
  static const char kInfo[] = "host test module";
  const bool fits = *size >= sizeof kInfo;
  if (fits) std::memcpy(info, kInfo, sizeof kInfo);
  *size = sizeof kInfo;
  return fits ? 1 : 0;
}

// Reports its status in Output: an integer, the module index plus one.
KIV_EXTERN_C void KIV_STDCALL ShowOptionsDialog(void* rec) {
  Put<uint8_t>(rec, kOutputAt + kSlotKind, 5);
  Put<uint32_t>(rec, kOutputAt + kSlotValue, Get<uint32_t>(rec, kModuleIndexAt) + 1);
}
