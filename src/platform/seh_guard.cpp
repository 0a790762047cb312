#include "platform/seh_guard.h"

namespace kiv {

const char* SehExceptionName(uint32_t code) noexcept {
  switch (code) {
    case 0xC0000005: return "access violation";
    case 0xC0000006: return "in-page error";
    case 0xC000001D: return "illegal instruction";
    case 0xC0000025: return "non-continuable exception";
    case 0xC000008C: return "array bounds exceeded";
    case 0xC000008E: return "float divide by zero";
    case 0xC0000090: return "float invalid operation";
    case 0xC0000094: return "integer divide by zero";
    case 0xC0000095: return "integer overflow";
    case 0xC0000096: return "privileged instruction";
    case 0xC00000FD: return "stack overflow";
    case 0x80000003: return "breakpoint";
    case 0xE06D7363: return "Microsoft C++ exception";
    case 0x0EEDFADE: return "Delphi exception";
    default: return "";
  }
}

}  // namespace kiv
