// Stand-ins for the module's side of the SDK interfaces, for tests that call the SDK helpers or an
// inner plugin directly: a FIFO buffer over a string and a plugin interface with a FIFO per data
// source, a log, named objects and the parsed-data list of the current call. Test thread only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "interfaces/intf_ptr.h"
#include "interfaces/params_list_wrap.h"
#include "kiv/kiv_cpp.h"

namespace kiv::test {

// A FIFO buffer over `bytes` that counts its references and the calls that consume.
class FakeFifo final : public IkivFifoBuffer {
 public:
  explicit FakeFifo(std::string held = {}) : bytes(std::move(held)) {}

  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override {
    if (!obj) return KIV_E_UNEXPECTED;
    *obj = nullptr;
    if (!kivIsEqualGUID(&iid, &IID_IkivFifoBuffer)) return KIV_E_NOINTERFACE;
    *obj = this;
    AddRef();
    return KIV_S_OK;
  }
  int32_t KIV_STDCALL AddRef() override { return ++refs; }
  int32_t KIV_STDCALL Release() override { return --refs; }
  kivHRESULT KIV_STDCALL GetSize(uint32_t* size) override {
    *size = static_cast<uint32_t>(bytes.size());
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL GetData(const uint8_t** data) override {
    *data = bytes.empty() ? nullptr : reinterpret_cast<const uint8_t*>(bytes.data());
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL Clear() override {
    ++cleared;
    bytes.clear();
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL Remove(uint32_t count) override {
    removed += count;
    bytes.erase(0, count);
    return KIV_S_OK;
  }

  std::string bytes;
  int32_t refs = 0;
  int cleared = 0;
  uint32_t removed = 0;
};

// The plugin interface (wide and extended) of one instance. Module parameters all read "7";
// lists it creates are the module's own; log lines are "<level> <text>" in UTF-8.
class FakePlugin final : public IkivPluginW, public IkivPluginEx {
 public:
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override {
    *obj = nullptr;
    if (kivIsEqualGUID(&iid, &IID_IkivPluginW)) *obj = static_cast<IkivPluginW*>(this);
    if (kivIsEqualGUID(&iid, &IID_IkivPluginEx) && offers_ex) *obj = static_cast<IkivPluginEx*>(this);
    return *obj ? KIV_S_OK : KIV_E_NOINTERFACE;
  }
  int32_t KIV_STDCALL AddRef() override { return -1; }
  int32_t KIV_STDCALL Release() override { return -1; }
  kivHRESULT KIV_STDCALL AddLog(int32_t level, const kivWCHAR* text) override {
    log.push_back(std::to_string(level) + " " + sdk::Narrow(text));
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL GetModuleParameter(const kivWCHAR*, kivVARIANT* value) override {
    *value = sdk::Variant::Text(KIV_TEXT_W("7")).release();
    return KIV_S_OK;
  }
  // Only "LogTitle" is writable.
  kivHRESULT KIV_STDCALL SetModuleParameter(const kivWCHAR* name, const kivVARIANT* value, kivBOOL* accepted) override {
    *accepted = sdk::Narrow(name) == "LogTitle";
    if (*accepted) title = sdk::Narrow(sdk::detail::TextOf(*value));
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL GetParsedData(IkivParamsListW** list) override {
    *list = nullptr;
    if (!parsed) return KIV_E_UNEXPECTED;
    parsed->AddRef();
    *list = parsed.get();
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL SetNamedObject(const kivWCHAR* name, void* object) override {
    objects[sdk::Narrow(name)] = object;
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL GetNamedObject(const kivWCHAR* name, void** object) override {
    auto it = objects.find(sdk::Narrow(name));
    *object = it == objects.end() ? nullptr : it->second;
    return it == objects.end() ? KIV_E_UNEXPECTED : KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL RemoveNamedObject(const kivWCHAR* name, void** object) override {
    const kivHRESULT hr = GetNamedObject(name, object);
    objects.erase(sdk::Narrow(name));
    return hr;
  }
  kivHRESULT KIV_STDCALL GetParserItems(kivVARIANT*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL GetModuleConfigs(kivVARIANT*) override { return KIV_E_UNEXPECTED; }
  kivHRESULT KIV_STDCALL SendData(const kivPluginCallRecIntf*, const void*, uint32_t, int32_t*) override {
    return KIV_E_UNEXPECTED;
  }
  kivHRESULT KIV_STDCALL CreateParamsList(IkivParamsListW** list) override {
    *list = TkivParamsListWrap::Create().detach();
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL FireEvent(const kivWCHAR*, IkivParamsListW*) override { return KIV_E_UNEXPECTED; }
  // Keeps one stored value, "Port"; fails when told to.
  kivHRESULT KIV_STDCALL ProcessSettings(kivBOOL save, IkivParamsListW* params) override {
    if (settings_fail) return KIV_E_TIMEOUT;
    sdk::List list(params);
    if (save) stored_port = list.Int(KIV_TEXT_W("Port"));
    else if (stored_port) list.Set(KIV_TEXT_W("Port"), sdk::Int(*stored_port));
    return KIV_S_OK;
  }
  kivHRESULT KIV_STDCALL GetParserClientBuffer(const kivPluginCallRecIntf* rec, IkivFifoBuffer** out) override {
    const int32_t source = rec->Rec.DataSourceId;  // a packed field: read it out before binding a reference
    FakeFifo& fifo = fifos[source];
    fifo.AddRef();
    *out = &fifo;
    return KIV_S_OK;
  }

  IkivPluginW* W() { return this; }
  bool offers_ex = true;
  std::map<int32_t, FakeFifo> fifos;  // by data source
  IntfPtr<IkivParamsListW> parsed;    // set during a data call
  std::vector<std::string> log;
  std::map<std::string, void*> objects;
  std::string title;                 // LogTitle as set
  std::optional<int32_t> stored_port;  // the settings' "Port"
  bool settings_fail = false;
};

}  // namespace kiv::test
