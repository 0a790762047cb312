// An inner plugin for the end-to-end tests of the proxy, built from the SDK headers alone. It
// exports all twelve entry points, records every call with its arguments as one text line, and
// acts on request: the event type (or the custom command name) says what to do with the plugin
// interface, and data calls on the parser path parse text lines from the data source's stream
// (a data source named with NEST first makes a data call of its own instance from inside).
// SETTINGS-SAVE and SETTINGS-LOAD run ProcessSettings on a list holding "Speed"; PROBE-LIST calls
// every method of the Params list and of its first item.
//
// The test reads the record through kivTestTakeCalls; the lines are separated by '\n'.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "kiv/kiv_plugin.h"

namespace {

std::mutex g_lock;
std::string g_calls;
// References the plugin kept past the call that handed them over (KEEP-REFS, KEEP in a data
// source name); USE-KEPT tries them and lets them go.
std::vector<IkivParamsListW*> g_kept_lists;
std::vector<IkivFifoBuffer*> g_kept_buffers;
// Lists kept past their call without a reference (KEEP-RAW); USE-RAW tries to add to them.
std::vector<IkivParamsListW*> g_raw_lists;

void Record(const std::string& line) {
  std::lock_guard lock(g_lock);
  g_calls += line;
  g_calls += '\n';
}

std::string Narrow(const kivWCHAR* text) {
  std::string out;
  if (text)
    for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

std::string Hex(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(value));
  return buf;
}

// The list a converted slot addresses (kind 1: the address of a variable holding the list).
IkivParamsListW* SlotList(const kivPluginCallValue& slot) {
  if (slot.Kind != KIV_KIND_PARAMS || !slot.Value) return nullptr;
  return *reinterpret_cast<IkivParamsListW**>(slot.Value);
}

// The text value of `name` in `list` ("" when missing or not text).
std::string TextValue(IkivParamsListW* list, const kivWCHAR* name) {
  if (!list) return {};
  kivVARIANT v{};
  std::string text;
  if (list->GetValue(name, -1, -1, &v) == KIV_S_OK && v.vt == KIV_VT_BSTR) text = Narrow(v.bstrVal);
  VariantClear(reinterpret_cast<VARIANT*>(&v));
  return text;
}

std::string Describe(const kivPluginCallRecIntf* rec) {
  if (!rec) return "rec=null";
  std::string s = "ds=" + std::to_string(rec->Rec.DataSourceId) + " idx=" + std::to_string(rec->Rec.ModuleIndex) +
                  " opt=" + std::to_string(rec->Rec.Options) + " in=" + std::to_string(rec->Rec.Input.Kind) + "/" +
                  std::to_string(rec->Rec.Input.Size) + " out=" + std::to_string(rec->Rec.Output.Kind);
  s += rec->ParamsW ? " params=" + std::to_string(rec->ParamsW->GetCount()) : " params=none";
  if (IkivParamsListW* input = SlotList(rec->Rec.Input)) s += " inlist=" + std::to_string(input->GetCount());
  return s;
}

void Keep(IkivParamsListW* list) {
  if (!list) return;
  list->AddRef();
  std::lock_guard lock(g_lock);
  g_kept_lists.push_back(list);
}

// Tries every kept reference: a list handed over for one call must fail now.
std::string UseKept() {
  std::vector<IkivParamsListW*> lists;
  std::vector<IkivFifoBuffer*> buffers;
  {
    std::lock_guard lock(g_lock);
    lists.swap(g_kept_lists);
    buffers.swap(g_kept_buffers);
  }
  std::string s = "kept";
  for (IkivParamsListW* list : lists) {
    IkivParamsListItemW* item = nullptr;
    const kivHRESULT hr = list->GetItem(0, &item);
    s += " list:count=" + std::to_string(list->GetCount()) + ",sig=" + Hex(list->GetSignature()) + ",item=" + Hex(hr);
    if (item) item->Release();
    list->Release();
  }
  for (IkivFifoBuffer* buffer : buffers) {
    uint32_t size = 0;
    const kivHRESULT hr = buffer->GetSize(&size);
    s += " buffer:" + Hex(hr) + ",size=" + std::to_string(size);
    buffer->Release();
  }
  return s;
}

// ProcessSettings on a new list holding "Speed" (9600 to save, 0 before a load): its status and
// the value the list holds afterwards.
std::string Settings(IkivPluginW* plugin, bool save) {
  IkivParamsListW* list = nullptr;
  if (plugin->CreateParamsList(&list) != KIV_S_OK || !list) return "settings=nolist";
  kivVARIANT speed{};
  speed.vt = KIV_VT_I4;
  speed.lVal = save ? 9600 : 0;
  list->Add(KIV_TEXT_W("Speed"), &speed, nullptr);
  const kivHRESULT hr = plugin->ProcessSettings(save ? KIV_TRUE : KIV_FALSE, list);
  kivVARIANT now{};
  list->GetValue(KIV_TEXT_W("Speed"), -1, -1, &now);
  VARIANT text{};
  VariantChangeType(&text, reinterpret_cast<VARIANT*>(&now), 0, VT_BSTR);
  std::string s = "settings=" + Hex(hr) + " speed=" + (text.vt == VT_BSTR ? Narrow(text.bstrVal) : "?");
  VariantClear(&text);
  VariantClear(reinterpret_cast<VARIANT*>(&now));
  list->Release();
  return s;
}

// Calls every method of `list` from slot 3 on, and of its first item, each once and without
// changing what the list holds in the end but for Clear, which comes last. Records one token per
// slot in slot order: "ok" or the status in hex, a value (0 or hex), "text" or 0 for a text,
// "-" for a method without a result.
std::string Probe(IkivParamsListW* list) {
  if (!list) return " probe=none";
  auto status = [](kivHRESULT hr) { return hr == KIV_S_OK ? std::string("ok") : Hex(hr); };
  auto value = [](uint32_t v) { return v ? Hex(v) : std::string("0"); };
  auto text = [](const void* p) { return std::string(p ? "text" : "0"); };
  std::vector<std::string> l(23, "-"), it(18, "-");
  kivVARIANT one{};
  one.vt = KIV_VT_I4;
  one.lVal = 1;
  kivVARIANT v{};
  IkivParamsListItemW* item = nullptr;
  l[12] = status(list->GetItem(0, &item));
  if (item) {
    const char* key = item->GetKey();
    it[6] = text(key);
    item->SetKey(key ? std::string(key).c_str() : nullptr);
    const int32_t data_type = item->GetDataType();
    it[7] = value(data_type);
    item->SetDataType(data_type);
    const uint8_t state = item->GetState();
    it[8] = value(state);
    item->SetState(state);
    for (const bool wide : {false, true}) {
      const kivHRESULT got = wide ? item->GetValueW(&v) : item->GetValue(&v);
      it[wide ? 17 : 10] = status(got);
      if (got == KIV_S_OK) it[wide ? 16 : 9] = status(wide ? item->SetValueW(&v) : item->SetValue(&v));
      VariantClear(reinterpret_cast<VARIANT*>(&v));
    }
    const char* name = item->GetName();
    it[12] = text(name);
    if (name) item->SetName(std::string(name).c_str());
    const kivWCHAR* wide_name = item->GetNameW();
    it[15] = text(wide_name);
    if (wide_name) item->SetNameW(std::basic_string<kivWCHAR>(wide_name).c_str());
    it[13] = value(item->IsRowMarker());
    item->Release();
  }
  l[3] = value(list->GetCount());
  l[4] = value(list->GetSignature());
  const int32_t tag = list->GetTag();
  l[5] = value(tag);
  list->SetTag(tag);
  int32_t index = -1;
  kivBOOL flag = KIV_FALSE;
  l[9] = value(list->FindRowEnd(0, &index, &flag));
  l[13] = status(list->Append(nullptr, &flag));
  l[14] = status(list->AppendRange(nullptr, 0, -1, &flag));
  IkivParamsListItemW* found = nullptr;
  l[15] = status(list->Find(KIV_TEXT_W("COMMAND"), 0, -1, &found));
  if (found) found->Release();
  l[17] = status(list->GetValue(KIV_TEXT_W("COMMAND"), 0, -1, &v));
  VariantClear(reinterpret_cast<VARIANT*>(&v));
  l[18] = status(list->GetValueDef(KIV_TEXT_W("MISSING"), &one, 0, -1, &v));
  VariantClear(reinterpret_cast<VARIANT*>(&v));
  l[19] = status(list->Add(KIV_TEXT_W("PROBE"), &one, nullptr));
  l[21] = status(list->SetValue(KIV_TEXT_W("PROBE"), &one, KIV_TRUE, nullptr));
  l[20] = status(list->Insert(0, KIV_TEXT_W("PROBE"), &one, nullptr));
  l[22] = status(list->AddItem(nullptr, nullptr));
  for (int i = 0; i < 2; ++i) {
    index = -1;
    l[16] = status(list->IndexOf(KIV_TEXT_W("PROBE"), 0, -1, &index));
    if (index >= 0) list->Delete(index);
  }
  list->NewRow();
  list->AppendAsRow(nullptr);
  list->Clear();
  std::string s = " list=";
  for (size_t slot = 3; slot < l.size(); ++slot) s += l[slot] + (slot + 1 < l.size() ? "," : "");
  s += " item=";
  for (size_t slot = 3; slot < it.size(); ++slot) s += it[slot] + (slot + 1 < it.size() ? "," : "");
  return s;
}

// Acts on an event type or command name; returns what to add to the call's record line.
std::string Act(IkivPluginW* plugin, const std::string& what, kivPluginCallRecIntf* rec, int32_t* result) {
  if (what == "KEEP-REFS") {
    Keep(rec->ParamsW);
    Keep(SlotList(rec->Rec.Input));
    return " kept";
  }
  if (what == "USE-KEPT") return " " + UseKept();
  if (what == "PROBE-LIST") return Probe(rec->ParamsW);
  if (what == "SETTINGS-SAVE" || what == "SETTINGS-LOAD") return " " + Settings(plugin, what == "SETTINGS-SAVE");
  if (what == "KEEP-RAW") {
    std::lock_guard lock(g_lock);
    for (IkivParamsListW* list : {rec->ParamsW, SlotList(rec->Rec.Input), SlotList(rec->Rec.Output)})
      if (list) g_raw_lists.push_back(list);
    return " raw-kept=" + std::to_string(g_raw_lists.size());
  }
  if (what == "USE-RAW") {
    std::vector<IkivParamsListW*> lists;
    {
      std::lock_guard lock(g_lock);
      lists.swap(g_raw_lists);
    }
    std::string s;
    for (IkivParamsListW* list : lists) {
      kivVARIANT v{};
      v.vt = KIV_VT_I4;
      v.lVal = 1;
      s += " raw:" + Hex(list->Add(KIV_TEXT_W("STALE"), &v, nullptr));
    }
    return s;
  }
  // One Release more than the plugin was given: it must not reach the host's own count.
  if (what == "RELEASE-EXTRA") return rec->ParamsW ? " release=" + std::to_string(rec->ParamsW->Release()) : "";
  if (what == "LOG") {
    plugin->AddLog(7, KIV_TEXT_W("inner log line"));
    return {};
  }
  if (what == "FIRE") {
    const kivHRESULT hr = plugin->FireEvent(KIV_TEXT_W("inner-event"), rec->ParamsW);
    return " fire=" + Hex(hr);
  }
  if (what == "SEND") {
    int32_t sent = 0;
    const kivHRESULT hr = plugin->SendData(rec, "abc", 3, &sent);
    return " send=" + Hex(hr) + "," + std::to_string(sent);
  }
  if (what == "LOG-PUMP") {
    // A log line (the module posts its notice to the host's window), then the thread's messages
    // served as a dialog would; the plugin interface is used again afterwards.
    plugin->AddLog(7, KIV_TEXT_W("before the pump"));
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&msg);
    plugin->AddLog(7, KIV_TEXT_W("after the pump"));
    return " pumped";
  }
  if (what == "QUERY") {
    void* a = nullptr;
    void* ex = nullptr;
    void* unk = nullptr;
    std::string s = " qa=" + Hex(plugin->QueryInterface(IID_IkivPlugin, &a));
    s += " qex=" + Hex(plugin->QueryInterface(IID_IkivPluginEx, &ex));
    s += " qfifo=" + Hex(plugin->QueryInterface(IID_IkivFifoBuffer, &unk));
    s += " addref=" + std::to_string(plugin->AddRef()) + " release=" + std::to_string(plugin->Release());
    kivVARIANT v{};
    plugin->GetModuleParameter(KIV_TEXT_W("Description"), &v);
    if (v.vt == KIV_VT_BSTR) s += " description=" + Narrow(v.bstrVal);
    VariantClear(reinterpret_cast<VARIANT*>(&v));
    return s;
  }
  // RESULT-<n> sets the result to n, so that tests can see any result passed through.
  if (what.rfind("RESULT-", 0) == 0) *result = std::atoi(what.c_str() + 7);
  return {};
}

