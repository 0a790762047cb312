{ The Varnolet SDK for Pascal: what an inner plugin (plugin.dll) exports and what it is given.

  The same declarations as the C headers in include/kiv/ (kiv_defs.h, kiv_call_record.h,
  kiv_params_list.h, kiv_plugin.h, kiv_diagnostics.h, kiv_host.h), for Free Pascal in mode
  Delphi and for Delphi as it is. The numbered rules in the comments of kiv_params_list.h and
  kiv_plugin.h hold here word for word; what follows is what Pascal adds to them.

   1. Interfaces are Pascal interfaces, so the compiler counts their references: an interface
      output (an `out` argument) arrives with one reference and the compiler releases it when the
      variable goes out of scope or is assigned again. Do not call _AddRef or _Release yourself.
      Interfaces passed in are declared `const`: no reference is taken for the call.
   2. A reference kept in a global or a field past the entry point that lent it (the call's
      lists, the parsed-data list) keeps only the interface object alive, not the list: every
      later call through it fails (KIV_E_UNEXPECTED, or 0/nil/False for plain methods). Set such
      a variable to nil when you are done; the compiler's release is then harmless.
   3. Variants are TkivVariant, the 16-byte OLE VARIANT record, not Pascal's Variant type: the
      module copies what it is given and fills outputs with values the caller frees (text as a
      BSTR; kivVariantClear frees it). Pass them in by address (PkivVariant).
   4. Booleans are TkivBool, one byte: 0 False, 1 True.
   5. Entry points are `stdcall` and exported under exactly their names (Free Pascal and Delphi
      export stdcall names undecorated): `exports kivPluginLoad, kivPluginProcessData;`.
      Declare them with the procedure types below, for example
      `procedure kivPluginLoad(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
      var AResult: LongInt); stdcall;`, and check them with an assignment to a variable of
      that type.
   6. Exceptions must not leave an entry point: the module contains them, but the instance's
      state is then whatever the exception left. Catch them (SysUtils) or raise none.
}
unit kiv;

{$ifdef FPC}
  {$mode delphi}
  {$packrecords 1}
{$endif}

interface

type
{$ifdef FPC}
  TkivPtrUInt = PtrUInt;
{$else}
  TkivPtrUInt = NativeUInt;
{$endif}
  TkivBool = Boolean;
  PkivBool = ^TkivBool;

