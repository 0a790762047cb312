// Whether this build runs under a sanitizer: kept with the platform layer, which needs it too.
#pragma once

#include "platform/sanitizer_build.h"
