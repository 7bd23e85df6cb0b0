#include "cat/radios/untFT897DCATinterface.h"

#include "cat/radios/untModeNames.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Commands: four parameter bytes, then the instruction byte.
const std::string FT897DPoll("\x00\x00\x00\x00\x03", 5);
// PTT on and off; the radio acknowledges each with one byte.
const std::string FT897DPTTOn("\x00\x00\x00\x00\x08", 5);
const std::string FT897DPTTOff("\x00\x00\x00\x00\x88", 5);
constexpr std::uint8_t SetFrequencyInstruction = 0x01;
constexpr std::uint8_t SetModeInstruction = 0x07;

// Four BCD frequency bytes (most significant first, 10 Hz units), then the
// mode byte.
constexpr std::size_t ReplyLength = 5;

// The high bit of the mode byte marks a narrow filter.
constexpr std::uint8_t NarrowFilterBit = 0x80;

// Any other byte has no name.
constexpr std::array<TModeByte, 9> FT897DReplyModes{{
    {0x00, ModeLSB, NativeLSB},
    {0x01, ModeUSB, NativeUSB},
    {0x02, ModeCW, NativeCW},
    {0x03, ModeCW, NativeCWR},
    {0x04, ModeAM, NativeAM},
    {0x06, ModeFM, NativeWFM},
    {0x08, ModeFM, NativeFM},
    {0x0A, ModeDigi, NativePKTUSB},
    {0x0C, ModeDigi, NativePKTFM},
}};
constexpr std::array<TModeByte, 8> FT897DSetModes{{
    {0x00, nullptr, NativeLSB},
    {0x01, nullptr, NativeUSB},
    {0x02, nullptr, NativeCW},
    {0x03, nullptr, NativeCWR},
    {0x04, nullptr, NativeAM},
    {0x08, nullptr, NativeFM},
    {0x0A, nullptr, NativePKTUSB},
    {0x0C, nullptr, NativePKTFM},
}};
constexpr auto FT897DSetNames = NativeNames(FT897DSetModes);

std::int32_t Hi(std::uint8_t B) {
  return B >> 4;
}
std::int32_t Lo(std::uint8_t B) {
  return B & 0x0F;
}

} // namespace

// It reports in 10 Hz steps.
constinit const TRadioModel TFT897DCATInterface::RadioModel{
    .Radio = rtFT897D,
    .DisplayName = "FT897D",
    .Name = "ft897d",
    .Create = MakeDriver<TFT897DCATInterface>,
    .DefaultCIVAddress = 0,
    .HasDataMode = true,
    .ResolutionHz = 10,
    .DigiRTTYMode = NativePKTUSB,
    .DigiDataMode = NativePKTUSB,
    .NativeModes = &TFT897DCATInterface::NativeModes,
    .LowHz = 100000,
    .HighHz = 470000000,
    .Binary = true,
    // The CAT RATE menu item is 4800 out of the box.
    .UsualBaudRate = br4800};

TFT897DCATInterface::TFT897DCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TYaesuBinaryCATInterface(AOwner, ASettings, RadioModel, FT897DPoll, ReplyLength) {}

TNativeModeList TFT897DCATInterface::NativeModes() {
  return FT897DSetNames;
}

TReplyValues TFT897DCATInterface::DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) {
  // Every frequency digit the radio sends is decimal: a nibble above 9 means
  // the window is not one reply (no frequency: misframed).
  for (int I = 0; I < 4; ++I)
    if (Hi(Reply[I]) > 9 || Lo(Reply[I]) > 9)
      return {};
  // The count drops the 10 Hz digit (low nibble of the fourth byte); the
  // hertz keep it.
  const std::int32_t Count = 1000000 * Hi(Reply[0]) + 100000 * Lo(Reply[0]) + 10000 * Hi(Reply[1]) +
                             1000 * Lo(Reply[1]) + 100 * Hi(Reply[2]) + 10 * Lo(Reply[2]) +
                             Hi(Reply[3]);
  const std::int64_t Hz = (std::int64_t{Count} * 10 + Lo(Reply[3])) * 10;
  const std::uint8_t ModeByte = Reply[4] & ~NarrowFilterBit;
  std::string Native;
  for (const TModeByte& Entry : FT897DReplyModes)
    if (ModeByte == Entry.Byte) {
      LocalMode = Entry.Text;
      Native = Entry.Native;
      break;
    }
  return {Hz, std::nullopt, Native, LocalMode};
}

std::string TFT897DCATInterface::EncodeFrequency(std::int32_t M, std::int32_t F) const {
  // Eight BCD digits in units of 10 Hz, most significant byte first.
  const char Command[5] = {
      static_cast<char>(BCD(M / 10)),
      static_cast<char>(16 * (M % 10) + F / 10000),
      static_cast<char>(BCD(F % 10000 / 100)),
      static_cast<char>(BCD(F % 100)),
      static_cast<char>(SetFrequencyInstruction),
  };
  return std::string(Command, sizeof Command);
}

bool TFT897DCATInterface::BuildModeCommand(const std::string& Native, bool /*FromPage*/,
                                           std::string& Command) const {
  const TModeByte* Entry = FindNativeMode(FT897DSetModes, Native);
  if (!Entry)
    return false;
  const char Bytes[5] = {static_cast<char>(Entry->Byte), 0, 0, 0,
                         static_cast<char>(SetModeInstruction)};
  Command.assign(Bytes, sizeof Bytes);
  return true;
}

std::string TFT897DCATInterface::BuildPTTCommand(bool On) const {
  return On ? FT897DPTTOn : FT897DPTTOff;
}

} // namespace vela
