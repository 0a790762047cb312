// TkivParamsListItemWrap: one item of a wrapped list as IkivParamsListItemW (which is also its
// IkivParamsListItemA), with the name, wide name and key text cached for the plain getters.
//
// Reference counting is thread-safe; every other call must come from the thread that uses the
// list. The wrapper does not keep its item alive: each call first checks that the item is still
// in its list (see kiv/kiv_params_list.h for what a stale item interface does).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "kiv/kiv_params_list.h"
#include "paramlist/params_list.h"
#include "interfaces/value_normalise.h"
#include "platform/code_page.h"

namespace kiv {

class TkivParamsListWrap;

class TkivParamsListItemWrap final : public IkivParamsListItemW {
 public:
  // A wrapper for `item`, found at `index` of the list that `parent` wraps, with one reference
  // for the caller. The parent wrapper's memory (not its list) is kept until the last Release.
  static IkivParamsListItemW* Create(TkivParamsListWrap& parent, TkivParamsListItem& item,
                                     int32_t index);

  // The item, or null when it is no longer in its list (deleted, or the list is gone), also
  // when another item has taken its address since.
  TkivParamsListItem* LiveItem() noexcept;

  // IkivUnknown
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override;
  int32_t KIV_STDCALL AddRef() override;
  int32_t KIV_STDCALL Release() override;

  // IkivParamsListItemA
  void KIV_STDCALL SetKey(const char* key) override;
  void KIV_STDCALL SetDataType(int32_t data_type) override;
  void KIV_STDCALL SetState(uint8_t state) override;
  const char* KIV_STDCALL GetKey() override;
  int32_t KIV_STDCALL GetDataType() override;
  uint8_t KIV_STDCALL GetState() override;
  kivHRESULT KIV_STDCALL SetValue(const kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL GetValue(kivVARIANT* value) override;
  void KIV_STDCALL SetName(const char* name) override;
  const char* KIV_STDCALL GetName() override;
  kivBOOL KIV_STDCALL IsRowMarker() override;

  // IkivParamsListItemW
  void KIV_STDCALL SetNameW(const kivWCHAR* name) override;
  const kivWCHAR* KIV_STDCALL GetNameW() override;
  kivHRESULT KIV_STDCALL SetValueW(const kivVARIANT* value) override;
  kivHRESULT KIV_STDCALL GetValueW(kivVARIANT* value) override;

 private:
  TkivParamsListItemWrap(TkivParamsListWrap& parent, TkivParamsListItem& item, int32_t index);
  ~TkivParamsListItemWrap();

  // The item, or EAssertionFailed when it is gone.
  TkivParamsListItem& Live();
  // Renames the item and refreshes the three caches (the item's Key stays).
  void Rename(std::string_view name);
  void RefreshCaches(std::string_view name);

  WideString wide_name_;      // FWideName
  std::string name_;          // FName
  std::string key_text_;      // FKeyText
  TkivParamsListItem* item_;  // FItem; null once found gone
  uint32_t generation_;       // the item's, so that a new item at its address is not taken for it
  TkivParamsListWrap* parent_;
  int32_t index_;                 // where the item was last seen in its list
  std::atomic<int32_t> refs_{1};  // FRefCount
};

// The value of an item interface of any module, read with GetValueW (`wide`) or GetValue and
// normalised like an incoming value of that form: whatever the interface returns, the result
// owns everything it holds. The interface must be readable (RequireInterface). Throws
// EAssertionFailed when the read fails, EVariantError for a value that cannot be taken.
Variant ReadItemValue(IkivParamsListItemW* item, TextForm form);
Variant ReadItemValue(IkivParamsListItemA* item);

// Appends to `list` an item built from an item interface (any module's), read in this order:
// GetName, GetValue, GetDataType, GetState. The interface's key text (UTF-8) is not taken: the
// item is keyed by its name with the list's rule, so that it can be found by that name. Returns
// the new item; null for a null interface. Throws EAssertionFailed when GetValue fails.
TkivParamsListItem* AddFromItemIntf(TkivParamsList& list, IkivParamsListItemA* item);

// The key text of a name: converted to the system code page, lower-cased with its rules,
// converted back to UTF-16 and encoded as UTF-8.
std::string ItemKeyText(std::u16string_view wide_name);

}  // namespace kiv
