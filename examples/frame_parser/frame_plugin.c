/* The frame parser's entry points: an inner plugin for varnolet.dll, written in C against the SDK
 * headers alone. Every good frame of a data source becomes a packet (the payload in hex) with the
 * fields Channel, Sequence and Sample1..SampleN; bad frames are logged and skipped. The parser
 * keeps no state between calls (an unfinished frame simply stays in the stream), so data calls
 * of several data sources may run at once. */
#include <stdio.h>

#include "frame_core.h"
#include "kiv/kiv_plugin.h"

/* Our messages are ASCII: widened byte by byte. */
static void log_line(IkivPluginW* plugin, int32_t level, const char* text) {
  kivWCHAR wide[200];
  size_t i;
  for (i = 0; text[i] && i + 1 < sizeof wide / sizeof wide[0]; ++i) wide[i] = (kivWCHAR)text[i];
  wide[i] = 0;
  plugin->lpVtbl->AddLog(plugin, level, wide);
}

typedef struct parse_context {
  IkivPluginW* plugin;
  IkivParamsListW* list;
  int32_t source;
  int failed; /* an item could not be added */
} parse_context;

static void add_int(parse_context* c, const kivWCHAR* name, int32_t n) {
  kivVARIANT v = {0};
  v.vt = KIV_VT_I4;
  v.lVal = n;
  if (c->list->lpVtbl->Add(c->list, name, &v, NULL) != KIV_S_OK) c->failed = 1;
}

static void on_frame(void* ctx, const fp_frame* frame) {
  parse_context* c = (parse_context*)ctx;
  char hex[2 * FP_MAX_PAYLOAD + 1];
  kivWCHAR text[2 * FP_MAX_PAYLOAD + 1];
  kivWCHAR name[16];
  kivVARIANT v = {0};
  size_t i, n = fp_hex(frame->payload, frame->length, hex);
  for (i = 0; i <= n; ++i) text[i] = (kivWCHAR)hex[i];
  v.vt = KIV_VT_WIDE_POINTER; /* the list copies the text */
  v.pwszVal = text;
  if (c->list->lpVtbl->Add(c->list, KIV_TEXT_W("FULL_DATA_PACKET"), &v, NULL) != KIV_S_OK)
    c->failed = 1;
  add_int(c, KIV_TEXT_W("Channel"), frame->channel);
  add_int(c, KIV_TEXT_W("Sequence"), frame->sequence);
  for (i = 0; i < frame->sample_count; ++i) {
    char ascii[16];
    size_t k;
    snprintf(ascii, sizeof ascii, "Sample%u", (unsigned)(i + 1));
    for (k = 0; k < sizeof ascii; ++k) {
      name[k] = (kivWCHAR)ascii[k];
      if (!ascii[k]) break;
    }
    add_int(c, name, frame->samples[i]);
  }
  c->list->lpVtbl->NewRow(c->list);
}

static void on_bad_frame(void* ctx, fp_error error, size_t offset) {
  const parse_context* c = (const parse_context*)ctx;
  char text[120];
  snprintf(text, sizeof text, "Frame with a bad %s skipped on data source %ld",
           error == FP_BAD_CHECKSUM ? "checksum" : "length", (long)c->source);
  log_line(c->plugin, 1, text);
}

static void on_noise(void* ctx, size_t offset, size_t count) {
  const parse_context* c = (const parse_context*)ctx;
  char text[120];
  snprintf(text, sizeof text, "%u bytes outside frames skipped on data source %ld",
           (unsigned)count, (long)c->source);
  log_line(c->plugin, 2, text);
}

/* Tells checking tools which SDK this plugin was built with. */
KIV_PLUGIN_SDK_VERSION_EXPORT;

void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  log_line(plugin, 2, "Frame parser loaded");
}

void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                      int32_t* result) {
  IkivPluginEx* ex = NULL;
  IkivFifoBuffer* buffer = NULL;
  IkivParamsListW* list = NULL;
  const uint8_t* data = NULL;
  uint32_t size = 0;
  parse_context context;
  fp_handler handler;

  if (!(rec->Rec.Options & KIV_OPTION_PARSER_PATH)) { /* only raw bytes are ours to parse */
    *result = KIV_RESULT_NOT_HANDLED;
    return;
  }
  if (plugin->lpVtbl->QueryInterface(plugin, &IID_IkivPluginEx, (void**)&ex) != KIV_S_OK ||
      ex->lpVtbl->GetParserClientBuffer(ex, rec, &buffer) != KIV_S_OK ||
      plugin->lpVtbl->GetParsedData(plugin, &list) != KIV_S_OK ||
      buffer->lpVtbl->GetSize(buffer, &size) != KIV_S_OK ||
      buffer->lpVtbl->GetData(buffer, &data) != KIV_S_OK) {
    *result = KIV_RESULT_EXCEPTION;
  } else if (size > 0 && data) {
    context.plugin = plugin;
    context.list = list;
    context.source = rec->Rec.DataSourceId;
    context.failed = 0;
    handler.frame = on_frame;
    handler.bad_frame = on_bad_frame;
    handler.noise = on_noise;
    handler.ctx = &context;
    buffer->lpVtbl->Remove(buffer, (uint32_t)fp_parse(data, size, &handler));
    if (context.failed) *result = KIV_RESULT_EXCEPTION;
  }
  if (list) list->lpVtbl->Release(list);
  if (buffer) buffer->lpVtbl->Release(buffer);
  if (ex) ex->lpVtbl->Release(ex);
}

/* The entry points have exactly the SDK's signatures. */
_Static_assert(_Generic(&kivPluginLoad, kivPluginLoadProc: 1, default: 0), "kivPluginLoad");
_Static_assert(_Generic(&kivPluginProcessData, kivPluginProcessDataProc: 1, default: 0),
               "kivPluginProcessData");
