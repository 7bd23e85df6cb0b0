#include "cat/radios/untRadioCATinterface.h"

#include <utility>

#include "cat/radios/untBandPlan.h"
#include "cat/radios/untRadioTable.h"

namespace vela {

bool AllDecimalDigits(std::string_view Text) {
  return Text.find_first_not_of("0123456789") == std::string_view::npos;
}

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
                                       TRadioType ARadio, TRadioPortSource ARadioPortSource)
    : TCATInterface(AOwner, ASettings, ARadioPortSource), FModel(FindRadioModel(ARadio)) {
  RecordRadioType(ARadio);
}

std::string TRadioCATInterface::NativeForPageMode(std::string_view Mode) const {
  struct TPageNative {
    const char* Page;
    const char* Native;
  };
  static constexpr TPageNative PageNatives[] = {
      {ModeLSB, "LSB"}, {ModeUSB, "USB"}, {ModeCW, "CW"}, {ModeAM, "AM"}, {ModeFM, "FM"},
  };
  for (const TPageNative& Entry : PageNatives)
    if (Mode == Entry.Page)
      return Entry.Native;
  if (Mode == ModeDigi && FModel)
    return DigiMeansData() ? FModel->DigiDataMode : FModel->DigiRTTYMode;
  return {};
}

bool TRadioCATInterface::DigiMeansData() const {
  return FSettings->DigiMode() == dmData;
}

void TRadioCATInterface::SetMode(std::string AMode) {
  const std::string Native = NativeForPageMode(AMode);
  std::string Command;
  if (!Native.empty() && BuildModeCommand(Native, true, Command))
    FModeCommand = std::move(Command);
}

bool TRadioCATInterface::TuneNativeMode(const std::string& Mode) {
  std::string Command;
  if (!BuildModeCommand(Mode, false, Command))
    return false;
  FModeCommand = std::move(Command);
  return true;
}

bool TRadioCATInterface::TuneHz(std::int64_t Hz) {
  std::string Command;
  if (Hz <= 0 || !BuildFrequencyCommand(Hz, Command))
    return false;
  FFrequencyCommand = std::move(Command);
  return true;
}

bool TRadioCATInterface::SetPTT(bool On) {
  std::string Command = BuildPTTCommand(On);
  if (Command.empty())
    return false;
  FPTTRelease = BuildPTTCommand(false);
  FPTTCommand = std::move(Command);
  FPTT = On;
  FPTTKeyed = FPTTKeyed || On;
  UrgeWorker();
  return true;
}

void TRadioCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  ChooseCommand(Command);
}

bool TRadioCATInterface::UpdateFrequency(const std::string& Text,
                                         std::optional<std::int32_t> Count) {
  if (Text == FFrequency)
    return false;
  FFrequency = Text;
  FBand = Count ? BandForFrequency(*Count) : std::string();
  return true;
}

bool TRadioCATInterface::UpdateMode(const std::string& Mode) {
  if (Mode == FMode)
    return false;
  FMode = Mode;
  return true;
}

void TRadioCATInterface::RaiseIfChanged(bool Changed) {
  // While a tune command from the log page waits, the page keeps the
  // operator's values: changes are stored but not reported.
  if (Changed && FFrequencyCommand.empty() && FModeCommand.empty() && FOnRxData.Assigned())
    FOnRxData(this, FBand, FFrequency, FMode);
}

void TRadioCATInterface::ReportValues(const TReplyValues& Values) {
  if (Values.Hz)
    FFrequencyHz = *Values.Hz;
  if (Values.NativeMode)
    FNativeMode = *Values.NativeMode;
  bool Changed = false;
  if (Values.Frequency)
    Changed = UpdateFrequency(*Values.Frequency, Values.Count);
  if (Values.Mode)
    Changed = UpdateMode(*Values.Mode) || Changed;
  RaiseIfChanged(Changed);
}

TCommandKind TRadioCATInterface::ChooseCommand(std::string& Command) {
  if (!FPTTCommand.empty()) {
    Command = TakePTTCommand();
    return TCommandKind::ckPTT;
  }
  if (!FFrequencyCommand.empty()) {
    Command = std::move(FFrequencyCommand);
    FFrequencyCommand.clear();
    return TCommandKind::ckFrequency;
  }
  if (!FModeCommand.empty()) {
    Command = std::move(FModeCommand);
    FModeCommand.clear();
    return TCommandKind::ckMode;
  }
  Command = FPollCommand;
  return TCommandKind::ckPoll;
}

} // namespace vela
