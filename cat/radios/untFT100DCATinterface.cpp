#include "cat/radios/untFT100DCATinterface.h"

#include "cat/radios/untModeNames.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Commands: four parameter bytes, then the instruction byte.
const std::string FT100DPoll("\x00\x00\x00\x00\x10", 5);
// PTT: the fourth parameter byte 01 keys, 00 releases.
const std::string FT100DPTTOn("\x00\x00\x00\x01\x0F", 5);
const std::string FT100DPTTOff("\x00\x00\x00\x00\x0F", 5);
constexpr std::uint8_t SetFrequencyInstruction = 0x0A;
constexpr std::uint8_t SetModeInstruction = 0x0C;

// The radio answers the status request with 32 bytes: the 16-byte status
// block, then 16 more. Only the first block is decoded.
constexpr std::size_t StatusReplyLength = 32;

// The frequency word (elements 1 to 4, most significant first) counts
// 1.25 Hz steps: 80 of them are 100 Hz, so the nearest hertz never crosses
// a 100 Hz step that the steps have not.

// Element 5, low four bits: LSB, USB, CW, CW-R, AM, DIG, FM, WFM; 8 to 15
// have no name.
constexpr std::array<TModeByte, 8> FT100DReplyModes{{
    {0x00, ModeLSB, NativeLSB},
    {0x01, ModeUSB, NativeUSB},
    {0x02, ModeCW, NativeCW},
    {0x03, ModeCW, NativeCWR},
    {0x04, ModeAM, NativeAM},
    {0x05, ModeDigi, NativePKTUSB},
    {0x06, ModeFM, NativeFM},
    {0x07, ModeFM, NativeWFM},
}};

constexpr std::array<TModeByte, 7> FT100DSetModes{{
    {0x00, nullptr, NativeLSB},
    {0x01, nullptr, NativeUSB},
    {0x02, nullptr, NativeCW},
    {0x03, nullptr, NativeCWR},
    {0x04, nullptr, NativeAM},
    {0x05, nullptr, NativePKTUSB},
    {0x06, nullptr, NativeFM},
}};
constexpr auto FT100DSetNames = NativeNames(FT100DSetModes);

} // namespace

// It reports in 1.25 Hz steps.
constinit const TRadioModel TFT100DCATInterface::RadioModel{
    .Radio = rtFT100D,
    .DisplayName = "FT100D",
    .Name = "ft100d",
    .Create = MakeDriver<TFT100DCATInterface>,
    .DefaultCIVAddress = 0,
    .HasDataMode = true,
    .ResolutionHz = 1.25,
    .DigiRTTYMode = NativePKTUSB,
    .DigiDataMode = NativePKTUSB,
    .NativeModes = &TFT100DCATInterface::NativeModes,
    .LowHz = 100000,
    .HighHz = 970000000,
    .Binary = true,
    // Its CAT port runs at 4800 only.
    .UsualBaudRate = br4800};

TFT100DCATInterface::TFT100DCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TYaesuBinaryCATInterface(AOwner, ASettings, RadioModel, FT100DPoll, StatusReplyLength) {}

TNativeModeList TFT100DCATInterface::NativeModes() {
  return FT100DSetNames;
}

TReplyValues TFT100DCATInterface::DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) {
  const std::uint32_t Word = std::uint32_t{Reply[1]} << 24 | std::uint32_t{Reply[2]} << 16 |
                             std::uint32_t{Reply[3]} << 8 | std::uint32_t{Reply[4]};
  // The word is an unsigned count: garbage with the top bit set is a large
  // frequency outside the radio's range, never a negative one.
  const std::int64_t Steps = Word;
  // Hertz to the nearest: a step is 5/4 Hz.
  const std::int64_t Hz = (Steps * 5 + 2) / 4;
  const std::uint8_t ModeValue = Reply[5] & 0x0F;
  std::string Native;
  if (ModeValue < FT100DReplyModes.size()) {
    LocalMode = FT100DReplyModes[ModeValue].Text;
    Native = FT100DReplyModes[ModeValue].Native;
  }
  return {Hz, std::nullopt, Native, LocalMode};
}

std::string TFT100DCATInterface::EncodeFrequency(std::int32_t M, std::int32_t F) const {
  // Eight BCD digits in units of 10 Hz, least significant byte first.
  const char Command[5] = {
      static_cast<char>(BCD(F % 100)),
      static_cast<char>(BCD(F % 10000 / 100)),
      static_cast<char>(16 * (M % 10) + F / 10000),
      static_cast<char>(BCD(M / 10)),
      static_cast<char>(SetFrequencyInstruction),
  };
  return std::string(Command, sizeof Command);
}

bool TFT100DCATInterface::BuildModeCommand(const std::string& Native, bool /*FromPage*/,
                                           std::string& Command) const {
  const TModeByte* Entry = FindNativeMode(FT100DSetModes, Native);
  if (!Entry)
    return false;
  const char Bytes[5] = {0, 0, 0, static_cast<char>(Entry->Byte),
                         static_cast<char>(SetModeInstruction)};
  Command.assign(Bytes, sizeof Bytes);
  return true;
}

std::string TFT100DCATInterface::BuildPTTCommand(bool On) const {
  return On ? FT100DPTTOn : FT100DPTTOff;
}

} // namespace vela
