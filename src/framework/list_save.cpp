#include "framework/list_save.h"

#include <iterator>
#include <vector>

#include "framework/plugin.h"
#include "paramlist/params_list.h"
#include "paramlist/variant_change.h"
#include "platform/code_page.h"
#include "platform/scope_exit.h"
#include "settings/setting_codec.h"
#include "settings/setting_value.h"
#include "support/rw_lock.h"

namespace kiv {

namespace {

constexpr uint32_t kParserTypeFlag = 0x80000000u;

// Variant types of the parser-item types 0..16.
constexpr TVarType kParserItemVariantTypes[] = {
    varOleStr, varOleStr, varOleStr, varOleStr,  // 0..3 texts
    varBoolean, varDouble, varSmallint, varWord, varInteger,
    varDate, varDate, varDate,  // 9..11 date, time, date and time
    varLongWord, varByte, varShortInt, varInt64, varCurrency,
};

bool IsNumericType(TVarType type) {
  switch (type) {
    case varSmallint: case varInteger: case varSingle: case varDouble: case varCurrency:
    case varDecimal: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: case varUInt64: case varInt: case varUInt:
      return true;
    default:
      return false;
  }
}

// The storage kind of an item of variant type `type`.
TTypeKind KindOf(TVarType type) {
  switch (type) {
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord:
      return tkInteger;
    case varSingle: case varDouble: case varCurrency: case varDate:
      return tkFloat;
    case varOleStr: case 0x0102:  // 0x0102: a counted wide string
      return tkWString;
    case varBoolean: case varString:
      return tkString;
    case varInt64: case varUInt64:
      return tkInt64;
    default:
      return tkVariant;
  }
}

std::string TextOf(const Variant& value) {
  return VarIsText(value) ? VarTextAnsi(value) : VarToText(value);
}

// A loaded number in the item's own numeric type, so that a value keeps its type across a
// save and load: the storage hands back 32-bit integers and doubles. A 32-bit unsigned item gets
// the bits of the stored integer back. Values that do not convert are kept as they are.
Variant InItemType(const Variant& value, TVarType itemType) {
  if (value.VType() == itemType || !(IsNumericType(itemType) || itemType == varDate) ||
      !(IsNumericType(value.VType()) || VarIsText(value)))
    return value;
  if (itemType == varLongWord && value.VType() == varInteger)
    return Variant::UInt32(static_cast<uint32_t>(value.Data().VInteger));
  if (itemType == varDate) return VarIsText(value) ? value : Variant::Date(VarToDouble(value));
  Variant converted;
  return VarChangeTypeEx(converted, value, itemType) ? converted : value;
}

}  // namespace

TVarType ItemVariantType(int32_t dataType) {
  const auto raw = static_cast<uint32_t>(dataType);
  // A number beyond the 16 bits of a variant type names none of the known types.
  if (!(raw & kParserTypeFlag)) return raw <= 0xFFFF ? static_cast<TVarType>(raw) : varUnknown;
  const uint32_t parserType = raw & 0x7F;
  if (parserType < std::size(kParserItemVariantTypes)) return kParserItemVariantTypes[parserType];
  return varUnknown;
}

void TListSaveHelper::SetValue(const Variant& value, int index) {
  TkivParamsListItem* item = list_->Items(index);
  if (!item) return;
  const TVarType type = ItemVariantType(item->DataType());
  const TVarType valueType = value.VType() & varTypeMask;
  if (type == varBoolean) {
    bool on;
    if (VarIsText(value)) {
      const std::string text = AnsiLowerCase(VarTextAnsi(value));
      on = text == "true" || text == "1";
    } else if (valueType == varBoolean) {
      on = value.Data().VBoolean != 0;
      if (!(value.VType() & varByRef)) {
        item->SetValue(value);
        return;
      }
    } else if (IsNumericType(valueType)) {
      on = VarToDouble(value) != 0;
    } else {
      return;  // nothing that reads as a Boolean
    }
    item->SetValue(Variant::Bool(on));
    return;
  }
  if (type == varOleStr && list_->Tag() == 0 && !value.IsEmptyOrNull()) {
    const std::string text = TextOf(value);
    if (!text.empty()) {
      // A list with Tag 0 holds its texts in the stored (encoded) form.
      item->SetValue(Variant::Wide(AnsiToWide(EncodeSettingText(text))));
      return;
    }
  }
  item->SetValue(InItemType(value, type));
}

void TListSaveHelper::GetValue(Variant& value, int index) {
  const TkivParamsListItem* item = list_->Items(index);
  if (!item) return;
  const TVarType type = ItemVariantType(item->DataType());
  value = item->GetValue();
  if (value.IsEmptyOrNull()) return;
  if (type == varBoolean) {
    Variant flag;
    if (!VarChangeTypeEx(flag, value, varBoolean))
      throw EVariantError("The value of a Boolean setting is not a Boolean");
    value = Variant::Wide(flag.Data().VBoolean ? u"True" : u"False");
  } else if (type == varOleStr && list_->Tag() == 0) {
    const std::string text = TextOf(value);
    // The settings component encodes it again on writing: the stored text is the encoded
    // form of the plain text.
    if (!text.empty()) value = Variant::Wide(AnsiToWide(DecodeSettingText(text)));
  }
}

void TListSaveHelper::BeforeProcessItem(TTypeKind& kind, bool& isVirtual, bool& process,
                                        int index) {
  const TkivParamsListItem* item = list_->Items(index);
  if (!item) return;
  if (!loading_ && (item->Value().VType == varEmpty || item->Value().VType == varNull)) {
    process = false;  // an empty parameter is neither written nor deleted
    return;
  }
  process = true;
  isVirtual = true;
  kind = KindOf(ItemVariantType(item->DataType()));
}

TListSettingsResult ProcessListSettings(TListSaveHelper& helper, const std::string& section,
                                        const std::string& iniFile, bool load) {
  TkivPlugin& instance = *helper.Instance();
  TkivParamsList& list = *helper.List();
  const std::string prefix = section.empty() ? std::string() : section + "\\";
  WriteGuard exclusive(instance.SettingsLock());

  std::vector<std::string> items;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string name(list.Items(i)->Name());
    items.push_back(name + "," + prefix + name);
  }
  helper.SetLoading(load);

