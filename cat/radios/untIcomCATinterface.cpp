#include "cat/radios/untIcomCATinterface.h"

#include <algorithm>
#include <utility>

#include "cat/radios/untBandPlan.h"
#include "cat/radios/untRadioModel.h"
#include "platform/untStrToInt.h"

namespace vela {

namespace {

constexpr char Preamble[] = "\xFE\xFE";
constexpr char EndOfFrame = '\xFD';

constexpr std::uint8_t ReadFrequency = 0x03;
constexpr std::uint8_t ReadMode = 0x04;
constexpr std::uint8_t SetFrequencyCommand = 0x05;
constexpr std::uint8_t SetModeCommand = 0x06;
// Command 1Ah, sub-command 06h: the data mode flag and its filter.
constexpr std::uint8_t ExtendedCommand = 0x1A;
constexpr std::uint8_t DataModeSubCommand = 0x06;
// Command 1Ch, sub-command 00h: the transmitter, 01h keyed, 00h released;
// the radio answers FBh (or FAh).
constexpr char TransmitOn[] = "\x1C\x00\x01";
constexpr char TransmitOff[] = "\x1C\x00\x00";
// Read: answered 1C 00 01 when keyed, 1C 00 00 when not.
constexpr char TransmitRead[] = "\x1C\x00";
constexpr std::uint8_t TransmitCommand = 0x1C;
// The radio's answer to a command it cannot carry out.
constexpr std::uint8_t NotGood = 0xFA;
// Transceive: what the radio reports of its own accord goes to address 00h,
// command 00h with the frequency (as a frequency reply), 01h with the mode
// and filter (as a mode reply).
constexpr std::uint8_t BroadcastAddress = 0x00;
constexpr std::uint8_t ReportFrequency = 0x00;
constexpr std::uint8_t ReportMode = 0x01;

// The poll's command byte sits after FE FE <radio> CC.
constexpr std::size_t PollCommandByte = 4;
// A frequency reply carries five BCD bytes: 1 Hz/10 Hz up to 100 MHz/1 GHz.
constexpr std::size_t FrequencyDataBytes = 5;
constexpr std::int64_t MaxFrequencyHz = 9999999999;

// Mode byte of a mode reply: LSB, USB, AM, CW, RTTY, FM, WFM, CW-R, RTTY-R;
// any other byte has no name.
constexpr std::array<TModeByte, 9> IcomReplyModes{{
    {0x00, ModeLSB, NativeLSB},
    {0x01, ModeUSB, NativeUSB},
    {0x02, ModeAM, NativeAM},
    {0x03, ModeCW, NativeCW},
    {0x04, ModeDigi, NativeRTTY},
    {0x05, ModeFM, NativeFM},
    {0x06, ModeFM, NativeWFM},
    {0x07, ModeCW, NativeCWR},
    {0x08, ModeDigi, NativeRTTYR},
}};
constexpr std::array<TModeByte, 8> IcomSetModes{{
    {0x00, nullptr, NativeLSB},
    {0x01, nullptr, NativeUSB},
    {0x02, nullptr, NativeAM},
    {0x03, nullptr, NativeCW},
    {0x04, nullptr, NativeRTTY},
    {0x05, nullptr, NativeFM},
    {0x07, nullptr, NativeCWR},
    {0x08, nullptr, NativeRTTYR},
}};

// The data modes of radios that have them: a mode byte with the data flag on.
constexpr std::array<TModeByte, 3> IcomDataModes{{
    {0x00, ModeDigi, NativePKTLSB},
    {0x01, ModeDigi, NativePKTUSB},
    {0x05, ModeDigi, NativePKTFM},
}};
constexpr auto IcomPlainSetNames = NativeNames(IcomSetModes);
constexpr auto IcomAllSetNames = NativeNames(IcomSetModes, IcomDataModes);
// Modes that have a data variant: setting them turns the flag off.
constexpr std::array<const char*, 4> IcomModesWithData{NativeLSB, NativeUSB, NativeAM, NativeFM};

std::int32_t Hi(std::uint8_t B) {
  return B >> 4;
}
std::int32_t Lo(std::uint8_t B) {
  return B & 0x0F;
}
char BCD(std::int32_t Value) {
  return static_cast<char>(16 * (Value / 10) + Value % 10);
}

// Where the frame before an FDh starts: its last preamble. A frame cut short
// (a restart, a collision on the bus) runs into the next one: a later
// preamble, past this one's destination byte, starts afresh. npos: none.
std::size_t FrameStart(std::string_view Frame) {
  const std::string_view Start(Preamble, 2);
  std::size_t At = Frame.find(Start);
  if (At == std::string_view::npos)
    return At;
  for (std::size_t Next; (Next = Frame.find(Start, At + 3)) != std::string_view::npos;)
    At = Next;
  return At;
}

// Addressed holds destination, source, command and data: a report the radio
// at Radio sends of its own accord.
bool IsTransceiveReport(std::string_view Addressed, std::uint8_t Radio) {
  return Addressed.size() >= 3 && static_cast<std::uint8_t>(Addressed[0]) == BroadcastAddress &&
         static_cast<std::uint8_t>(Addressed[1]) == Radio &&
         (Addressed[2] == static_cast<char>(ReportFrequency) ||
          Addressed[2] == static_cast<char>(ReportMode));
}

} // namespace

TIcomCATInterface::TIcomCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                     const TRadioModel& AModel)
    : TRadioCATInterface(AOwner, ASettings, AModel),
      FRadioAddress(CIVAddressFor(*Model(), FSettings->intCIVAddress())) {
  // Starts on "read frequency"; the first poll flips it, so it reads the mode.
  FPollCommand = Frame(std::string(1, static_cast<char>(ReadFrequency)));
}

