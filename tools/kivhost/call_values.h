// Conversions between the script's call values and the host-layout lists: values written in a
// script become list items (texts as wide strings from UTF-8), and items read back become UTF-8
// text for the output. Any thread; a HostParamsList itself belongs to one thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/host_params_list.h"
#include "request.h"
#include "result.h"

namespace kivhost {

HostValue ToHostValue(const CallValue& value);
// The call values of a request that is one command (load, unload, command, get-param,
// set-param, event): "COMMAND" first, then what the request adds ("PARAM", "VALUE",
// "EVENT-TYPE") and the request's own values. nullopt for requests of other kinds.
std::optional<std::vector<CallValue>> CommandValues(const Request& request);
// A host tells LOAD its message window ("MSG-PROC-HANDLE") and its own module ("HANDLE"):
// appends those that `values` does not give.
void AddHostHandles(std::vector<CallValue>& values, int64_t window, int64_t module);
// Appends every value, in order.
void AddValues(HostParamsList& list, const std::vector<CallValue>& values);
// An item's value as text: wide text as UTF-8, numbers in decimal, Booleans (type 11) as
// "true"/"false", empty as "", null as "null", other types as "<type N>".
std::string ValueText(const HostValue& value);
// The kind of value a variant type code stands for.
ValueType ValueTypeOf(uint16_t variant_type) noexcept;
// An item as a named value: its name, text and type.
NamedValue Named(const std::string& name, const HostValue& value);
// Items as name, text and type.
std::vector<NamedValue> NamedItems(const std::vector<HostItem>& items);

}  // namespace kivhost
