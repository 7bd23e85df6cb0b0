// The two text-protocol radios: the Flex (extended "ZZ" commands plus the older
// two-letter set) and the FT-950.
#include "tools/radiosim/untRadioSim.h"

#include <cstdio>
#include <map>

#include "platform/untStrToInt.h"

namespace vela::radiosim {

namespace {

// Longest command a text radio buffers while waiting for ";": anything longer
// is noise and is thrown away.
constexpr size_t MaxTextCommand = 64;

std::string Digits(int64_t value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(value));
  return buf;
}

} // namespace

void TTextRadio::Feed(const std::string& bytes) {
  for (char c : bytes) {
    if (c == ';') {
      std::string command = std::move(FBuffer);
      FBuffer.clear();
      LogCommand(command + ";");
      Handle(command);
    } else if (c == '\r' || c == '\n') {
      // Line ends from terminal programs are not part of any command.
    } else if (FBuffer.size() < MaxTextCommand) {
      FBuffer += c;
    } else {
      FBuffer.clear();
    }
  }
}

// --- Flex --------------------------------------------------------------------------

TFlexRadio::TFlexRadio()
    : TTextRadio({{"lsb", 0, 0, false},
                  {"usb", 1, 0, false},
                  {"dsb", 2, 0, false},
                  {"cwr", 3, 0, false},
                  {"cw", 4, 0, false},
                  {"fm", 5, 0, false},
                  {"am", 6, 0, false},
                  {"digi", 7, 0, false},
                  {"spectrum", 8, 0, false},
                  {"digi-l", 9, 0, false},
                  {"sam", 10, 0, false},
                  {"drm", 11, 0, false}},
                 99999999999LL) {}

// The two-letter "MD" command uses the older single-digit codes.
int TFlexRadio::KenwoodCode() const {
  static const int map[12] = {1, 2, 5, 7, 3, 4, 5, 9, 2, 6, 5, 9};
  int code = ModeCode();
  return (code >= 0 && code < 12) ? map[code] : 2;
}

std::string TFlexRadio::ZZIFReply() const {
  // Frequency (11), step (4), offset (6), RIT, XIT, bank, channel (2), TX/RX,
  // mode (2), VFO, scan, split, tone, tone number (2), shift.
  return "ZZIF" + Digits(Frequency(), 11) + "0000" + "+00000" + "000" + "00" + "0" +
         Digits(ModeCode(), 2) + "0" + "0" + "0" + "0" + "00" + "0" + ";";
}

std::string TFlexRadio::IFReply() const {
  // Same fields with a one-digit mode: 38 characters with "IF" and ";".
  return "IF" + Digits(Frequency(), 11) + "0000" + "+00000" + "000" + "00" + "0" +
         std::to_string(KenwoodCode()) + "0" + "0" + "0" + "0" + "00" + "0" + ";";
}

// Read or set VFO A or B: the extended and the short command forms alike,
// eleven digits in hertz.
void TFlexRadio::HandleVfo(const std::string& name, const std::string& param, bool vfoA) {
  if (param.empty())
    return Reply(name + Digits(vfoA ? Frequency() : FVfoB, 11) + ";");
  int64_t hz = 0;
  if (param.size() != 11 || !TryDigitsToInt(param, 11, hz))
    return Refuse();
  if (vfoA)
    SetFrequencyFromCat(hz);
  else
    FVfoB = hz;
}

void TFlexRadio::Handle(const std::string& command) {
  if (command.size() >= 4 && command.compare(0, 2, "ZZ") == 0) {
    const std::string name = command.substr(0, 4);
    const std::string param = command.substr(4);
    if (name == "ZZIF" && param.empty())
      return Reply(ZZIFReply());
    if (name == "ZZFA" || name == "ZZFB")
      return HandleVfo(name, param, name == "ZZFA");
    if (name == "ZZTX") {
      if (param.empty())
        return Reply(PTT() ? "ZZTX1;" : "ZZTX0;");
      if (param == "0" || param == "1")
        return SetPTTFromCat(param == "1");
      return Refuse();
    }
    if (name == "ZZMD") {
      if (param.empty())
        return Reply("ZZMD" + Digits(ModeCode(), 2) + ";");
      int64_t code = 0;
      if (param.size() == 2 && TryDigitsToInt(param, 2, code) &&
          SetModeFromCat(static_cast<int>(code)))
        return;
      return Refuse();
    }
    static const TFixed fixed[] = {{"ZZSW", "ZZSW0;", 1},
                                   {"ZZFI", "ZZFI00;", 2},
                                   {"ZZPS", "ZZPS1;", 1},
                                   {"ZZAI", "ZZAI0;", 1},
                                   {"ZZSP", "ZZSP0;", 1}};
    return AnswerFixed(fixed, name, param);
  }

  if (command.size() < 2)
    return Refuse();
  const std::string name = command.substr(0, 2);
  const std::string param = command.substr(2);
  if (name == "IF" && param.empty())
    return Reply(IFReply());
  if (name == "FA" || name == "FB")
    return HandleVfo(name, param, name == "FA");
  if (name == "MD") {
    if (param.empty())
      return Reply("MD" + std::to_string(KenwoodCode()) + ";");
    static const int toZZ[10] = {-1, 0, 1, 4, 5, 6, 9, 3, -1, 7};
    if (param.size() == 1 && AllDecimalDigits(param) && toZZ[param[0] - '0'] >= 0) {
      SetModeFromCat(toZZ[param[0] - '0']);
      return;
    }
    return Refuse();
  }
  static const TFixed fixed[] = {{"ID", "ID019;", 1}, {"AI", "AI0;", 1}, {"PS", "PS1;", 1},
                                 {"FR", "FR0;", 1},   {"FT", "FT0;", 1}, {"TX", "", 1},
                                 {"RX", "", 1}};
  AnswerFixed(fixed, name, param);
}

