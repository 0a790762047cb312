// Lends a list interface of another module (a host that passes its lists as interfaces) to
// plugin code for one scope, as ParamsListBorrow lends a list of ours: plugin code gets a wrapper
// of this module that passes each call on to the foreign list while the loan lasts. When the
// loan ends the wrapper lets go of the foreign list and of every foreign item reached through
// it; a reference kept past the loan then fails every call (KIV_E_UNEXPECTED with cleared
// outputs; 0, null or false from plain methods) and never reaches the foreign object again.
//
// The wrapper offers the forms (W, A) that the foreign list answers. Texts, variants and
// interfaces passed in are checked before they are passed on; values go on in their OLE form.
// Another list given to Append, AppendRange or AppendAsRow must be a loan of the same kind (its
// foreign list is passed on) or null. Every call into the foreign objects runs under a local
// guard: one that faults fails as a call after the loan does. Reference counts are atomic; every
// other call on one thread at a time, as the foreign list requires.
#pragma once

#include <cstdint>

#include "kiv/kiv_params_list.h"

namespace kiv {

class TForeignListWrap;

class [[nodiscard]] ForeignListBorrow {
 public:
  // Lends `foreign` (either list form; null lends nothing). Throws std::bad_alloc.
  explicit ForeignListBorrow(IkivParamsList_* foreign);
  ForeignListBorrow(const ForeignListBorrow&) = delete;
  ForeignListBorrow& operator=(const ForeignListBorrow&) = delete;
  // Detaches the wrapper whatever references remain.
  ~ForeignListBorrow();

  // The interface pointers, without a reference of their own: valid for the scope; null for a
  // form the foreign list does not offer.
  IkivParamsListW* W() const;
  IkivParamsListA* A() const;

  // Whether `intf` is a list wrapper of this kind, live or detached (not dereferenced).
  static bool IsLend(const void* intf);

 private:
  TForeignListWrap* wrap_ = nullptr;
};

}  // namespace kiv
