#include "runner.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "call_values.h"
#include "data_call.h"
#include "dialog_form_text.h"
#include "host/host_call_record.h"
#include "host/host_exports.h"
#include "host/host_module.h"
#include "host/host_params_list.h"
#include "host/host_window.h"
#include "kiv/kiv_diagnostics.h"
#include "module_info_text.h"
#include "packet_text.h"
#include "platform/code_page.h"
#include "progress.h"
#include "script.h"
#include "stress.h"

namespace kivhost {
namespace {

constexpr uint32_t kLogBuffer = 64 * 1024;
constexpr uint32_t kDialogBuffer = 64 * 1024;
constexpr int32_t kModuleIndex = 1;

std::string FullPath(const std::string& base, const std::string& path) {
  const bool absolute = path.size() > 1 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
  const std::string joined = absolute || base.empty() ? path : base + "\\" + path;
  char full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(joined.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : joined;
}

std::string Hex(uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(value));
  return text;
}

std::vector<std::string> LogLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const size_t end = text.find("\r\n");
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 2);
  }
  return lines;
}

void SetStatus(RequestResult& r, const CallResult& call, const HostModule& module) {
  r.Code = call.Value;
  if (call.Status == CallStatus::Missing) {
    r.Status = RequestStatus::Missing;
    r.Error = "the module lacks this entry point";
  } else if (call.Status == CallStatus::Faulted) {
    r.Status = RequestStatus::Faulted;
    r.Error = "exception " + Hex(module.LastFault().Code) + " at " + Hex(module.LastFault().Address);
  }
}

ExportRecord ToRecord(const HostExportCall& call) {
  ExportRecord record;
  record.Name = std::string(HostExportName(call.Service));
  record.Args.assign(call.Args.begin(), call.Args.end());
  record.Data.assign(call.Data.begin(), call.Data.end());
  record.Items = NamedItems(call.Items);
  return record;
}

}  // namespace

struct Runner::State {
  Settings settings;
  HostModule module;
  HostWindow window;
  uintptr_t instance = 0;
  bool load_failed = false;
  size_t messages_seen = 0;
  size_t exports_seen = 0;

  // Serves the window and takes what arrived since the last request: messages (collecting the log
  // when 1809 says lines wait) and calls to the host's exports.
  void Gather(RequestResult& r) {
    window.Pump(0);
    const std::vector<HostMessage> messages = window.Messages();
    bool log_waiting = false;
    for (size_t i = messages_seen; i < messages.size(); ++i) {
      r.Messages.push_back({messages[i].Message, messages[i].WParam, messages[i].LParam});
      log_waiting |= messages[i].Message == kMsgLogNotify;
    }
    messages_seen = messages.size();
    if (log_waiting && instance != 0) CollectLog(r, std::nullopt);
    const std::vector<HostExportCall> calls = HostExportLog::Instance().Calls();
    for (size_t i = exports_seen; i < calls.size(); ++i) r.Exports.push_back(ToRecord(calls[i]));
    exports_seen = calls.size();
  }

  // GetLogEx into a buffer of `size` bytes, once, reporting the size the log needs; without a
  // size the buffer grows to what the log needs.
  CallResult CollectLog(RequestResult& r, std::optional<uint32_t> size) {
    uint32_t capacity = size.value_or(kLogBuffer);
    for (int attempt = 0; attempt < 3; ++attempt) {
      std::vector<char> buffer(capacity);
      HostCallRecord rec;
      rec.SetInstance(instance);
      rec.SetModuleIndex(kModuleIndex);
      rec.SetInput(HostSlot{0, capacity, 2, capacity ? reinterpret_cast<uintptr_t>(buffer.data()) : 0});
      const CallResult call = module.GetLogEx(rec.data());
      const uint32_t needed = static_cast<uint32_t>(rec.Output().Value);
      if (call.Returned() && call.Value > 0) {
        for (std::string& line : LogLines(std::string_view(buffer.data(), static_cast<size_t>(call.Value))))
          r.Log.push_back(std::move(line));
      }
      if (size || !call.Returned() || call.Value > 0 || needed <= capacity) {
        if (size) r.Values.push_back(Figure("needed", needed));
        return call;
      }
      capacity = needed;  // the log grew past the buffer: ask again with room for it
    }
    return CallResult{CallStatus::Returned, 0};
  }

