#include "cat/radios/untFT100DCATinterface.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Commands: four parameter bytes, then the instruction byte.
const std::string FT100DPoll("\x00\x00\x00\x00\x10", 5);
constexpr std::uint8_t SetFrequencyInstruction = 0x0A;
constexpr std::uint8_t SetModeInstruction = 0x0C;

// The radio answers the status request with 32 bytes: the 16-byte status
// block, then 16 more. Only the first block is decoded.
constexpr std::size_t StatusReplyLength = 32;

// The frequency word (elements 1 to 4, most significant first) counts
// 1.25 Hz steps: 80 of them are 100 Hz.
constexpr std::uint32_t StepsPer100Hz = 80;

// Element 5, low four bits; 8 to 15 have no name.
constexpr std::array<const char*, 8> FT100DReplyModes{
    ModeLSB, ModeUSB, ModeCW, ModeCW, ModeAM, ModeDigi, ModeFM, ModeFM,
};

struct TModeByte {
  const char* Text;
  std::uint8_t Byte;
};
constexpr std::array<TModeByte, 6> FT100DSetModes{{
    {ModeLSB, 0x00},
    {ModeUSB, 0x01},
    {ModeCW, 0x02},
    {ModeFM, 0x06},
    {ModeAM, 0x04},
    {ModeDigi, 0x05},
}};

} // namespace

TFT100DCATInterface::TFT100DCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TYaesuBinaryCATInterface(AOwner, ASettings, rtFT100D, FT100DPoll, StatusReplyLength) {}

void TFT100DCATInterface::DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) {
  const std::uint32_t Word = std::uint32_t{Reply[1]} << 24 | std::uint32_t{Reply[2]} << 16 |
                             std::uint32_t{Reply[3]} << 8 | std::uint32_t{Reply[4]};
  // The word is an unsigned count: garbage with the top bit set is a large
  // frequency outside the band plan, never a negative one.
  const auto Count = static_cast<std::int32_t>(Word / StepsPer100Hz);
  const std::uint8_t ModeValue = Reply[5] & 0x0F;
  if (ModeValue < FT100DReplyModes.size())
    LocalMode = FT100DReplyModes[ModeValue];
  ReportValues({FrequencyText(Count), Count, LocalMode});
}

void TFT100DCATInterface::SetFrequency(std::string AFrequency) {
  std::int32_t M = 0, F = 0;
  if (!SplitFrequency(AFrequency, M, F))
    return;
  // Eight BCD digits in units of 10 Hz, least significant byte first.
  const char Command[5] = {
      static_cast<char>(BCD(F % 100)),
      static_cast<char>(BCD(F % 10000 / 100)),
      static_cast<char>(16 * (M % 10) + F / 10000),
      static_cast<char>(BCD(M / 10)),
      static_cast<char>(SetFrequencyInstruction),
  };
  FFrequencyCommand.assign(Command, sizeof Command);
}

void TFT100DCATInterface::SetMode(std::string AMode) {
  for (const TModeByte& Entry : FT100DSetModes)
    if (AMode == Entry.Text) {
      const char Command[5] = {0, 0, 0, static_cast<char>(Entry.Byte),
                               static_cast<char>(SetModeInstruction)};
      FModeCommand.assign(Command, sizeof Command);
      return;
    }
}

} // namespace vela
