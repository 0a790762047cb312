/* The inner-plugin SDK of Varnolet: what `plugin.dll` exports and what it is given.
 *
 * varnolet.dll loads `plugin.dll` from its own folder (no other folder is searched) once per
 * plugin instance and forwards every host request to it through the twelve entry points below.
 * The inner plugin reaches the instance through IkivPluginW (or its 8-bit twin IkivPlugin),
 * the parameter lists through the interfaces of kiv_params_list.h, and the raw bytes of each
 * data source through IkivFifoBuffer. Usable from C and C++ (C++ sees abstract classes; C, or
 * C++ with KIV_CINTERFACE defined, sees `struct X { const XVtbl* lpVtbl; }`).
 *
 * Rules of the inner-plugin interface (those of kiv_params_list.h hold as well):
 *  1. Entry points. Every one of the twelve is optional; a missing one is never called. Each is
 *     exported under exactly its name, undecorated, KIV_STDCALL (__stdcall): with MinGW or MSVC
 *     name them in a .def file (`EXPORTS kivPluginLoad=kivPluginLoad@12`) or link with
 *     --kill-at. No return value is read: results go through the `result` (or `shown`)
 *     argument, whose preset value stands when the entry point leaves it alone.
 *  2. Result codes (KIV_RESULT_* of kiv_defs.h): 0 done, -1 not done, -2 not handled, -3
 *     failed. A data call starts with result 0.
 *  3. The plugin interface. `plugin` is the same pointer for the whole life of the instance, from
 *     kivPluginCreate until kivPluginDestroy returns; it is passed without an added reference,
 *     and its AddRef and Release do nothing (both return -1). Do not use it after
 *     kivPluginDestroy. Query it for IID_IkivPlugin to get the 8-bit form, for
 *     IID_IkivPluginEx to get the FIFO buffers.
 *  4. The call record. `rec` addresses a kivPluginCallRecIntf built for this call: a copy of
 *     the host's record whose list slots (Kind 1) address a variable holding an IkivParamsListW
 *     reference, followed by ParamsW, the call's parameters. Every list in it is lent for this
 *     call through a wrapper of the module, whether the host passed list objects or list
 *     interfaces of its own (Params then addresses a variable holding the wrapper's
 *     IkivParamsListA), and the parsed-data list likewise for its data call. When the entry
 *     point returns, the wrappers let go of the lists and of every item reached through them;
 *     what was kept past the call then fails every call (KIV_E_UNEXPECTED, or 0/null/false for
 *     plain methods) and never reaches a list, neither the call's nor a later call's:
 *      - a list or item interface kept with AddRef: until its last Release. A Release the
 *        plugin was not given a reference for never reaches the host's own count;
 *      - a list interface kept without AddRef: until at least 4096 further lists have been lent
 *        and given back by the module; after that its wrapper may serve the lists of a later
 *        call, so never use such a pointer;
 *      - an item interface is valid only while you hold a reference to it.
 *     Changes to the record's plain fields do not reach the host.
 *  5. Strings. Text arguments of the entry points are zero-terminated UTF-16, never null (an
 *     empty text is a single zero), valid during the call. Strings passed to the interfaces are
 *     borrowed for the call; null reads as empty. Variant outputs hold BSTRs the caller frees.
 *  6. Interfaces handed out (CreateParamsList, GetParsedData, GetParserClientBuffer) carry one
 *     reference that the inner plugin releases. A list from CreateParamsList is the plugin's
 *     own; the parsed-data list is lent for the data call that is in progress.
 *  7. Data. On the plain path (Options without KIV_OPTION_PARSER_PATH) Input carries the host's
 *     value. On the parser path the module first appends Input's bytes to the FIFO stream of the
 *     call's data source (one per DataSourceId, kept across calls), then calls
 *     kivPluginProcessData: get the buffer with GetParserClientBuffer(rec), GetSize, GetData,
 *     parse whole units in place, Remove what was consumed; the rest waits for the next call.
 *     Add results to the list from GetParsedData: items named "FULL_DATA_PACKET" (exact case)
 *     carry a packet's text, every other item a named field; the module delivers them to the
 *     host after the call. A stream holds 16384 bytes: a larger block comes in pieces that fit,
 *     one kivPluginProcessData call per piece (Input addresses the piece, result starts at 0),
 *     the parsed-data list collecting the items of all of them. Only when a call leaves the
 *     stream full do the oldest bytes give way to the next piece (logged and counted).
 *  8. Threads. Entry points may be called on any thread of the host. Commands of one instance
 *     are serialised; its data calls reach kivPluginProcessData one at a time, whatever their
 *     data source, but run beside its commands; different instances run in parallel and share
 *     the plugin's globals. A data call of the instance made on the thread that is inside its
 *     kivPluginProcessData (directly or through a host export) is refused with -3 and logged.
 *     The interfaces may be used from any thread; a FIFO buffer is locked against the module's
 *     writes, and the address from GetData stays valid, the bytes held then unchanged under it,
 *     until the next Remove, Clear or overflowing write of that stream. A stream's memory grows
 *     with what it holds, so a later write may move the bytes to a new address: call GetSize
 *     before GetData, and GetData again for bytes written since.
 *  9. Faults. An access violation or any other exception that escapes an entry point is
 *     contained by the module: the request ends with -3 for data, the options dialog is logged
 *     as failed, other requests keep their preset result. The instance log gets one line per
 *     fault (entry point, exception, place; repeats folded); the full report goes to the
 *     debugger output and the module's diagnostic (kiv_diagnostics.h). The host keeps running,
 *     but the inner plugin's state is whatever the fault left; do not rely on it.
 * 10. Data sources that stay silent for an hour are forgotten, and with them their streams: a
 *     FIFO buffer kept longer keeps its stream's memory alive, never a dangling one.
 */
