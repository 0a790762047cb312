// A host-layout list's items as one line of text, for comparing what a module delivered.
#pragma once

#include <string>
#include <vector>

#include "host/host_params_list.h"

namespace kiv::test {

// Items as "name=value" separated by spaces (text as it is, reals and integers in decimal), a
// row marker as "|".
inline std::string Describe(const std::vector<kivhost::HostItem>& items) {
  std::string out;
  for (const kivhost::HostItem& item : items) {
    if (item.DataType == kivhost::HostParamsList::kRowMarkerType) {
      out += "|";
      continue;
    }
    if (!out.empty() && out.back() != '|') out += " ";
    const kivhost::HostValue& v = item.Value;
    out += item.Name + "=" +
           (v.Type == 8 ? std::string(v.Text.begin(), v.Text.end())
                        : v.Type == 5 ? std::to_string(v.Number) : std::to_string(v.Integer));
  }
  return out;
}

}  // namespace kiv::test
