/* The host side of a data call and of log collection, from C with the SDK headers alone.
 *
 * host_feed sends raw bytes of one data source on the parser path and hands each delivered packet
 * to a callback; host_collect_log fetches an instance's log lines after message 1809. The lists
 * (the call's parameters and the one receiving the items) are parameter-list objects of the
 * host's runtime, passed in by address. */
#include <stdlib.h>
#include <string.h>

#include "kiv/kiv_call_record.h"
#include "kiv/kiv_host.h"

typedef int32_t(KIV_STDCALL* ProcessDataFunc)(kivPluginCallRec* rec);
typedef int32_t(KIV_STDCALL* GetLogExFunc)(kivPluginCallRec* rec);
typedef void (*TextFunc)(void* context, const char* text, uint32_t length);

#define PACKET_SEPARATOR "<{[::]}>"
#define PACKET_SEPARATOR_LENGTH 8

/* Calls `on_packet` for each packet of a kind-4 block, split at the separator. */
static void split_packets(const char* block, uint32_t size, TextFunc on_packet, void* context) {
  uint32_t start = 0, i = 0;
  while (i + PACKET_SEPARATOR_LENGTH <= size) {
    if (memcmp(block + i, PACKET_SEPARATOR, PACKET_SEPARATOR_LENGTH) == 0) {
      on_packet(context, block + start, i - start);
      i += PACKET_SEPARATOR_LENGTH;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < size) on_packet(context, block + start, size - start);
}

int32_t host_feed(ProcessDataFunc process_data, kivHostFreeFunc host_free, uintptr_t instance,
                  void* params, void* items, int32_t source, const char* source_name,
                  const void* bytes, uint32_t size, TextFunc on_packet, void* context) {
  kivPluginCallRec rec;
  int32_t result;
  size_t i;

  memset(&rec, 0, sizeof rec);
  rec.Size = KIV_CALL_RECORD_SIZE;
  rec.Instance = instance;
  rec.DataSourceId = source;
  for (i = 0; source_name[i] && i < sizeof rec.DataSourceName; ++i) /* zero-terminated unless */
    rec.DataSourceName[i] = source_name[i];                          /* all 50 bytes are used */
  rec.Options = KIV_OPTION_PARSER_PATH;
  rec.Params = (uintptr_t)params;     /* required: a data call without Params gets -1 */
  rec.Input.Kind = KIV_KIND_BUFFER;    /* the host's own bytes: never resized by the module */
  rec.Input.Value = (uintptr_t)bytes;
  rec.Input.Size = size;
  rec.Output.Kind = KIV_KIND_PARAMS;   /* the list that receives the items */
  rec.Output.Value = (uintptr_t)items;

  result = process_data(&rec);

  /* A kind-4 block in Input is the packet text of this call; it is the host's to free. */
  if (rec.Input.Kind == KIV_KIND_MEMORY && rec.Input.Value != 0) {
    split_packets((const char*)rec.Input.Value, rec.Input.Size, on_packet, context);
    host_free((void*)rec.Input.Value);
  }
  return result;
}

/* Fetches the log: lines end with CR LF and start with one character, level + 1 (0x80 added
 * for a flagged line). A buffer that is too short keeps the log and reports the size needed. */
int32_t host_collect_log(GetLogExFunc get_log, uintptr_t instance, TextFunc on_line, void* context) {
  kivPluginCallRec rec;
  uint32_t capacity = 4096, start = 0, i;
  char* buffer = NULL;
  int32_t copied = 0;

  for (;;) {
    char* bigger = (char*)realloc(buffer, capacity);
    if (!bigger) break;
    buffer = bigger;
    memset(&rec, 0, sizeof rec);
    rec.Size = KIV_CALL_RECORD_SIZE;
    rec.Instance = instance;
    rec.Input.Value = (uintptr_t)buffer;
    rec.Input.Size = capacity; /* never 0: a size of 0 drops the log */
    copied = get_log(&rec);
    if (copied > 0 || rec.Output.Value <= capacity) break; /* done, or nothing waiting */
    capacity = (uint32_t)rec.Output.Value;                 /* the log grew: ask again */
  }
  for (i = 0; copied > 0 && i + 1 < (uint32_t)copied; ++i) {
    if (buffer[i] != '\r' || buffer[i + 1] != '\n') continue;
    on_line(context, buffer + start, i - start);
    start = i + 2;
  }
  free(buffer);
  return copied;
}

#if defined(_WIN32) && !defined(_WIN64)
/* The record's layout on the 32-bit target. */
#include <stddef.h>
_Static_assert(sizeof(kivPluginCallRec) == 102, "record size");
_Static_assert(offsetof(kivPluginCallRec, Options) == 21, "Options");
_Static_assert(offsetof(kivPluginCallRec, Params) == 22, "Params");
_Static_assert(offsetof(kivPluginCallRec, Input) == 26, "Input");
_Static_assert(offsetof(kivPluginCallRec, Output) == 39, "Output");
_Static_assert(offsetof(kivPluginCallRec, DataSourceName) == 52, "DataSourceName");
#endif
