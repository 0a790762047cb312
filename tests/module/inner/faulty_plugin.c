/* An inner plugin whose every entry point fails: with KIV_FAULT_FOREIGN it raises a structured
 * exception of its own (as another compiler's exception would arrive), with KIV_FAULT_OVERFLOW it
 * recurses until the stack overflows, with KIV_FAULT_OVERRUN it writes 16 bytes past the call
 * record it is given and returns (a record type of its own that is too long), otherwise it writes
 * through a null pointer (an access violation). Built from the SDK alone. */
#include <string.h>
#include <windows.h>

#include "kiv/kiv_plugin.h"

#ifdef KIV_FAULT_OVERFLOW
static volatile int g_deeper = 1;

/* Each frame is written from its low end, as a growing stack is touched; the result is used after
 * the call so that the recursion stays one. */
static __attribute__((noinline)) int Recurse(volatile char* caller) {
  volatile char frame[1000];
  frame[0] = caller[0];
  frame[sizeof frame - 1] = 1;
  return g_deeper ? Recurse(frame) + frame[sizeof frame - 1] : frame[0];
}
#endif

static void Fail(void) {
#if defined(KIV_FAULT_FOREIGN)
  RaiseException(0xE0424242u, 0, 0, NULL);
#elif defined(KIV_FAULT_OVERFLOW)
  volatile char start = 0;
  Recurse(&start);
#elif defined(KIV_FAULT_OVERRUN)
  /* the overrun below is the failure */
#else
  *(volatile int*)0 = 1;
#endif
}

static void Overrun(kivPluginCallRecIntf* rec) {
#ifdef KIV_FAULT_OVERRUN
  memset((char*)rec + sizeof *rec, 0xCC, 16);
#else
  (void)rec;
#endif
}

void KIV_STDCALL kivPluginCreate(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginDestroy(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginLoad(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)result; Overrun(rec); Fail();
}
void KIV_STDCALL kivPluginUnload(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)result; Overrun(rec); Fail();
}
void KIV_STDCALL kivPluginLoadSettingsNow(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginSaveSettingsNow(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginShowOptionsDialog(IkivPluginW* plugin, kivPluginCallRecIntf* rec, kivBOOL* shown) {
  *shown = KIV_TRUE; /* must not count: the dialog failed */
  (void)plugin; Overrun(rec); Fail();
}
void KIV_STDCALL kivPluginEvent(IkivPluginW* plugin, const kivWCHAR* type, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)type; (void)result; Overrun(rec); Fail();
}
void KIV_STDCALL kivPluginExecuteCustomCommand(IkivPluginW* plugin, const kivWCHAR* command, kivPluginCallRecIntf* rec,
                                               int32_t* result) {
  (void)plugin; (void)command; (void)result; Overrun(rec); Fail();
}
void KIV_STDCALL kivPluginStateChanged(IkivPluginW* plugin, uint32_t mask) { (void)plugin; (void)mask; Fail(); }
void KIV_STDCALL kivPluginSetParserItems(IkivPluginW* plugin) { (void)plugin; Fail(); }
void KIV_STDCALL kivPluginProcessData(IkivPluginW* plugin, kivPluginCallRecIntf* rec, int32_t* result) {
  (void)plugin; (void)result; Overrun(rec); Fail();
}