// The parser path: whole text lines of the stream become packets with a length field; a partial
// line stays for the next call.
int32_t ParseLines(IkivPluginW* plugin, kivPluginCallRecIntf* rec, std::string& note) {
  IkivPluginEx* ex = nullptr;
  if (plugin->QueryInterface(IID_IkivPluginEx, reinterpret_cast<void**>(&ex)) != KIV_S_OK) return -1;
  IkivFifoBuffer* buffer = nullptr;
  const kivHRESULT hr = ex->GetParserClientBuffer(rec, &buffer);
  if (hr != KIV_S_OK || !buffer) {
    note += " buffer=" + Hex(hr);
    return -1;
  }
  IkivParamsListW* parsed = nullptr;
  plugin->GetParsedData(&parsed);
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  buffer->GetSize(&size);
  buffer->GetData(&data);
  int32_t lines = 0;
  uint32_t consumed = 0;
  for (uint32_t i = 0; i < size; ++i) {
    if (data[i] != '\n') continue;
    std::u16string line(data + consumed, data + i);
    consumed = i + 1;
    ++lines;
    if (!parsed) continue;
    kivVARIANT v{};
    v.vt = KIV_VT_WIDE_POINTER;
    v.pwszVal = reinterpret_cast<const kivWCHAR*>(line.c_str());
    parsed->Add(KIV_TEXT_W("FULL_DATA_PACKET"), &v, nullptr);
    kivVARIANT n{};
    n.vt = KIV_VT_I4;
    n.lVal = static_cast<int32_t>(line.size());
    parsed->Add(KIV_TEXT_W("LINE_LENGTH"), &n, nullptr);
  }
  buffer->Remove(consumed);
  const std::string source(rec->Rec.DataSourceName, strnlen(rec->Rec.DataSourceName, sizeof rec->Rec.DataSourceName));
  // RENAME in the source name: an item renamed after it was added reaches the host by its new name.
  if (parsed && source.find("RENAME") != std::string::npos) {
    kivVARIANT v{};
    v.vt = KIV_VT_I4;
    v.lVal = lines;
    IkivParamsListItemW* item = nullptr;
    if (parsed->Add(KIV_TEXT_W("OLD_NAME"), &v, &item) == KIV_S_OK && item) {
      item->SetNameW(KIV_TEXT_W("NEW_NAME"));
      item->Release();
    }
  }
  note += " lines=" + std::to_string(lines) + " left=" + std::to_string(size - consumed);
  if (source.find("KEEP") != std::string::npos) {
    std::lock_guard lock(g_lock);
    g_kept_buffers.push_back(buffer);
    if (parsed) g_kept_lists.push_back(parsed);
    return lines;
  }
  if (parsed) parsed->Release();
  buffer->Release();
  return lines;
}

