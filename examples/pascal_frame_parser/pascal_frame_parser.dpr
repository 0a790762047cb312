{ The frame parser's entry points in Pascal: an inner plugin for varnolet.dll built against the
  SDK unit kiv alone. Every good frame of a data source becomes a packet (the payload in hex)
  with the fields Channel, Sequence and Sample1..SampleN; bad frames are logged and skipped. The
  parser keeps no state between calls (an unfinished frame simply stays in the stream), so data
  calls of several data sources may run at once.

  The interfaces are Pascal interfaces: the compiler releases every reference it was handed when
  the variable holding it goes out of scope. }
library pascal_frame_parser;

{$ifdef FPC}
  {$mode delphi}
{$endif}

uses
  kiv, framecore;

type
  { Text of up to 199 characters for the interfaces; our own messages are ASCII. }
  TWideText = array[0..199] of WideChar;

  { Turns the frames of one data call into items of the parsed-data list. }
  TListBuilder = class(TFrameHandler)
  private
    FPlugin: IkivPluginW;
    FList: IkivParamsListW;
    FSource: LongInt;
    FFailed: Boolean;
    procedure AddInt(const Name: ShortString; N: LongInt);
  public
    constructor Create(const Plugin: IkivPluginW; const List: IkivParamsListW; Source: LongInt);
    procedure Frame(const AFrame: TFrame); override;
    procedure BadFrame(Error: TFrameError; Offset: LongWord); override;
    procedure Noise(Offset, Count: LongWord); override;
    property Failed: Boolean read FFailed;
  end;

function Widen(const S: ShortString; var Buffer: TWideText): PWideChar;
var
  I: Integer;
begin
  for I := 1 to Length(S) do
    Buffer[I - 1] := WideChar(Ord(S[I]));
  Buffer[Length(S)] := #0;
  Result := @Buffer[0];
end;

function Num(N: Int64): ShortString;
begin
  Str(N, Result);
end;

procedure LogLine(const Plugin: IkivPluginW; Level: LongInt; const Text: ShortString);
var
  Buffer: TWideText;
begin
  Plugin.AddLog(Level, Widen(Text, Buffer));
end;

constructor TListBuilder.Create(const Plugin: IkivPluginW; const List: IkivParamsListW;
  Source: LongInt);
begin
  inherited Create;
  FPlugin := Plugin;
  FList := List;
  FSource := Source;
end;

procedure TListBuilder.AddInt(const Name: ShortString; N: LongInt);
var
  Value: TkivVariant;
  Buffer: TWideText;
  Item: IkivParamsListItemW;
begin
  FillChar(Value, SizeOf(Value), 0);
  Value.vt := KIV_VT_I4;
  Value.lVal := N;
  if FList.Add(Widen(Name, Buffer), @Value, Item) <> KIV_S_OK then
    FFailed := True;
end;

procedure TListBuilder.Frame(const AFrame: TFrame);
const
  Digits: array[0..15] of WideChar = '0123456789ABCDEF';
var
  Hex: array[0..2 * FP_MAX_PAYLOAD] of WideChar;
  Value: TkivVariant;
  Item: IkivParamsListItemW;
  P: PByte;
  I: Integer;
begin
  P := AFrame.Payload;
  for I := 0 to AFrame.Length - 1 do
  begin
    Hex[2 * I] := Digits[P^ shr 4];
    Hex[2 * I + 1] := Digits[P^ and 15];
    Inc(P);
  end;
  Hex[2 * AFrame.Length] := #0;
  FillChar(Value, SizeOf(Value), 0);
  Value.vt := KIV_VT_WIDE_POINTER;  { the list copies the text }
  Value.pwszVal := @Hex[0];
  if FList.Add('FULL_DATA_PACKET', @Value, Item) <> KIV_S_OK then
    FFailed := True;
  AddInt('Channel', AFrame.Channel);
  AddInt('Sequence', AFrame.Sequence);
  for I := 0 to AFrame.SampleCount - 1 do
    AddInt('Sample' + Num(I + 1), AFrame.Samples[I]);
  FList.NewRow;
end;

procedure TListBuilder.BadFrame(Error: TFrameError; Offset: LongWord);
const
  What: array[TFrameError] of ShortString = ('length', 'checksum');
begin
  LogLine(FPlugin, 1, 'Frame with a bad ' + What[Error] + ' skipped on data source ' +
    Num(FSource));
end;

procedure TListBuilder.Noise(Offset, Count: LongWord);
begin
  LogLine(FPlugin, 2, Num(Count) + ' bytes outside frames skipped on data source ' +
    Num(FSource));
end;

procedure kivPluginLoad(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
  var AResult: LongInt); stdcall;
begin
  LogLine(Plugin, 2, 'Frame parser loaded');
end;

procedure kivPluginProcessData(const Plugin: IkivPluginW; Rec: PPluginCallRecIntf;
  var AResult: LongInt); stdcall;
var
  Ex: IkivPluginEx;
  Buffer: IkivFifoBuffer;
  List: IkivParamsListW;
  Data: PByte;
  Size: LongWord;
  Builder: TListBuilder;
begin
  if Rec^.Rec.Options and KIV_OPTION_PARSER_PATH = 0 then
  begin
    AResult := KIV_RESULT_NOT_HANDLED;  { only raw bytes are ours to parse }
    Exit;
  end;
  if (Plugin.QueryInterface(IID_IkivPluginEx, Ex) <> KIV_S_OK) or
     (Ex.GetParserClientBuffer(Rec, Buffer) <> KIV_S_OK) or
     (Plugin.GetParsedData(List) <> KIV_S_OK) or
     (Buffer.GetSize(Size) <> KIV_S_OK) or
     (Buffer.GetData(Data) <> KIV_S_OK) then
  begin
    AResult := KIV_RESULT_EXCEPTION;
    Exit;
  end;
  if (Size = 0) or (Data = nil) then
    Exit;
  Builder := TListBuilder.Create(Plugin, List, Rec^.Rec.DataSourceId);
  try
    Buffer.Remove(ParseFrames(Data, Size, Builder));
    if Builder.Failed then
      AResult := KIV_RESULT_EXCEPTION;
  finally
    Builder.Free;
  end;
end;

{ The entry points have exactly the SDK's signatures. }
const
  CheckLoad: TkivPluginLoadProc = kivPluginLoad;
  CheckProcessData: TkivPluginProcessDataProc = kivPluginProcessData;

exports
  kivPluginLoad,
  kivPluginProcessData;

begin
end.
