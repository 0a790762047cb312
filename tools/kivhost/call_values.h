// Conversions between the script's call values and the host-layout lists: values written in a
// script become list items (texts as wide strings from UTF-8), and items read back become UTF-8
// text for the output. Any thread; a HostParamsList itself belongs to one thread.
#pragma once

#include <string>
#include <vector>

#include "host/host_params_list.h"
#include "request.h"
#include "result.h"

namespace kivhost {

HostValue ToHostValue(const CallValue& value);
// Appends every value, in order.
void AddValues(HostParamsList& list, const std::vector<CallValue>& values);
// An item's value as text: wide text as UTF-8, numbers in decimal, Booleans (type 11) as
// "true"/"false", empty as "", null as "null", other types as "<type N>".
std::string ValueText(const HostValue& value);
// Items as name and text.
std::vector<NamedValue> NamedItems(const std::vector<HostItem>& items);

}  // namespace kivhost
