// The line parser's entry points: an inner plugin for varnolet.dll that turns the text lines of
// each data source into packets and named fields. Built against the SDK headers alone.
//
// The library is loaded once per process however many instances the host creates, so everything
// that belongs to an instance lives in an Instance object that the plugin interface keeps under a
// name for us. Data calls of different data sources may run at once on several threads.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>

#include "kiv/kiv_cpp.h"
#include "line_core.h"

namespace sdk = kiv::sdk;

namespace {

constexpr const kivWCHAR* kStateName = KIV_TEXT_W("line_parser.instance");

struct Instance {
  std::atomic<uint32_t> lines{0};
  std::atomic<uint32_t> dropped{0};
  std::atomic<uint32_t> max_line{static_cast<uint32_t>(line_parser::kDefaultMaxLine)};
  std::mutex mutex;                                            // guards sources
  std::unordered_map<int32_t, line_parser::ParseState> sources;  // by DataSourceId
};

Instance* Find(IkivPluginW* plugin) { return sdk::FindState<Instance>(plugin, kStateName); }

// A field's value: the module's lists hold 32-bit integers, so wider ones travel as reals.
sdk::Arg FieldValue(const line_parser::Field& f) {
  switch (f.kind) {
    case line_parser::Field::Kind::kInteger:
      if (f.integer >= INT32_MIN && f.integer <= INT32_MAX) return sdk::Int(int32_t(f.integer));
      return sdk::Real(double(f.integer));
    case line_parser::Field::Kind::kReal:
      return sdk::Real(f.real);
    case line_parser::Field::Kind::kText:
      break;
  }
  return sdk::Text(std::string_view(f.text));  // lines are expected in UTF-8
}

// Adds one line as a row: its packet text, then its fields.
void AddLine(sdk::PacketRows& rows, const line_parser::Line& line) {
  rows.Packet(sdk::Text(std::string_view(line.text)));
  for (const line_parser::Field& f : line.fields) rows.Field(sdk::Widen(f.name), FieldValue(f));
}

// The list a command answers in: Output when it carries one, else the call's parameters.
sdk::List AnswerList(kivPluginCallRecIntf* rec) {
  IkivParamsListW* output = sdk::ListInSlot(rec->Rec.Output);
  return sdk::List(output ? output : rec->ParamsW);
}

}  // namespace

// The C++ runtime is linked in statically with posix threads, whose thread support allocates a
// TLS slot and two handles that it never gives back when the library is unloaded. Pinned, the
// library stays loaded for the life of the process once loaded, so a host that loads and frees it
// again and again costs nothing more than the first load.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&DllMain), &self);
  }
  return TRUE;
}

// Tells checking tools which SDK this plugin was built with.
KIV_PLUGIN_SDK_VERSION_EXPORT;

extern "C" {

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) { sdk::CreateState<Instance>(plugin, kStateName); }

void KIV_STDCALL kivPluginDestroy(IkivPluginW* plugin) { sdk::DestroyState<Instance>(plugin, kStateName); }

void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  const Instance* instance = Find(plugin);
  if (!instance) return;
  sdk::Log(plugin, sdk::kLogInfo, "Line parser loaded, lines up to " + std::to_string(instance->max_line) +
                     " bytes");
}

void KIV_STDCALL kivPluginUnload(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                 int32_t* result) {
  Instance* instance = Find(plugin);
  if (!instance) return;
  sdk::Log(plugin, sdk::kLogInfo, "Line parser unloaded: " + std::to_string(instance->lines) + " lines, " +
                     std::to_string(instance->dropped) + " dropped");
  std::lock_guard<std::mutex> lock(instance->mutex);
  instance->sources.clear();
}

// RESET-STATS sets the counters back to zero; other events are not ours.
void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* event_type,
                                kivPluginCallRecIntf* rec, int32_t* result) {
  Instance* instance = Find(plugin);
  if (!instance || !sdk::EqualsNoCase(event_type, KIV_TEXT_W("RESET-STATS"))) return;
  instance->lines = 0;
  instance->dropped = 0;
  *result = KIV_RESULT_DONE;
}

