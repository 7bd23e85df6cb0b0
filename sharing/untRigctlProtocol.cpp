#include "sharing/untRigctlProtocol.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "cat/radios/untModeNames.h"
#include "platform/untStrToInt.h"
#include "platform/untText.h"

namespace vela {

namespace {

struct TCommandInfo {
  char Short; // 0: long name only
  const char* Long;
  TRigctlCommand Command;
  std::size_t ArgCount;
  // The labels of a get command's values in the extended answer.
  std::array<const char*, 2> Labels;
};

constexpr std::array<TCommandInfo, 16> Commands{{
    {'f', "get_freq", TRigctlCommand::rcGetFreq, 0, {"Frequency", nullptr}},
    {'F', "set_freq", TRigctlCommand::rcSetFreq, 1, {}},
    {'m', "get_mode", TRigctlCommand::rcGetMode, 0, {"Mode", "Passband"}},
    {'M', "set_mode", TRigctlCommand::rcSetMode, 2, {}},
    {'v', "get_vfo", TRigctlCommand::rcGetVfo, 0, {"VFO", nullptr}},
    {'V', "set_vfo", TRigctlCommand::rcSetVfo, 1, {}},
    {'t', "get_ptt", TRigctlCommand::rcGetPtt, 0, {"PTT", nullptr}},
    {'T', "set_ptt", TRigctlCommand::rcSetPtt, 1, {}},
    {'s', "get_split_vfo", TRigctlCommand::rcGetSplitVfo, 0, {"Split", "TX VFO"}},
    {'S', "set_split_vfo", TRigctlCommand::rcSetSplitVfo, 2, {}},
    {0, "chk_vfo", TRigctlCommand::rcChkVfo, 0, {"ChkVFO", nullptr}},
    {0, "get_powerstat", TRigctlCommand::rcGetPowerstat, 0, {"Power Status", nullptr}},
    {0, "get_lock_mode", TRigctlCommand::rcGetLockMode, 0, {"Locked", nullptr}},
    {0, "dump_state", TRigctlCommand::rcDumpState, 0, {}},
    {'q', "quit", TRigctlCommand::rcQuit, 0, {}},
    {'Q', "quit", TRigctlCommand::rcQuit, 0, {}},
}};

// The blanks a client may put between and around words (a line may end
// with "\r\n").
constexpr std::string_view LineBlanks = " \t\r\v\f";

bool IsBlank(char C) {
  return LineBlanks.find(C) != std::string_view::npos;
}

// The next blank-separated word of Text, removed from it.
std::string_view TakeWord(std::string_view& Text) {
  Text = Trim(Text, LineBlanks);
  std::size_t End = 0;
  while (End < Text.size() && !IsBlank(Text[End]))
    ++End;
  const std::string_view Word = Text.substr(0, End);
  Text.remove_prefix(End);
  return Word;
}

const TCommandInfo* FindCommand(std::string_view Word) {
  for (const TCommandInfo& Info : Commands) {
    if (Word.size() == 2 && Word[0] == '\\' && Info.Short && Word[1] == Info.Short)
      return &Info; // "\f" names "f" too
    if (Word.size() == 1 && Word[0] == Info.Short)
      return &Info;
    if (Word.size() > 1 && Word[0] == '\\' && Word.substr(1) == Info.Long)
      return &Info;
  }
  return nullptr;
}

const TCommandInfo* InfoFor(TRigctlCommand Command) {
  for (const TCommandInfo& Info : Commands)
    if (Info.Command == Command)
      return &Info;
  return nullptr;
}

std::string Hex(std::uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof Text, "0x%" PRIx64, Value);
  return Text;
}

} // namespace

bool TRigctlLineReader::Feed(std::string_view Data, std::vector<std::string>& Lines) {
  while (!Data.empty()) {
    const std::size_t End = Data.find('\n');
    const std::string_view Part = Data.substr(0, End);
    if (FBuffer.size() + Part.size() > FMaxLine) {
      FBuffer.clear();
      return false;
    }
    FBuffer.append(Part);
    if (End == std::string_view::npos)
      break;
    if (!FBuffer.empty() && FBuffer.back() == '\r')
      FBuffer.pop_back();
    Lines.push_back(std::move(FBuffer));
    FBuffer.clear();
    Data.remove_prefix(End + 1);
  }
  return true;
}

bool ParseRigctlRequest(std::string_view Line, TRigctlRequest& Request) {
  Request = TRigctlRequest{};
  std::string_view Rest = Trim(Line, LineBlanks);
  if (Rest.empty())
    return false;
  switch (Rest.front()) {
  case '+':
    Request.Separator = '\n';
    Rest.remove_prefix(1);
    break;
  case ';':
  case '|':
  case ',':
    Request.Separator = Rest.front();
    Rest.remove_prefix(1);
    break;
  default:
    break;
  }
  const std::string_view Word = TakeWord(Rest);
  if (Word.empty())
    return false;
  const TCommandInfo* Info = FindCommand(Word);
  if (!Info) {
    Request.Name = std::string(Word);
    return true;
  }
  Request.Command = Info->Command;
  Request.Name = Info->Long;
  for (std::string_view Arg = TakeWord(Rest); !Arg.empty(); Arg = TakeWord(Rest))
    Request.Args.emplace_back(Arg);
  return true;
}

