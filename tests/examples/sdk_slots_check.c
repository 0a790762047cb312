/* Compiled as C11 and as C++17 for the other compilers' targets (clang in MSVC mode, by
 * sdk_headers_check.cmake): every SDK header together, with their own layout checks, and the slot
 * of every method in the function tables, so that a compiler laying out the tables otherwise
 * fails here. */
#include "kiv/kiv_diagnostics.h"
#include "kiv/kiv_host.h"
#include "kiv/kiv_plugin.h"

#define SLOT(table, method, n) KIV_LAYOUT_CHECK(offsetof(table, method) == (n) * sizeof(void*), #table "." #method)

SLOT(IkivParamsListItemWVtbl, QueryInterface, 0);
SLOT(IkivParamsListItemWVtbl, Release, 2);
SLOT(IkivParamsListItemWVtbl, SetKey, 3);
SLOT(IkivParamsListItemWVtbl, IsRowMarker, 13);
SLOT(IkivParamsListItemWVtbl, SetNameW, 14);
SLOT(IkivParamsListItemWVtbl, GetValueW, 17);
SLOT(IkivParamsListAVtbl, GetCount, 3);
SLOT(IkivParamsListAVtbl, AppendAsRow, 11);
SLOT(IkivParamsListAVtbl, GetItem, 12);
SLOT(IkivParamsListAVtbl, AddItem, 22);
SLOT(IkivParamsListWVtbl, FindRowEnd, 9);
SLOT(IkivParamsListWVtbl, Find, 15);
SLOT(IkivParamsListWVtbl, AddItem, 22);
SLOT(IkivFifoBufferVtbl, GetSize, 3);
SLOT(IkivFifoBufferVtbl, Remove, 6);
SLOT(IkivPluginWVtbl, AddLog, 3);
SLOT(IkivPluginWVtbl, GetParsedData, 6);
SLOT(IkivPluginWVtbl, SendData, 12);
SLOT(IkivPluginWVtbl, ProcessSettings, 15);
SLOT(IkivPluginAVtbl, ProcessSettings, 15);
SLOT(IkivPluginExVtbl, GetParserClientBuffer, 3);
KIV_LAYOUT_CHECK(sizeof(IkivParamsListWVtbl) == 23 * sizeof(void*), "list table has 23 slots");
KIV_LAYOUT_CHECK(sizeof(IkivPluginWVtbl) == 16 * sizeof(void*), "plugin table has 16 slots");
KIV_LAYOUT_CHECK(sizeof(void*) == 4, "a 32-bit target");
KIV_LAYOUT_CHECK(sizeof(kivWCHAR) == 2, "UTF-16 code units");
KIV_LAYOUT_CHECK(sizeof(kivDiagnostics) == 4204 && offsetof(kivDiagnostics, ParserClients) == 80 &&
                     offsetof(kivDiagnostics, StreamBytesDiscarded) == 84 &&
                     offsetof(kivDiagnostics, LastCrashReport) == 92 &&
                     offsetof(kivDiagnostics, ModuleVersion) == 4188 && offsetof(kivDiagnostics, SdkVersion) == 4196 &&
                     offsetof(kivDiagnostics, ExceptionsCaught) == 4200,
                 "kivDiagnostics layout");
