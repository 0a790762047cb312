// `kivhost check <plugin.dll> [data=<file>] [chunk=N]`: runs an inner plugin behind varnolet.dll
// (the one beside kivhost.exe) through a fixed scenario and reports what it found per entry
// point (check_report.h). Windows only.
#pragma once

#include "command_line.h"

namespace kivhost {

// The check of inv.Module with the options in inv.Lines; the exit code: 0 pass, 1 findings,
// 2 bad options, 3 the plugin or varnolet.dll could not be read or set up.
int RunCheck(const Invocation& inv);

}  // namespace kivhost
