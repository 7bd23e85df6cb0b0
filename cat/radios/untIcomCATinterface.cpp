#include "cat/radios/untIcomCATinterface.h"

#include "cat/radios/untBandPlan.h"
#include "platform/untStrToInt.h"

namespace vela {

namespace {

constexpr char Preamble[] = "\xFE\xFE";
constexpr char EndOfFrame = '\xFD';
// The address every command of this program carries as its source.
constexpr std::uint8_t ControllerAddress = 0xCC;

constexpr std::uint8_t ReadFrequency = 0x03;
constexpr std::uint8_t ReadMode = 0x04;
constexpr std::uint8_t SetFrequencyCommand = 0x05;
constexpr std::uint8_t SetModeCommand = 0x06;

// The poll's command byte sits after FE FE <radio> CC.
constexpr std::size_t PollCommandByte = 4;
// A frequency reply carries five BCD bytes: 1 Hz/10 Hz up to 100 MHz/1 GHz.
constexpr std::size_t FrequencyDataBytes = 5;

// Mode byte of a mode reply; any other byte has no name.
constexpr std::array<const char*, 9> IcomReplyModes{
    ModeLSB, ModeUSB, ModeAM, ModeCW, ModeDigi, ModeFM, ModeFM, ModeCW, ModeDigi,
};

struct TModeByte {
  const char* Text;
  std::uint8_t Byte;
};
constexpr std::array<TModeByte, 6> IcomSetModes{{
    {ModeLSB, 0x00},
    {ModeUSB, 0x01},
    {ModeAM, 0x02},
    {ModeCW, 0x03},
    {ModeDigi, 0x04},
    {ModeFM, 0x05},
}};

std::int32_t Hi(std::uint8_t B) {
  return B >> 4;
}
std::int32_t Lo(std::uint8_t B) {
  return B & 0x0F;
}
char BCD(std::int32_t Value) {
  return static_cast<char>(16 * (Value / 10) + Value % 10);
}

} // namespace

TIcomCATInterface::TIcomCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                     TRadioType ARadio, std::uint8_t ARadioAddress)
    : TRadioCATInterface(AOwner, ASettings), FRadioAddress(ARadioAddress) {
  RecordRadioType(ARadio);
  // Starts on "read frequency"; the first poll flips it, so it reads the mode.
  FPollCommand = Frame(std::string(1, static_cast<char>(ReadFrequency)));
}

TIcomCATInterface::~TIcomCATInterface() {
  FPollCommand.clear();
}

std::string TIcomCATInterface::Frame(std::string_view Body) const {
  std::string Bytes(Preamble, 2);
  Bytes += static_cast<char>(FRadioAddress);
  Bytes += static_cast<char>(ControllerAddress);
  Bytes.append(Body);
  Bytes += EndOfFrame;
  return Bytes;
}

void TIcomCATInterface::ResetState() {
  // The poll toggle and FReplyBytes carry over a restart.
  FRxBuffer.clear();
}

void TIcomCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  if (ChooseCommand(Command) != TCommandKind::ckPoll || FPollCommand.size() <= PollCommandByte)
    return;
  // Frequency and mode are read in strict alternation; set commands in
  // between do not disturb it.
  char& Byte = FPollCommand[PollCommandByte];
  Byte = static_cast<char>(static_cast<std::uint8_t>(Byte) == ReadFrequency ? ReadMode
                                                                            : ReadFrequency);
  Command = FPollCommand;
}

void TIcomCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender, (void)Count;
  std::string LocalMode;
  TakeMessages(FRxBuffer, Data, EndOfFrame,
               [&](std::string_view Frame) { HandleFrame(Frame, LocalMode); });
}

void TIcomCATInterface::HandleFrame(std::string_view Frame, std::string& LocalMode) {
  const std::string_view Start(Preamble, 2);
  std::size_t At = Frame.find(Start);
  if (At == std::string_view::npos)
    return;
  // A frame cut short (a restart, a collision on the bus) runs into the next
  // one: a later preamble, past this one's destination byte, starts afresh.
  for (std::size_t Next; (Next = Frame.find(Start, At + 3)) != std::string_view::npos;)
    At = Next;
  // Skip the preamble and the destination: a reply to another controller on
  // the bus is as good as one to us.
  std::string_view Rest = Frame.substr(At + 2);
  if (Rest.size() < 2 || static_cast<std::uint8_t>(Rest[1]) != FRadioAddress)
    return; // no source, or not our radio (our own echo comes from CCh)
  const std::string_view Body = Rest.substr(2);
  // No command, or longer than any reply we read: never a frequency or mode.
  if (Body.empty() || Body.size() > FReplyBytes.size())
    return;
  std::copy(Body.begin(), Body.end(), FReplyBytes.begin());
  const std::size_t DataBytes = Body.size() - 1;

  bool Changed = false;
  switch (FReplyBytes[0]) {
  case ReadFrequency: {
    if (DataBytes < FrequencyDataBytes)
      return; // a short reply would be read from an earlier frame's bytes
    // Whole 100 Hz units: the 1 Hz and 10 Hz digits (d0) are dropped.
    const std::uint8_t D1 = FReplyBytes[2], D2 = FReplyBytes[3], D3 = FReplyBytes[4],
                       D4 = FReplyBytes[5];
    const std::int32_t FrequencyCount = 10000000 * Hi(D4) + 1000000 * Lo(D4) + 100000 * Hi(D3) +
                                        10000 * Lo(D3) + 1000 * Hi(D2) + 100 * Lo(D2) +
                                        10 * Hi(D1) + Lo(D1);
    Changed = UpdateFrequency(FrequencyText(FrequencyCount), FrequencyCount);
    break;
  }
  case ReadMode: {
    if (DataBytes < 1)
      return;
    if (FReplyBytes[1] < IcomReplyModes.size())
      LocalMode = IcomReplyModes[FReplyBytes[1]];
    Changed = UpdateMode(LocalMode);
    break;
  }
  default:
    break; // OK/NG answers, transceive broadcasts
  }
  RaiseIfChanged(Changed);
}

void TIcomCATInterface::SetFrequency(std::string AFrequency) {
  // The command carries 100 Hz at the finest. Both parts are decimal digits
  // only: a hexadecimal prefix, a sign or blanks ("$E.0740", "14.x") is no
  // frequency.
  std::string Whole, Fraction;
  if (!SplitFrequencyText(AFrequency, 4, Whole, Fraction))
    return;
  std::int32_t M = 0, F = 0;
  if (!AllDecimalDigits(Whole) || !TryDecimalToInt(Whole, M) || !TryDecimalToInt(Fraction, F))
    return;
  // Four BCD bytes hold up to 9999.9999 MHz; nothing out of range goes out.
  if (M < 0 || M > 9999 || F < 0 || F > 9999)
    return;
  const char Body[] = {
      static_cast<char>(SetFrequencyCommand),
      0, // 10 Hz and 1 Hz
      BCD(F % 100),
      BCD(F / 100),
      BCD(M % 100),
      BCD(M / 100),
  };
  FFrequencyCommand = Frame(std::string_view(Body, sizeof Body));
}

void TIcomCATInterface::SetMode(std::string AMode) {
  for (const TModeByte& Entry : IcomSetModes)
    if (AMode == Entry.Text) {
      const char Body[] = {static_cast<char>(SetModeCommand), static_cast<char>(Entry.Byte)};
      FModeCommand = Frame(std::string_view(Body, sizeof Body));
      return;
    }
}

} // namespace vela
