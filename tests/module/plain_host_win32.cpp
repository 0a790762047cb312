// A host that publishes no allocator: it loads the module named on its command line, has the
// test plugin deliver parsed data once and checks that the kind-4 block lives on the process
// heap, where such a host frees it. The end-to-end tests run it as a child process; the exit
// code names the first check that failed (0: all passed).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/host_call_record.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "module/test_plugin_actions.h"

int main(int argc, char** argv) {
  using namespace kivhost;
  if (argc != 2) return 1;
  HostModule module;
  if (!module.Load(argv[1])) {
    std::fprintf(stderr, "load: %s\n", module.Error().c_str());
    return 2;
  }
  HostParamsList creating, params, output;
  HostCallRecord rec;
  rec.SetParams(creating.Object());
  if (module.CreatePluginInstance(rec.data()).Value != 0) return 3;
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
  HostCallRecord free_rec;
  free_rec.SetInstance(rec.Instance());
  if (module.FreePluginInstance(free_rec.data()).Value != 0) return 8;
  module.Unload();
  return 0;
}