// NEST in a data source name: a data call of the same instance from inside this one, as a
// careless plugin (or a host export it calls) makes it: ProcessData of the module that handed
// over `plugin`, on a copy of this call's record.
std::string NestedDataCall(IkivPluginW* plugin, kivPluginCallRecIntf* rec) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          *reinterpret_cast<LPCSTR*>(plugin), &module))
    return " nested=no-module";
  using ProcessDataFunc = int32_t(KIV_STDCALL*)(kivPluginCallRec*);
  const auto process = reinterpret_cast<ProcessDataFunc>(reinterpret_cast<void*>(GetProcAddress(module, "ProcessData")));
  if (!process) return " nested=no-export";
  static const char bytes[] = "nested\n";
  kivPluginCallRec nested = rec->Rec;
  nested.Input = kivPluginCallValue{0, sizeof bytes - 1, 2, reinterpret_cast<uintptr_t>(bytes)};
  nested.Output = kivPluginCallValue{};
  return " nested=" + std::to_string(process(&nested));
}

}  // namespace

// Pinned as the samples are: the statically linked posix-threads runtime cannot be unloaded
// without leaving a TLS slot and two handles behind.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&DllMain), &self);
  }
  return TRUE;
}

extern "C" {

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) { Record(std::string("Create ") + (plugin ? "plugin" : "null")); }

