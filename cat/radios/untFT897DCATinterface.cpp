#include "cat/radios/untFT897DCATinterface.h"

#include <array>

#include "cat/radios/untBandPlan.h"

namespace vela {

namespace {

// Commands: four parameter bytes, then the instruction byte.
const std::string FT897DPoll("\x00\x00\x00\x00\x03", 5);
constexpr std::uint8_t SetFrequencyInstruction = 0x01;
constexpr std::uint8_t SetModeInstruction = 0x07;

// Four BCD frequency bytes (most significant first, 10 Hz units), then the
// mode byte.
constexpr std::size_t ReplyLength = 5;

// The high bit of the mode byte marks a narrow filter.
constexpr std::uint8_t NarrowFilterBit = 0x80;

struct TModeByte {
  const char* Text;
  std::uint8_t Byte;
};
// Any other byte has no name.
constexpr std::array<TModeByte, 9> FT897DReplyModes{{
    {ModeLSB, 0x00},
    {ModeUSB, 0x01},
    {ModeCW, 0x02},
    {ModeCW, 0x03},
    {ModeAM, 0x04},
    {ModeFM, 0x06},
    {ModeFM, 0x08},
    {ModeDigi, 0x0A},
    {ModeDigi, 0x0C},
}};
constexpr std::array<TModeByte, 6> FT897DSetModes{{
    {ModeLSB, 0x00},
    {ModeUSB, 0x01},
    {ModeCW, 0x02},
    {ModeFM, 0x08},
    {ModeAM, 0x04},
    {ModeDigi, 0x0A},
}};

std::int32_t Hi(std::uint8_t B) {
  return B >> 4;
}
std::int32_t Lo(std::uint8_t B) {
  return B & 0x0F;
}

} // namespace

TFT897DCATInterface::TFT897DCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TYaesuBinaryCATInterface(AOwner, ASettings, rtFT897D, FT897DPoll, ReplyLength) {}

void TFT897DCATInterface::DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) {
  // The 10 Hz digit (low nibble of the fourth byte) is dropped.
  const std::int32_t Count = 1000000 * Hi(Reply[0]) + 100000 * Lo(Reply[0]) + 10000 * Hi(Reply[1]) +
                             1000 * Lo(Reply[1]) + 100 * Hi(Reply[2]) + 10 * Lo(Reply[2]) +
                             Hi(Reply[3]);
  const std::uint8_t ModeByte = Reply[4] & ~NarrowFilterBit;
  for (const TModeByte& Entry : FT897DReplyModes)
    if (ModeByte == Entry.Byte) {
      LocalMode = Entry.Text;
      break;
    }
  ReportValues({FrequencyText(Count), Count, LocalMode});
}

void TFT897DCATInterface::SetFrequency(std::string AFrequency) {
  std::int32_t M = 0, F = 0;
  if (!SplitFrequency(AFrequency, M, F))
    return;
  // Eight BCD digits in units of 10 Hz, most significant byte first.
  const char Command[5] = {
      static_cast<char>(BCD(M / 10)),
      static_cast<char>(16 * (M % 10) + F / 10000),
      static_cast<char>(BCD(F % 10000 / 100)),
      static_cast<char>(BCD(F % 100)),
      static_cast<char>(SetFrequencyInstruction),
  };
  FFrequencyCommand.assign(Command, sizeof Command);
}

void TFT897DCATInterface::SetMode(std::string AMode) {
  for (const TModeByte& Entry : FT897DSetModes)
    if (AMode == Entry.Text) {
      const char Command[5] = {static_cast<char>(Entry.Byte), 0, 0, 0,
                               static_cast<char>(SetModeInstruction)};
      FModeCommand.assign(Command, sizeof Command);
      return;
    }
}

} // namespace vela
