// Read access to the process environment.
//
// Safe from any thread as long as no thread changes the environment at the same time.
#pragma once

#include <string>

namespace kiv {

// Value of the environment variable `name`; empty when it is not set (or `name` is empty).
std::string EnvironmentVariable(const std::string& name);

}  // namespace kiv