#ifndef KIV_KIV_PLUGIN_H
#define KIV_KIV_PLUGIN_H

#include "kiv/kiv_call_record.h"
#include "kiv/kiv_defs.h"
#include "kiv/kiv_params_list.h"

/* Identifiers. */
static const kivGUID IID_IkivPlugin_ = KIV_IID_INIT(0xC0u);
static const kivGUID IID_IkivPlugin = KIV_IID_INIT(0xC1u);
static const kivGUID IID_IkivPluginW = KIV_IID_INIT(0xC2u);
static const kivGUID IID_IkivPluginEx = KIV_IID_INIT(0xC5u);
static const kivGUID IID_IkivFifoBuffer = KIV_IID_INIT(0xD0u);

#pragma pack(push, 1)

/* The record an inner entry point receives, 106 bytes on the 32-bit target:
 *    0  102  Rec      the host's record; Input and Output of Kind 1 address a variable holding
 *                     an IkivParamsListW reference (lists of Kind 8 and 9 arrive so too); a
 *                     Kind 1 slot that held no list arrives as Kind 0, Value 0
 *  102    4  ParamsW  the call's parameters, or null */
typedef struct kivPluginCallRecIntf {
  kivPluginCallRec Rec;
  KIV_INTERFACE IkivParamsListW* ParamsW;
} kivPluginCallRecIntf;

#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
KIV_LAYOUT_CHECK(sizeof(kivPluginCallRecIntf) == 106 && offsetof(kivPluginCallRecIntf, ParamsW) == 102,
                 "kivPluginCallRecIntf layout");
#endif

#if defined(__cplusplus) && !defined(KIV_CINTERFACE)

/* The bytes a parser client collected for one data source. Identifier ...D0. */
class IkivFifoBuffer : public IkivUnknown {
 public:
  /* 3: bytes held. */
  virtual kivHRESULT KIV_STDCALL GetSize(uint32_t* size) = 0;
  /* 4: address of the first held byte (null when the stream holds none). */
  virtual kivHRESULT KIV_STDCALL GetData(const uint8_t** data) = 0;
  /* 5: discards every byte. */
  virtual kivHRESULT KIV_STDCALL Clear() = 0;
  /* 6: discards `count` bytes from the front (all when fewer are held). */
  virtual kivHRESULT KIV_STDCALL Remove(uint32_t count) = 0;
};

/* Base of both plugin interfaces; no methods of its own. Identifier ...C0. */
class IkivPlugin_ : public IkivUnknown {};

