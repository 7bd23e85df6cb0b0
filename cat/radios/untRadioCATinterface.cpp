#include "cat/radios/untRadioCATinterface.h"

#include <chrono>
#include <utility>

#include "cat/radios/untBandPlan.h"
#include "cat/radios/untRadioModel.h"

namespace vela {

bool SplitFrequencyText(std::string_view Text, std::size_t FractionDigits, std::string& Whole,
                        std::string& Fraction) {
  const std::size_t Dot = Text.find('.');
  if (Dot == std::string_view::npos)
    return false;
  std::string_view Digits = Text.substr(Dot + 1);
  if (!AllDecimalDigits(Text.substr(0, Dot)) || !AllDecimalDigits(Digits))
    return false;
  if (Digits.size() > FractionDigits) {
    if (Digits.find_first_not_of('0', FractionDigits) != std::string_view::npos)
      return false;
    Digits = Digits.substr(0, FractionDigits);
  }
  Whole = std::string(Text.substr(0, Dot));
  Fraction = std::string(Digits);
  Fraction.append(FractionDigits - Fraction.size(), '0');
  return true;
}

TRadioCATInterface::TRadioCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                       const TRadioModel& AModel, TRadioPortSource ARadioPortSource)
    : TCATInterface(AOwner, ASettings, ARadioPortSource), FModel(&AModel) {
  RecordRadioType(AModel.Radio);
  // Asked for before anything else can be: the worker's first request for
  // a command waits for the main thread, which is here.
  FStartReleasePending =
      TakeProgramStart() && FSettings->blnShareEnabled() && FSettings->blnShareAllowPTT();
  if (FStartReleasePending)
    UrgeWorker();
}

std::string TRadioCATInterface::NativeForPageMode(std::string_view Mode) const {
  return vela::NativeForPageMode(Mode, FSettings->DigiMode(), FModel);
}

bool TRadioCATInterface::DigiMeansData() const {
  return FSettings->DigiMode() == dmData;
}

void TRadioCATInterface::SetMode(std::string AMode) {
  const std::string Native = NativeForPageMode(AMode);
  std::string Command;
  if (!Native.empty() && BuildModeCommand(Native, true, Command))
    QueueModeCommand(std::move(Command));
}

bool TRadioCATInterface::TuneNativeMode(const std::string& Mode) {
  std::string Command;
  if (!BuildModeCommand(Mode, false, Command))
    return false;
  QueueModeCommand(std::move(Command));
  TellMode(Mode, {});
  return true;
}

bool TRadioCATInterface::TakesHz(std::int64_t Hz) const {
  if (Hz <= 0)
    return false;
  return !FModel || FModel->Receives(Hz);
}

bool TRadioCATInterface::TuneHz(std::int64_t Hz) {
  std::string Command;
  if (!TakesHz(Hz) || !BuildFrequencyCommand(Hz, Command))
    return false;
  QueueFrequencyCommand(std::move(Command));
  // Read back as the value the radio will then report.
  TellFrequency(TunedHz(Hz), {});
  return true;
}

bool TRadioCATInterface::SetPTT(bool On) {
  std::string Command = BuildPTTCommand(On);
  if (Command.empty())
    return false;
  FPTTRelease = BuildPTTCommand(false);
  FPTTCommand = std::move(Command);
  FPTTAsked = NextAsk();
  FPTT = On;
  FPTTKeyed = FPTTKeyed || On;
  UrgeWorker();
  return true;
}

void TRadioCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  ChooseCommand(Command);
}

bool TRadioCATInterface::UpdateFrequency(std::optional<std::int64_t> Hz, const std::string& Word) {
  FValue.Hz = Hz;
  FValue.FrequencyWord = Hz ? std::string() : Word;
  std::string Text = PageFrequencyText(FValue);
  // The band is classified only when the frequency's text changed.
  if (Text == FFrequency)
    return false;
  FFrequency = std::move(Text);
  FBand = PageBand(FValue);
  return true;
}

bool TRadioCATInterface::UpdateMode(const std::string& Native, const std::string& Word) {
  FValue.NativeMode = Native;
  FValue.ModeWord = Native.empty() ? Word : std::string();
  std::string Text = PageModeText(FValue);
  if (Text == FMode)
    return false;
  FMode = std::move(Text);
  return true;
}

void TRadioCATInterface::RaiseIfChanged(bool Changed) {
  // While a tune command from the log page waits, the page keeps the
  // operator's values: changes are stored but not reported.
  if (Changed && FFrequencyCommand.empty() && FModeCommand.empty() && FOnRxData.Assigned())
    FOnRxData(this, FValue);
}

