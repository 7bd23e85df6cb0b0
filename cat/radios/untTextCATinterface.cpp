#include "cat/radios/untTextCATinterface.h"

#include <cstring>

#include "cat/radios/untBandPlan.h"

namespace vela {

TTextCATInterface::TTextCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                     const TTextProtocol& AProtocol)
    : TRadioCATInterface(AOwner, ASettings, *AProtocol.Model), FProtocol(AProtocol) {
  FPollCommand = FProtocol.PollCommand;
}

void TTextCATInterface::ResetState() {
  FRxBuffer.clear();
}

void TTextCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender, (void)Count;
  TakeMessages(FRxBuffer, Data, ';', [this](std::string_view Message) { HandleMessage(Message); });
}

void TTextCATInterface::HandleMessage(std::string_view Message) {
  if (FProtocol.PTTRead) {
    // "TX0": the read's name without its ";", then the state.
    const std::string_view Name =
        std::string_view(FProtocol.PTTRead).substr(0, std::strlen(FProtocol.PTTRead) - 1);
    if (Message.size() == Name.size() + 1 && Message.starts_with(Name)) {
      NoteTransmitting(Message.back() != '0');
      return;
    }
  }
  const std::string_view Marker = FProtocol.StatusMarker;
  // A reply cut short (a restart, noise) runs into the next one up to its
  // ";"; the last marker starts the complete reply.
  const std::size_t At = Message.rfind(Marker);
  if (At == std::string_view::npos)
    return; // an answer to some other command
  const std::string_view R = Message.substr(At + Marker.size());

  TReplyValues Values;
  if (R.size() >= FProtocol.FrequencyMinLength) {
    const std::string_view Digits = R.substr(FProtocol.FrequencyOffset, FProtocol.FrequencyDigits);
    const std::string_view HzText = R.substr(FProtocol.FrequencyOffset, FProtocol.HzDigits);
    std::int64_t Hz = 0;
    std::int32_t Count = 0;
    if (HzText.size() == FProtocol.HzDigits && TryDigitsToInt(HzText, FProtocol.HzDigits, Hz))
      Values.Hz = Hz;
    else if (DigitsToCount(Digits, Count))
      Values.Hz = std::int64_t{Count} * 100; // only the count's digits are digits
    else
      Values.FrequencyWord = FrequencyTextFromDigits(Digits); // shown as it came
  }
  if (R.size() >= FProtocol.ModeMinLength) {
    const std::string_view Code = R.substr(FProtocol.ModeOffset, FProtocol.ModeLength);
    // An unlisted code is shown as the radio sent it.
    Values.ModeWord = std::string(Code);
    Values.NativeMode = std::string();
    for (const TModeCode& Entry : FProtocol.ReplyModes)
      if (Code == Entry.Code) {
        Values.NativeMode = Entry.Native ? Entry.Native : "";
        Values.ModeWord = Entry.Word ? Entry.Word : "";
        break;
      }
  }
  ReportValues(Values);
}

void TTextCATInterface::SetFrequency(std::string AFrequency) {
  std::string Megahertz, Fraction;
  // Only digits go into the command: any other character (a second dot, a
  // ";") would make the radio read another value or another command.
  if (!SplitFrequencyText(AFrequency, FProtocol.FractionWidth, Megahertz, Fraction))
    return;
  if (Megahertz.size() < FProtocol.MegahertzWidth)
    Megahertz.insert(0, FProtocol.MegahertzWidth - Megahertz.size(), '0');
  QueueFrequencyCommand(FProtocol.SetFrequencyPrefix + Megahertz + Fraction + ";");
}

bool TTextCATInterface::BuildModeCommand(const std::string& Native, bool /*FromPage*/,
                                         std::string& Command) const {
  const TSetCode* Entry = FindNativeMode(FProtocol.SetModes, Native);
  if (!Entry)
    return false;
  Command = std::string(FProtocol.SetModePrefix) + Entry->Code + ";";
  return true;
}

std::string TTextCATInterface::BuildPTTCommand(bool On) const {
  return On ? FProtocol.PTTOn : FProtocol.PTTOff;
}

std::string TTextCATInterface::BuildTransmitReadCommand() const {
  return FProtocol.PTTRead ? FProtocol.PTTRead : "";
}

bool TTextCATInterface::BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const {
  std::string Digits = std::to_string(Hz);
  const std::size_t Width = FProtocol.MegahertzWidth + FProtocol.FractionWidth;
  if (Hz < 0 || Digits.size() > Width)
    return false;
  Digits.insert(0, Width - Digits.size(), '0');
  Command = FProtocol.SetFrequencyPrefix + Digits + ";";
  return true;
}

} // namespace vela
