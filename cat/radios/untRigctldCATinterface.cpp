#include "cat/radios/untRigctldCATinterface.h"

#include "cat/radios/untModeNames.h"

#include <algorithm>
#include <memory>

#include "cat/radios/untBandPlan.h"
#include "cat/transport/untTcpPort.h"

namespace vela {

namespace {

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
// "+F <Hz>"; "+M <mode> 0": passband 0 is the radio's normal one for the mode.
const char* const SetFrequencyPrefix = "+F ";
const char* const SetModePrefix = "+M ";
const char* const SetModeSuffix = " 0\n";

// Hertz a frequency count can carry (32 bits of 100 Hz), and the longest
// mode name read.
constexpr std::int64_t MaxHz = std::int64_t{2147483647} * 100;
constexpr std::size_t MaxModeName = 12;

// The modes "+M" may name.
constexpr const char* SetModeNames[] = {
    NativeLSB, NativeUSB,  NativeCW,    NativeCWR,    NativeAM,     NativeSAM,  NativeFM,
    NativeWFM, NativeRTTY, NativeRTTYR, NativePKTUSB, NativePKTLSB, NativePKTFM};

bool IsModeName(std::string_view Name) {
  return !Name.empty() && Name.size() <= MaxModeName &&
         std::all_of(Name.begin(), Name.end(),
                     [](char C) { return (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9'); });
}

// Command names are lower case ("get_freq"); value keys are not ("Passband").
bool IsCommandName(std::string_view Name) {
  return !Name.empty() && std::all_of(Name.begin(), Name.end(),
                                      [](char C) { return (C >= 'a' && C <= 'z') || C == '_'; });
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

// Any radio the daemon serves, over TCP.
constinit const TRadioModel TRigctldCATInterface::RadioModel{
    .Radio = rtRigctld,
    .DisplayName = "Hamlib rigctld (network)",
    .Name = "rigctld",
    .Create = MakeDriver<TRigctldCATInterface>,
    .DefaultCIVAddress = 0,
    .HasDataMode = true,
    .ResolutionHz = 1,
    .DigiRTTYMode = NativeRTTY,
    .DigiDataMode = NativePKTUSB,
    .NativeModes = &TRigctldCATInterface::NativeModes,
    .LowHz = 30000,
    .HighHz = 1300000000,
    .Binary = false};

TRigctldCATInterface::TRigctldCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings)
    : TRadioCATInterface(AOwner, ASettings, RadioModel, &RigctldPortFactory) {
  FPollCommand = PollBoth;
}

TNativeModeList TRigctldCATInterface::NativeModes() {
  return SetModeNames;
}

void TRigctldCATInterface::ResetState() {
  FRxBuffer.clear();
  FAnswerOf.clear();
  FAnswer = TReplyValues();
  FPoll = TReplyValues();
  FFrequencyAnswered = FModeAnswered = FPollWasBoth = false;
  FOneCommandPolls = false;
  FAskModeNext = false;
  FFrequencyResult = 0;
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
    if (FAnswerOf == AnswerGetFrequency &&
        ParseHertz(Line.substr(KeyFrequency.size()), MaxHz, Hz)) {
      FAnswer.Hz = Hz;
    }
    return;
  }
  if (Line.starts_with(KeyMode)) {
    const std::string_view Name = Line.substr(KeyMode.size());
    if (FAnswerOf == AnswerGetMode && IsModeName(Name)) {
      // A mode outside the page's names is shown as the daemon names it.
      FAnswer.NativeMode = std::string(Name);
    }
    return;
  }
  // A line that names a command ("get_freq:", "set_mode: USB 0") starts an
  // answer; values are taken only inside the answers they belong to, so
  // stray lines never pass for a value.
  const std::size_t Colon = Line.find(':');
  if (Colon != std::string_view::npos && IsCommandName(Line.substr(0, Colon))) {
    FAnswerOf = std::string(Line.substr(0, Colon + 1));
    FAnswer = TReplyValues();
  }
}

void TRigctldCATInterface::EndAnswer(int Result) {
  const bool OfFrequency = FAnswerOf == AnswerGetFrequency;
  const bool OfMode = FAnswerOf == AnswerGetMode;
  FFrequencyAnswered = FFrequencyAnswered || OfFrequency;
  FModeAnswered = FModeAnswered || OfMode;
  if (OfFrequency || OfMode)
    FLastResult = Result;
  if (OfFrequency)
    FFrequencyResult = Result;
  // A refused command ("RPRT -11" to the mode) carries no value, and a value
  // that came with an error code is not trusted.
  if (Result == 0 && FAnswer.Hz)
    FPoll.Hz = FAnswer.Hz;
  if (Result == 0 && FAnswer.NativeMode)
    FPoll.NativeMode = FAnswer.NativeMode;
  FAnswerOf.clear();
  FAnswer = TReplyValues();
  // The mode answer ends a poll; a change of both values is one report.
  if (OfMode || (OfFrequency && FOneCommandPolls))
    ReportPoll();
}

void TRigctldCATInterface::ReportPoll() {
  TReplyValues Values = std::move(FPoll);
  FPoll = TReplyValues();
  // A mode without any frequency yet (the frequency answer was lost) would
  // empty the page's frequency; the next poll brings both.
  if (Values.Hz || (Values.NativeMode && !FFrequency.empty()))
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

std::string TRigctldCATInterface::RadioNote() const {
  if (FFrequencyResult >= 0)
    return TRadioCATInterface::RadioNote();
  // The daemon's error codes the operator can act on.
  static constexpr struct {
    int Code;
    const char* Meaning;
  } Meanings[] = {{-5, "timed out: is the radio on and its serial set-up right?"},
                  {-6, "I/O error: is the radio's port right?"},
                  {-8, "protocol error: is rigctld's model number right?"}};
  std::string Text = "rigctld answers RPRT " + std::to_string(FFrequencyResult);
  for (const auto& Entry : Meanings)
    if (Entry.Code == FFrequencyResult)
      Text += std::string(" (") + Entry.Meaning + ")";
  return Text;
}

bool TRigctldCATInterface::TakesHz(std::int64_t Hz) const {
  return Hz > 0 && Hz <= MaxHz;
}

bool TRigctldCATInterface::BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const {
  if (Hz <= 0 || Hz > MaxHz)
    return false;
  Command = SetFrequencyPrefix + std::to_string(Hz) + "\n";
  return true;
}

bool TRigctldCATInterface::BuildModeCommand(const std::string& Native, bool FromPage,
                                            std::string& Command) const {
  (void)FromPage;
  // Only names of the list above go out: anything else could carry a second
  // command in its characters.
  for (const char* Mode : SetModeNames)
    if (Native == Mode) {
      Command = SetModePrefix + Native + SetModeSuffix;
      return true;
    }
  return false;
}

void TRigctldCATInterface::SetFrequency(std::string AFrequency) {
  std::string Megahertz, Fraction;
  if (!SplitFrequencyText(AFrequency, 6, Megahertz, Fraction) || Megahertz.size() > 6)
    return;
  std::int64_t Hz = 0;
  for (const char C : Megahertz + Fraction)
    Hz = Hz * 10 + (C - '0');
  TuneHz(Hz);
}

} // namespace vela
