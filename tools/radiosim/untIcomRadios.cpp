// Icom CI-V radios: frames FE FE <to> <from> <command> [data] FD on a shared bus.
#include "tools/radiosim/untRadioSim.h"

namespace vela::radiosim {

using namespace std::string_literals;

namespace {

constexpr unsigned char Preamble = 0xFE;
constexpr unsigned char EndOfFrame = 0xFD;
constexpr unsigned char Ok = 0xFB;
constexpr unsigned char Ng = 0xFA;
constexpr unsigned char Broadcast = 0x00;
// Longest frame buffered while waiting for FDh; longer input is bus noise.
constexpr size_t MaxFrame = 64;

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list)
    s += static_cast<char>(b);
  return s;
}

std::vector<TSimMode> IcomModes(bool is7000) {
  std::vector<TSimMode> m = {{"lsb", 0x00, 1, false},  {"usb", 0x01, 1, false},
                             {"am", 0x02, 1, false},   {"cw", 0x03, 1, false},
                             {"digi", 0x04, 1, false}, {"fm", 0x05, 1, false},
                             {"cwr", 0x07, 1, false},  {"rtty-r", 0x08, 1, false},
                             {"cw-n", 0x03, 3, false}, {"fm-n", 0x05, 3, false}};
  if (is7000)
    m.push_back({"wfm", 0x06, 1, false});
  else {
    m.push_back({"data-usb", 0x01, 1, true});
    m.push_back({"data-lsb", 0x00, 1, true});
  }
  return m;
}

} // namespace

TIcomRadio::TIcomRadio(std::string name, unsigned char address, bool is7000)
    : TRadioCore(IcomModes(is7000), 9999999999LL), FName(std::move(name)), FAddress(address),
      FIs7300(!is7000) {}

std::string TIcomRadio::EncodeFrequency(int64_t hz) {
  std::string b;
  for (int i = 0; i < 5; ++i) {
    const int pair = static_cast<int>(hz % 100);
    hz /= 100;
    b += static_cast<char>((pair / 10) << 4 | (pair % 10));
  }
  return b;
}

int64_t TIcomRadio::DecodeFrequency(const std::string& bytes) {
  if (bytes.size() != 5)
    return -1;
  int64_t v = 0;
  for (int i = 4; i >= 0; --i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if ((b >> 4) > 9 || (b & 15) > 9)
      return -1;
    v = v * 100 + (b >> 4) * 10 + (b & 15);
  }
  return v;
}

std::string TIcomRadio::Frame(unsigned char to, const std::string& body) const {
  return Bytes({Preamble, Preamble, to, FAddress}) + body + static_cast<char>(EndOfFrame);
}

void TIcomRadio::Feed(const std::string& bytes) {
  for (char c : bytes) {
    FBuffer += c;
    if (static_cast<unsigned char>(c) == EndOfFrame) {
      std::string frame = std::move(FBuffer);
      FBuffer.clear();
      HandleFrame(frame);
    } else if (static_cast<unsigned char>(c) == Preamble && FBuffer.size() > 2 &&
               static_cast<unsigned char>(FBuffer[FBuffer.size() - 2]) == Preamble) {
      // A preamble starts a new frame: noise before it is dropped.
      size_t run = FBuffer.size() - 2;
      while (run > 0 && static_cast<unsigned char>(FBuffer[run - 1]) == Preamble)
        --run;
      FBuffer.erase(0, run);
    } else if (FBuffer.size() > MaxFrame) {
      FBuffer.clear();
    }
  }
}

