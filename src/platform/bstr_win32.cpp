// BSTRs from the system allocator (oleaut32), so that other modules may free them.
#include <windows.h>
#include <oleauto.h>

#include <new>

#include "platform/bstr.h"

namespace kiv {

char16_t* BstrAlloc(const char16_t* text, uint32_t length) {
  if (length > 0x7FFFFFF0u / 2) throw std::bad_alloc();
  BSTR b = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), length);
  if (!b) throw std::bad_alloc();
  if (!text) ZeroMemory(b, size_t(length) * 2);
  return reinterpret_cast<char16_t*>(b);
}

void BstrFree(char16_t* bstr) { SysFreeString(reinterpret_cast<BSTR>(bstr)); }

uint32_t BstrLen(const char16_t* bstr) {
  return bstr ? SysStringLen(reinterpret_cast<BSTR>(const_cast<char16_t*>(bstr))) : 0;
}

}  // namespace kiv