bool RigctlArgsComplete(const TRigctlRequest& Request) {
  const TCommandInfo* Info = InfoFor(Request.Command);
  return Info && Request.Args.size() >= Info->ArgCount;
}

std::string FormatRigctlReply(const TRigctlRequest& Request, const TRigctlReply& Reply) {
  const TCommandInfo* Info = InfoFor(Request.Command);
  const std::string Result = "RPRT " + std::to_string(Reply.Result) + "\n";
  if (!Info)
    return "RPRT " + std::to_string(RigctlNotImplemented) + "\n";
  const bool IsGet = Info->Labels[0] || Info->Command == TRigctlCommand::rcDumpState;
  if (!Request.Extended()) {
    if (!IsGet || Reply.Result != RigctlOK)
      return Result;
    std::string Out;
    for (const std::string& Value : Reply.Values) {
      Out += Value;
      if (Out.empty() || Out.back() != '\n')
        Out += '\n';
    }
    return Out;
  }
  const char Sep = Request.Separator;
  std::string Out = Request.Name + ":";
  for (const std::string& Arg : Request.Args)
    Out += " " + Arg;
  Out += Sep;
  if (Reply.Result == RigctlOK)
    for (std::size_t I = 0; I < Reply.Values.size(); ++I) {
      const char* Label = I < Info->Labels.size() ? Info->Labels[I] : nullptr;
      Out += Label ? std::string(Label) + ": " + Reply.Values[I] + Sep : Reply.Values[I];
    }
  return Out + Result;
}

bool ParseRigctlHz(std::string_view Text, std::int64_t& Hz) {
  constexpr std::int64_t Limit = 1'000'000'000'000; // 1 THz
  Text = Trim(Text, LineBlanks);
  if (!Text.empty() && Text.front() == '+')
    Text.remove_prefix(1);
  return ParseHertz(Text, Limit, Hz);
}

std::uint64_t RigctlModeBit(std::string_view Mode) {
  const TModeRow* Row = FindNativeModeRow(Mode);
  return Row ? Row->RigctlBit : 0;
}

std::int32_t RigctlNormalPassband(std::string_view Mode) {
  const TModeRow* Row = FindNativeModeRow(Mode);
  return Row && Row->RigctlBit ? Row->Passband : 0;
}

std::string FormatRigctlDumpState(const TRigctlRadioFacts& Facts) {
  std::uint64_t ModeSet = 0;
  for (const std::string& Mode : Facts.Modes)
    ModeSet |= RigctlModeBit(Mode);
  const std::string Range = std::to_string(Facts.LowHz) + ".000000 " +
                            std::to_string(Facts.HighHz) + ".000000 " + Hex(ModeSet);
  const std::string RangeEnd = "0 0 0 0 0 0 0\n";
  std::string Out;
  Out += "1\n";                            // protocol version
  Out += "2\n";                            // rig model: the network model
  Out += "0\n";                            // ITU region
  Out += Range + " -1 -1 0x1 0x1\n";       // receive: no power, VFO A, antenna 1
  Out += RangeEnd;                         //
  Out += Range + " 1000 100000 0x1 0x1\n"; // transmit: 1 W to 100 W
  Out += RangeEnd;
  Out += Hex(ModeSet) + " " + std::to_string(Facts.StepHz) + "\n"; // tuning steps
  Out += "0 0\n";
  // Filters: each mode's usual passband, the first of its kind being the
  // "normal" one a client asks for with 0.
  for (const TModeRow& Row : ModeRows())
    if (ModeSet & Row.RigctlBit)
      Out += Hex(Row.RigctlBit) + " " + std::to_string(Row.Passband) + "\n";
  Out += "0 0\n";
  Out += "0\n0\n0\n0\n"; // max RIT, max XIT, max IF shift, announces
  Out += "0 \n0 \n";     // no preamplifiers, no attenuators
  // No functions, levels or parameters to get or set.
  Out += "0x0\n0x0\n0x0\n0x0\n0x0\n0x0\n";
  Out += "vfo_ops=0x0\n";
  Out += std::string("ptt_type=") + (Facts.CanKey ? "0x1" : "0x0") + "\n";
  Out += "targetable_vfo=0x0\n";
  Out += "has_set_vfo=1\nhas_get_vfo=1\nhas_set_freq=1\nhas_get_freq=1\n";
  Out += "has_set_conf=0\nhas_get_conf=0\nhas_power2mW=0\nhas_mW2power=0\n";
  Out += "timeout=0\n";
  Out += "done\n";
  return Out;
}

} // namespace vela
