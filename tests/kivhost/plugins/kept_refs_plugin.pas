{ An inner plugin in Pascal that keeps what it was lent, in globals the compiler counts: the
  call's parameters from kivPluginLoad, the parsed-data list and one of its items from each data
  call. The next data call tries them (each must fail cleanly), logs what they answered and
  drops them, which the compiler does with a Release. The last ones go at unload of the
  library, by the compiler's finalization. It consumes all data. }
library kept_refs_plugin;

{$mode delphi}

uses kiv;

var
  KeptParams: IkivParamsListW;
  KeptParsed: IkivParamsListW;
  KeptItem: IkivParamsListItemW;

function Answer(Code: HResult): ShortString;
begin
  if Code = KIV_S_OK then Result := 'ok'
  else if Code = KIV_E_UNEXPECTED then Result := 'failed'
  else Result := 'other';
end;

function Num(N: Int64): ShortString;
begin
  Str(N, Result);
end;

procedure LogLine(const Plugin: IkivPluginW; const Text: ShortString);
var
  Buffer: array[0..255] of WideChar;
  I: Integer;
begin
  for I := 1 to Length(Text) do
    Buffer[I - 1] := WideChar(Ord(Text[I]));
  Buffer[Length(Text)] := #0;
  Plugin.AddLog(2, @Buffer[0]);
end;

{ What a kept list answers: plain methods 0, status methods KIV_E_UNEXPECTED, outputs nil. }
function Probe(const List: IkivParamsListW): ShortString;
var
  Value: TkivVariant;
  Item: IkivParamsListItemW;
  Index: LongInt;
begin
  FillChar(Value, SizeOf(Value), 0);
  Value.vt := KIV_VT_I4;
  Value.lVal := 1;
  Result := 'count ' + Num(List.GetCount) + ', signature ' + Num(List.GetSignature) +
    ', Add ' + Answer(List.Add('Late', @Value, Item));
  Result := Result + ', IndexOf ' + Answer(List.IndexOf('Kept', -1, -1, Index));
  if Item <> nil then
    Result := Result + ', item handed out';
end;

procedure kivPluginLoad(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
  var AResult: LongInt); stdcall;
begin
  KeptParams := Rec^.ParamsW;
end;

procedure kivPluginProcessData(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
  var AResult: LongInt); stdcall;
var
  Ex: IkivPluginEx;
  Buffer: IkivFifoBuffer;
  Size: LongWord;
  Value: TkivVariant;
begin
  if KeptParams <> nil then
  begin
    LogLine(Plugin, 'kept parameters: ' + Probe(KeptParams));
    KeptParams := nil;
  end;
  if KeptParsed <> nil then
  begin
    FillChar(Value, SizeOf(Value), 0);
    LogLine(Plugin, 'kept parsed data: ' + Probe(KeptParsed) + '; kept item: GetValueW ' +
      Answer(KeptItem.GetValueW(Value)) + ', IsRowMarker ' + Num(Ord(KeptItem.IsRowMarker)));
  end;
  { Keeping the new ones releases the old ones. }
  if Plugin.GetParsedData(KeptParsed) = KIV_S_OK then
  begin
    FillChar(Value, SizeOf(Value), 0);
    Value.vt := KIV_VT_I4;
    Value.lVal := 7;
    KeptParsed.Add('Kept', @Value, KeptItem);
  end;
  if (Rec^.Rec.Options and KIV_OPTION_PARSER_PATH <> 0) and
     (Plugin.QueryInterface(IID_IkivPluginEx, Ex) = KIV_S_OK) and
     (Ex.GetParserClientBuffer(Rec, Buffer) = KIV_S_OK) and
     (Buffer.GetSize(Size) = KIV_S_OK) then
    Buffer.Remove(Size);
end;

exports
  kivPluginLoad,
  kivPluginProcessData;

begin
end.
