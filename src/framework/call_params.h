// Typed reads of a prepared call record's parameters: text, Boolean and integer values by name.
//
// A parameter that is missing, empty or null, or whose value does not convert, counts as absent:
// the functions return false and leave `out` unchanged. Never throw. Any thread that may use
// `params`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kiv/kiv_params_list.h"

namespace kiv {

// The value as 8-bit text in the system code page.
bool ReadCallText(IkivParamsListA* params, std::string_view name, std::string& out) noexcept;
// The same for a name (a command, an event type): a text holding a zero character is no name and
// counts as absent, since the inner plugin receives names zero-terminated and would see a part.
bool ReadCallName(IkivParamsListA* params, std::string_view name, std::string& out) noexcept;
bool ReadCallBool(IkivParamsListA* params, std::string_view name, bool& out) noexcept;
bool ReadCallInt(IkivParamsListA* params, std::string_view name, int32_t& out) noexcept;

}  // namespace kiv
