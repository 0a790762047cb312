// The line parser's entry points: an inner plugin for varnolet.dll that turns the text lines of
// each data source into packets and named fields. Built against the SDK headers alone.
//
// The library is loaded once per process however many instances the host creates, so everything
// that belongs to an instance lives in an Instance object that the plugin interface keeps under a
// name for us. Data calls of different data sources may run at once on several threads.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>

#include "kiv/kiv_plugin.h"
#include "line_core.h"

namespace {

constexpr const wchar_t* kStateName = L"line_parser.instance";

struct Instance {
  std::atomic<uint32_t> lines{0};
  std::atomic<uint32_t> dropped{0};
  std::atomic<uint32_t> max_line{static_cast<uint32_t>(line_parser::kDefaultMaxLine)};
  std::mutex mutex;                                            // guards sources
  std::unordered_map<int32_t, line_parser::ParseState> sources;  // by DataSourceId
};

// Holds one interface reference and releases it.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p_) p_->Release();
  }
  T** out() { return &p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

Instance* Find(IkivPluginW* plugin) {
  void* object = nullptr;
  if (plugin->GetNamedObject(kStateName, &object) != KIV_S_OK) return nullptr;
  return static_cast<Instance*>(object);
}

void Log(IkivPluginW* plugin, int32_t level, const std::string& text) {
  const std::wstring wide(text.begin(), text.end());  // our own messages are ASCII
  plugin->AddLog(level, wide.c_str());
}

// Lines are expected in UTF-8; text that is not valid UTF-8 is read in the system code page.
std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  UINT cp = CP_UTF8;
  int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), nullptr, 0);
  if (n == 0) {
    cp = CP_ACP;
    n = MultiByteToWideChar(cp, 0, s.data(), int(s.size()), nullptr, 0);
  }
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(cp, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

kivVARIANT TextValue(const std::wstring& text) {
  kivVARIANT v{};
  v.vt = KIV_VT_WIDE_POINTER;  // the list copies the text
  v.pwszVal = text.c_str();
  return v;
}

// Adds one line as a row: its packet text, then its fields.
bool AddLine(IkivParamsListW* list, const line_parser::Line& line) {
  const std::wstring packet = Widen(line.text);
  kivVARIANT v = TextValue(packet);
  if (list->Add(L"FULL_DATA_PACKET", &v, nullptr) != KIV_S_OK) return false;
  for (const line_parser::Field& f : line.fields) {
    const std::wstring name = Widen(f.name);
    const std::wstring text = Widen(f.text);
    kivVARIANT value{};
    switch (f.kind) {
      case line_parser::Field::Kind::kInteger:
        // The module's lists hold 32-bit integers; wider ones travel as reals.
        if (f.integer >= INT32_MIN && f.integer <= INT32_MAX) {
          value.vt = KIV_VT_I4;
          value.lVal = int32_t(f.integer);
        } else {
          value.vt = KIV_VT_R8;
          value.dblVal = double(f.integer);
        }
        break;
      case line_parser::Field::Kind::kReal:
        value.vt = KIV_VT_R8;
        value.dblVal = f.real;
        break;
      case line_parser::Field::Kind::kText:
        value = TextValue(text);
        break;
    }
    if (list->Add(name.c_str(), &value, nullptr) != KIV_S_OK) return false;
  }
  list->NewRow();
  return true;
}

bool SameText(const kivWCHAR* a, const wchar_t* b) { return lstrcmpiW(a, b) == 0; }

// The integer in a variant: numbers as they are, text parsed. False when there is none.
bool ToInteger(kivVARIANT& v, long& out) {
  switch (v.vt) {
    case KIV_VT_I2: out = v.iVal; return true;
    case KIV_VT_I4: out = v.lVal; return true;
    case KIV_VT_UI1: out = v.bVal; return true;
    case KIV_VT_UI2: out = v.uiVal; return true;
    case KIV_VT_UI4: out = long(v.ulVal); return true;
    case KIV_VT_BSTR: {
      wchar_t* end = nullptr;
      const wchar_t* text = v.bstrVal ? v.bstrVal : L"";
      out = wcstol(text, &end, 10);
      const bool ok = end != text && *end == L'\0';
      SysFreeString(v.bstrVal);  // variant outputs hold BSTRs the caller frees
      v.vt = KIV_VT_EMPTY;
      return ok;
    }
    default: return false;
  }
}

void SetInt(IkivParamsListW* list, const wchar_t* name, uint32_t n) {
  kivVARIANT v{};
  v.vt = KIV_VT_I4;
  v.lVal = int32_t(n);
  list->SetValue(name, &v, KIV_TRUE, nullptr);
}

// The list a command answers in: Output when it carries one, else the call's parameters.
IkivParamsListW* AnswerList(kivPluginCallRecIntf* rec) {
  const kivPluginCallValue& out = rec->Rec.Output;
  if (out.Kind == KIV_KIND_PARAMS && out.Value != 0) {
    IkivParamsListW* list = *reinterpret_cast<IkivParamsListW**>(out.Value);
    if (list) return list;
  }
  return rec->ParamsW;
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

extern "C" {

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) {
  auto* instance = new Instance;
  if (plugin->SetNamedObject(kStateName, instance) != KIV_S_OK) delete instance;
}

void KIV_STDCALL kivPluginDestroy(IkivPluginW* plugin) {
  void* object = nullptr;
  if (plugin->RemoveNamedObject(kStateName, &object) == KIV_S_OK)
    delete static_cast<Instance*>(object);
}

void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  const Instance* instance = Find(plugin);
  if (!instance) return;
  Log(plugin, 2, "Line parser loaded, lines up to " + std::to_string(instance->max_line) +
                     " bytes");
}

void KIV_STDCALL kivPluginUnload(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                 int32_t* result) {
  Instance* instance = Find(plugin);
  if (!instance) return;
  Log(plugin, 2, "Line parser unloaded: " + std::to_string(instance->lines) + " lines, " +
                     std::to_string(instance->dropped) + " dropped");
  std::lock_guard<std::mutex> lock(instance->mutex);
  instance->sources.clear();
}

// RESET-STATS sets the counters back to zero; other events are not ours.
void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* event_type,
                                kivPluginCallRecIntf* rec, int32_t* result) {
  Instance* instance = Find(plugin);
  if (!instance || !SameText(event_type, L"RESET-STATS")) return;
  instance->lines = 0;
  instance->dropped = 0;
  *result = KIV_RESULT_DONE;
}