const
  { Status codes of interface methods (HRESULT values). }
  KIV_S_OK = HResult(0);
  KIV_E_UNEXPECTED = HResult($8000FFFF);
  KIV_E_NOINTERFACE = HResult($80004002);

  { Result codes of the command and data entry points. }
  KIV_RESULT_DONE = 0;
  KIV_RESULT_NOT_DONE = -1;
  KIV_RESULT_NOT_HANDLED = -2;
  KIV_RESULT_EXCEPTION = -3;

  { Variant type codes (OLE VARTYPE numbers) and the two local codes the interfaces accept. }
  KIV_VT_EMPTY = 0;
  KIV_VT_NULL = 1;
  KIV_VT_I2 = 2;
  KIV_VT_I4 = 3;
  KIV_VT_R4 = 4;
  KIV_VT_R8 = 5;
  KIV_VT_CY = 6;
  KIV_VT_DATE = 7;
  KIV_VT_BSTR = 8;
  KIV_VT_BOOL = 11;
  KIV_VT_VARIANT = 12;
  KIV_VT_I1 = 16;
  KIV_VT_UI1 = 17;
  KIV_VT_UI2 = 18;
  KIV_VT_UI4 = 19;
  KIV_VT_I8 = 20;
  KIV_VT_BYREF = $4000;
  { Local: pszVal addresses a zero-terminated 8-bit string in the system code page. }
  KIV_VT_ANSI_STRING = $0100;
  { Local: pwszVal addresses a zero-terminated UTF-16 string. }
  KIV_VT_WIDE_POINTER = $0102;

  { Value kinds of a slot (TPluginCallValue.Kind). }
  ckEmpty = 0;
  ckParams = 1;        { a parameter-list object (host record), or, in the record an inner
                         plugin gets, the address of a variable holding an IkivParamsListW }
  ckBuffer = 2;        { Value: the caller's buffer; Size: its byte count }
  ckMemory = 4;        { Value: a block from the shared allocator; Size: its bytes }
  ckInteger = 5;       { Value: a 32-bit integer }
  ckControl = 6;       { Value: a control code }
  ckNotify = 7;        { Value: a notification code }
  ckParamsObject = 8;  { Value: a parameter-list object, taken as it is }
  ckParamsIntf = 9;    { Value: address of a variable holding an IkivParamsListW }

  { Options bits of a data call. }
  KIV_OPTION_NO_EMPTY_CHECK = $01;  { an Input list without items still counts as data }
  KIV_OPTION_PARSER_PATH = $02;     { Input is raw bytes of a data source, to be parsed }
  KIV_OPTION_WRITES = $04;          { the call writes data: report missing data and the outcome }
  KIV_OPTION_REPORT = $08;          { report the outcome }
  KIV_OPTION_COPY_INPUT = $20;      { with no Input value: Output becomes a copy of Input }

  { Notification code: the data source is going away. }
  KIV_NOTIFY_SOURCE_CLOSING = 258;

  { Signature of a live parameter list (IkivParamsList_.GetSignature). }
  KIV_PARAMS_LIST_SIGNATURE = $0FDE2E4B;
  { DataType of a row-marker item ("$NEW_ROW$"). }
  KIV_DATATYPE_ROW_MARKER = $FF01;

  { Identifiers; they share the stem 33316D29-0F86-41C4-8DB4-3FE9756158xx.
    IkivParamsList_ has none and cannot be queried. }
  IID_IkivParamsListA: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158B1}';
  IID_IkivParamsListW: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158B2}';
  IID_IkivParamsListItemA: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158B4}';
  IID_IkivParamsListItemW: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158B6}';
  IID_IkivPlugin_: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158C0}';
  IID_IkivPlugin: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158C1}';
  IID_IkivPluginW: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158C2}';
  IID_IkivPluginEx: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158C5}';
  IID_IkivFifoBuffer: TGUID = '{33316D29-0F86-41C4-8DB4-3FE9756158D0}';

  { The twelve entry points, in the order the module looks them up. }
  KIV_PLUGIN_EXPORT_COUNT = 12;
  KIV_PLUGIN_EXPORT_NAMES: array[0..KIV_PLUGIN_EXPORT_COUNT - 1] of PAnsiChar = (
    'kivPluginCreate', 'kivPluginDestroy', 'kivPluginLoad', 'kivPluginUnload',
    'kivPluginLoadSettingsNow', 'kivPluginSaveSettingsNow', 'kivPluginShowOptionsDialog',
    'kivPluginEvent', 'kivPluginExecuteCustomCommand', 'kivPluginStateChanged',
    'kivPluginSetParserItems', 'kivPluginProcessData');

  { The file the module loads from its own folder. }
  KIV_PLUGIN_FILE_NAME = 'plugin.dll';

  { The module's live-interface diagnostic (kiv_diagnostics.h). }
  KIV_DIAGNOSTICS_VERSION = 4;
  KIV_DIAGNOSTICS_ENTRY_COUNT = 12;
  KIV_DIAGNOSTICS_REPORT_SIZE = 4096;
  KIV_DIAGNOSTICS_NAME = 'kivGetDiagnostics';

  { Allocator exports a host publishes (kiv_host.h). }
  KIV_HOST_ALLOC_NAME = 'kivHostAlloc';
  KIV_HOST_REALLOC_NAME = 'kivHostReAlloc';
  KIV_HOST_FREE_NAME = 'kivHostFree';

type
  { The 16-byte OLE Automation VARIANT: type code, three reserved words, payload from byte 8.
    A VT_BOOL payload is -1 for true and 0 for false. }
  PkivVariant = ^TkivVariant;
  TkivVariant = packed record
    vt: Word;
    wReserved1: Word;
    wReserved2: Word;
    wReserved3: Word;
    case Integer of
      0: (llVal: Int64);
      1: (ullVal: UInt64);
      2: (lVal: LongInt);
      3: (ulVal: LongWord);
      4: (iVal: SmallInt);
      5: (uiVal: Word);
      6: (cVal: ShortInt);
      7: (bVal: Byte);
      8: (fltVal: Single);
      9: (dblVal: Double);
      10: (boolVal: SmallInt);
      11: (cyVal: Int64);
      12: (date: Double);
      13: (bstrVal: PWideChar);
      14: (pszVal: PAnsiChar);
      15: (pwszVal: PWideChar);
      16: (byref: Pointer);
  end;

  { One value slot of the call record, 13 bytes:
      +0  4  Counter  a count (deliveries of parsed data)
      +4  4  Size     byte size of the buffer, block or result
      +8  1  Kind     what Value holds (ck* constants)
      +9  4  Value    integer or address, by Kind }
  PPluginCallValue = ^TPluginCallValue;
  TPluginCallValue = packed record
    Counter: LongWord;
    Size: LongWord;
    Kind: Byte;
    Value: TkivPtrUInt;
  end;

  { The host's call record, 102 bytes:
      0   4  Size            102
      4   1  Flags
      5   4  Instance        instance handle, 0 before creation
      9   4  ModuleIndex     the host's index of the instance
     13   4  Context         the host's value, passed back when data is sent to the host
     17   4  DataSourceId    the data source of the call
     21   1  Options         call-specific bits (KIV_OPTION_*)
     22   4  Params          address of a variable holding the call's IkivParamsListA reference
                             (as a plugin sees it), or 0
     26  13  Input           data passed in
     39  13  Output          result passed back
     52  50  DataSourceName  8-bit, zero-terminated unless all 50 bytes are used }
  PPluginCallRec = ^TPluginCallRec;
  TPluginCallRec = packed record
    Size: LongWord;
    Flags: Byte;
    Instance: TkivPtrUInt;
    ModuleIndex: LongInt;
    Context: LongInt;
    DataSourceId: LongInt;
    Options: Byte;
    Params: TkivPtrUInt;
    Input: TPluginCallValue;
    Output: TPluginCallValue;
    DataSourceName: array[0..49] of AnsiChar;
  end;

  IkivParamsListItemA = interface;
  IkivParamsListItemW = interface;
  IkivParamsList_ = interface;
  IkivParamsListA = interface;
  IkivParamsListW = interface;
  PIkivParamsListW = ^IkivParamsListW;
  PIkivParamsListA = ^IkivParamsListA;

  { One item of a list: name, value, key text, data type and state. }
  IkivParamsListItemA = interface(IUnknown)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158B4}']
    { 3: replaces the key text of this interface (nil clears it); the item's own key stays. }
    procedure SetKey(Key: PAnsiChar); stdcall;
    { 4: the item's declared type code (a VARTYPE number, $FF01 for a row marker). }
    procedure SetDataType(DataType: LongInt); stdcall;
    { 5: the item's state byte. }
    procedure SetState(State: Byte); stdcall;
    { 6: the key text: the name lower-cased, as UTF-8; nil when empty. }
    function GetKey: PAnsiChar; stdcall;
    { 7, 8 }
    function GetDataType: LongInt; stdcall;
    function GetState: Byte; stdcall;
    { 9: stores a copy of the value. }
    function SetValue(Value: PkivVariant): HResult; stdcall;
    { 10: a copy of the value; text comes back as a BSTR. }
    function GetValue(out Value: TkivVariant): HResult; stdcall;
    { 11: renames the item (nil: empty); searches keep using the name it was created with. }
    procedure SetName(Name: PAnsiChar); stdcall;
    { 12: the name; nil when empty. }
    function GetName: PAnsiChar; stdcall;
    { 13: True for a row marker. }
    function IsRowMarker: TkivBool; stdcall;
  end;

  { The wide form of an item: the same object answers both identifiers. }
  IkivParamsListItemW = interface(IkivParamsListItemA)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158B6}']
    { 14: as SetName, the text converted to the system code page. }
    procedure SetNameW(Name: PWideChar); stdcall;
    { 15: the name in UTF-16; nil when empty. }
    function GetNameW: PWideChar; stdcall;
    { 16: as SetValue, but KIV_VT_ANSI_STRING is read as UTF-16 text too. }
    function SetValueW(Value: PkivVariant): HResult; stdcall;
    { 17: same as GetValue. }
    function GetValueW(out Value: TkivVariant): HResult; stdcall;
  end;

  { Methods shared by both list forms (slots 3 to 11, all plain). No identifier. }
  IkivParamsList_ = interface(IUnknown)
    { 3: number of items, row markers included. }
    function GetCount: LongInt; stdcall;
    { 4: KIV_PARAMS_LIST_SIGNATURE while the list lives, 0 once it is detached. }
    function GetSignature: LongInt; stdcall;
    { 5, 6: a number the list carries for its users. }
    function GetTag: LongInt; stdcall;
    procedure SetTag(Tag: LongInt); stdcall;
    { 7: removes every item. }
    procedure Clear; stdcall;
    { 8: removes the item at the index; nothing outside 0..count-1. }
    procedure Delete(Index: LongInt); stdcall;
    { 9: from FromIndex, the index of the first row marker or else of the last item. }
    function FindRowEnd(FromIndex: LongInt; out Index: LongInt;
      out IsMarker: TkivBool): TkivBool; stdcall;
    { 10: closes the current row with a marker unless the last item is one. }
    procedure NewRow; stdcall;
    { 11: appends the items of another list of this module, then closes the row. }
    procedure AppendAsRow(const Other: IkivParamsList_); stdcall;
  end;

  { The list with wide names. Searches take from and to indexes (-1: whole list; to -2: up to
    the end of the current row); names match without regard to case. }
  IkivParamsListW = interface(IkivParamsList_)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158B2}']
    { 12: the item at the index; nil outside the list. }
    function GetItem(Index: LongInt; out Item: IkivParamsListItemW): HResult; stdcall;
    { 13: copies every item of another list of this module. }
    function Append(const Other: IkivParamsList_; out Appended: TkivBool): HResult; stdcall;
    { 14: copies the items FromIndex..ToIndex of another list of this module. }
    function AppendRange(const Other: IkivParamsList_; FromIndex, ToIndex: LongInt;
      out Appended: TkivBool): HResult; stdcall;
    { 15: the first item with the name; nil when there is none. }
    function Find(Name: PWideChar; FromIndex, ToIndex: LongInt;
      out Item: IkivParamsListItemW): HResult; stdcall;
    { 16: the index of the first item with the name, or -1. }
    function IndexOf(Name: PWideChar; FromIndex, ToIndex: LongInt;
      out Index: LongInt): HResult; stdcall;
    { 17: the value of the first item with the name; empty when there is none. }
    function GetValue(Name: PWideChar; FromIndex, ToIndex: LongInt;
      out Value: TkivVariant): HResult; stdcall;
    { 18: as GetValue, but a copy of the default when there is no such item. }
    function GetValueDef(Name: PWideChar; DefValue: PkivVariant; FromIndex, ToIndex: LongInt;
      out Value: TkivVariant): HResult; stdcall;
    { 19: appends an item; none for a blank name. }
    function Add(Name: PWideChar; Value: PkivVariant;
      out Item: IkivParamsListItemW): HResult; stdcall;
    { 20: inserts an item at 0..count; KIV_E_UNEXPECTED outside. }
    function Insert(Index: LongInt; Name: PWideChar; Value: PkivVariant;
      out Item: IkivParamsListItemW): HResult; stdcall;
    { 21: stores the value in the first item with the name, appending one when missing and
      asked. }
    function SetValue(Name: PWideChar; Value: PkivVariant; AddIfMissing: TkivBool;
      out Item: IkivParamsListItemW): HResult; stdcall;
    { 22: appends an item with the name and value of the given item (may be nil). }
    function AddItem(const Source: IkivParamsListItemW;
      out Item: IkivParamsListItemW): HResult; stdcall;
  end;

  { The list with 8-bit names; the same object as its W form. }
  IkivParamsListA = interface(IkivParamsList_)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158B1}']
    function GetItem(Index: LongInt; out Item: IkivParamsListItemA): HResult; stdcall;
    { 13, 14: Other is a list interface of this module or the address of a live parameter-list
      object of this module's layout. }
    function Append(Other: Pointer; out Appended: TkivBool): HResult; stdcall;
    function AppendRange(Other: Pointer; FromIndex, ToIndex: LongInt;
      out Appended: TkivBool): HResult; stdcall;
    function Find(Name: PAnsiChar; FromIndex, ToIndex: LongInt;
      out Item: IkivParamsListItemA): HResult; stdcall;
    function IndexOf(Name: PAnsiChar; FromIndex, ToIndex: LongInt;
      out Index: LongInt): HResult; stdcall;
    function GetValue(Name: PAnsiChar; FromIndex, ToIndex: LongInt;
      out Value: TkivVariant): HResult; stdcall;
    function GetValueDef(Name: PAnsiChar; DefValue: PkivVariant; FromIndex, ToIndex: LongInt;
      out Value: TkivVariant): HResult; stdcall;
    function Add(Name: PAnsiChar; Value: PkivVariant;
      out Item: IkivParamsListItemA): HResult; stdcall;
    function Insert(Index: LongInt; Name: PAnsiChar; Value: PkivVariant;
      out Item: IkivParamsListItemA): HResult; stdcall;
    function SetValue(Name: PAnsiChar; Value: PkivVariant; AddIfMissing: TkivBool;
      out Item: IkivParamsListItemA): HResult; stdcall;
    function AddItem(const Source: IkivParamsListItemA;
      out Item: IkivParamsListItemA): HResult; stdcall;
  end;

  { The record an inner entry point receives, 106 bytes:
       0  102  Rec      the host's record; Input and Output of Kind ckParams address a variable
                        holding an IkivParamsListW reference (PIkivParamsListW(Value)^); a
                        ckParams slot that held no list arrives as Kind 0, Value 0
     102    4  ParamsW  the call's parameters, or nil
    Lent for the call: do not copy it, keep it or assign to ParamsW. }
  PPluginCallRecIntf = ^TPluginCallRecIntf;
  TPluginCallRecIntf = packed record
    Rec: TPluginCallRec;
    ParamsW: IkivParamsListW;
  end;

  { The bytes a parser client collected for one data source. }
  IkivFifoBuffer = interface(IUnknown)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158D0}']
    { 3: bytes held. }
    function GetSize(out Size: LongWord): HResult; stdcall;
    { 4: address of the first held byte (nil when the stream holds none). }
    function GetData(out Data: PByte): HResult; stdcall;
    { 5: discards every byte. }
    function Clear: HResult; stdcall;
    { 6: discards Count bytes from the front (all when fewer are held). }
    function Remove(Count: LongWord): HResult; stdcall;
  end;

  { Base of both plugin interfaces; no methods of its own. }
  IkivPlugin_ = interface(IUnknown)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158C0}']
  end;

  { The instance's services with wide texts. }
  IkivPluginW = interface(IkivPlugin_)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158C2}']
    { 3: a line in the instance's log; level 0 error, 1 warning, 2 information (higher is 2). }
    function AddLog(Level: LongInt; Text: PWideChar): HResult; stdcall;
    { 4: a module parameter's value. }
    function GetModuleParameter(Name: PWideChar; out Value: TkivVariant): HResult; stdcall;
    { 5: sets a module parameter; Accepted tells whether the name is writable and took it. }
    function SetModuleParameter(Name: PWideChar; Value: PkivVariant;
      out Accepted: TkivBool): HResult; stdcall;
    { 6: the parsed-data list of the data call in progress; KIV_E_UNEXPECTED outside one. }
    function GetParsedData(out List: IkivParamsListW): HResult; stdcall;
    { 7 to 9: pointers kept under names for the plugin (never freed by the module). }
    function SetNamedObject(Name: PWideChar; AObject: Pointer): HResult; stdcall;
    function GetNamedObject(Name: PWideChar; out AObject: Pointer): HResult; stdcall;
    function RemoveNamedObject(Name: PWideChar; out AObject: Pointer): HResult; stdcall;
    { 10: the parser items the host set, one per line, CR LF between lines (a BSTR). }
    function GetParserItems(out Text: TkivVariant): HResult; stdcall;
    { 11: the module configurations, "name<TAB>XXXXXXXX" per line, CR LF between lines. }
    function GetModuleConfigs(out Text: TkivVariant): HResult; stdcall;
    { 12: sends Size bytes at Data to the host for the record's data source (Rec may be nil);
      AResult is the host's answer, -1 when the host offers no data service. }
    function SendData(Rec: PPluginCallRecIntf; Data: Pointer; Size: LongWord;
      out AResult: LongInt): HResult; stdcall;
    { 13: a new, empty list owned by the caller's reference. }
    function CreateParamsList(out List: IkivParamsListW): HResult; stdcall;
    { 14: raises an event towards the host with a copy of Params (may be nil). }
    function FireEvent(EventType: PWideChar; const Params: IkivParamsListW): HResult; stdcall;
    { 15: saves (Save True) or loads the named values of Params in the instance's settings. }
    function ProcessSettings(Save: TkivBool; const Params: IkivParamsListW): HResult; stdcall;
  end;

  { The same services with 8-bit texts (system code page). }
  IkivPlugin = interface(IkivPlugin_)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158C1}']
    function AddLog(Level: LongInt; Text: PAnsiChar): HResult; stdcall;
    function GetModuleParameter(Name: PAnsiChar; out Value: TkivVariant): HResult; stdcall;
    function SetModuleParameter(Name: PAnsiChar; Value: PkivVariant;
      out Accepted: TkivBool): HResult; stdcall;
    function GetParsedData(out List: IkivParamsListA): HResult; stdcall;
    function SetNamedObject(Name: PAnsiChar; AObject: Pointer): HResult; stdcall;
    function GetNamedObject(Name: PAnsiChar; out AObject: Pointer): HResult; stdcall;
    function RemoveNamedObject(Name: PAnsiChar; out AObject: Pointer): HResult; stdcall;
    function GetParserItems(out Text: TkivVariant): HResult; stdcall;
    function GetModuleConfigs(out Text: TkivVariant): HResult; stdcall;
    function SendData(Rec: PPluginCallRecIntf; Data: Pointer; Size: LongWord;
      out AResult: LongInt): HResult; stdcall;
    function CreateParamsList(out List: IkivParamsListA): HResult; stdcall;
    function FireEvent(EventType: PAnsiChar; const Params: IkivParamsListA): HResult; stdcall;
    function ProcessSettings(Save: TkivBool; const Params: IkivParamsListA): HResult; stdcall;
  end;

  { The FIFO buffers of the instance's data sources. }
  IkivPluginEx = interface(IUnknown)
    ['{33316D29-0F86-41C4-8DB4-3FE9756158C5}']
    { 3: the buffer of the record's data source, created when new; fails outside the span
      between the host's LOAD and UNLOAD. }
    function GetParserClientBuffer(Rec: PPluginCallRecIntf;
      out Buffer: IkivFifoBuffer): HResult; stdcall;
  end;

  { The twelve entry points. Plugin is the same interface for the whole life of the instance;
    AResult is the request's result variable, Shown the options dialog's answer (preset
    False), StateMask bit n for each state n that is on. }
  TkivPluginCreateProc = procedure(const Plugin: IkivPluginW); stdcall;
  TkivPluginDestroyProc = procedure(const Plugin: IkivPluginW); stdcall;
  TkivPluginLoadProc = procedure(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
    var AResult: LongInt); stdcall;
  TkivPluginUnloadProc = procedure(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
    var AResult: LongInt); stdcall;
  TkivPluginLoadSettingsNowProc = procedure(const Plugin: IkivPluginW); stdcall;
  TkivPluginSaveSettingsNowProc = procedure(const Plugin: IkivPluginW); stdcall;
  TkivPluginShowOptionsDialogProc = procedure(const Plugin: IkivPluginW;
    Rec: PPluginCallRecIntf; var Shown: TkivBool); stdcall;
  TkivPluginEventProc = procedure(const Plugin: IkivPluginW; EventType: PWideChar;
    Rec: PPluginCallRecIntf; var AResult: LongInt); stdcall;
  TkivPluginExecuteCustomCommandProc = procedure(const Plugin: IkivPluginW; Command: PWideChar;
    Rec: PPluginCallRecIntf; var AResult: LongInt); stdcall;
  TkivPluginStateChangedProc = procedure(const Plugin: IkivPluginW;
    StateMask: LongWord); stdcall;
  TkivPluginSetParserItemsProc = procedure(const Plugin: IkivPluginW); stdcall;
  TkivPluginProcessDataProc = procedure(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
    var AResult: LongInt); stdcall;

  { The module's live-interface diagnostic, 4204 bytes (see kiv_diagnostics.h). }
  PkivDiagnostics = ^TkivDiagnostics;
  TkivDiagnostics = packed record
    Size: LongWord;
    Version: LongWord;
    ListWrappers: LongInt;
    ItemWrappers: LongInt;
    FifoBuffers: LongInt;
    KeptPastCall: LongWord;
    StreamBytesFed: LongWord;
    StreamBytesLeft: LongWord;
    FaultsContained: array[0..KIV_DIAGNOSTICS_ENTRY_COUNT - 1] of LongWord;
    ParserClients: LongInt;
    StreamBytesDiscarded: LongWord;
    CrashReports: LongWord;
    LastCrashReport: array[0..KIV_DIAGNOSTICS_REPORT_SIZE - 1] of AnsiChar;
    ModuleVersion: array[0..3] of Word;  { major, minor, release, build }
    SdkVersion: LongWord;                 { the SDK version the module was built with }
    ExceptionsCaught: LongWord;           { exceptions caught at boundaries or dropped in clean-ups }
  end;
  TkivGetDiagnosticsFunc = function(Diagnostics: PkivDiagnostics): LongInt; stdcall;

  { The allocator a host publishes (see kiv_host.h). }
  TkivHostAllocFunc = function(Size: LongWord): Pointer; stdcall;
  TkivHostReAllocFunc = function(Block: Pointer; Size: LongWord): Pointer; stdcall;
  TkivHostFreeFunc = procedure(Block: Pointer); stdcall;

{$ifdef MSWINDOWS}
{ Frees what a variant output holds (its BSTR) and sets it to empty: oleaut32's VariantClear. }
function kivVariantClear(var Value: TkivVariant): HResult; stdcall;
  external 'oleaut32.dll' name 'VariantClear';
{$endif}

implementation

end.
