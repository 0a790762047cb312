// Variants at the list and item interfaces: normalising what comes in, copying what goes out.
//
// kivVARIANT (the SDK's view) and TVarData (the module's) are the same 16-byte OLE VARIANT.
// Incoming KIV_VT_ANSI_STRING (0x0100) and KIV_VT_WIDE_POINTER (0x0102) carry a pointer to
// zero-terminated text rather than an owned string. Pure functions; any thread.
#pragma once

#include <string_view>

#include "kiv/kiv_defs.h"
#include "paramlist/variant.h"

namespace kiv {

static_assert(sizeof(kivVARIANT) == sizeof(TVarData));
static_assert(offsetof(kivVARIANT, lVal) == offsetof(TVarData, VInteger));

// Which text a KIV_VT_ANSI_STRING pointer addresses: 8-bit (A interfaces) or UTF-16 (W).
enum class TextForm { kAnsi, kWide };

// The value an incoming variant stands for. With a non-null pointer, 0x0100 becomes an 8-bit
// string value (A form) or a wide one (W form) and 0x0102 a wide one; anything else is copied,
// and a null `value` is empty. Throws EVariantError for a type that cannot be copied.
Variant NormaliseIncoming(const kivVARIANT* value, TextForm form);

// NormaliseIncoming of a variant the caller already copied from foreign memory (ReadAddArgs).
Variant NormaliseCopied(const kivVARIANT& copy, TextForm form);

// The arguments of an Add, read in one pass (on Windows under one guard instead of one per
// argument): the name's text (empty for null; it stays in the caller's memory) and a copy of
// the value (empty for null). Throws EVariantError when either cannot be read.
template <class Ch>
struct IncomingAddArgs {
  std::basic_string_view<Ch> Name;
  kivVARIANT Value{};
};
IncomingAddArgs<char> ReadAddArgs(const char* name, const kivVARIANT* value);
IncomingAddArgs<char16_t> ReadAddArgs(const kivWCHAR* name, const kivVARIANT* value);

// Text that foreign code passes in (a name, a key), checked page by page before it is read:
// empty for null. Throws EVariantError when it runs into unreadable memory.
std::string_view IncomingText(const char* text);
std::u16string_view IncomingText(const kivWCHAR* text);

// Checks that a foreign interface pointer and the first `slots` entries of its function table
// are readable before a call through it. Null is allowed (the caller decides what it means).
// Throws EVariantError otherwise.
void RequireInterface(const void* intf, size_t slots);

// Fills `out` (its old content is overwritten, not freed) with a copy of `value` that the
// caller owns; an 8-bit string value becomes a BSTR. Nothing when `out` is null.
void StoreOutgoing(const TVarData& value, kivVARIANT* out);
// The same for a value the caller gives up: anything but an 8-bit string moves into `out`
// without a copy (a read through an interface then copies its value once, not twice).
void StoreOutgoing(Variant&& value, kivVARIANT* out);

// Frees what a variant received from an interface holds and leaves it empty.
void ClearVariant(kivVARIANT* value) noexcept;

}  // namespace kiv
