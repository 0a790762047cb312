{ Prints what the Pascal unit kiv says about the binary interface: record sizes, field offsets,
  identifiers and constants, one "name value" line each. The C++ test compares every line with
  the C headers' values. }
program kiv_layout;

{$mode delphi}

uses kiv;

procedure P(const Name: ShortString; Value: Int64);
begin
  WriteLn(Name, ' ', Value);
end;

procedure G(const Name: ShortString; const Id: TGUID);
const
  Digits: array[0..15] of AnsiChar = '0123456789ABCDEF';
var
  Bytes: array[0..15] of Byte absolute Id;
  Text: ShortString;
  I: Integer;
begin
  Text := '';
  for I := 0 to 15 do
    Text := Text + Digits[Bytes[I] shr 4] + Digits[Bytes[I] and 15];
  WriteLn(Name, ' ', Text);
end;

var
  Names: ShortString;
  I: Integer;
begin
  P('size TkivVariant', SizeOf(TkivVariant));
  P('size TGUID', SizeOf(TGUID));
  P('size TkivBool', SizeOf(TkivBool));
  P('size TPluginCallValue', SizeOf(TPluginCallValue));
  P('size TPluginCallRec', SizeOf(TPluginCallRec));
  P('size TPluginCallRecIntf', SizeOf(TPluginCallRecIntf));
  P('size TkivDiagnostics', SizeOf(TkivDiagnostics));

  P('offset TkivVariant.vt', PtrUInt(@TkivVariant(nil^).vt));
  P('offset TkivVariant.wReserved3', PtrUInt(@TkivVariant(nil^).wReserved3));
  P('offset TkivVariant.llVal', PtrUInt(@TkivVariant(nil^).llVal));
  P('offset TkivVariant.dblVal', PtrUInt(@TkivVariant(nil^).dblVal));
  P('offset TkivVariant.pwszVal', PtrUInt(@TkivVariant(nil^).pwszVal));

  P('offset TPluginCallValue.Counter', PtrUInt(@TPluginCallValue(nil^).Counter));
  P('offset TPluginCallValue.Size', PtrUInt(@TPluginCallValue(nil^).Size));
  P('offset TPluginCallValue.Kind', PtrUInt(@TPluginCallValue(nil^).Kind));
  P('offset TPluginCallValue.Value', PtrUInt(@TPluginCallValue(nil^).Value));

  P('offset TPluginCallRec.Size', PtrUInt(@TPluginCallRec(nil^).Size));
  P('offset TPluginCallRec.Flags', PtrUInt(@TPluginCallRec(nil^).Flags));
  P('offset TPluginCallRec.Instance', PtrUInt(@TPluginCallRec(nil^).Instance));
  P('offset TPluginCallRec.ModuleIndex', PtrUInt(@TPluginCallRec(nil^).ModuleIndex));
  P('offset TPluginCallRec.Context', PtrUInt(@TPluginCallRec(nil^).Context));
  P('offset TPluginCallRec.DataSourceId', PtrUInt(@TPluginCallRec(nil^).DataSourceId));
  P('offset TPluginCallRec.Options', PtrUInt(@TPluginCallRec(nil^).Options));
  P('offset TPluginCallRec.Params', PtrUInt(@TPluginCallRec(nil^).Params));
  P('offset TPluginCallRec.Input', PtrUInt(@TPluginCallRec(nil^).Input));
  P('offset TPluginCallRec.Output', PtrUInt(@TPluginCallRec(nil^).Output));
  P('offset TPluginCallRec.DataSourceName', PtrUInt(@TPluginCallRec(nil^).DataSourceName));
  P('size TPluginCallRec.DataSourceName', SizeOf(TPluginCallRec(nil^).DataSourceName));

  P('offset TPluginCallRecIntf.Rec', PtrUInt(@TPluginCallRecIntf(nil^).Rec));
  P('offset TPluginCallRecIntf.ParamsW', PtrUInt(@TPluginCallRecIntf(nil^).ParamsW));

  P('offset TkivDiagnostics.Version', PtrUInt(@TkivDiagnostics(nil^).Version));
  P('offset TkivDiagnostics.ListWrappers', PtrUInt(@TkivDiagnostics(nil^).ListWrappers));
  P('offset TkivDiagnostics.ItemWrappers', PtrUInt(@TkivDiagnostics(nil^).ItemWrappers));
  P('offset TkivDiagnostics.FifoBuffers', PtrUInt(@TkivDiagnostics(nil^).FifoBuffers));
  P('offset TkivDiagnostics.KeptPastCall', PtrUInt(@TkivDiagnostics(nil^).KeptPastCall));
  P('offset TkivDiagnostics.StreamBytesFed', PtrUInt(@TkivDiagnostics(nil^).StreamBytesFed));
  P('offset TkivDiagnostics.StreamBytesLeft', PtrUInt(@TkivDiagnostics(nil^).StreamBytesLeft));
  P('offset TkivDiagnostics.FaultsContained', PtrUInt(@TkivDiagnostics(nil^).FaultsContained));
  P('offset TkivDiagnostics.ParserClients', PtrUInt(@TkivDiagnostics(nil^).ParserClients));
  P('offset TkivDiagnostics.StreamBytesDiscarded', PtrUInt(@TkivDiagnostics(nil^).StreamBytesDiscarded));
  P('offset TkivDiagnostics.CrashReports', PtrUInt(@TkivDiagnostics(nil^).CrashReports));
  P('offset TkivDiagnostics.LastCrashReport', PtrUInt(@TkivDiagnostics(nil^).LastCrashReport));
  P('offset TkivDiagnostics.ModuleVersion', PtrUInt(@TkivDiagnostics(nil^).ModuleVersion));
  P('offset TkivDiagnostics.SdkVersion', PtrUInt(@TkivDiagnostics(nil^).SdkVersion));
  P('offset TkivDiagnostics.ExceptionsCaught', PtrUInt(@TkivDiagnostics(nil^).ExceptionsCaught));

  { The identifier constants, and the identifiers the interface types carry. }
  G('iid IkivParamsListA', IID_IkivParamsListA);
  G('iid IkivParamsListW', IID_IkivParamsListW);
  G('iid IkivParamsListItemA', IID_IkivParamsListItemA);
  G('iid IkivParamsListItemW', IID_IkivParamsListItemW);
  G('iid IkivPlugin_', IID_IkivPlugin_);
  G('iid IkivPlugin', IID_IkivPlugin);
  G('iid IkivPluginW', IID_IkivPluginW);
  G('iid IkivPluginEx', IID_IkivPluginEx);
  G('iid IkivFifoBuffer', IID_IkivFifoBuffer);
  G('type IkivParamsListA', IkivParamsListA);
  G('type IkivParamsListW', IkivParamsListW);
  G('type IkivParamsListItemA', IkivParamsListItemA);
  G('type IkivParamsListItemW', IkivParamsListItemW);
  G('type IkivPlugin_', IkivPlugin_);
  G('type IkivPlugin', IkivPlugin);
  G('type IkivPluginW', IkivPluginW);
  G('type IkivPluginEx', IkivPluginEx);
  G('type IkivFifoBuffer', IkivFifoBuffer);

  P('const KIV_S_OK', KIV_S_OK);
  P('const KIV_E_UNEXPECTED', KIV_E_UNEXPECTED);
  P('const KIV_E_NOINTERFACE', KIV_E_NOINTERFACE);
  P('const KIV_RESULT_DONE', KIV_RESULT_DONE);
  P('const KIV_RESULT_NOT_DONE', KIV_RESULT_NOT_DONE);
  P('const KIV_RESULT_NOT_HANDLED', KIV_RESULT_NOT_HANDLED);
  P('const KIV_RESULT_EXCEPTION', KIV_RESULT_EXCEPTION);
  P('const KIV_VT_EMPTY', KIV_VT_EMPTY);
  P('const KIV_VT_NULL', KIV_VT_NULL);
  P('const KIV_VT_I2', KIV_VT_I2);
  P('const KIV_VT_I4', KIV_VT_I4);
  P('const KIV_VT_R4', KIV_VT_R4);
  P('const KIV_VT_R8', KIV_VT_R8);
  P('const KIV_VT_CY', KIV_VT_CY);
  P('const KIV_VT_DATE', KIV_VT_DATE);
  P('const KIV_VT_BSTR', KIV_VT_BSTR);
  P('const KIV_VT_BOOL', KIV_VT_BOOL);
  P('const KIV_VT_VARIANT', KIV_VT_VARIANT);
  P('const KIV_VT_I1', KIV_VT_I1);
  P('const KIV_VT_UI1', KIV_VT_UI1);
  P('const KIV_VT_UI2', KIV_VT_UI2);
  P('const KIV_VT_UI4', KIV_VT_UI4);
  P('const KIV_VT_I8', KIV_VT_I8);
  P('const KIV_VT_BYREF', KIV_VT_BYREF);
  P('const KIV_VT_ANSI_STRING', KIV_VT_ANSI_STRING);
  P('const KIV_VT_WIDE_POINTER', KIV_VT_WIDE_POINTER);
  P('const ckEmpty', ckEmpty);
  P('const ckParams', ckParams);
  P('const ckBuffer', ckBuffer);
  P('const ckMemory', ckMemory);
  P('const ckInteger', ckInteger);
  P('const ckControl', ckControl);
  P('const ckNotify', ckNotify);
  P('const ckParamsObject', ckParamsObject);
  P('const ckParamsIntf', ckParamsIntf);
  P('const KIV_OPTION_NO_EMPTY_CHECK', KIV_OPTION_NO_EMPTY_CHECK);
  P('const KIV_OPTION_PARSER_PATH', KIV_OPTION_PARSER_PATH);
  P('const KIV_OPTION_WRITES', KIV_OPTION_WRITES);
  P('const KIV_OPTION_REPORT', KIV_OPTION_REPORT);
  P('const KIV_OPTION_COPY_INPUT', KIV_OPTION_COPY_INPUT);
  P('const KIV_NOTIFY_SOURCE_CLOSING', KIV_NOTIFY_SOURCE_CLOSING);
  P('const KIV_PARAMS_LIST_SIGNATURE', KIV_PARAMS_LIST_SIGNATURE);
  P('const KIV_DATATYPE_ROW_MARKER', KIV_DATATYPE_ROW_MARKER);
  P('const KIV_PLUGIN_EXPORT_COUNT', KIV_PLUGIN_EXPORT_COUNT);
  P('const KIV_DIAGNOSTICS_VERSION', KIV_DIAGNOSTICS_VERSION);
  P('const KIV_DIAGNOSTICS_ENTRY_COUNT', KIV_DIAGNOSTICS_ENTRY_COUNT);
  P('const KIV_DIAGNOSTICS_REPORT_SIZE', KIV_DIAGNOSTICS_REPORT_SIZE);

  WriteLn('text KIV_PLUGIN_FILE_NAME ', KIV_PLUGIN_FILE_NAME);
  WriteLn('text KIV_DIAGNOSTICS_NAME ', KIV_DIAGNOSTICS_NAME);
  WriteLn('text KIV_HOST_ALLOC_NAME ', KIV_HOST_ALLOC_NAME);
  WriteLn('text KIV_HOST_REALLOC_NAME ', KIV_HOST_REALLOC_NAME);
  WriteLn('text KIV_HOST_FREE_NAME ', KIV_HOST_FREE_NAME);
  for I := 0 to KIV_PLUGIN_EXPORT_COUNT - 1 do
  begin
    Names := KIV_PLUGIN_EXPORT_NAMES[I];
    WriteLn('text KIV_PLUGIN_EXPORT_NAMES[', I, '] ', Names);
  end;
end.