/* The instance's services with wide texts. Identifier ...C2. */
class IkivPluginW : public IkivPlugin_ {
 public:
  /* 3: a line in the instance's log; level 0 error, 1 warning, 2 information (higher is 2). */
  virtual kivHRESULT KIV_STDCALL AddLog(int32_t level, const kivWCHAR* text) = 0;
  /* 4: a module parameter's value (names as the GET-MODULE-PARAMETER command takes them). */
  virtual kivHRESULT KIV_STDCALL GetModuleParameter(const kivWCHAR* name, kivVARIANT* value) = 0;
  /* 5: sets a module parameter; `accepted` tells whether the name is writable and took it. */
  virtual kivHRESULT KIV_STDCALL SetModuleParameter(const kivWCHAR* name, const kivVARIANT* value,
                                                    kivBOOL* accepted) = 0;
  /* 6: the parsed-data list of the data call in progress; KIV_E_UNEXPECTED outside one. */
  virtual kivHRESULT KIV_STDCALL GetParsedData(IkivParamsListW** list) = 0;
  /* 7 to 9: pointers kept under names for the plugin (never freed by the module). */
  virtual kivHRESULT KIV_STDCALL SetNamedObject(const kivWCHAR* name, void* object) = 0;
  virtual kivHRESULT KIV_STDCALL GetNamedObject(const kivWCHAR* name, void** object) = 0;
  virtual kivHRESULT KIV_STDCALL RemoveNamedObject(const kivWCHAR* name, void** object) = 0;
  /* 10: the parser items the host set, one per line, CR LF between lines (a BSTR). */
  virtual kivHRESULT KIV_STDCALL GetParserItems(kivVARIANT* text) = 0;
  /* 11: the module configurations, "name<TAB>XXXXXXXX" per line, CR LF between lines. */
  virtual kivHRESULT KIV_STDCALL GetModuleConfigs(kivVARIANT* text) = 0;
  /* 12: sends `size` bytes at `data` to the host for the record's data source (rec may be null);
     `result` is the host's answer, -1 when the host offers no data service. */
  virtual kivHRESULT KIV_STDCALL SendData(const kivPluginCallRecIntf* rec, const void* data,
                                          uint32_t size, int32_t* result) = 0;
  /* 13: a new, empty list owned by the caller's reference. */
  virtual kivHRESULT KIV_STDCALL CreateParamsList(IkivParamsListW** list) = 0;
  /* 14: raises an event towards the host with a copy of `params` (may be null). */
  virtual kivHRESULT KIV_STDCALL FireEvent(const kivWCHAR* event_type, IkivParamsListW* params) = 0;
  /* 15: saves (save true) or loads the named values of `params` in the instance's settings; a
     load stores the values read back into `params`. Null: nothing, success. A load that finds
     nothing stored succeeds. Fails, with a line in the instance's log, when nothing could be
     saved or read: KIV_E_TIMEOUT when the settings file stayed locked for 10 seconds,
     KIV_E_UNEXPECTED when the file could not be written or read, no registry key could be
     made, or the host named neither a registry path nor an INI file. */
  virtual kivHRESULT KIV_STDCALL ProcessSettings(kivBOOL save, IkivParamsListW* params) = 0;
};

/* The same services with 8-bit texts (system code page). Identifier ...C1. */
class IkivPlugin : public IkivPlugin_ {
 public:
  virtual kivHRESULT KIV_STDCALL AddLog(int32_t level, const char* text) = 0;
  virtual kivHRESULT KIV_STDCALL GetModuleParameter(const char* name, kivVARIANT* value) = 0;
  virtual kivHRESULT KIV_STDCALL SetModuleParameter(const char* name, const kivVARIANT* value,
                                                    kivBOOL* accepted) = 0;
  virtual kivHRESULT KIV_STDCALL GetParsedData(IkivParamsListA** list) = 0;
  virtual kivHRESULT KIV_STDCALL SetNamedObject(const char* name, void* object) = 0;
  virtual kivHRESULT KIV_STDCALL GetNamedObject(const char* name, void** object) = 0;
  virtual kivHRESULT KIV_STDCALL RemoveNamedObject(const char* name, void** object) = 0;
  virtual kivHRESULT KIV_STDCALL GetParserItems(kivVARIANT* text) = 0;
  virtual kivHRESULT KIV_STDCALL GetModuleConfigs(kivVARIANT* text) = 0;
  virtual kivHRESULT KIV_STDCALL SendData(const kivPluginCallRecIntf* rec, const void* data,
                                          uint32_t size, int32_t* result) = 0;
  virtual kivHRESULT KIV_STDCALL CreateParamsList(IkivParamsListA** list) = 0;
  virtual kivHRESULT KIV_STDCALL FireEvent(const char* event_type, IkivParamsListA* params) = 0;
  virtual kivHRESULT KIV_STDCALL ProcessSettings(kivBOOL save, IkivParamsListA* params) = 0;
};

