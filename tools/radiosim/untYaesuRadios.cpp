// The two binary Yaesu radios: five-byte commands (four parameters, then the
// instruction), answered with fixed-length replies and no frame markers.
#include "tools/radiosim/untRadioSim.h"

namespace vela::radiosim {

namespace {

int BcdByte(unsigned char b) {
  int hi = b >> 4, lo = b & 15;
  return (hi > 9 || lo > 9) ? -1 : hi * 10 + lo;
}

unsigned char ToBcd(int64_t v) {
  return static_cast<unsigned char>(((v / 10) % 10) << 4 | (v % 10));
}

// Eight BCD digits in four bytes, most significant byte first, in units of 10 Hz;
// -1 when a nibble is not a decimal digit.
int64_t DecodeBcdBigEndian(const std::string& b) {
  int64_t v = 0;
  for (int i = 0; i < 4; ++i) {
    int d = BcdByte(static_cast<unsigned char>(b[i]));
    if (d < 0)
      return -1;
    v = v * 100 + d;
  }
  return v * 10;
}

constexpr int64_t MaxBinaryFrequency = 999999990; // eight digits of 10 Hz

} // namespace

void TYaesuBinaryRadio::Feed(const std::string& bytes) {
  for (char c : bytes) {
    FBuffer += c;
    if (FBuffer.size() == 5) {
      std::string command = std::move(FBuffer);
      FBuffer.clear();
      LogCommand(command);
      Handle(command);
    }
  }
}

void TYaesuBinaryRadio::Acknowledge() {
  if (Ack())
    Reply(std::string(1, '\0'));
}

// --- FT-100D -----------------------------------------------------------------------

TFT100DRadio::TFT100DRadio()
    : TYaesuBinaryRadio({{"lsb", 0, 0, false},
                         {"usb", 1, 0, false},
                         {"cw", 2, 0, false},
                         {"cwr", 3, 0, false},
                         {"am", 4, 0, false},
                         {"digi", 5, 0, false},
                         {"fm", 6, 0, false},
                         {"wfm", 7, 0, false}},
                        MaxBinaryFrequency) {}

std::string TFT100DRadio::StatusBlock(int64_t hz, int modeCode, int band) {
  // The frequency word counts steps of 1.25 Hz, most significant byte first.
  const uint32_t word = static_cast<uint32_t>((hz * 4 + 2) / 5);
  std::string b(16, '\0');
  b[0] = static_cast<char>(band);
  b[1] = static_cast<char>(word >> 24);
  b[2] = static_cast<char>(word >> 16);
  b[3] = static_cast<char>(word >> 8);
  b[4] = static_cast<char>(word);
  b[5] = static_cast<char>(modeCode & 0x0F);
  return b;
}

std::string TFT100DRadio::StatusReply() const {
  return StatusBlock(Frequency(), ModeCode(), 0) + StatusBlock(FVfoB, FVfoBMode, 0);
}

void TFT100DRadio::Handle(const std::string& command) {
  const auto p = [&](int i) { return static_cast<unsigned char>(command[i]); };
  switch (p(4)) {
  case 0x10: // read status
    Reply(StatusReply());
    return;
  case 0x0A: { // set frequency: BCD, 10 Hz units, least significant byte first
    int64_t v = 0;
    for (int i = 3; i >= 0; --i) {
      int d = BcdByte(p(i));
      if (d < 0)
        return;
      v = v * 100 + d;
    }
    if (SetFrequencyFromCat(v * 10))
      Acknowledge();
    return;
  }
  case 0x0C: // set mode: the mode number in the fourth parameter byte
    if (SetModeFromCat(p(3)))
      Acknowledge();
    return;
  case 0x0F: // PTT: on when the fourth parameter byte is 01
    SetPTTFromCat(p(3) == 0x01);
    Acknowledge();
    return;
  case 0x00: // split, clarifier, VFO and other switches: accepted
  case 0x01:
  case 0x05:
    Acknowledge();
    return;
  default:
    return; // unknown instructions are ignored without an answer
  }
}

// --- FT-897D -----------------------------------------------------------------------

TFT897DRadio::TFT897DRadio()
    : TYaesuBinaryRadio({{"lsb", 0x00, 0, false},
                         {"usb", 0x01, 0, false},
                         {"cw", 0x02, 0, false},
                         {"cwr", 0x03, 0, false},
                         {"am", 0x04, 0, false},
                         {"wfm", 0x06, 0, false},
                         {"fm", 0x08, 0, false},
                         {"digi", 0x0A, 0, false},
                         {"pkt", 0x0C, 0, false},
                         {"cw-n", 0x82, 0, false},
                         {"cwr-n", 0x83, 0, false},
                         {"fm-n", 0x88, 0, false},
                         {"digi-n", 0x8A, 0, false},
                         {"pkt-n", 0x8C, 0, false}},
                        MaxBinaryFrequency) {}

std::string TFT897DRadio::FrequencyModeReply() const {
  const int64_t tens = Frequency() / 10;
  std::string b(5, '\0');
  b[0] = static_cast<char>(ToBcd(tens / 1000000));
  b[1] = static_cast<char>(ToBcd(tens / 10000));
  b[2] = static_cast<char>(ToBcd(tens / 100));
  b[3] = static_cast<char>(ToBcd(tens));
  b[4] = static_cast<char>(ModeCode());
  return b;
}

void TFT897DRadio::Handle(const std::string& command) {
  const auto p = [&](int i) { return static_cast<unsigned char>(command[i]); };
  switch (p(4)) {
  case 0x03: // read frequency and mode
    Reply(FrequencyModeReply());
    return;
  case 0x01: { // set frequency
    int64_t hz = DecodeBcdBigEndian(command);
    if (hz >= 0 && SetFrequencyFromCat(hz))
      Acknowledge();
    return;
  }
  case 0x07: // set mode; the narrow filter is not selected through this command
    if (p(0) < 0x80 && SetModeFromCat(p(0)))
      Acknowledge();
    return;
  case 0xE7: // receive status: squelch, S-meter
    Reply(std::string(1, '\0'));
    return;
  case 0xF7: // transmit status: top bit set while receiving
    Reply(std::string(1, static_cast<char>(PTT() ? 0x00 : 0x80)));
    return;
  case 0xBB: { // read configuration memory: two bytes from address p0 p1
    std::string b(2, '\0');
    if (p(0) == 0x00 && p(1) == 0x68) // bit 0: VFO A (0) or B (1)
      b[0] = FVfoB ? 0x01 : 0x00;
    Reply(b);
    return;
  }
  case 0x81: { // toggle VFO A/B
    FVfoB = !FVfoB;
    const int64_t hz = Frequency();
    const int mode = ModeCode();
    SetFrequencyFromCat(FOtherFrequency);
    SetModeFromCat(FOtherMode);
    FOtherFrequency = hz;
    FOtherMode = mode;
    Acknowledge();
    return;
  }
  case 0x08:
  case 0x88:
    SetPTTFromCat(p(4) == 0x08);
    Acknowledge();
    return;
  case 0x00:
  case 0x80:
    FLocked = p(4) == 0x00;
    Acknowledge();
    return;
  case 0x02: // split on/off, clarifier, repeater offset, tones, power, memory write
  case 0x82:
  case 0x05:
  case 0x85:
  case 0xF5:
  case 0x09:
  case 0xF9:
  case 0x0A:
  case 0x0B:
  case 0x0C:
  case 0x0F:
  case 0x8F:
  case 0xBC:
    Acknowledge();
    return;
  default:
    return;
  }
}

} // namespace vela::radiosim