bool TIcomCATInterface::ReadsDataFlag() const {
  return Model()->HasDataMode && (DigiMeansData() || FDataModeTuned);
}

bool TIcomCATInterface::TuneNativeMode(const std::string& Mode) {
  if (!TRadioCATInterface::TuneNativeMode(Mode))
    return false;
  if (Model()->HasDataMode && FindNativeMode(IcomDataModes, Mode))
    FDataModeTuned = true;
  return true;
}

void TIcomCATInterface::TakeUnsolicited(TObject* Sender, std::string Data,
                                        std::string& Unsolicited) {
  (void)Sender;
  // The radio's transceive frames, whole, out of the bus's bytes.
  TakeMessages(FUnsolicitedBuffer, Data, EndOfFrame, [&](std::string_view Frame) {
    const std::size_t At = FrameStart(Frame);
    if (At != std::string_view::npos && IsTransceiveReport(Frame.substr(At + 2), FRadioAddress))
      (Unsolicited += Frame.substr(At)) += EndOfFrame;
  });
}

bool TIcomCATInterface::FollowsReports() const {
  return FSettings->Transceive() != tcOff;
}

void TIcomCATInterface::StopFollowing() {
  FFollowing = false;
  FIdleCycles = 0;
  FReadUnanswered = false;
  FOwedReads.clear();
  FFrequencyUnreported = FModeUnreported = false;
}

TIcomCATInterface::~TIcomCATInterface() {
  FPollCommand.clear();
}

std::string TIcomCATInterface::Frame(std::string_view Body) const {
  std::string Bytes(Preamble, 2);
  Bytes += static_cast<char>(FRadioAddress);
  Bytes += static_cast<char>(CIVControllerAddress);
  Bytes.append(Body);
  Bytes += EndOfFrame;
  return Bytes;
}

void TIcomCATInterface::ResetState() {
  // The poll toggle and FFrameBody carry over a restart.
  FRxBuffer.clear();
  FUnsolicitedBuffer.clear();
  FModeByte.reset();
  FDataOn = false;
  // A new link: the radio must report again before it is trusted.
  StopFollowing();
  // A changed CI-V address takes effect here.
  const std::uint8_t Address = CIVAddressFor(*Model(), FSettings->intCIVAddress());
  if (Address != FRadioAddress && FPollCommand.size() > PollCommandByte) {
    const std::string Body = FPollCommand.substr(PollCommandByte, FPollCommand.size() - 5);
    FRadioAddress = Address;
    FPollCommand = Frame(Body);
  }
}

void TIcomCATInterface::PollWith(std::string_view Body) {
  FPollCommand = Frame(Body);
  FPollingDataFlag = static_cast<std::uint8_t>(Body[0]) == ExtendedCommand;
}

