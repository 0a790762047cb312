/* Basic definitions shared by every Varnolet SDK header.
 *
 * Usable from C and C++. Defines the calling convention macro, the fixed-width
 * integer types used by the binary interfaces and the status codes that every
 * interface method returns.
 */
#ifndef KIV_KIV_DEFS_H
#define KIV_KIV_DEFS_H

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

/* Status codes of interface methods (HRESULT values). */
typedef int32_t kivHRESULT;
#define KIV_S_OK ((kivHRESULT)0)
#define KIV_E_UNEXPECTED ((kivHRESULT)0x8000FFFFL)
#define KIV_E_NOINTERFACE ((kivHRESULT)0x80004002L)

/* Result codes of the command and data entry points. */
#define KIV_RESULT_DONE 0
#define KIV_RESULT_NOT_DONE (-1)
#define KIV_RESULT_NOT_HANDLED (-2)
#define KIV_RESULT_EXCEPTION (-3)

#endif /* KIV_KIV_DEFS_H */
