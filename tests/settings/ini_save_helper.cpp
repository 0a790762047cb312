#include "settings/ini_save_helper.h"

#include "settings/wreg.h"

namespace kiv::test {

bool SaveIniInteger(const std::string& iniFile, const std::string& name, int value) {
  TWreg wreg;
  wreg.SetINIFile(iniFile);
  wreg.SetComponents(std::vector<std::string>{name + "," + name});
  wreg.BeforeProcessItem = [](TObject*, const std::string&, int, bool& process, bool&,
                              TTypeKind& kind) {
    process = true;
    kind = tkInteger;
  };
  wreg.GetValue = [value](TObject*, const std::string&, int, Variant& v) {
    v = Variant::Int32(value);
  };
  return wreg.Save();
}

}  // namespace kiv::test