void TIcomRadio::HandleFrame(const std::string& raw) {
  LogCommand(raw);
  // The bus carries everything sent on it back to the sender.
  if (Echo())
    Send(raw);

  const auto at = [&](size_t i) { return static_cast<unsigned char>(raw[i]); };
  size_t i = 0;
  while (i + 1 < raw.size() && !(at(i) == Preamble && at(i + 1) == Preamble))
    ++i;
  if (i + 1 >= raw.size())
    return; // no preamble: noise
  while (i < raw.size() && at(i) == Preamble)
    ++i;
  // to, from, command, then data up to the end byte
  if (raw.size() - i < 4)
    return;
  const unsigned char to = at(i), from = at(i + 1), cmd = at(i + 2);
  const std::string data = raw.substr(i + 3, raw.size() - i - 4);
  if (to != FAddress)
    return; // addressed to another radio, or a broadcast: no answer

  const auto reply = [&](const std::string& body) { Reply(Frame(from, body)); };
  const auto ok = [&] { reply(std::string(1, static_cast<char>(Ok))); };
  const auto ng = [&] { reply(std::string(1, static_cast<char>(Ng))); };
  const auto modeBytes = [&] { return Bytes({ModeCode(), ModeFilter()}); };

  switch (cmd) {
  case 0x03:
    if (data.empty())
      return reply("\x03" + EncodeFrequency(Frequency()));
    return ng();
  case 0x04:
    if (data.empty())
      return reply("\x04" + modeBytes());
    return ng();
  case 0x00: // transfer frequency / mode: taken without an answer
  case 0x05: {
    const int64_t hz = DecodeFrequency(data);
    const bool accepted = hz >= 0 && SetFrequencyFromCat(hz);
    if (cmd == 0x05)
      accepted ? ok() : ng();
    return;
  }
  case 0x01:
  case 0x06: {
    bool accepted = false;
    if (data.size() == 1)
      accepted = SetModeFromCat(static_cast<unsigned char>(data[0]));
    else if (data.size() == 2 && data[1] >= 1 && data[1] <= 3)
      accepted = SetModeFromCat(static_cast<unsigned char>(data[0]), data[1]);
    if (cmd == 0x06)
      accepted ? ok() : ng();
    return;
  }
  case 0x07: // VFO mode, VFO A/B, equalise, exchange
    if (data.empty() || (data.size() == 1 && (data == "\x00"s || data == "\x01"s ||
                                              at(i + 3) == 0xA0 || at(i + 3) == 0xB0))) {
      if (data.size() == 1)
        FVfoBSelected = data[0] == 1;
      return ok();
    }
    return ng();
  case 0x15: // meters: S-meter reads zero
    if (data.size() == 1 && data[0] == 0x02)
      return reply(Bytes({0x15, 0x02, 0x00, 0x00}));
    return ng();
  case 0x19: // transceiver ID
    if (data.size() == 1 && data[0] == 0x00)
      return reply(Bytes({0x19, 0x00, FAddress}));
    return ng();
  case 0x1C: // transmit state
    if (data.size() == 1 && data[0] == 0x00)
      return reply(Bytes({0x1C, 0x00, 0x00}));
    if (data.size() == 2 && data[0] == 0x00)
      return ok();
    return ng();
  default:
    break;
  }

  if (FIs7300) {
    if (cmd == 0x1A && !data.empty() && data[0] == 0x06) { // data mode
      if (FDataFlagRefused)
        return ng();
      if (data.size() == 1)
        return reply(Bytes({0x1A, 0x06, ModeData() ? 1 : 0, ModeData() ? ModeFilter() : 0}));
      if (data.size() == 3 && SetModeFromCat(ModeCode(), data[2] ? data[2] : -1, data[1] != 0))
        return ok();
      return ng();
    }
    if (cmd == 0x25 && !data.empty() && (data[0] == 0 || data[0] == 1)) { // VFO frequency
      const bool other = data[0] == 1;
      if (data.size() == 1)
        return reply(data.substr(0, 1).insert(0, "\x25") +
                     EncodeFrequency(other ? FVfoB : Frequency()));
      const int64_t hz = DecodeFrequency(data.substr(1));
      if (hz < 0 || hz > MaxFrequency())
        return ng();
      if (other)
        FVfoB = hz;
      else
        SetFrequencyFromCat(hz);
      return ok();
    }
    if (cmd == 0x26 && !data.empty() && data[0] == 0) { // VFO mode, data flag, filter
      if (data.size() == 1)
        return reply(Bytes({0x26, 0x00, ModeCode(), ModeData() ? 1 : 0, ModeFilter()}));
      if (data.size() == 4 && data[3] >= 1 && data[3] <= 3 &&
          SetModeFromCat(static_cast<unsigned char>(data[1]), data[3], data[2] != 0))
        return ok();
      return ng();
    }
  }
  ng();
}

void TIcomRadio::OperatorChanged(bool frequency) {
  if (!Transceive())
    return;
  if (frequency)
    Send(Frame(Broadcast, "\x00"s + EncodeFrequency(Frequency())));
  else
    Send(Frame(Broadcast, Bytes({0x01, ModeCode(), ModeFilter()})));
}

bool TIcomRadio::EmitForeign(const std::string& what) {
  if (what.empty() || what == "freq")
    Send(Frame(ForeignController, "\x03" + EncodeFrequency(Frequency())));
  else if (what == "mode")
    Send(Frame(ForeignController, Bytes({0x04, ModeCode(), ModeFilter()})));
  else
    return false;
  return true;
}

} // namespace vela::radiosim