std::string TIcomCATInterface::KeepAliveRead() {
  std::uint8_t Read = 0;
  if (!FOwedReads.empty()) {
    Read = static_cast<std::uint8_t>(FOwedReads[0]);
    FOwedReads.erase(0, 1);
  } else if ((FIdleCycles += 1 + AsksSkipped()) < KeepAliveCycles) {
    // Nothing until the keep-alive is due: the worker need not ask before
    // (a tune queued meanwhile wakes it, a key urges it).
    NothingForAsks(KeepAliveCycles - 1 - FIdleCycles);
    return {};
  } else if (FReadUnanswered) {
    // Not a byte since the last read: the link's health is judged by the
    // full cycle's polls, as for a radio that never reports.
    StopFollowing();
    return {};
  } else {
    Read = static_cast<std::uint8_t>(FPollCommand[PollCommandByte]) == ReadFrequency
               ? ReadMode
               : ReadFrequency;
  }
  FIdleCycles = 0;
  FReadUnanswered = true;
  if (Read == ExtendedCommand) {
    const char Body[] = {static_cast<char>(ExtendedCommand), static_cast<char>(DataModeSubCommand)};
    PollWith(std::string_view(Body, sizeof Body));
  } else {
    PollWith(std::string(1, static_cast<char>(Read)));
  }
  return FPollCommand;
}

void TIcomCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  const TCommandKind Kind = ChooseCommand(Command);
  if (Kind == TCommandKind::ckMode) {
    // A mode command of several frames goes out one frame per cycle; the
    // rest stays pending (and so holds the reports back) until it has gone.
    const std::size_t End = Command.find(EndOfFrame);
    if (End != std::string::npos && End + 1 < Command.size()) {
      FModeCommand = Command.substr(End + 1);
      Command.erase(End + 1);
    }
  }
  FPollingDataFlag = false;
  if (FFollowing && !FollowsReports())
    StopFollowing();
  if (FFollowing) {
    // A radio need not report a change made by command: a tune is read
    // back at once, and the read may differ from the last report.
    const auto Owe = [this](std::uint8_t Read) {
      if (FOwedReads.find(static_cast<char>(Read)) == std::string::npos)
        FOwedReads += static_cast<char>(Read);
    };
    if (Kind == TCommandKind::ckFrequency) {
      FFrequencyUnreported = true;
      Owe(ReadFrequency);
    } else if (Kind == TCommandKind::ckMode) {
      FModeUnreported = true;
      Owe(ReadMode);
      if (ReadsDataFlag())
        Owe(ExtendedCommand);
    }
  }
  if (Kind != TCommandKind::ckPoll || FPollCommand.size() <= PollCommandByte)
    return;
  if (FFollowing) {
    Command = KeepAliveRead();
    if (FFollowing)
      return;
  }
  // Frequency and mode are read in strict alternation, with the data flag
  // read right after the mode when "Digi" means data; set commands in
  // between do not disturb it.
  const auto Last = static_cast<std::uint8_t>(FPollCommand[PollCommandByte]);
  if (Last == ReadMode && ReadsDataFlag()) {
    const char Body[] = {static_cast<char>(ExtendedCommand), static_cast<char>(DataModeSubCommand)};
    PollWith(std::string_view(Body, sizeof Body));
  } else {
    PollWith(std::string(1, static_cast<char>(Last == ReadFrequency ? ReadMode : ReadFrequency)));
  }
  Command = FPollCommand;
}

bool TIcomCATInterface::UpdateModeFromByte(std::string& LocalMode) {
  // With the data flag on, a mode that has a data variant is that variant.
  const TModeByte* Entry = nullptr;
  if (FDataOn && ReadsDataFlag())
    for (const TModeByte& Data : IcomDataModes)
      if (Data.Byte == *FModeByte)
        Entry = &Data;
  if (!Entry && *FModeByte < IcomReplyModes.size())
    Entry = &IcomReplyModes[*FModeByte];
  if (Entry)
    LocalMode = Entry->Text;
  return UpdateMode(Entry ? Entry->Native : "", LocalMode);
}

void TIcomCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender, (void)Count;
  std::string LocalMode;
  TakeMessages(FRxBuffer, Data, EndOfFrame,
               [&](std::string_view Frame) { HandleFrame(Frame, LocalMode); });
}

bool TIcomCATInterface::DecodeFrequency(std::size_t DataBytes, bool& Changed) {
  // A short frame would be read from an earlier frame's bytes; a digit
  // above 9 is a corrupted one.
  if (DataBytes < FrequencyDataBytes)
    return false;
  for (std::size_t I = 1; I <= FrequencyDataBytes; ++I)
    if (Hi(FFrameBody[I]) > 9 || Lo(FFrameBody[I]) > 9)
      return false;
  std::int64_t Hz = 0;
  for (std::size_t I = FrequencyDataBytes; I >= 1; --I)
    Hz = Hz * 100 + 10 * Hi(FFrameBody[I]) + Lo(FFrameBody[I]);
  Changed = UpdateFrequency(Hz);
  return true;
}

bool TIcomCATInterface::DecodeMode(std::size_t DataBytes, std::string& LocalMode, bool& Changed) {
  if (DataBytes < 1)
    return false;
  // Another mode: its data flag is unknown (off) until it is read.
  if (FModeByte != FFrameBody[1])
    FDataOn = false;
  FModeByte = FFrameBody[1];
  Changed = UpdateModeFromByte(LocalMode);
  return true;
}

bool TIcomCATInterface::HandleReport(std::string_view Body, std::string& LocalMode, bool& Changed) {
  // Off: the frames are left alone, and the radio is polled.
  if (!FollowsReports())
    return false;
  const std::size_t DataBytes = Body.size() - 1;
  if (static_cast<std::uint8_t>(Body[0]) == ReportFrequency)
    return DecodeFrequency(DataBytes, Changed);
  if (!DecodeMode(DataBytes, LocalMode, Changed))
    return false;
  // The report carries no data flag: it is read at once where it counts.
  if (ReadsDataFlag()) {
    FModeUnreported = true;
    if (FOwedReads.find(static_cast<char>(ExtendedCommand)) == std::string::npos)
      FOwedReads += static_cast<char>(ExtendedCommand);
  }
  return true;
}

void TIcomCATInterface::HandleFrame(std::string_view Frame, std::string& LocalMode) {
  const std::size_t At = FrameStart(Frame);
  if (At == std::string_view::npos)
    return;
  // Skip the preamble and the destination: a reply to another controller on
  // the bus is as good as one to us.
  std::string_view Rest = Frame.substr(At + 2);
  if (Rest.size() < 2 || static_cast<std::uint8_t>(Rest[1]) != FRadioAddress)
    return; // no source, or not our radio (our own echo comes from CCh)
  const std::string_view Body = Rest.substr(2);
  // No command, or longer than any reply we read: never a frequency or mode.
  if (Body.empty() || Body.size() > FFrameBody.size())
    return;
  std::copy(Body.begin(), Body.end(), FFrameBody.begin());
  const std::size_t DataBytes = Body.size() - 1;

  bool Changed = false;
  if (IsTransceiveReport(Rest, FRadioAddress)) {
    // Reported by the radio itself: never the reply to a read of ours.
    if (!HandleReport(Body, LocalMode, Changed))
      return;
    if (!FFollowing)
      FIdleCycles = 0;
    FFollowing = true;
    RaiseIfChanged(Changed);
    return;
  }
  FReadUnanswered = false;
  // While following: whether the reports announced what this reply says
  // (a value read for the first time, or one the reports could not carry,
  // counts as announced).
  bool Announced = true;
  switch (FFrameBody[0]) {
  case ReadFrequency: {
    const bool Known = FValue.Hz.has_value();
    if (!DecodeFrequency(DataBytes, Changed))
      return;
    Announced = !Changed || !Known || std::exchange(FFrequencyUnreported, false);
    break;
  }
  case ReadMode: {
    const bool Known = FModeByte.has_value();
    if (!DecodeMode(DataBytes, LocalMode, Changed))
      return;
    Announced = !Changed || !Known || FModeUnreported;
    if (!ReadsDataFlag())
      FModeUnreported = false;
    break;
  }
  case ExtendedCommand: {
    if (DataBytes < 2 || FFrameBody[1] != DataModeSubCommand || !ReadsDataFlag() || !FModeByte)
      break;
    FDataOn = FFrameBody[2] != 0;
    Changed = UpdateModeFromByte(LocalMode);
    Announced = !Changed || std::exchange(FModeUnreported, false);
    break;
  }
  case TransmitCommand:
    if (DataBytes >= 2 && FFrameBody[1] == 0x00)
      NoteTransmitting(FFrameBody[2] != 0);
    break;
  case NotGood: {
    // A radio that cannot read its data flag: the mode stays as the mode
    // reply said; the flag is asked for again in its turn, no sooner.
    if (!FPollingDataFlag || !FModeByte || !FDataOn)
      break;
    FDataOn = false;
    Changed = UpdateModeFromByte(LocalMode);
    Announced = !Changed || std::exchange(FModeUnreported, false);
    break;
  }
  default:
    break; // OK/NG answers, reports to a controller
  }
  // A value no report announced: the reports are off or were lost.
  if (FFollowing && !Announced)
    StopFollowing();
  RaiseIfChanged(Changed);
}

