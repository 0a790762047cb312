// TkivPluginWrap: the services of one plugin instance offered to the inner plugin as IkivPluginW
// and IkivPlugin (one object, two interface pointers), and TkivPluginWrapEx, which adds
// IkivPluginEx, the entry to the per-data-source FIFO buffers.
//
// The wrapper is not counted: AddRef and Release do nothing, and its owner (the proxy instance)
// frees it. Every method may be called from any thread; the framework's parts it reaches carry
// their own locks. Status codes and argument rules are those of kiv/kiv_plugin.h.
#pragma once

#include <cstdint>
#include <mutex>

#include "framework/call_record.h"
#include "interfaces/intf_ptr.h"
#include "kiv/kiv_plugin.h"
#include "support/fast_mutex.h"

namespace kiv {

class TkivPlugin;

// Lends the parsed-data list of a data request when the inner plugin first asks for it, so that a
// request whose inner plugin never asks makes no wrapper. The lender lives for the request.
class TParsedDataLender {
 public:
  // The list's interface, lent until the request ends; the slot takes its own reference.
  virtual IkivParamsListA* LendParsedData() = 0;

 protected:
  ~TParsedDataLender() = default;
};

class TkivPluginWrap : public IkivPluginW, public IkivPlugin {
 public:
  // Offers the services of `owner`, which must outlive the wrapper.
  explicit TkivPluginWrap(TkivPlugin& owner) : owner_(owner) {}
  virtual ~TkivPluginWrap() = default;
  TkivPluginWrap(const TkivPluginWrap&) = delete;
  TkivPluginWrap& operator=(const TkivPluginWrap&) = delete;

  TkivPlugin& Owner() const { return owner_; }

  // The current-parsed-data slot: the proxy sets it to the data request's list before the inner
  // call and clears it (null) afterwards. The slot holds a reference of its own.
  void SetParsedData(IkivParamsListA* list);
  // Fills the slot on demand instead: the first ParsedData of the request asks `lender`. Cleared
  // (with the slot) by SetParsedData, which the proxy calls before the lender goes.
  void SetParsedDataLender(TParsedDataLender* lender);
  // The slot's list with a reference for the caller; empty outside a data request.
  IntfPtr<IkivParamsListA> ParsedData() const;

  // The interface pointers handed to the inner plugin.
  IkivPluginW* W() { return this; }
  IkivPlugin* A() { return this; }

  // IkivUnknown: identifiers ...C0, ...C1 and ...C2; AddRef and Release return -1.
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override;
  int32_t KIV_STDCALL AddRef() override { return -1; }
  int32_t KIV_STDCALL Release() override { return -1; }

  // Slots with the same arguments in both forms have one implementation.
  kivHRESULT KIV_STDCALL GetParserItems(kivVARIANT* text) override;
  kivHRESULT KIV_STDCALL GetModuleConfigs(kivVARIANT* text) override;
  kivHRESULT KIV_STDCALL SendData(const kivPluginCallRecIntf* rec, const void* data, uint32_t size,
                                  int32_t* result) override;

  // IkivPluginW
  kivHRESULT KIV_STDCALL AddLog(int32_t level, const kivWCHAR* text) override;
  kivHRESULT KIV_STDCALL GetModuleParameter(const kivWCHAR* name, kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL SetModuleParameter(const kivWCHAR* name, const kivVARIANT* value,
                                            kivBOOL* accepted) override;
  kivHRESULT KIV_STDCALL GetParsedData(IkivParamsListW** list) override;
  kivHRESULT KIV_STDCALL SetNamedObject(const kivWCHAR* name, void* object) override;
  kivHRESULT KIV_STDCALL GetNamedObject(const kivWCHAR* name, void** object) override;
  kivHRESULT KIV_STDCALL RemoveNamedObject(const kivWCHAR* name, void** object) override;
  kivHRESULT KIV_STDCALL CreateParamsList(IkivParamsListW** list) override;
  kivHRESULT KIV_STDCALL FireEvent(const kivWCHAR* event_type, IkivParamsListW* params) override;
  kivHRESULT KIV_STDCALL ProcessSettings(kivBOOL save, IkivParamsListW* params) override;

  // IkivPlugin
  kivHRESULT KIV_STDCALL AddLog(int32_t level, const char* text) override;
  kivHRESULT KIV_STDCALL GetModuleParameter(const char* name, kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL SetModuleParameter(const char* name, const kivVARIANT* value,
                                            kivBOOL* accepted) override;
  kivHRESULT KIV_STDCALL GetParsedData(IkivParamsListA** list) override;
  kivHRESULT KIV_STDCALL SetNamedObject(const char* name, void* object) override;
  kivHRESULT KIV_STDCALL GetNamedObject(const char* name, void** object) override;
  kivHRESULT KIV_STDCALL RemoveNamedObject(const char* name, void** object) override;
  kivHRESULT KIV_STDCALL CreateParamsList(IkivParamsListA** list) override;
  kivHRESULT KIV_STDCALL FireEvent(const char* event_type, IkivParamsListA* params) override;
  kivHRESULT KIV_STDCALL ProcessSettings(kivBOOL save, IkivParamsListA* params) override;

 private:
  TkivPlugin& owner_;                           // FOwner, not owned
  mutable FastMutex parsed_data_lock_;         // keeps the slot's reference consistent
  mutable IntfPtr<IkivParamsListA> parsed_data_ GUARDED_BY(parsed_data_lock_);  // FParsedData
  TParsedDataLender* lender_ GUARDED_BY(parsed_data_lock_) = nullptr;
};

// Where TkivPluginWrapEx gets the FIFO buffers from: the proxy's parser-client list.
class TParserClientSource {
 public:
  // A new buffer over the FIFO stream of the client for `rec` (found or created), with one
  // reference for the caller. Null, or an exception, when there is no client list.
  virtual IkivFifoBuffer* NewParserClientBuffer(const TPluginCallRec& rec) = 0;

 protected:
  ~TParserClientSource() = default;
};

class TkivPluginWrapEx : public TkivPluginWrap, public IkivPluginEx {
 public:
  // `clients` must outlive the wrapper.
  TkivPluginWrapEx(TkivPlugin& owner, TParserClientSource& clients)
      : TkivPluginWrap(owner), clients_(clients) {}

  IkivPluginEx* Ex() { return this; }

  // IkivUnknown: also answers ...C5.
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override;
  int32_t KIV_STDCALL AddRef() override { return -1; }
  int32_t KIV_STDCALL Release() override { return -1; }

  // IkivPluginEx: the buffer of the record's data source. The record (the inner plugin's copy
  // of the host record) is checked for readability before it is read.
  kivHRESULT KIV_STDCALL GetParserClientBuffer(const kivPluginCallRecIntf* rec,
                                               IkivFifoBuffer** buffer) override;

 private:
  TParserClientSource& clients_;
};

}  // namespace kiv
