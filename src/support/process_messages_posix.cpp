#include "support/process_messages.h"

namespace kiv {

// No message queue on this platform.
bool ProcessOneMessage() { return false; }

}  // namespace kiv
