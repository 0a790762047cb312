#include "paramlist/variant_change.h"

namespace kiv {

bool VarChangeTypePlatform(Variant& result, const TVarData& source, TVarType to) {
  return VarChangeTypePortable(result, source, to);
}

}  // namespace kiv
