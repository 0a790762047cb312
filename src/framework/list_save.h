// Saving and loading a whole parameter list of a plugin instance in the registry or an INI
// file through the settings component (TWreg). Each item is stored under its name, below an
// optional section; the item's DataType decides the storage format.
//
// Threads: any thread; one instance's loads and saves are serialised by its settings lock,
// and its settings-busy flag is set while the settings component works.
#pragma once

#include <cstdint>
#include <string>

#include "paramlist/variant.h"
#include "settings/wreg.h"

namespace kiv {

class TkivPlugin;
class TkivParamsList;

// The variant type of an item's DataType: below 0x80000000 the number itself; with the top bit
// set, the parser-item type in its low 7 bits mapped to a variant type (unknown ones: 13).
TVarType ItemVariantType(int32_t dataType);

// The three handlers of one settings operation, bound to one object.
class TPropSaveHelper {
 public:
  virtual ~TPropSaveHelper() = default;
  // A loaded value for the item at `index`.
  virtual void SetValue(const Variant& value, int index) = 0;
  // The value to save for the item at `index`; `value` arrives empty.
  virtual void GetValue(Variant& value, int index) = 0;
  // Whether (`process`) and as which type kind the item at `index` is read or written.
  virtual void BeforeProcessItem(TTypeKind& kind, bool& isVirtual, bool& process, int index) = 0;
};

// The handlers for one parameter list of one instance; items are addressed by position.
// Neither the instance nor the list is owned. An index outside the list does nothing.
class TListSaveHelper : public TPropSaveHelper {
 public:
  TListSaveHelper(TkivPlugin* instance, TkivParamsList* list) : instance_(instance), list_(list) {}

  // Boolean items take text "true"/"1" (any case), non-zero numbers and Booleans; string items
  // of a list with Tag 0 are held in the encoded setting form; other values are stored as
  // they are. Throws when the item cannot store the value (the settings component then drops
  // the stored entry).
  void SetValue(const Variant& value, int index) override;
  // The item's value; Booleans as "True"/"False"; string items of a list with Tag 0 decoded.
  void GetValue(Variant& value, int index) override;
  // Skips items with no value when saving; otherwise the kind follows the item's type.
  void BeforeProcessItem(TTypeKind& kind, bool& isVirtual, bool& process, int index) override;

  TkivPlugin* Instance() const { return instance_; }
  TkivParamsList* List() const { return list_; }
  bool Loading() const { return loading_; }
  void SetLoading(bool loading) { loading_ = loading; }

 private:
  TkivPlugin* instance_;
  TkivParamsList* list_;
  bool loading_ = false;
};

// How one list load or save ended.
struct TListSettingsResult {
  bool Done = false;  // the settings component's answer: a value read, an item processed
  TSettingsFailure Failure = TSettingsFailure::kNone;  // kNone unless the operation failed
};

// Reads every item of `list` from the instance's settings storage: the registry (roots and path
// of the instance) or `iniFile` (empty: the instance's INI file), below `section` (may be
// empty). True when a value was read. The INI file's open error (EFOpenError) propagates.
bool LoadListSettings(TkivPlugin& instance, TkivParamsList& list, const std::string& section,
                      const std::string& iniFile);
// Writes every item of `list` that holds a value. True when an item was processed; false when
// nothing could be written (no place for settings, no registry root opened, the INI lock not
// had in time, the INI file not written back).
bool SaveListSettings(TkivPlugin& instance, TkivParamsList& list, const std::string& section,
                      const std::string& iniFile);

// One load (`load`) or save with the given handlers, for the list the helper is bound to: the
// common part of LoadListSettings and SaveListSettings. Sets the helper's loading flag.
// A failure is logged on the instance at level 0 as "{Settings} Not saved: <reason>" (or
// "Not loaded"); that there is no place for settings (no registry path, no INI file) is logged
// once per instance. The INI file's open error is logged too, then propagates.
TListSettingsResult ProcessListSettings(TListSaveHelper& helper, const std::string& section,
                                        const std::string& iniFile, bool load);

}  // namespace kiv
