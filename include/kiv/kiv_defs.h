/* Basic definitions shared by every Varnolet SDK header.
 *
 * Usable from C and C++. Defines the calling convention macro, the fixed-width
 * integer types used by the binary interfaces and the status codes that every
 * interface method returns.
 */
#ifndef KIV_KIV_DEFS_H
#define KIV_KIV_DEFS_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KIV_STDCALL __stdcall
#else
#define KIV_STDCALL
#endif

#ifdef __cplusplus
#define KIV_EXTERN_C extern "C"
#else
#define KIV_EXTERN_C
#endif

/* Version of this SDK: major (incompatible changes), minor (additions), patch (fixes).
 * KIV_SDK_VERSION packs them into one number that compares as the version does; a module or
 * plugin reports the KIV_SDK_VERSION it was built with (kiv_diagnostics.h, kiv_plugin.h). */
#define KIV_SDK_VERSION_MAJOR 1
#define KIV_SDK_VERSION_MINOR 2
#define KIV_SDK_VERSION_PATCH 0
#define KIV_MAKE_VERSION(major, minor, patch) \
  ((((uint32_t)(major) & 0xFFu) << 24) | (((uint32_t)(minor) & 0xFFu) << 16) | ((uint32_t)(patch) & 0xFFFFu))
#define KIV_VERSION_MAJOR(v) (((uint32_t)(v) >> 24) & 0xFFu)
#define KIV_VERSION_MINOR(v) (((uint32_t)(v) >> 16) & 0xFFu)
#define KIV_VERSION_PATCH(v) ((uint32_t)(v) & 0xFFFFu)
#define KIV_SDK_VERSION KIV_MAKE_VERSION(KIV_SDK_VERSION_MAJOR, KIV_SDK_VERSION_MINOR, KIV_SDK_VERSION_PATCH)

/* Status codes of interface methods (HRESULT values). */
typedef int32_t kivHRESULT;
#define KIV_S_OK ((kivHRESULT)0)
#define KIV_E_UNEXPECTED ((kivHRESULT)0x8000FFFFL)
#define KIV_E_NOINTERFACE ((kivHRESULT)0x80004002L)
/* A wait ran out (HRESULT_FROM_WIN32(ERROR_TIMEOUT)): ProcessSettings when another process or
   thread held the settings file's lock for longer than 10 seconds. Worth a later retry. */
#define KIV_E_TIMEOUT ((kivHRESULT)0x800705B4L)

/* Result codes of the command and data entry points. */
#define KIV_RESULT_DONE 0
#define KIV_RESULT_NOT_DONE (-1)
#define KIV_RESULT_NOT_HANDLED (-2)
#define KIV_RESULT_EXCEPTION (-3)

/* Booleans crossing an interface: one byte, 0 false, 1 true; any non-zero input counts as true. */
typedef uint8_t kivBOOL;
#define KIV_FALSE ((kivBOOL)0)
#define KIV_TRUE ((kivBOOL)1)

/* One UTF-16 code unit. On Windows it is wchar_t, so that L"..." literals and BSTRs fit. */
#if defined(_WIN32)
typedef wchar_t kivWCHAR;
#elif defined(__cplusplus)
typedef char16_t kivWCHAR;
#else
typedef uint16_t kivWCHAR;
#endif

/* A UTF-16 literal of type const kivWCHAR[]: KIV_TEXT_W("name"). */
#if defined(_WIN32)
#define KIV_TEXT_W(s) L##s
#else
#define KIV_TEXT_W(s) u##s
#endif

/* A BSTR: UTF-16 text preceded by its 32-bit byte length; on Windows from SysAllocStringLen. */
typedef kivWCHAR* kivBSTR;

/* Interface identifier, laid out as the Windows GUID. */
typedef struct kivGUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} kivGUID;

/* Identifiers of this SDK share the stem {33316D29-0F86-41C4-8DB4-3FE9756158xx}. */
#define KIV_IID_INIT(last) {0x33316D29u, 0x0F86u, 0x41C4u, {0x8Du, 0xB4u, 0x3Fu, 0xE9u, 0x75u, 0x61u, 0x58u, (last)}}

static inline int kivIsEqualGUID(const kivGUID* a, const kivGUID* b) {
  int i;
  if (a->Data1 != b->Data1 || a->Data2 != b->Data2 || a->Data3 != b->Data3) return 0;
  for (i = 0; i < 8; ++i)
    if (a->Data4[i] != b->Data4[i]) return 0;
  return 1;
}

/* Variant type codes (OLE VARTYPE numbers) and the two local codes the interfaces accept. */
#define KIV_VT_EMPTY 0
#define KIV_VT_NULL 1
#define KIV_VT_I2 2
#define KIV_VT_I4 3
#define KIV_VT_R4 4
#define KIV_VT_R8 5
#define KIV_VT_CY 6
#define KIV_VT_DATE 7
#define KIV_VT_BSTR 8
#define KIV_VT_BOOL 11
#define KIV_VT_VARIANT 12
#define KIV_VT_I1 16
#define KIV_VT_UI1 17
#define KIV_VT_UI2 18
#define KIV_VT_UI4 19
#define KIV_VT_I8 20
#define KIV_VT_BYREF 0x4000
/* Local: `pszVal` addresses a zero-terminated 8-bit string in the system code page. */
#define KIV_VT_ANSI_STRING 0x0100
/* Local: `pwszVal` addresses a zero-terminated UTF-16 string. */
#define KIV_VT_WIDE_POINTER 0x0102

/* The 16-byte OLE Automation VARIANT: type code, three reserved words, payload from byte 8.
 * A VT_BOOL payload is -1 for true and 0 for false (VARIANT_BOOL). */
typedef struct kivVARIANT {
  uint16_t vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    int16_t iVal;
    uint16_t uiVal;
    int8_t cVal;
    uint8_t bVal;
    float fltVal;
    double dblVal;
    int16_t boolVal;
    int64_t cyVal;
    double date;
    kivBSTR bstrVal;
    const char* pszVal;
    const kivWCHAR* pwszVal;
    void* byref;
  };
} kivVARIANT;

#ifdef __cplusplus
static_assert(sizeof(kivVARIANT) == 16, "kivVARIANT has the OLE VARIANT layout");
static_assert(sizeof(kivGUID) == 16, "kivGUID has the GUID layout");
#else
_Static_assert(sizeof(kivVARIANT) == 16, "kivVARIANT has the OLE VARIANT layout");
_Static_assert(sizeof(kivGUID) == 16, "kivGUID has the GUID layout");
#endif

/* The tag of an interface type in the function tables: the C++ view declares interfaces as
 * classes, the C view as structs. */
#if defined(__cplusplus) && !defined(KIV_CINTERFACE)
#define KIV_INTERFACE class
#else
#define KIV_INTERFACE struct
#endif

/* The standard base interface (IUnknown): slots 0 to 2 of every interface of this SDK.
 * AddRef and Release return the new reference count. */
#if defined(__cplusplus) && !defined(KIV_CINTERFACE)
class IkivUnknown {
 public:
  virtual kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) = 0;
  virtual int32_t KIV_STDCALL AddRef() = 0;
  virtual int32_t KIV_STDCALL Release() = 0;
};
#endif

#endif /* KIV_KIV_DEFS_H */