// GET-STATS answers "Lines", "Dropped" and "MaxLine"; SET-MAX-LINE takes "Length" (1..16000).
void KIV_STDCALL kivPluginExecuteCustomCommand(IkivPluginW* plugin, const kivWCHAR* command,
                                               kivPluginCallRecIntf* rec, int32_t* result) {
  Instance* instance = Find(plugin);
  if (!instance) return;
  if (SameText(command, L"GET-STATS")) {
    IkivParamsListW* list = AnswerList(rec);
    if (!list) {
      *result = KIV_RESULT_NOT_DONE;
      return;
    }
    SetInt(list, L"Lines", instance->lines);
    SetInt(list, L"Dropped", instance->dropped);
    SetInt(list, L"MaxLine", instance->max_line);
    *result = KIV_RESULT_DONE;
  } else if (SameText(command, L"SET-MAX-LINE")) {
    kivVARIANT v{};
    long length = 0;
    // The stream holds 16384 bytes; a longer line could never be seen whole.
    if (!rec->ParamsW || rec->ParamsW->GetValue(L"Length", -1, -1, &v) != KIV_S_OK ||
        !ToInteger(v, length) || length < 1 || length > 16000) {
      Log(plugin, 1, "SET-MAX-LINE needs a Length from 1 to 16000");
      *result = KIV_RESULT_NOT_DONE;
      return;
    }
    instance->max_line = uint32_t(length);
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
  Ref<IkivPluginEx> ex;
  Ref<IkivFifoBuffer> buffer;
  Ref<IkivParamsListW> parsed;
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  if (!instance || plugin->QueryInterface(IID_IkivPluginEx, reinterpret_cast<void**>(ex.out())) ||
      ex->GetParserClientBuffer(rec, buffer.out()) || plugin->GetParsedData(parsed.out()) ||
      buffer->GetSize(&size) || buffer->GetData(&data)) {
    *result = KIV_RESULT_EXCEPTION;
    return;
  }
  if (size == 0 || !data) return;

  // The state of this data source is copied out, so that other sources parse meanwhile.
  line_parser::ParseState state;
  {
    std::lock_guard<std::mutex> lock(instance->mutex);
    state = instance->sources[rec->Rec.DataSourceId];
  }
  const line_parser::ParseResult parsed_lines = line_parser::ParseLines(
      std::string_view(reinterpret_cast<const char*>(data), size), state, instance->max_line);
  {
    std::lock_guard<std::mutex> lock(instance->mutex);
    instance->sources[rec->Rec.DataSourceId] = state;
  }

  for (const line_parser::Line& line : parsed_lines.lines) {
    if (!AddLine(parsed.operator->(), line)) {
      *result = KIV_RESULT_EXCEPTION;
      break;
    }
  }
  for (std::size_t length : parsed_lines.dropped) {
    char text[120];
    std::snprintf(text, sizeof text, "Line of %u bytes dropped (longer than %u) on data source %ld",
                  unsigned(length), unsigned(instance->max_line), long(rec->Rec.DataSourceId));
    Log(plugin, 1, text);
  }
  instance->lines += uint32_t(parsed_lines.lines.size());
  instance->dropped += uint32_t(parsed_lines.dropped.size());
  buffer->Remove(uint32_t(parsed_lines.consumed));
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
