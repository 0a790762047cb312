#include "support/process_messages.h"

#include <thread>

namespace kiv {

int ProcessMessages(int maxCount) {
  int handled = 0;
  while (ProcessOneMessage()) {
    ++handled;
    if (handled % 10 == 0) std::this_thread::yield();
    if (maxCount > 0 && handled >= maxCount) break;
  }
  return handled;
}

}  // namespace kiv
