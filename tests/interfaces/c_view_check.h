/* Helpers of the tests compiled as C that drive the SDK's interfaces through the C view. */
#ifndef KIV_TESTS_C_VIEW_CHECK_H
#define KIV_TESTS_C_VIEW_CHECK_H

#include "kiv/kiv_defs.h"

/* Ends the calling test function with the line of a check that failed (0 means all passed). */
#define CHECK(cond)               \
  do {                            \
    if (!(cond)) return __LINE__; \
  } while (0)

/* Whether the UTF-16 text `a` equals the ASCII text `ascii`; false for null. */
static inline int wide_equals(const kivWCHAR* a, const char* ascii) {
  if (!a) return 0;
  while (*ascii)
    if (*a++ != (kivWCHAR)*ascii++) return 0;
  return *a == 0;
}

#endif /* KIV_TESTS_C_VIEW_CHECK_H */
