/* The call record: the packed record that the host passes by address to every entry point of a
 * plugin module, with its value slots and their kinds. Usable from C and C++.
 *
 * On the 32-bit target the record is 102 bytes and a value slot 13 bytes, packed, at the offsets
 * given below. Address fields are pointer-wide, so a 64-bit build (tests only) has the same
 * fields at wider offsets.
 */
#ifndef KIV_KIV_CALL_RECORD_H
#define KIV_KIV_CALL_RECORD_H

#include "kiv/kiv_defs.h"

/* Value kinds of a slot (kivPluginCallValue.Kind). */
#define KIV_KIND_EMPTY 0
#define KIV_KIND_PARAMS 1        /* Value: a parameter-list object (host record), or, in the
                                    record an inner plugin gets, the address of a variable that
                                    holds an IkivParamsListW reference */
#define KIV_KIND_BUFFER 2        /* Value: the caller's buffer; Size: its byte count */
#define KIV_KIND_MEMORY 4        /* Value: a block from the shared allocator; Size: its bytes */
#define KIV_KIND_INTEGER 5       /* Value: a 32-bit integer */
#define KIV_KIND_CONTROL 6       /* Value: a control code */
#define KIV_KIND_NOTIFY 7        /* Value: a notification code */
#define KIV_KIND_PARAMS_OBJECT 8 /* Value: a parameter-list object, taken as it is */
#define KIV_KIND_PARAMS_INTF 9   /* Value: address of a variable holding an IkivParamsListW */

/* Options bits of a data call. */
#define KIV_OPTION_NO_EMPTY_CHECK 0x01 /* an Input list without items still counts as data */
#define KIV_OPTION_PARSER_PATH 0x02    /* Input is raw bytes of a data source, to be parsed */
#define KIV_OPTION_WRITES 0x04         /* the call writes data: report missing data and the outcome */
#define KIV_OPTION_REPORT 0x08         /* report the outcome */
#define KIV_OPTION_COPY_INPUT 0x20     /* with no Input value: Output becomes a copy of Input */

/* Notification code: the data source is going away; its client expires three minutes later
 * unless data arrives. */
#define KIV_NOTIFY_SOURCE_CLOSING 258

#pragma pack(push, 1)

/* One value slot:
 *   +0  4  Counter  a count (deliveries of parsed data)
 *   +4  4  Size     byte size of the buffer, block or result
 *   +8  1  Kind     what Value holds (KIV_KIND_*)
 *   +9  4  Value    integer or address, by Kind */
typedef struct kivPluginCallValue {
  uint32_t Counter;
  uint32_t Size;
  uint8_t Kind;
  uintptr_t Value;
} kivPluginCallValue;

/* The host's call record:
 *   0   4  Size            102
 *   4   1  Flags
 *   5   4  Instance        instance handle, 0 before creation
 *   9   4  ModuleIndex     the host's index of the instance
 *  13   4  Context         the host's value, passed back when data is sent to the host
 *  17   4  DataSourceId    the data source of the call
 *  21   1  Options         call-specific bits (KIV_OPTION_*)
 *  22   4  Params          address of a variable holding the call's IkivParamsListA reference
 *                          (as a plugin sees it), or 0
 *  26  13  Input           data passed in
 *  39  13  Output          result passed back
 *  52  50  DataSourceName  8-bit, zero-terminated unless all 50 bytes are used */
typedef struct kivPluginCallRec {
  uint32_t Size;
  uint8_t Flags;
  uintptr_t Instance;
  int32_t ModuleIndex;
  int32_t Context;
  int32_t DataSourceId;
  uint8_t Options;
  uintptr_t Params;
  kivPluginCallValue Input;
  kivPluginCallValue Output;
  char DataSourceName[50];
} kivPluginCallRec;

#pragma pack(pop)

#define KIV_CALL_RECORD_SIZE ((uint32_t)sizeof(kivPluginCallRec))

/* The layout is binding on the 32-bit target: any compiler that lays the records out otherwise
 * stops here. */
#ifdef __cplusplus
#define KIV_LAYOUT_CHECK(condition, what) static_assert(condition, what)
#else
#define KIV_LAYOUT_CHECK(condition, what) _Static_assert(condition, what)
#endif
#if UINTPTR_MAX == 0xFFFFFFFFu
KIV_LAYOUT_CHECK(sizeof(kivPluginCallValue) == 13, "kivPluginCallValue is 13 bytes");
KIV_LAYOUT_CHECK(offsetof(kivPluginCallValue, Size) == 4 && offsetof(kivPluginCallValue, Kind) == 8 &&
                     offsetof(kivPluginCallValue, Value) == 9,
                 "kivPluginCallValue offsets");
KIV_LAYOUT_CHECK(sizeof(kivPluginCallRec) == 102, "kivPluginCallRec is 102 bytes");
KIV_LAYOUT_CHECK(offsetof(kivPluginCallRec, Flags) == 4 && offsetof(kivPluginCallRec, Instance) == 5 &&
                     offsetof(kivPluginCallRec, ModuleIndex) == 9 && offsetof(kivPluginCallRec, Context) == 13 &&
                     offsetof(kivPluginCallRec, DataSourceId) == 17 && offsetof(kivPluginCallRec, Options) == 21 &&
                     offsetof(kivPluginCallRec, Params) == 22 && offsetof(kivPluginCallRec, Input) == 26 &&
                     offsetof(kivPluginCallRec, Output) == 39 && offsetof(kivPluginCallRec, DataSourceName) == 52,
                 "kivPluginCallRec offsets");
#endif

#endif /* KIV_KIV_CALL_RECORD_H */
