// A stress run: several threads, each a host thread with its own message window and its own
// instance (created and loaded on that thread), feed one file to many data sources in
// interleaved chunks, collect their logs, unload and free. At the end every byte fed must have
// been taken by the module or reported with a failure code, and a second free of every handle
// must find no instance left. Windows only.
#pragma once

#include <string>
#include <vector>

#include "request.h"
#include "result.h"

namespace kivhost {

// Runs the stress request `q` on the module at `module_path` (already loaded by the caller, so
// the threads share it) with `data` as every source's data. Each thread runs `setup` (commands
// only: load, unload, command, get-param, set-param, event) on its instance before it feeds; a
// LOAD among them replaces the default one. Status Failed with the findings as values when the
// check fails.
RequestResult RunStress(const std::string& module_path, const Request& q, const std::string& data,
                        const std::vector<Request>& setup, bool progress);

}  // namespace kivhost
