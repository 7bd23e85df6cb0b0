#include "cat/radios/untRigctldCATinterface.h"

#include <algorithm>
#include <array>
#include <memory>

#include "cat/radios/untBandPlan.h"
#include "cat/untTcpPort.h"

namespace vela {

namespace {

// The daemon's mode names against the page's mode names; a name outside the
// table is reported as the daemon spells it.
struct TNativeMode {
  const char* Native;
  const char* Text;
};
constexpr std::array<TNativeMode, 14> ReplyModes{{
    {"LSB", ModeLSB},
    {"USB", ModeUSB},
    {"CW", ModeCW},
    {"CWR", ModeCW},
    {"AM", ModeAM},
    {"SAM", ModeAM},
    {"FM", ModeFM},
    {"WFM", ModeFM},
    {"RTTY", ModeDigi},
    {"RTTYR", ModeDigi},
    {"PKTUSB", ModeDigi},
    {"PKTLSB", ModeDigi},
    {"PKTFM", ModeDigi},
    {"PKTAM", ModeDigi},
}};

// The page's mode names against the mode set; "Digi" is set as RTTY.
constexpr std::array<TNativeMode, 6> SetModes{{
    {"LSB", ModeLSB},
    {"USB", ModeUSB},
    {"CW", ModeCW},
    {"AM", ModeAM},
    {"FM", ModeFM},
    {"RTTY", ModeDigi},
}};

// Poll: both values in one write, or (for a daemon that answers one command
// per connection) one at a time.
const char* const PollBoth = "+f\n+m\n";
const char* const PollFrequency = "+f\n";
const char* const PollMode = "+m\n";
// The extended answers: a first line naming the command, value lines, and
// the result line.
const std::string_view AnswerGetFrequency = "get_freq:";
const std::string_view AnswerGetMode = "get_mode:";
const std::string_view KeyFrequency = "Frequency: ";
const std::string_view KeyMode = "Mode: ";
const std::string_view KeyResult = "RPRT ";
// "+M <mode> 0": passband 0 is the radio's normal one for the mode.
const char* const SetModeSuffix = " 0\n";

// Hertz a frequency count can carry (32 bits of 100 Hz), and the longest
// mode name read.
constexpr std::int64_t MaxHz = std::int64_t{2147483647} * 100;
constexpr std::size_t MaxModeName = 12;

// "7074000", optionally with a fraction ("7074000.000000"), which is dropped.
bool ParseHz(std::string_view Text, std::int64_t& Hz) {
  const std::size_t Dot = Text.find('.');
  const std::string_view Whole = Text.substr(0, Dot);
  if (Whole.empty() || Whole.size() > 12 || !AllDecimalDigits(Whole))
    return false;
  if (Dot != std::string_view::npos && !AllDecimalDigits(Text.substr(Dot + 1)))
    return false;
  std::int64_t Value = 0;
  for (const char C : Whole)
    Value = Value * 10 + (C - '0');
  if (Value > MaxHz)
    return false;
  Hz = Value;
  return true;
}

bool IsModeName(std::string_view Name) {
  return !Name.empty() && Name.size() <= MaxModeName &&
         std::all_of(Name.begin(), Name.end(),
                     [](char C) { return (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9'); });
}

bool ParseResult(std::string_view Text, int& Result) {
  std::int32_t Value = 0;
  if (Text.size() > 6 || !TryDecimalToInt(Text, Value))
    return false;
  Result = Value;
  return true;
}

std::function<std::unique_ptr<TComPort>()> RigctldPortFactory(TVelaLogSettings* ASettings) {
  return [Address = ASettings->strRigctldAddress()]() -> std::unique_ptr<TComPort> {
    auto Port = std::make_unique<TTcpPort>(nullptr, TRigctldCATInterface::DefaultPort);
    Port->setPort(Address);
    return Port;
  };
}

} // namespace

TRigctldCATInterface::TRigctldCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TRadioCATInterface(AOwner, ASettings, &RigctldPortFactory) {
  RecordRadioType(rtRigctld);
  FPollCommand = PollBoth;
}

void TRigctldCATInterface::ResetState() {
  FRxBuffer.clear();
  FAnswerOf.clear();
  FAnswer = TRigValues();
  FPoll = TRigValues();
  FFrequencyAnswered = FModeAnswered = FPollWasBoth = false;
  FOneCommandPolls = false;
  FAskModeNext = false;
}

void TRigctldCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender, (void)Count;
  TakeMessages(FRxBuffer, Data, '\n', [this](std::string_view Line) { HandleLine(Line); });
}

void TRigctldCATInterface::HandleLine(std::string_view Line) {
  if (!Line.empty() && Line.back() == '\r')
    Line.remove_suffix(1);
  if (Line.starts_with(KeyResult)) {
    int Result = 0;
    if (ParseResult(Line.substr(KeyResult.size()), Result))
      EndAnswer(Result);
    return;
  }
  if (Line.starts_with(KeyFrequency)) {
    std::int64_t Hz = 0;
    if (FAnswerOf == AnswerGetFrequency && ParseHz(Line.substr(KeyFrequency.size()), Hz)) {
      const auto Count = static_cast<std::int32_t>(Hz / 100);
      FAnswer.Page.Frequency = FrequencyText(Count);
      FAnswer.Page.Count = Count;
      FAnswer.Hz = Hz;
    }
    return;
  }
  if (Line.starts_with(KeyMode)) {
    const std::string_view Name = Line.substr(KeyMode.size());
    if (FAnswerOf == AnswerGetMode && IsModeName(Name)) {
      FAnswer.Page.Mode = std::string(Name);
      for (const TNativeMode& Entry : ReplyModes)
        if (Name == Entry.Native)
          FAnswer.Page.Mode = Entry.Text;
      FAnswer.Native = std::string(Name);
    }
    return;
  }
  // A line that names a command ("get_freq:", "set_mode: USB 0") starts an
  // answer; values are taken only inside the answers they belong to, so
  // stray lines never pass for a value.
  const std::size_t Colon = Line.find(':');
  if (Colon == std::string_view::npos || Colon == 0)
    return;
  const std::string_view Name = Line.substr(0, Colon);
  // Command names are lower case ("get_freq"); value keys are not ("Passband").
  if (std::all_of(Name.begin(), Name.end(),
                  [](char C) { return (C >= 'a' && C <= 'z') || C == '_'; })) {
    FAnswerOf = std::string(Line.substr(0, Colon + 1));
    FAnswer = TRigValues();
  }
}

void TRigctldCATInterface::EndAnswer(int Result) {
  const bool OfFrequency = FAnswerOf == AnswerGetFrequency;
  const bool OfMode = FAnswerOf == AnswerGetMode;
  FFrequencyAnswered = FFrequencyAnswered || OfFrequency;
  FModeAnswered = FModeAnswered || OfMode;
  if (OfFrequency || OfMode)
    FLastResult = Result;
  // A refused command ("RPRT -11" to the mode) carries no value, and a value
  // that came with an error code is not trusted.
  if (Result == 0 && FAnswer.Page.Frequency) {
    FPoll.Page.Frequency = FAnswer.Page.Frequency;
    FPoll.Page.Count = FAnswer.Page.Count;
    FPoll.Hz = FAnswer.Hz;
  }
  if (Result == 0 && FAnswer.Page.Mode) {
    FPoll.Page.Mode = FAnswer.Page.Mode;
    FPoll.Native = FAnswer.Native;
  }
  FAnswerOf.clear();
  FAnswer = TRigValues();
  // The mode answer ends a poll; a change of both values is one report.
  if (OfMode || (OfFrequency && FOneCommandPolls))
    ReportPoll();
}

void TRigctldCATInterface::ReportPoll() {
  // A mode without any frequency yet (the frequency answer was lost) would
  // empty the page's frequency; the next poll brings both.
  if (!FPoll.Page.Frequency && (!FPoll.Page.Mode || FFrequency.empty())) {
    FPoll = TRigValues();
    return;
  }
  if (FPoll.Page.Frequency)
    FFrequencyHz = FPoll.Hz;
  if (FPoll.Page.Mode)
    FNativeMode = FPoll.Native;
  const TReplyValues Values = std::move(FPoll.Page);
  FPoll = TRigValues();
  ReportValues(Values);
}

void TRigctldCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  if (ChooseCommand(Command) != TCommandKind::ckPoll)
    return;
  // What the last poll brought and no mode answer ended.
  ReportPoll();
  // A daemon that closes the connection after each command answers only the
  // first of two; from then on each poll asks one.
  if (FPollWasBoth && FFrequencyAnswered && !FModeAnswered)
    FOneCommandPolls = true;
  FFrequencyAnswered = FModeAnswered = false;
  FPollWasBoth = !FOneCommandPolls;
  if (FOneCommandPolls) {
    Command = FAskModeNext ? PollMode : PollFrequency;
    FAskModeNext = !FAskModeNext;
  }
}

std::string TRigctldCATInterface::SetFrequencyCommand(std::int64_t Hz) {
  if (Hz <= 0 || Hz > MaxHz)
    return {};
  return "+F " + std::to_string(Hz) + "\n";
}

void TRigctldCATInterface::SetFrequency(std::string AFrequency) {
  std::string Megahertz, Fraction;
  if (!SplitFrequencyText(AFrequency, 6, Megahertz, Fraction))
    return;
  if (Megahertz.size() > 6 || !AllDecimalDigits(Megahertz))
    return;
  std::int64_t Hz = 0;
  for (const char C : Megahertz + Fraction)
    Hz = Hz * 10 + (C - '0');
  const std::string Command = SetFrequencyCommand(Hz);
  if (!Command.empty())
    FFrequencyCommand = Command;
}

void TRigctldCATInterface::SetMode(std::string AMode) {
  for (const TNativeMode& Entry : SetModes)
    if (AMode == Entry.Text) {
      FModeCommand = std::string("+M ") + Entry.Native + SetModeSuffix;
      return;
    }
}

} // namespace vela
