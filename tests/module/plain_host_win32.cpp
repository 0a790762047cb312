// A second host, run by the end-to-end tests as a child process. It publishes no allocator.
//
//   kiv_plain_host <module>: loads the module, has the test plugin deliver parsed data once and
//     checks that the kind-4 block lives on the process heap, where such a host frees it.
//   kiv_plain_host <module> LOAD-LIST <registry path> [<INI file>]: loads the test plugin's
//     settings list from that registry path (or INI file) and prints "RESULT=<0|1>", then one
//     line "<name>=<variant type>:<value>" per value read (texts in UTF-8).
//
// The exit code names the first check that failed (0: all passed).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "module/test_plugin_actions.h"

namespace {

using namespace kivhost;

std::u16string Wide(const char* text) { return std::u16string(text, text + std::strlen(text)); }

std::string Utf8(const std::u16string& text) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.c_str());
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::string ValueText(const HostValue& value) {
  if (value.Type == 8) return Utf8(value.Text);
  if (value.Type == 5) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", value.Number);
    return number;
  }
  return std::to_string(value.Integer);
}

int CheckHeapDelivery(HostModule& module, HostCallRecord& rec) {
  HostParamsList params, output;
  params.Add(kiv::kTestActionParam, HostValue::Wide(u"DELIVER"));
  rec.SetParams(params.Object());
  rec.SetOutput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(output.Object())});
  rec.SetOptions(0x02);
  if (module.ProcessData(rec.data()).Value != 0) return 4;
  const HostSlot in = rec.Input();
  void* block = reinterpret_cast<void*>(in.Value);
  if (in.Kind != 4 || !block || std::string(static_cast<const char*>(block), in.Size) != "packet1") return 5;
  if (!HeapValidate(GetProcessHeap(), 0, block) || HeapSize(GetProcessHeap(), 0, block) < in.Size) return 6;
  if (!HeapFree(GetProcessHeap(), 0, block)) return 7;
  return 0;
}

// Runs `command` with `params` on the instance of `rec`; the command's code.
int32_t Command(HostModule& module, HostCallRecord& rec, HostParamsList& params, const char* command) {
  params.Add("COMMAND", HostValue::Wide(Wide(command)));
  rec.SetParams(params.Object());
  return module.ExecutePluginCommand(rec.data()).Value;
}

int PrintList(HostModule& module, HostCallRecord& rec, int argc, char** argv) {
  HostParamsList load;
  load.Add("REGISTRY-PATH", HostValue::Wide(Wide(argv[3])));
  if (Command(module, rec, load, "LOAD") != 0) return 10;
  HostParamsList params;
  params.Add(kiv::kTestActionParam, HostValue::Wide(Wide(kiv::kActionLoadList)));
  if (argc > 4) params.Add(kiv::kListIniParam, HostValue::Wide(Wide(argv[4])));
  if (Command(module, rec, params, "READ-LIST") != kiv::kTestCustomResult) return 11;
  for (const HostItem& item : params.Items()) {
    if (item.Name == "RESULT") std::printf("RESULT=%d\n", item.Value.Integer != 0 ? 1 : 0);
    for (const kiv::TestListItem& def : kiv::kTestListItems)
      if (item.Name == def.Name) std::printf("%s=%u:%s\n", def.Name, item.Value.Type, ValueText(item.Value).c_str());
  }
  HostParamsList unload;
  return Command(module, rec, unload, "UNLOAD") == 0 ? 0 : 12;
}

}  // namespace

int main(int argc, char** argv) {
  const bool list_mode = argc >= 4 && std::strcmp(argv[2], "LOAD-LIST") == 0;
  if (argc != 2 && !list_mode) return 1;
  HostModule module;
  if (!module.Load(argv[1])) {
    std::fprintf(stderr, "load: %s\n", module.Error().c_str());
    return 2;
  }
  HostParamsList creating;
  HostCallRecord rec;
  rec.SetParams(creating.Object());
  if (module.CreatePluginInstance(rec.data()).Value != 0) return 3;
  const int failed = list_mode ? PrintList(module, rec, argc, argv) : CheckHeapDelivery(module, rec);
  if (failed != 0) return failed;
  HostCallRecord free_rec;
  free_rec.SetInstance(rec.Instance());
  if (module.FreePluginInstance(free_rec.data()).Value != 0) return 8;
  module.Unload();
  return 0;
}
