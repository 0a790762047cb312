// What the calling process holds, for leak checks that compare it before and after a run: heap
// bytes in use, handles, and the lowest free TLS slot (which climbs by one for every slot left
// allocated). Windows only; any thread, though other threads' work shows in the figures.
#pragma once

#include <cstdint>

namespace kivhost {

struct ProcessUse {
  int64_t HeapBytes = 0;  // in busy blocks of every heap of the process
  int64_t Handles = 0;    // open handles of the process
  int64_t TlsSlot = 0;    // the lowest free TLS slot
};

ProcessUse MeasureProcessUse();

}  // namespace kivhost