void KIV_STDCALL kivPluginDestroy(IkivPluginW*) { Record("Destroy"); }

void KIV_STDCALL kivPluginLoad(IkivPluginW*, kivPluginCallRecIntf* rec, int32_t* result) {
  Record("Load " + Describe(rec) + " result=" + std::to_string(*result) +
         " lang=" + TextValue(rec->ParamsW, KIV_TEXT_W("LANGUAGE")));
}

void KIV_STDCALL kivPluginUnload(IkivPluginW*, kivPluginCallRecIntf* rec, int32_t* result) {
  Record("Unload " + Describe(rec) + " result=" + std::to_string(*result));
}

void KIV_STDCALL kivPluginLoadSettingsNow(IkivPluginW*) { Record("LoadSettingsNow"); }

void KIV_STDCALL kivPluginSaveSettingsNow(IkivPluginW*) { Record("SaveSettingsNow"); }

void KIV_STDCALL kivPluginShowOptionsDialog(IkivPluginW*, kivPluginCallRecIntf* rec, kivBOOL* shown) {
  Record("ShowOptionsDialog " + Describe(rec) + " shown=" + std::to_string(*shown));
  *shown = KIV_TRUE;
}

void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* type, kivPluginCallRecIntf* rec, int32_t* result) {
  const std::string what = Narrow(type);
  std::string line = "Event [" + what + "] " + Describe(rec) + " result=" + std::to_string(*result);
  line += Act(plugin, what, rec, result);
  Record(line);
}