  // The busy flag covers the component's whole life, also when it throws.
  TWreg settings;
  instance.SetSettingsBusy(true);
  // Runs before `exclusive` lets the settings lock go; the analysis does not follow the lambda.
  ScopeExit busy([&instance]() NO_THREAD_SAFETY_ANALYSIS { instance.SetSettingsBusy(false); });
  settings.SetRegistryRoot(static_cast<TRegistryRoot>(instance.ModuleRegistryRoot1()));
  settings.SetSecondRegistryRoot(static_cast<TRegistryRoot>(instance.ModuleRegistryRoot2()));
  settings.SetRegistryPath(instance.ModuleRegistryPath());
  settings.SetINIFileSectionPrefix(instance.INISectionPrefix());
  settings.SetINIFile(iniFile.empty() ? instance.INIFile() : iniFile);
  settings.SetValue = [&helper](TObject*, const std::string&, int index, const Variant& value) {
    helper.SetValue(value, index);
  };
  settings.GetValue = [&helper](TObject*, const std::string&, int index, Variant& value) {
    helper.GetValue(value, index);
  };
  settings.BeforeProcessItem = [&helper](TObject*, const std::string&, int index, bool& process,
                                         bool& isVirtual, TTypeKind& kind) {
    helper.BeforeProcessItem(kind, isVirtual, process, index);
  };
  settings.SetComponents(items);
  const auto logFailure = [&](const std::string& reason) {
    instance.Log(0, std::string("{Settings} ") + (load ? "Not loaded: " : "Not saved: ") + reason);
  };
  TListSettingsResult result;
  try {
    result.Done = load ? settings.Load() : settings.Save();
  } catch (const Exception& e) {
    logFailure(e.Message());  // the INI file could not be read
    throw;
  }
  result.Failure = settings.Failure();
  if (result.Failure == TSettingsFailure::kNone) return result;
  // Without a place every operation fails alike: one line says it.
  const bool placeMissing = result.Failure == TSettingsFailure::kNoPlace;
  if (!placeMissing || !instance.SettingsPlaceMissingLogged()) logFailure(settings.FailureText());
  if (placeMissing) instance.SetSettingsPlaceMissingLogged();
  return result;
}

bool LoadListSettings(TkivPlugin& instance, TkivParamsList& list, const std::string& section,
                      const std::string& iniFile) {
  TListSaveHelper helper(&instance, &list);
  return ProcessListSettings(helper, section, iniFile, true).Done;
}

bool SaveListSettings(TkivPlugin& instance, TkivParamsList& list, const std::string& section,
                      const std::string& iniFile) {
  TListSaveHelper helper(&instance, &list);
  return ProcessListSettings(helper, section, iniFile, false).Done;
}

}  // namespace kiv
