// The host's five exported services. They record every call in HostExportLog and return the
// result set there. Linked into an executable by kiv_host_executable(), which also exports them
// under their undecorated names.
#include <windows.h>
#include <oleauto.h>

#include <cstring>

#include "host/host_exports.h"
#include "kiv/kiv_params_list.h"
#include "platform/readable_memory.h"

namespace kivhost {
namespace {

// Calls larger than this are not copied: no data block of a test or tool comes near it.
constexpr int32_t kMaxDataCopy = 64 * 1024 * 1024;

HostExportCall Begin(HostExport service, std::initializer_list<uintptr_t> args) {
  HostExportCall call;
  call.Service = service;
  call.Args.assign(args);
  call.ThreadId = GetCurrentThreadId();
  return call;
}

// Copies the block at `data` of `size` bytes; an unreadable block or a bad size is noted instead.
void CopyData(HostExportCall& call, const void* data, int32_t size) {
  if (size == 0) return;
  if (size < 0 || size > kMaxDataCopy || !data) {
    call.DataUnreadable = true;
    return;
  }
  call.Data.resize(static_cast<std::size_t>(size));
  if (!kiv::ReadableCopy(call.Data.data(), data, call.Data.size())) {
    call.Data.clear();
    call.DataUnreadable = true;
  }
}

// Reads every item of a list passed by interface, through the interface alone, as a host does.
void ReadList(HostExportCall& call, IkivParamsListA* list) {
  if (!list || !kiv::IsReadableMemory(list, sizeof(void*))) return;
  call.HasList = true;
  const int32_t count = list->GetCount();
  for (int32_t i = 0; i < count; ++i) {
    IkivParamsListItemA* item = nullptr;
    if (list->GetItem(i, &item) != KIV_S_OK || !item) continue;
    HostItem read;
    if (const char* name = item->GetName()) read.Name = name;
    if (const char* key = item->GetKey()) read.Key = key;
    read.DataType = item->GetDataType();
    read.State = item->GetState();
    kivVARIANT value;
    std::memset(&value, 0, sizeof value);
    if (item->GetValue(&value) == KIV_S_OK) {
      read.Value = HostValueOf(value);
      VariantClear(reinterpret_cast<VARIANT*>(&value));
    }
    item->Release();
    call.Items.push_back(std::move(read));
  }
}

int32_t Finish(HostExportCall call) {
  HostExportLog& log = HostExportLog::Instance();
  const HostExport service = call.Service;
  const int32_t result = log.Result(service);
  log.Record(std::move(call));
  if (const std::function<void()> action = log.Action(service)) action();
  return result;
}

uintptr_t U(int32_t v) { return static_cast<uint32_t>(v); }
uintptr_t P(const void* p) { return reinterpret_cast<uintptr_t>(p); }

}  // namespace
}  // namespace kivhost

using kivhost::Begin;
using kivhost::HostExport;
using kivhost::P;
using kivhost::U;

extern "C" int32_t __stdcall Vantrel_SendDataEx(int32_t module_index, int32_t context, int32_t data_source_id,
                                                 int32_t reserved, int32_t kind, uintptr_t p1, int32_t p2) {
  try {
    auto call = Begin(HostExport::SendDataEx,
                      {U(module_index), U(context), U(data_source_id), U(reserved), U(kind), p1, U(p2)});
    if (static_cast<uint32_t>(kind) == kivhost::kSendKindEvent) {
      kivhost::ReadList(call, reinterpret_cast<IkivParamsListA*>(p1));
    } else if (static_cast<uint32_t>(kind) == kivhost::kSendKindData) {
      kivhost::CopyData(call, reinterpret_cast<const void*>(p1), p2);
    }
    return kivhost::Finish(std::move(call));
  } catch (...) {
    return -1;
  }
}

extern "C" int32_t __stdcall Vantrel_SendNotify(int32_t module_index, int32_t code, int32_t value) {
  try {
    return kivhost::Finish(Begin(HostExport::SendNotify, {U(module_index), U(code), U(value)}));
  } catch (...) {
    return -1;
  }
}

extern "C" int32_t __stdcall Vantrel_DataSourceData(int32_t module_index, int32_t data_source_id, const void* data,
                                                     int32_t size) {
  try {
    auto call = Begin(HostExport::DataSourceData, {U(module_index), U(data_source_id), P(data), U(size)});
    kivhost::CopyData(call, data, size);
    return kivhost::Finish(std::move(call));
  } catch (...) {
    return -1;
  }
}

extern "C" int32_t __stdcall Vantrel_DataSourceState(int32_t module_index, int32_t data_source_id, int32_t state) {
  try {
    return kivhost::Finish(
        Begin(HostExport::DataSourceState, {U(module_index), U(data_source_id), U(state)}));
  } catch (...) {
    return -1;
  }
}

extern "C" int32_t __stdcall Vantrel_ManageDynForm(int32_t module_index, int32_t action, IkivParamsListA* params) {
  try {
    auto call = Begin(HostExport::ManageDynForm, {U(module_index), U(action), P(params)});
    kivhost::ReadList(call, params);
    return kivhost::Finish(std::move(call));
  } catch (...) {
    return -1;
  }
}