void KIV_STDCALL kivPluginExecuteCustomCommand(IkivPluginW* plugin, const kivWCHAR* command, kivPluginCallRecIntf* rec,
                                               int32_t* result) {
  const std::string what = Narrow(command);
  std::string line = "Command [" + what + "] " + Describe(rec) + " result=" + std::to_string(*result);
  line += Act(plugin, what, rec, result);
  Record(line);
}

void KIV_STDCALL kivPluginStateChanged(IkivPluginW*, uint32_t mask) { Record("StateChanged " + Hex(mask)); }

void KIV_STDCALL kivPluginSetParserItems(IkivPluginW* plugin) {
  kivVARIANT v{};
  plugin->GetParserItems(&v);
  std::string items = v.vt == KIV_VT_BSTR ? Narrow(v.bstrVal) : "?";
  VariantClear(reinterpret_cast<VARIANT*>(&v));
  for (char& c : items)
    if (c == '\r' || c == '\n') c = '|';
  Record("SetParserItems " + items);
}

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  std::string line = "ProcessData " + Describe(rec) + " result=" + std::to_string(*result);
  const std::string source(rec->Rec.DataSourceName, strnlen(rec->Rec.DataSourceName, sizeof rec->Rec.DataSourceName));
  if (source.find("NEST") != std::string::npos) line += NestedDataCall(plugin, rec);
  if (rec->Rec.Options & KIV_OPTION_PARSER_PATH) {
    *result = ParseLines(plugin, rec, line);
  } else {
    line += " value=" + std::to_string(rec->Rec.Input.Value);
    *result = 5;
    // A source named SEND passes data to the host, then uses the plugin interface again.
    if (std::strncmp(rec->Rec.DataSourceName, "SEND", 4) == 0) {
      int32_t sent = 0;
      line += " send=" + Hex(plugin->SendData(rec, "abc", 3, &sent));
      plugin->AddLog(7, KIV_TEXT_W("after sending"));
    }
  }
  Record(line);
}

// For the test: copies the record (and clears it) when it fits in `size` bytes with its
// terminator; returns the record's length either way.
int kivTestTakeCalls(char* buffer, int size) {
  std::lock_guard lock(g_lock);
  const int length = static_cast<int>(g_calls.size());
  if (buffer && size > length) {
    std::memcpy(buffer, g_calls.c_str(), g_calls.size() + 1);
    g_calls.clear();
  }
  return length;
}

}  // extern "C"