/* The FIFO buffers of the instance's data sources. Identifier ...C5. */
class IkivPluginEx : public IkivUnknown {
 public:
  /* 3: the buffer of the record's data source (DataSourceId), created when new; fails outside
     the span between the host's LOAD and UNLOAD. */
  virtual kivHRESULT KIV_STDCALL GetParserClientBuffer(const kivPluginCallRecIntf* rec,
                                                       IkivFifoBuffer** buffer) = 0;
};

#else /* C view */

typedef struct IkivFifoBuffer { const struct IkivFifoBufferVtbl* lpVtbl; } IkivFifoBuffer;
typedef struct IkivPlugin_ { const struct IkivPlugin_Vtbl* lpVtbl; } IkivPlugin_;
typedef struct IkivPluginW { const struct IkivPluginWVtbl* lpVtbl; } IkivPluginW;
typedef struct IkivPlugin { const struct IkivPluginAVtbl* lpVtbl; } IkivPlugin;
typedef struct IkivPluginEx { const struct IkivPluginExVtbl* lpVtbl; } IkivPluginEx;

#endif

/* Function tables, slot by slot (KIV_UNKNOWN_SLOTS from kiv_params_list.h). */
typedef struct IkivFifoBufferVtbl {
  KIV_UNKNOWN_SLOTS(KIV_INTERFACE IkivFifoBuffer)
  kivHRESULT(KIV_STDCALL* GetSize)(KIV_INTERFACE IkivFifoBuffer* self, uint32_t* size);
  kivHRESULT(KIV_STDCALL* GetData)(KIV_INTERFACE IkivFifoBuffer* self, const uint8_t** data);
  kivHRESULT(KIV_STDCALL* Clear)(KIV_INTERFACE IkivFifoBuffer* self);
  kivHRESULT(KIV_STDCALL* Remove)(KIV_INTERFACE IkivFifoBuffer* self, uint32_t count);
} IkivFifoBufferVtbl;

typedef struct IkivPlugin_Vtbl {
  KIV_UNKNOWN_SLOTS(KIV_INTERFACE IkivPlugin_)
} IkivPlugin_Vtbl;

/* Slots 3 to 15; T the interface, CH the text character, LIST the list interface. */
#define KIV_PLUGIN_SLOTS(T, CH, LIST)                                                           \
  KIV_UNKNOWN_SLOTS(T)                                                                          \
  kivHRESULT(KIV_STDCALL* AddLog)(T * self, int32_t level, const CH* text);                     \
  kivHRESULT(KIV_STDCALL* GetModuleParameter)(T * self, const CH* name, kivVARIANT* value);     \
  kivHRESULT(KIV_STDCALL* SetModuleParameter)(T * self, const CH* name, const kivVARIANT* value, \
                                              kivBOOL* accepted);                               \
  kivHRESULT(KIV_STDCALL* GetParsedData)(T * self, LIST * *list);                               \
  kivHRESULT(KIV_STDCALL* SetNamedObject)(T * self, const CH* name, void* object);              \
  kivHRESULT(KIV_STDCALL* GetNamedObject)(T * self, const CH* name, void** object);             \
  kivHRESULT(KIV_STDCALL* RemoveNamedObject)(T * self, const CH* name, void** object);          \
  kivHRESULT(KIV_STDCALL* GetParserItems)(T * self, kivVARIANT* text);                          \
  kivHRESULT(KIV_STDCALL* GetModuleConfigs)(T * self, kivVARIANT* text);                        \
  kivHRESULT(KIV_STDCALL* SendData)(T * self, const kivPluginCallRecIntf* rec, const void* data, \
                                    uint32_t size, int32_t* result);                            \
  kivHRESULT(KIV_STDCALL* CreateParamsList)(T * self, LIST * *list);                            \
  kivHRESULT(KIV_STDCALL* FireEvent)(T * self, const CH* event_type, LIST* params);             \
  kivHRESULT(KIV_STDCALL* ProcessSettings)(T * self, kivBOOL save, LIST* params);

typedef struct IkivPluginWVtbl {
  KIV_PLUGIN_SLOTS(KIV_INTERFACE IkivPluginW, kivWCHAR, KIV_INTERFACE IkivParamsListW)
} IkivPluginWVtbl;