void TIcomCATInterface::SetFrequency(std::string AFrequency) {
  // The command carries 100 Hz at the finest.
  std::string Whole, Fraction;
  if (!SplitFrequencyText(AFrequency, 4, Whole, Fraction))
    return;
  std::int32_t M = 0, F = 0;
  if (!TryDecimalToInt(Whole, M) || !TryDecimalToInt(Fraction, F))
    return;
  // Four BCD bytes hold up to 9999.9999 MHz; nothing out of range goes out.
  if (M > 9999 || F > 9999)
    return;
  std::string Command;
  if (BuildFrequencyCommand(std::int64_t{M} * 1000000 + std::int64_t{F} * 100, Command))
    QueueFrequencyCommand(std::move(Command));
}

bool TIcomCATInterface::BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const {
  if (Hz < 0 || Hz > MaxFrequencyHz)
    return false;
  std::string Body(1, static_cast<char>(SetFrequencyCommand));
  // Five BCD bytes, the 10 Hz and 1 Hz digits first.
  for (std::size_t I = 0; I < FrequencyDataBytes; ++I, Hz /= 100)
    Body += BCD(static_cast<std::int32_t>(Hz % 100));
  Command = Frame(Body);
  return true;
}

TNativeModeList TIcomCATInterface::SetModeNames(bool WithDataModes) {
  if (WithDataModes)
    return IcomAllSetNames;
  return IcomPlainSetNames;
}

bool TIcomCATInterface::BuildModeCommand(const std::string& Native, bool FromPage,
                                         std::string& Command) const {
  const bool HasData = Model() && Model()->HasDataMode;
  const TModeByte* Entry = FindNativeMode(IcomSetModes, Native);
  const TModeByte* Data = HasData ? FindNativeMode(IcomDataModes, Native) : nullptr;
  if (!Entry && !Data)
    return false;
  const char Body[] = {static_cast<char>(SetModeCommand),
                       static_cast<char>(Data ? Data->Byte : Entry->Byte)};
  Command = Frame(std::string_view(Body, sizeof Body));
  // The data flag follows the mode: on for a data mode (filter 1), off for
  // the same mode without data (the radio wants filter 00h then). A page
  // tune leaves it alone unless the station's "Digi" means data.
  const bool TurnsDataOff = HasData && !Data && (!FromPage || DigiMeansData()) &&
                            std::find(IcomModesWithData.begin(), IcomModesWithData.end(), Native) !=
                                IcomModesWithData.end();
  if (Data || TurnsDataOff) {
    const char Flag[] = {static_cast<char>(ExtendedCommand), static_cast<char>(DataModeSubCommand),
                         Data ? '\x01' : '\x00', Data ? '\x01' : '\x00'};
    Command += Frame(std::string_view(Flag, sizeof Flag));
  }
  return true;
}

std::string TIcomCATInterface::BuildPTTCommand(bool On) const {
  return Frame(std::string_view(On ? TransmitOn : TransmitOff, 3));
}

std::string TIcomCATInterface::BuildTransmitReadCommand() const {
  return Frame(std::string_view(TransmitRead, 2));
}

} // namespace vela
