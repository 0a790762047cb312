// The 16-byte OLE Automation VARIANT layout, its type codes, and the SAFEARRAY descriptor.
//
// TVarData is plain data: it owns nothing by itself. Copying and freeing the values it holds
// (BSTRs, arrays, interfaces, counted 8-bit strings) is done by variant.h. Any thread may use
// these types; a single value is not safe for concurrent change.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/exception.h"

namespace kiv {

// A variant that cannot be copied, converted or read: unsupported type, broken array or reference.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

using TVarType = uint16_t;

// Type codes (VARTYPE) that the module knows.
enum : TVarType {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,  // int16
  varInteger = 0x0003,   // int32
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,  // int64 scaled by 10000
  varDate = 0x0007,      // double, days since 1899-12-30
  varOleStr = 0x0008,    // BSTR
  varDispatch = 0x0009,
  varError = 0x000A,     // int32 status code
  varBoolean = 0x000B,   // int16: -1 true, 0 false
  varVariant = 0x000C,   // only with varByRef or varArray
  varUnknown = 0x000D,
  varDecimal = 0x000E,   // fills all 16 bytes
  varShortInt = 0x0010,  // int8
  varByte = 0x0011,      // uint8
  varWord = 0x0012,      // uint16
  varLongWord = 0x0013,  // uint32
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varInt = 0x0016,       // int32
  varUInt = 0x0017,      // uint32
  varString = 0x0100,    // local code: counted 8-bit string in the system ANSI code page
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
  varByRef = 0x4000,
};

constexpr int16_t kVariantTrue = -1;
constexpr int16_t kVariantFalse = 0;

struct TSafeArray;

// One OLE VARIANT. Layout (32-bit target):
//   0  2  VType      type code
//   2  6  Reserved1..3
//   8  8  payload    (pointer-sized members use its first 4 bytes)
// A decimal uses the whole 16 bytes (its own layout starts over the reserved words).
struct TVarData {
  TVarType VType;
  uint16_t Reserved1;
  uint16_t Reserved2;
  uint16_t Reserved3;
  union {
    int16_t VSmallInt;
    int32_t VInteger;
    float VSingle;
    double VDouble;
    int64_t VCurrency;
    double VDate;
    char16_t* VOleStr;
    void* VDispatch;
    int32_t VError;
    int16_t VBoolean;
    void* VUnknown;
    int8_t VShortInt;
    uint8_t VByte;
    uint16_t VWord;
    uint32_t VLongWord;
    int64_t VInt64;
    uint64_t VUInt64;
    char* VString;  // counted 8-bit string (counted_string.h)
    TSafeArray* VArray;
    void* VPointer;  // the target of a by-reference value
  };
};

static_assert(sizeof(TVarData) == 16, "VARIANT is 16 bytes");
static_assert(offsetof(TVarData, VType) == 0);
static_assert(offsetof(TVarData, VInteger) == 8, "payload starts at byte 8");

struct TSafeArrayBound {
  uint32_t cElements;
  int32_t lLbound;
};

// SAFEARRAY descriptor. Layout (32-bit target):
//   0  2  cDims       number of dimensions
//   2  2  fFeatures   FADF_* flags
//   4  4  cbElements  size of one element
//   8  4  cLocks
//  12  4  pvData      the elements, contiguous
//  16  8n rgsabound   one bound per dimension
struct TSafeArray {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  TSafeArrayBound rgsabound[1];
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(TSafeArray, pvData) == 12);
static_assert(offsetof(TSafeArray, rgsabound) == 16);
static_assert(sizeof(TSafeArray) == 24);
#endif

// FADF_* feature flags.
enum : uint16_t {
  kFadfHaveVarType = 0x0080,
  kFadfBstr = 0x0100,
  kFadfUnknown = 0x0200,
  kFadfDispatch = 0x0400,
  kFadfVariant = 0x0800,
};

}  // namespace kiv