// GET-STATS answers "Lines", "Dropped" and "MaxLine"; SET-MAX-LINE takes "Length" (1..16000).
void KIV_STDCALL kivPluginExecuteCustomCommand(IkivPluginW* plugin, const kivWCHAR* command,
                                               kivPluginCallRecIntf* rec, int32_t* result) {
  Instance* instance = Find(plugin);
  if (!instance) return;
  if (sdk::EqualsNoCase(command, KIV_TEXT_W("GET-STATS"))) {
    sdk::List list = AnswerList(rec);
    if (!list) {
      *result = KIV_RESULT_NOT_DONE;
      return;
    }
    list.Set(KIV_TEXT_W("Lines"), sdk::Int(int32_t(instance->lines)));
    list.Set(KIV_TEXT_W("Dropped"), sdk::Int(int32_t(instance->dropped)));
    list.Set(KIV_TEXT_W("MaxLine"), sdk::Int(int32_t(instance->max_line)));
    *result = KIV_RESULT_DONE;
  } else if (sdk::EqualsNoCase(command, KIV_TEXT_W("SET-MAX-LINE"))) {
    // The stream holds 16384 bytes; a longer line could never be seen whole.
    const std::optional<int32_t> length = sdk::List(rec->ParamsW).Int(KIV_TEXT_W("Length"));
    if (!length || *length < 1 || *length > 16000) {
      sdk::Log(plugin, sdk::kLogWarning, "SET-MAX-LINE needs a Length from 1 to 16000");
      *result = KIV_RESULT_NOT_DONE;
      return;
    }
    instance->max_line = uint32_t(*length);
    *result = KIV_RESULT_DONE;
  }
}

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                      int32_t* result) {
  // Only raw bytes of a data source are ours to parse.
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) {
    *result = KIV_RESULT_NOT_HANDLED;
    return;
  }
  Instance* instance = Find(plugin);
  sdk::FifoConsumer fifo(plugin, rec);
  sdk::PacketRows rows(sdk::ParsedData(plugin));
  if (!instance || !fifo || !rows.ok()) {
    *result = KIV_RESULT_EXCEPTION;
    return;
  }
  if (fifo.size() == 0) return;

  // The state of this data source is copied out, so that other sources parse meanwhile.
  line_parser::ParseState state;
  {
    std::lock_guard<std::mutex> lock(instance->mutex);
    state = instance->sources[rec->Rec.DataSourceId];
  }
  const line_parser::ParseResult parsed_lines = line_parser::ParseLines(fifo.bytes(), state, instance->max_line);
  {
    std::lock_guard<std::mutex> lock(instance->mutex);
    instance->sources[rec->Rec.DataSourceId] = state;
  }

  for (const line_parser::Line& line : parsed_lines.lines) {
    AddLine(rows, line);
    if (!rows.ok()) {
      *result = KIV_RESULT_EXCEPTION;
      break;
    }
  }
  for (std::size_t length : parsed_lines.dropped) {
    char text[120];
    std::snprintf(text, sizeof text, "Line of %u bytes dropped (longer than %u) on data source %ld",
                  unsigned(length), unsigned(instance->max_line), long(rec->Rec.DataSourceId));
    sdk::Log(plugin, sdk::kLogWarning, text);
  }
  instance->lines += uint32_t(parsed_lines.lines.size());
  instance->dropped += uint32_t(parsed_lines.dropped.size());
  fifo.Remove(parsed_lines.consumed);
}

}  // extern "C"

// The entry points have exactly the SDK's signatures.
static_assert(std::is_same_v<decltype(&kivPluginCreate), kivPluginCreateProc>);
static_assert(std::is_same_v<decltype(&kivPluginDestroy), kivPluginDestroyProc>);
static_assert(std::is_same_v<decltype(&kivPluginLoad), kivPluginLoadProc>);
static_assert(std::is_same_v<decltype(&kivPluginUnload), kivPluginUnloadProc>);
static_assert(std::is_same_v<decltype(&kivPluginEvent), kivPluginEventProc>);
static_assert(std::is_same_v<decltype(&kivPluginExecuteCustomCommand),
                             kivPluginExecuteCustomCommandProc>);
static_assert(std::is_same_v<decltype(&kivPluginProcessData), kivPluginProcessDataProc>);
