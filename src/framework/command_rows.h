// Command rows that live in their own files, called by the dispatcher under the command lock.
// Each takes the instance, the prepared record and its parameter interface and returns the
// command's code.
#pragma once

#include <cstdint>

#include "framework/call_record.h"
#include "framework/plugin.h"

namespace kiv {

// SET-STATE: the configured data sources, the data-source selection and the states.
int32_t RunSetState(TkivPlugin& plugin, TPluginCallRec* rec, IkivParamsListA* params);

}  // namespace kiv