typedef struct IkivPluginAVtbl {
  KIV_PLUGIN_SLOTS(KIV_INTERFACE IkivPlugin, char, KIV_INTERFACE IkivParamsListA)
} IkivPluginAVtbl;

typedef struct IkivPluginExVtbl {
  KIV_UNKNOWN_SLOTS(KIV_INTERFACE IkivPluginEx)
  kivHRESULT(KIV_STDCALL* GetParserClientBuffer)(KIV_INTERFACE IkivPluginEx* self,
                                                 const kivPluginCallRecIntf* rec,
                                                 KIV_INTERFACE IkivFifoBuffer** buffer);
} IkivPluginExVtbl;

/* The twelve entry points, in the order the module looks them up. `plugin`, `rec` and the texts
 * are described in the rules above; `result` is the request's result variable, `shown` the
 * options dialog's answer (one byte, preset false), `state_mask` bit n for each state n that is
 * on (bits 8 to 31 are 0). */
typedef void(KIV_STDCALL* kivPluginCreateProc)(IkivPluginW* plugin);
typedef void(KIV_STDCALL* kivPluginDestroyProc)(IkivPluginW* plugin);
typedef void(KIV_STDCALL* kivPluginLoadProc)(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                             int32_t* result);
typedef void(KIV_STDCALL* kivPluginUnloadProc)(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                               int32_t* result);
typedef void(KIV_STDCALL* kivPluginLoadSettingsNowProc)(IkivPluginW* plugin);
typedef void(KIV_STDCALL* kivPluginSaveSettingsNowProc)(IkivPluginW* plugin);
typedef void(KIV_STDCALL* kivPluginShowOptionsDialogProc)(IkivPluginW* plugin,
                                                          kivPluginCallRecIntf* rec, kivBOOL* shown);
typedef void(KIV_STDCALL* kivPluginEventProc)(IkivPluginW* plugin, const kivWCHAR* event_type,
                                              kivPluginCallRecIntf* rec, int32_t* result);
typedef void(KIV_STDCALL* kivPluginExecuteCustomCommandProc)(IkivPluginW* plugin,
                                                             const kivWCHAR* command,
                                                             kivPluginCallRecIntf* rec,
                                                             int32_t* result);
typedef void(KIV_STDCALL* kivPluginStateChangedProc)(IkivPluginW* plugin, uint32_t state_mask);
typedef void(KIV_STDCALL* kivPluginSetParserItemsProc)(IkivPluginW* plugin);
typedef void(KIV_STDCALL* kivPluginProcessDataProc)(IkivPluginW* plugin, kivPluginCallRecIntf* rec,
                                                    int32_t* result);

/* Names of the twelve exports, in look-up order. */
#define KIV_PLUGIN_EXPORT_NAMES                                                              \
  {"kivPluginCreate",          "kivPluginDestroy",         "kivPluginLoad",                  \
   "kivPluginUnload",          "kivPluginLoadSettingsNow", "kivPluginSaveSettingsNow",       \
   "kivPluginShowOptionsDialog", "kivPluginEvent",         "kivPluginExecuteCustomCommand", \
   "kivPluginStateChanged",    "kivPluginSetParserItems",  "kivPluginProcessData"}
#define KIV_PLUGIN_EXPORT_COUNT 12

/* The SDK version a plugin was built with, for checking tools (`kivhost check` reports it and
 * warns when it is newer than the module's). Write `KIV_PLUGIN_SDK_VERSION_EXPORT;` once at file
 * scope in one source file of the plugin: it defines the data symbol `kivPluginSdkVersion`, a
 * uint32_t holding KIV_SDK_VERSION, exported under that plain name (a dllexport, so the .def file
 * of the entry points needs no line for it). The module itself never reads it. */
#define KIV_PLUGIN_SDK_VERSION_NAME "kivPluginSdkVersion"
#if defined(_WIN32)
#define KIV_PLUGIN_EXPORT_DATA __declspec(dllexport)
#else
#define KIV_PLUGIN_EXPORT_DATA __attribute__((visibility("default")))
#endif
#define KIV_PLUGIN_SDK_VERSION_EXPORT \
  KIV_EXTERN_C KIV_PLUGIN_EXPORT_DATA const uint32_t kivPluginSdkVersion = KIV_SDK_VERSION

/* The file the module loads from its own folder. */
#define KIV_PLUGIN_FILE_NAME "plugin.dll"

#endif /* KIV_KIV_PLUGIN_H */