  HostCallRecord Record(HostParamsList& params) const {
    HostCallRecord rec;
    rec.SetInstance(instance);
    rec.SetModuleIndex(kModuleIndex);
    rec.SetParams(params.Object());
    return rec;
  }

  // A command with the given values, "COMMAND" among them; the values the module added come back.
  void Command(RequestResult& r, const std::vector<CallValue>& values) {
    HostParamsList params;
    AddValues(params, values);
    HostCallRecord rec = Record(params);
    SetStatus(r, module.ExecutePluginCommand(rec.data()), module);
    const std::vector<HostItem> items = params.Items();
    for (size_t i = 0; i < items.size(); ++i)
      if (i >= values.size() || items[i].Name == "RESULT") r.Values.push_back(Named(items[i].Name, items[i].Value));
  }

  void Create(RequestResult& r, const Request& q) {
    if (instance != 0) throw std::runtime_error("an instance is live: free it first");
    HostParamsList params;
    AddValues(params, q.Values);
    HostCallRecord rec = Record(params);
    rec.SetInstance(0);
    SetStatus(r, module.CreatePluginInstance(rec.data()), module);
    if (r.Status == RequestStatus::Returned && r.Code == 0) {
      instance = rec.Instance();
      r.Values.push_back({"instance", Hex(instance)});
      WarnWithoutInnerPlugin(r);
    }
  }

  // varnolet.dll stays silent towards a host when it has no usable inner plugin, and tells why
  // in a module parameter; a module without that parameter answers empty.
  void WarnWithoutInnerPlugin(RequestResult& r) {
    RequestResult probe;
    Request get;
    get.Kind = RequestKind::GetParam;
    get.Name = "InnerPluginLoadError";
    Command(probe, *CommandValues(get));
    if (probe.Status != RequestStatus::Returned) return;
    for (const NamedValue& v : probe.Values)
      if (v.Name == "RESULT" && !v.Value.empty()) r.Values.push_back({"warning", "no inner plugin: " + v.Value});
  }

  void Free(RequestResult& r) {
    HostCallRecord rec;
    rec.SetInstance(instance);
    SetStatus(r, module.FreePluginInstance(rec.data()), module);
    if (r.Status == RequestStatus::Returned && r.Code == 0) instance = 0;
  }

  void Info(RequestResult& r) {
    HostCallRecord rec;
    rec.SetInstance(instance);
    uint32_t needed = 0;
    CallResult call = module.GetModuleInfo(rec.data(), nullptr, &needed);
    if (call.Returned() && needed >= kModuleInfoFixedSize) {
      std::vector<unsigned char> info(needed);
      std::memcpy(info.data(), &needed, 4);
      call = module.GetModuleInfo(rec.data(), info.data(), &needed);
      if (call.Returned() && call.Value)
        r.Values = DescribeModuleInfo(info.data(), info.size(), reinterpret_cast<uintptr_t>(info.data()));
    }
    r.Values.push_back(Figure("size", needed));
    SetStatus(r, call, module);
  }

  void DialogForm(RequestResult& r, const Request& q) {
    const uint32_t size = q.Size.value_or(kDialogBuffer);
    std::vector<char> buffer(std::max<size_t>(size, q.Name.size() + 1));
    std::memcpy(buffer.data(), q.Name.c_str(), q.Name.size() + 1);
    HostCallRecord rec;
    rec.SetInstance(instance);
    rec.SetInput(HostSlot{0, size, 0, reinterpret_cast<uintptr_t>(buffer.data())});
    SetStatus(r, module.GetOptionsDialog(rec.data()), module);
    // Kind 2: the description was written and Value is its size; otherwise Value is a status.
    const HostSlot out = rec.Output();
    const bool written = out.Kind == 2;
    r.Code = written ? 0 : static_cast<int32_t>(out.Value);
    r.Values.push_back(Figure("status", written ? 0 : out.Value));
    if (!written && out.Value == 3) r.Values.push_back(Figure("needed", out.Size));
    if (written) {
      for (NamedValue& v : DescribeDialogForm(buffer.data(), size, out.Value)) r.Values.push_back(std::move(v));
    }
  }

