{ The frame parser's core: finds the frames of the binary protocol described in README.md in a
  byte stream and decodes them. Plain Pascal without the SDK. Stateless: every call may run on
  any thread. }
unit framecore;

{$ifdef FPC}
  {$mode delphi}
{$endif}

interface

const
  FP_START = $7E;        { first byte of every frame }
  FP_MIN_PAYLOAD = 2;    { channel and sequence }
  FP_MAX_PAYLOAD = 64;
  FP_MAX_SAMPLES = (FP_MAX_PAYLOAD - FP_MIN_PAYLOAD) div 2;

type
  TFrameError = (feBadLength, feBadChecksum);

  { One good frame; Payload points into the parsed bytes and is valid during the callback. }
  TFrame = record
    Payload: PByte;
    Length: Integer;
    Channel: Byte;
    Sequence: Byte;
    SampleCount: Integer;
    Samples: array[0..FP_MAX_SAMPLES - 1] of SmallInt;
  end;

  { What ParseFrames reports. Offsets count from the start of the parsed bytes. }
  TFrameHandler = class
  public
    procedure Frame(const AFrame: TFrame); virtual; abstract;
    procedure BadFrame(Error: TFrameError; Offset: LongWord); virtual; abstract;
    { Bytes outside any frame, skipped. }
    procedure Noise(Offset, Count: LongWord); virtual; abstract;
  end;

{ Parses the frames at the front of Data and returns how many bytes were consumed. A frame that
  is not complete yet stays unconsumed (with what follows it), waiting for more bytes. A bad
  frame is reported and only its start byte consumed, so that parsing resynchronises on the next
  start byte; bytes before a start byte are reported as noise and consumed. }
function ParseFrames(Data: PByte; Size: LongWord; Handler: TFrameHandler): LongWord;

{ CRC-8, polynomial $07, initial value 0, no reflection: the frame checksum. }
function Crc8(Data: PByte; Size: LongWord): Byte;

implementation

type
  TBytes64K = array[0..65535] of Byte;
  PBytes64K = ^TBytes64K;

function ValidLength(Length: LongWord): Boolean;
begin
  Result := (Length >= FP_MIN_PAYLOAD) and (Length <= FP_MAX_PAYLOAD) and
    ((Length - FP_MIN_PAYLOAD) mod 2 = 0);
end;

function Crc8(Data: PByte; Size: LongWord): Byte;
var
  I: LongWord;
  Bit: Integer;
begin
  Result := 0;
  for I := 1 to Size do
  begin
    Result := Result xor Data^;
    Inc(Data);
    for Bit := 0 to 7 do
      if Result and $80 <> 0 then
        Result := Byte((Result shl 1) xor $07)
      else
        Result := Byte(Result shl 1);
  end;
end;

procedure Decode(Payload: PByte; Length: Integer; var Frame: TFrame);
var
  P: PBytes64K;
  I: Integer;
begin
  P := PBytes64K(Payload);
  Frame.Payload := Payload;
  Frame.Length := Length;
  Frame.Channel := P^[0];
  Frame.Sequence := P^[1];
  Frame.SampleCount := (Length - FP_MIN_PAYLOAD) div 2;
  for I := 0 to Frame.SampleCount - 1 do  { little-endian }
    Frame.Samples[I] := SmallInt(Word(P^[FP_MIN_PAYLOAD + 2 * I] or
      (P^[FP_MIN_PAYLOAD + 2 * I + 1] shl 8)));
end;

function ParseFrames(Data: PByte; Size: LongWord; Handler: TFrameHandler): LongWord;
var
  Pos, Next, Length: LongWord;
  Frame: TFrame;
  D: PBytes64K;
begin
  { A stream holds at most 16384 bytes, well inside the 64 KiB view. }
  D := PBytes64K(Data);
  Pos := 0;
  while Pos < Size do
  begin
    if D^[Pos] <> FP_START then
    begin
      Next := Pos;
      while (Next < Size) and (D^[Next] <> FP_START) do
        Inc(Next);
      Handler.Noise(Pos, Next - Pos);
      Pos := Next;
      Continue;
    end;
    if Size - Pos < 2 then
      Break;  { the length byte is still to come }
    Length := D^[Pos + 1];
    if not ValidLength(Length) then
    begin
      Handler.BadFrame(feBadLength, Pos);
      Inc(Pos);
      Continue;
    end;
    if Size - Pos < Length + 3 then
      Break;  { the rest of the frame is still to come }
    if Crc8(@D^[Pos + 1], Length + 1) <> D^[Pos + 2 + Length] then
    begin
      Handler.BadFrame(feBadChecksum, Pos);
      Inc(Pos);
      Continue;
    end;
    Decode(@D^[Pos + 2], Length, Frame);
    Handler.Frame(Frame);
    Inc(Pos, Length + 3);
  end;
  Result := Pos;
end;

end.