// Commands the simulator answers with a fixed reply, and whose set form (a
// number of SetWidth digits) it takes without effect; anything else is refused.
template <size_t N>
void TFlexRadio::AnswerFixed(const TFixed (&table)[N], const std::string& name,
                             const std::string& param) {
  for (const TFixed& f : table)
    if (name == f.Name) {
      if (param.empty())
        return Reply(f.Answer);
      if (param.size() == f.SetWidth && AllDecimalDigits(param))
        return;
      return Refuse();
    }
  Refuse();
}

// --- FT-950 ------------------------------------------------------------------------

TFT950Radio::TFT950Radio()
    : TTextRadio({{"lsb", 1, 0, false},
                  {"usb", 2, 0, false},
                  {"cw", 3, 0, false},
                  {"fm", 4, 0, false},
                  {"am", 5, 0, false},
                  {"rtty", 6, 0, false},
                  {"cwr", 7, 0, false},
                  {"pkt", 8, 0, false},
                  {"rtty-u", 9, 0, false},
                  {"pkt-fm", 10, 0, false},
                  {"fm-n", 11, 0, false},
                  {"digi", 12, 0, false},
                  {"am-n", 13, 0, false}},
                 99999999) {}

static char ModeChar(int code) {
  return "0123456789ABCDEF"[code & 15];
}

static int ModeCodeFromChar(char c) {
  if (c >= '1' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'D')
    return c - 'A' + 10;
  return -1;
}

std::string TFT950Radio::IFReply() const {
  // Memory channel (3), frequency (8), clarifier offset (5), RX and TX
  // clarifier, mode, VFO/memory, tone mode, tone number (2), shift.
  return std::string("IF") + "001" + Digits(Frequency(), 8) + "+0000" + "0" + "0" +
         ModeChar(ModeCode()) + "0" + "0" + "00" + "0" + ";";
}

void TFT950Radio::Handle(const std::string& command) {
  if (command.size() < 2)
    return Refuse();
  const std::string name = command.substr(0, 2);
  const std::string param = command.substr(2);
  if (name == "IF" && param.empty())
    return Reply(IFReply());
  if (name == "ID" && param.empty())
    return Reply("ID0310;");
  if (name == "FA" || name == "FB") {
    if (param.empty())
      return Reply(name + Digits(name == "FA" ? Frequency() : FVfoB, 8) + ";");
    int64_t hz = 0;
    if (param.size() == 8 && TryDigitsToInt(param, 8, hz)) {
      if (name == "FA")
        SetFrequencyFromCat(hz);
      else
        FVfoB = hz;
      return;
    }
    return Refuse();
  }
  if (name == "MD") {
    if (param == "0")
      return Reply(std::string("MD0") + ModeChar(ModeCode()) + ";");
    if (param.size() == 2 && param[0] == '0' && SetModeFromCat(ModeCodeFromChar(param[1])))
      return;
    return Refuse();
  }
  // One-digit switches: the query answers the setting, a digit sets it.
  struct TSwitch {
    const char* Name;
    char* Value;
  };
  char power = '1';
  char tx = PTT() ? '1' : '0';
  const TSwitch switches[] = {{"AI", &FAutoInfo}, {"VS", &FVfoSelect}, {"FT", &FTxVfo},
                              {"ST", &FSplit},    {"PS", &power},      {"TX", &tx}};
  for (const auto& s : switches)
    if (name == s.Name) {
      if (param.empty())
        return Reply(name + *s.Value + ";");
      if (param.size() == 1 && AllDecimalDigits(param)) {
        if (s.Value == &tx)
          SetPTTFromCat(param[0] != '0');
        else if (s.Value != &power)
          *s.Value = param[0];
        return;
      }
      return Refuse();
    }
  if (name == "SH") {
    if (param == "0")
      return Reply("SH0" + FWidth + ";");
    if (param.size() == 3 && param[0] == '0' && AllDecimalDigits(param)) {
      FWidth = param.substr(1);
      return;
    }
    return Refuse();
  }
  if (name == "NA") {
    if (param == "0")
      return Reply(std::string("NA0") + FNarrow + ";");
    if (param.size() == 2 && param[0] == '0' && (param[1] == '0' || param[1] == '1')) {
      FNarrow = param[1];
      return;
    }
    return Refuse();
  }
  if (name == "EX") { // menu items: read back what was set, "0" for untouched ones
    if (param.size() < 3 || param.size() > 12 || !AllDecimalDigits(param.substr(0, 3)))
      return Refuse();
    const std::string item = param.substr(0, 3);
    if (param.size() == 3) {
      auto it = FMenu.find(item);
      return Reply("EX" + item + (it == FMenu.end() ? std::string("0") : it->second) + ";");
    }
    FMenu[item] = param.substr(3);
    return;
  }
  // Band select and roofing filter: accepted, nothing to simulate.
  if ((name == "BS" && param.size() == 2) || (name == "RF" && param.size() == 2)) {
    if (AllDecimalDigits(param) || name == "RF")
      return;
    return Refuse();
  }
  if (name == "RI" && param.size() == 1 && AllDecimalDigits(param))
    return Reply("RI" + param + "0;");
  if (name == "RM" && param.size() == 1 && AllDecimalDigits(param))
    return Reply("RM" + param + "000;");
  if (name == "SM" && param == "0")
    return Reply("SM0000;");
  Refuse();
}

} // namespace vela::radiosim