  void Dialog(RequestResult& r, const Request& q) {
    HostParamsList params, input;
    AddValues(params, q.Values);
    HostCallRecord rec = Record(params);
    rec.SetOptions(q.Options);
    rec.SetInput(HostSlot{0, 0, 1, reinterpret_cast<uintptr_t>(input.Object())});
    SetStatus(r, module.ShowOptionsDialog(rec.data()), module);
    if (r.Status == RequestStatus::Returned) r.Code = static_cast<int32_t>(rec.Output().Value);
    r.Items = NamedItems(input.Items());
    const std::vector<HostItem> items = params.Items();
    for (size_t i = q.Values.size(); i < items.size(); ++i) r.Values.push_back(Named(items[i].Name, items[i].Value));
  }

  std::string ReadFile(const std::string& name) const {
    std::ifstream file(FullPath(settings.BaseDir, name), std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + name);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  // The requests of a stress run's setup script (none without one); each must be a command.
  // Relative paths in it start at its own folder, which is also its SCRIPT_DIR.
  std::vector<Request> Setup(const std::string& name) const {
    if (name.empty()) return {};
    const std::string path = FullPath(settings.BaseDir, name);
    ScriptParser parser;
    parser.Define("SCRIPT_DIR", path.substr(0, path.find_last_of("\\/")));
    ParsedScript parsed = parser.ParseScript(ReadFile(name));
    if (parsed.Error)
      throw std::runtime_error(name + ":" + std::to_string(parsed.Error->Line) + ": " + parsed.Error->Message);
    for (const Request& q : parsed.Requests)
      if (!CommandValues(q))
        throw std::runtime_error(name + ":" + std::to_string(q.Line) + ": " + RequestKindName(q.Kind) +
                                 " cannot set up a stress instance (load, unload, command, get-param, set-param, event)");
    return std::move(parsed.Requests);
  }

  // The bytes the module has discarded from its FIFO streams so far (0 for a module without the
  // diagnostic export).
  uint32_t StreamBytesDiscarded() {
    const auto read = reinterpret_cast<kivGetDiagnosticsFunc>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module.Handle()), KIV_DIAGNOSTICS_NAME)));
    kivDiagnostics d{};
    d.Size = sizeof d;
    return read && read(&d) == 0 ? d.StreamBytesDiscarded : 0;
  }

  // Feeds every file of the request on its own data source, one chunk of each source in turn.
  void Feed(RequestResult& r, const Request& q) {
    const std::vector<FeedSource> sources = FeedSources(q.Feed);
    std::vector<std::string> data;
    uint64_t total = 0;
    for (const FeedSource& source : sources) total += (data.emplace_back(ReadFile(source.File))).size();
    const uint32_t discarded_before = StreamBytesDiscarded();
    const uint8_t options = FeedOptionsByte(q.Feed);
    const uint32_t chunk_size = q.Feed.Chunk;
    ProgressThrottle throttle;
    const ULONGLONG start = GetTickCount64();
    uint64_t calls = 0, failed = 0, deliveries = 0, packets = 0, done = 0;
    std::vector<NamedValue> last_values;
    bool stopped = false;
    // Round k feeds bytes [k * chunk, (k + 1) * chunk) of each source that still has them; an empty
    // file still makes one call with no bytes.
    for (size_t at = 0; !stopped; at += chunk_size) {
      bool any = false;
      for (size_t i = 0; i < sources.size() && !stopped; ++i) {
        if (at >= data[i].size() && !(at == 0 && data[i].empty())) continue;
        any = true;
        const std::string_view chunk = std::string_view(data[i]).substr(at, chunk_size);
        DataCallOutcome out =
            FeedChunk(module, instance, kModuleIndex, sources[i].Id, sources[i].Name, options, chunk, q.Values);
        ++calls;
        if (!out.Call.Returned()) {
          SetStatus(r, out.Call, module);
          stopped = true;
          break;
        }
        // The result is the first failure's code, else the last call's.
        if (failed == 0) r.Code = out.Call.Value;
        failed += out.Call.Value < 0;
        deliveries += out.Deliveries;
        done += chunk.size();
        for (std::string& p : SplitPackets(out.Block)) r.Packets.push_back(std::move(p)), ++packets;
        r.Items.insert(r.Items.end(), out.Items.begin(), out.Items.end());
        last_values = std::move(out.Values);
        if (settings.Progress && throttle.Due(GetTickCount64() - start)) {
          const ProgressFigures f{done, total, packets, GetTickCount64() - start};
          std::fprintf(stderr, "\r%s ", ProgressLine(f).c_str());
        }
        Gather(r);
      }
      if (!any) break;
    }
    if (settings.Progress) std::fprintf(stderr, "\r%79s\r", "");
    // The values the module wrote back are those of the last call, as with any other request.
    r.Values = std::move(last_values);
    if (sources.size() > 1) r.Values.push_back(Figure("sources", sources.size()));
    r.Values.push_back(Figure("calls", calls));
    r.Values.push_back(Figure("bytes", total));
    r.Values.push_back(Figure("failed", failed));
    r.Values.push_back(Figure("deliveries", deliveries));
    // Bytes a data call had to discard because the inner plugin left its stream full.
    if (const uint32_t discarded = StreamBytesDiscarded() - discarded_before; discarded > 0)
      r.Values.push_back(Figure("discarded", discarded));
  }
};

