/* A minimal inner plugin in C: every LF-terminated record of a data source becomes one packet
 * with the field "Length". It shows the FIFO consumer pattern: take the data source's buffer,
 * parse whole records in place, remove what was consumed and leave the rest, an unfinished
 * record, in the buffer for the next data call. */
#include <string.h>

#include "kiv/kiv_plugin.h"

/* Adds one record as a row: its text as FULL_DATA_PACKET, its byte count as "Length". */
static int add_record(IkivParamsListW* list, const uint8_t* text, uint32_t length) {
  kivWCHAR wide[257];
  kivVARIANT value;
  uint32_t i, n = length < 256 ? length : 256; /* the packet text keeps the first 256 bytes */

  for (i = 0; i < n; ++i) wide[i] = (kivWCHAR)text[i]; /* bytes read as Latin-1 */
  wide[n] = 0;
  memset(&value, 0, sizeof value);
  value.vt = KIV_VT_WIDE_POINTER; /* borrowed: the list copies the text */
  value.pwszVal = wide;
  if (list->lpVtbl->Add(list, KIV_TEXT_W("FULL_DATA_PACKET"), &value, NULL) != KIV_S_OK) return 0;

  memset(&value, 0, sizeof value);
  value.vt = KIV_VT_I4;
  value.lVal = (int32_t)length;
  if (list->lpVtbl->Add(list, KIV_TEXT_W("Length"), &value, NULL) != KIV_S_OK) return 0;

  list->lpVtbl->NewRow(list); /* closes the row: one row per packet */
  return 1;
}

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                      int32_t* result) {
  IkivPluginEx* ex = NULL;
  IkivFifoBuffer* buffer = NULL;
  IkivParamsListW* parsed = NULL;
  const uint8_t* data = NULL;
  uint32_t size = 0, start = 0, i;

  /* Only raw bytes of a data source (the parser path) are ours. */
  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) {
    *result = KIV_RESULT_NOT_HANDLED;
    return;
  }
  if (plugin->lpVtbl->QueryInterface(plugin, &IID_IkivPluginEx, (void**)&ex) != KIV_S_OK ||
      ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) != KIV_S_OK ||
      plugin->lpVtbl->GetParsedData(plugin, &parsed) != KIV_S_OK ||
      buffer->lpVtbl->GetSize(buffer, &size) != KIV_S_OK ||
      buffer->lpVtbl->GetData(buffer, &data) != KIV_S_OK) {
    *result = KIV_RESULT_EXCEPTION;
  } else if (data != NULL) {
    /* `data` stays valid until our Remove below. */
    for (i = 0; i < size; ++i) {
      if (data[i] != '\n') continue;
      if (i > start && !add_record(parsed, data + start, i - start)) {
        *result = KIV_RESULT_EXCEPTION;
        break;
      }
      start = i + 1;
    }
    if (start > 0) buffer->lpVtbl->Remove(buffer, start); /* whole records only */
  }
  /* Every interface handed out carries one reference: give each back. */
  if (parsed) parsed->lpVtbl->Release(parsed);
  if (buffer) buffer->lpVtbl->Release(buffer);
  if (ex) ex->lpVtbl->Release(ex);
}
