// The command entry point fed host-layout parameter lists built from the input: names from the
// command protocol and arbitrary ones, values of every kind a host list carries, a "COMMAND"
// from the command rows or arbitrary, and varied Options and Input/Output slots (integers or
// nested lists). Each input gets a fresh, loaded instance, so a run depends on its input alone.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/commands.h"
#include "framework/instance_registry.h"
#include "fuzz_input.h"
#include "host/host_call_record.h"
#include "host/host_params_list.h"

namespace {

using kiv::fuzz::Check;
using kivhost::HostCallRecord;
using kivhost::HostParamsList;
using kivhost::HostSlot;
using kivhost::HostValue;

// Names and texts the commands look at: parameter names, command names, module parameters,
// event names and a few line shapes of the data-source texts.
const char* const kWords[] = {
    "COMMAND", "TEMPORARY-LOAD", "MSG-PROC-HANDLE", "OWNER-FORM", "EVENT-TYPE", "PARAM", "VALUE",
    "RESULT", "COUNT", "ITEMS", "DATA-SOURCES-IN-CFG", "DATA-SOURCE-LOAD", "SUBSCRIBE-FOR-DATA",
    "INI-FILE", "NO-SAVE", "REGISTRY-PATH", "INI-SECTION-PREFIX", "APPLICATION-NAME", "CONFIG-ID",
    "LANGUAGE", "LOAD", "UNLOAD", "EVENT", "SET-ITEMS", "SET-STATE", "EVENTS-SUPPORT",
    "GET-MODULE-PARAMETER", "SET-MODULE-PARAMETER", "SAVE-SETTINGS-NOW", "LOAD-SETTINGS-NOW",
    "TESTTRANSL", "AppDataPath", "ApplicationFullName", "Custom", "CustomCommands",
    "DataSourceLoadFor", "Description", "DisplayFullVersion", "EventsSupported", "INIFile",
    "INISectionPrefix", "IsTemporaryLoad", "LogTitle", "ModuleConfigId", "ModuleDataPath",
    "ModuleDllHandle", "ModuleEnabled", "ModuleIndex", "ModuleLoadCount", "ModuleLoadForConfig",
    "ModuleName", "ModulePath", "ModulePluginHandle", "ModuleRegistryPath", "ModuleType",
    "ParentApp", "ParserItemDesc", "ParserItemName", "ParserItemType", "ParserItems",
    "ParserItemsCount", "TerminateNow", "TranslatorComponentProperties", "LOG-MESSAGE",
    "NEW-DATA-PACKET", "CONFIG-CHANGE", "STOP-SERVICE", "DUMMY", "1;COM1;Port one", "2;",
    "-1;x;y", "DATA_PACKET", "CLIENTID", "",
};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

// Variant type codes a host list item may carry; the host list stores a value for 3, 5 and 8
// and leaves the others' value zero.
const uint16_t kTypes[] = {0, 1, 2, 3, 4, 5, 7, 8, 11, 16, 17, 18, 19, 20};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return pos_ < size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int32_t Int() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return static_cast<int32_t>(v);
  }
  // A protocol word (high bit clear) or up to 31 raw bytes.
  std::string Text() {
    const uint8_t b = Byte();
    if (!(b & 0x80)) return kWords[b % kWordCount];
    std::string text;
    for (int n = b & 0x1F; n > 0 && More(); --n) text.push_back(static_cast<char>(Byte()));
    return text;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

std::u16string Widen(std::string_view text) { return {text.begin(), text.end()}; }

HostValue ValueOf(Reader& in) {
  const uint8_t b = in.Byte();
  switch (b % 4) {
    case 0: return HostValue::Int(in.Int());
    case 1: return HostValue::Wide(Widen(in.Text()));
    case 2: return HostValue::Real(static_cast<double>(in.Int()) / 16);
    default: return HostValue{kTypes[(b / 4) % (sizeof kTypes / sizeof kTypes[0])], 0, 0, {}};
  }
}

// Adds up to 15 items (and row markers) to `list`. "HANDLE" names the host's own module, which
// the module trusts and looks its exports up in: the input chooses only whether it is given.
void Fill(Reader& in, HostParamsList& list) {
  for (int n = in.Byte() % 16; n > 0 && in.More(); --n) {
    std::string name = in.Text();
    std::string key = name;
    for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (key == "handle") {
      list.Add(name, HostValue::Int(0));
    } else if (in.Byte() % 8 == 0) {
      list.AddRowMarker();
    } else {
      list.Add(name, ValueOf(in));
    }
  }
}

// An Input or Output slot: empty, an integer kind, or a nested list (with or without its
// signature) under the list kinds. Address kinds other than lists stay 0.
HostSlot SlotOf(Reader& in, std::vector<std::unique_ptr<HostParamsList>>& nested) {
  const uint8_t kind = in.Byte() % 10;
  HostSlot slot{static_cast<uint32_t>(in.Byte()), static_cast<uint32_t>(in.Byte()), kind, 0};
  if (kind == 1 || kind == 8) {
    nested.push_back(std::make_unique<HostParamsList>(in.Byte() % 4 != 0));
    Fill(in, *nested.back());
    slot.Value = reinterpret_cast<uintptr_t>(nested.back()->Object());
  } else if (kind >= 5 && kind <= 7) {
    slot.Value = static_cast<uint32_t>(in.Int());
  }
  return slot;
}

kiv::TPluginCallRec* Rec(HostCallRecord& host) { return static_cast<kiv::TPluginCallRec*>(host.data()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialized = (kiv::FrameworkInitialize(), true);
  (void)initialized;
  Reader in(data, size);

  HostParamsList empty;
  HostCallRecord create;
  create.SetParams(empty.Object());
  Check(kiv::CreatePluginInstanceImpl(Rec(create)) == 0);
  const uintptr_t handle = create.Instance();
  {
    HostParamsList load;
    load.Add("COMMAND", HostValue::Wide(u"LOAD"));
    HostCallRecord host;
    host.SetInstance(handle);
    host.SetParams(load.Object());
    Check(kiv::ExecutePluginCommandImpl(Rec(host)) == 0);
  }

  // Up to four commands on the same instance, each with its own lists.
  for (int call = 0; call < 4 && in.More(); ++call) {
    std::vector<std::unique_ptr<HostParamsList>> nested;
    HostParamsList params(in.Byte() % 16 != 0);
    const uint8_t where = in.Byte() % 4;  // "COMMAND" first, last or not given
    const std::string command = in.Text();
    if (where == 0) params.Add("COMMAND", HostValue::Wide(Widen(command)));
    Fill(in, params);
    if (where == 1) params.Add("COMMAND", HostValue::Wide(Widen(command)));

    HostCallRecord host;
    host.SetInstance(handle);
    host.SetParams(params.Object());
    host.SetOptions(in.Byte());
    host.SetModuleIndex(in.Byte());
    host.SetInput(SlotOf(in, nested));
    host.SetOutput(SlotOf(in, nested));
    const HostCallRecord before = host;
    const int32_t result = kiv::ExecutePluginCommandImpl(Rec(host));
    // The bare plugin sets no codes of its own: only the entry point's and the rows' come back.
    Check(result >= kiv::kCmdFailed && result <= kiv::kCmdDone);
    // The record comes back as the host built it: Params, Flags and the slots restored.
    Check(host.Params() == before.Params() && host.Flags() == before.Flags());
    Check(host.Input().Kind == before.Input().Kind && host.Input().Value == before.Input().Value);
    Check(host.Output().Kind == before.Output().Kind && host.Output().Value == before.Output().Value);
  }

  HostCallRecord free_rec;
  free_rec.SetInstance(handle);
  free_rec.SetParams(empty.Object());
  Check(kiv::FreePluginInstanceImpl(Rec(free_rec)) == 0);
  return 0;
}