Runner::Runner(Settings settings) : state_(std::make_unique<State>()) { state_->settings = std::move(settings); }
Runner::~Runner() = default;

bool Runner::ModuleLoadFailed() const { return state_->load_failed; }
HostModule& Runner::Module() { return state_->module; }
uintptr_t Runner::Instance() const { return state_->instance; }

RequestResult Runner::Run(const Request& q) {
  State& s = *state_;
  RequestResult r;
  r.Line = q.Line;
  r.Request = q.Text;
  try {
    if (q.Kind == RequestKind::Module) {
      if (s.instance != 0) throw std::runtime_error("an instance is live: free it first");
      if (!s.module.Load(FullPath(s.settings.BaseDir, q.Name))) {
        s.load_failed = true;
        throw std::runtime_error(s.module.Error());
      }
      std::string missing;
      for (const std::string& name : s.module.Missing()) missing += (missing.empty() ? "" : " ") + name;
      if (!missing.empty()) r.Values.push_back({"missing", missing});
      return r;
    }
    if (q.Kind == RequestKind::DebugBreak) {
      // Lets a debugger stop between requests, e.g. once `create` has loaded plugin.dll, so that
      // breakpoints can be set in it; without a debugger the request does nothing.
      const bool attached = IsDebuggerPresent();
      r.Values.push_back({"debugger", attached ? "attached" : "none"});
      if (attached) DebugBreak();
      return r;
    }
    if (!s.module.Loaded()) throw std::runtime_error("no module loaded");
    const bool needs_instance = q.Kind != RequestKind::Create && q.Kind != RequestKind::Stress;
    if (needs_instance && s.instance == 0) throw std::runtime_error("no instance: create one first");
    switch (q.Kind) {
      case RequestKind::Create: s.Create(r, q); break;
      case RequestKind::Load: case RequestKind::Unload: case RequestKind::Command: case RequestKind::GetParam:
      case RequestKind::SetParam: case RequestKind::Event: {
        std::vector<CallValue> values = *CommandValues(q);
        if (q.Kind == RequestKind::Load)
          AddHostHandles(values, static_cast<int64_t>(s.window.HandleValue()),
                         reinterpret_cast<intptr_t>(GetModuleHandleA(nullptr)));
        s.Command(r, values);
        break;
      }
      case RequestKind::Dialog: s.Dialog(r, q); break;
      case RequestKind::DialogForm: s.DialogForm(r, q); break;
      case RequestKind::Info: s.Info(r); break;
      case RequestKind::Feed: s.Feed(r, q); break;
      case RequestKind::Log: SetStatus(r, s.CollectLog(r, q.Size), s.module); break;
      case RequestKind::Free: s.Free(r); break;
      case RequestKind::Stress:
        r = RunStress(s.module.Path(), q, s.ReadFile(q.Feed.Files.at(0)), s.Setup(q.Stress.Setup), s.settings.Progress);
        r.Line = q.Line;
        r.Request = q.Text;
        s.exports_seen = HostExportLog::Instance().Calls().size();
        return r;
      case RequestKind::Module: case RequestKind::DebugBreak: break;
    }
    s.Gather(r);
  } catch (const std::exception& e) {
    r.Status = RequestStatus::Failed;
    r.Error = e.what();
  }
  return r;
}

std::vector<RequestResult> Runner::Finish() {
  std::vector<RequestResult> results;
  if (state_->instance == 0) return results;
  for (const char* line : {"unload", "free"}) {
    Request q;
    q.Kind = std::strcmp(line, "unload") == 0 ? RequestKind::Unload : RequestKind::Free;
    q.Text = line;
    results.push_back(Run(q));
  }
  return results;
}

}  // namespace kivhost