void TRadioCATInterface::ReportValues(const TReplyValues& Values) {
  bool Changed = false;
  if (Values.Hz || Values.FrequencyWord)
    Changed = UpdateFrequency(Values.Hz, Values.FrequencyWord.value_or(std::string()));
  if (Values.NativeMode || Values.ModeWord)
    Changed = UpdateMode(Values.NativeMode.value_or(std::string()),
                         Values.ModeWord.value_or(std::string())) ||
              Changed;
  RaiseIfChanged(Changed);
}

void TRadioCATInterface::NoteTransmitting(bool Keyed) {
  if (FStartReleasePending && FStartReadAt)
    FStartKeyed = Keyed;
}

bool TRadioCATInterface::ChooseStartRelease(std::string& Command, TCommandKind& Kind) {
  // The program's start: a transmitter a crashed run left keyed is released
  // before anything else is sent, unless a PTT command already waits, which
  // says what is wanted. A radio that can tell is asked first, so that one
  // not keyed is sent nothing; one that does not answer is released anyway.
  if (!FPTTCommand.empty() || FPTT) {
    FStartReleasePending = false;
    return false;
  }
  const auto Now = std::chrono::steady_clock::now();
  if (!FStartReadAt) {
    const std::string Read = BuildTransmitReadCommand();
    if (!Read.empty()) {
      FStartReadAt = Now;
      NoteCommandIsNoRead(); // a radio without the command may say nothing
      Command = Read;
      Kind = TCommandKind::ckRead;
      return true;
    }
  } else if (!FStartKeyed && Now - *FStartReadAt < StartReadWait) {
    return false; // its answer is awaited; the polls go on meanwhile
  }
  FStartReleasePending = false;
  if (!FStartKeyed.value_or(true))
    return false;
  Command = TakeStartRelease(BuildPTTCommand(false), FStartKeyed.has_value());
  Kind = TCommandKind::ckPTT;
  return !Command.empty();
}

TCommandKind TRadioCATInterface::ChooseCommand(std::string& Command) {
  using TClock = std::chrono::steady_clock;
  SettleStartRelease();
  if (TCommandKind Kind; FStartReleasePending && ChooseStartRelease(Command, Kind))
    return Kind;
  // A release overtakes everything: releasing is always safe, and every
  // command before it would lengthen a transmission. A key must not
  // overtake a frequency or mode change asked before it, or the radio would
  // transmit on the old frequency and mode until the change arrives.
  const bool KeyWaits = !FPTTCommand.empty() && FPTT;
  if (!FPTTCommand.empty() && !FPTT) {
    Command = TakePTTCommand();
    return TCommandKind::ckPTT;
  }
  // The pending command asked for first goes first.
  enum class TNext { nNone, nKey, nFrequency, nMode } Next = TNext::nNone;
  std::uint64_t Oldest = 0;
  const auto Consider = [&](bool Pending, std::uint64_t Asked, TNext Which) {
    if (Pending && (Next == TNext::nNone || Asked < Oldest)) {
      Next = Which;
      Oldest = Asked;
    }
  };
  Consider(KeyWaits, FPTTAsked, TNext::nKey);
  Consider(!FFrequencyCommand.empty(), FFrequencyAsked, TNext::nFrequency);
  Consider(!FModeCommand.empty(), FModeAsked, TNext::nMode);
  // Set commands in a steady stream (a client tuning at a hundred requests
  // a second) still leave the polls a turn: the radio's values stay true and
  // its answers show the link alive.
  const auto Now = TClock::now();
  const bool PollDue = FSetRunSince && Now - *FSetRunSince >= PollTurn;
  if (Next != TNext::nNone && !PollDue && !FSetRunSince)
    FSetRunSince = Now;
  if (Next == TNext::nKey) {
    Command = TakePTTCommand();
    return TCommandKind::ckPTT;
  }
  if (Next == TNext::nFrequency && !PollDue) {
    NoteCommandIsNoRead();
    Command = std::exchange(FFrequencyCommand, std::string());
    return TCommandKind::ckFrequency;
  }
  if (Next == TNext::nMode && !PollDue) {
    NoteCommandIsNoRead();
    Command = std::exchange(FModeCommand, std::string());
    return TCommandKind::ckMode;
  }
  FSetRunSince.reset();
  Command = FPollCommand;
  return TCommandKind::ckPoll;
}

} // namespace vela
