// Carries out requests on a plugin module through the host library, as a host application does:
// one module, one current instance, a message window on the runner's thread (whose handle the
// LOAD command passes as "MSG-PROC-HANDLE"), and the log collected whenever message 1809 arrives.
// Each result carries the messages and the calls to the host's exports that the request caused.
// Windows only. A Runner belongs to the thread that created it.
#pragma once

#include <memory>
#include <string>

#include "host/host_module.h"
#include "request.h"
#include "result.h"

namespace kivhost {

class Runner {
 public:
  struct Settings {
    std::string BaseDir;    // relative module and data file paths start here ("" : the current folder)
    bool Progress = false;  // a progress line on standard error while feeding
  };

  explicit Runner(Settings settings);
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Carries out one request and reports what happened; never throws.
  RequestResult Run(const Request& request);
  // Whether a module request could not load its module.
  bool ModuleLoadFailed() const;
  // The loaded module and the current instance (0 when none), for calls of a caller's own.
  HostModule& Module();
  uintptr_t Instance() const;
  // Ends the session as a host does: UNLOAD and free an instance that is still live. Returns
  // the results of the requests this took (none when nothing was live).
  std::vector<RequestResult> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kivhost
