#include "cat/radios/untTextCATinterface.h"

#include "cat/radios/untBandPlan.h"

namespace vela {

TTextCATInterface::TTextCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                     const TTextProtocol& AProtocol)
    : TRadioCATInterface(AOwner, ASettings), FProtocol(AProtocol) {
  RecordRadioType(FProtocol.Radio);
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
    Values.Frequency = FrequencyTextFromDigits(Digits);
    std::int32_t Count = 0;
    if (DigitsToCount(Digits, Count))
      Values.Count = Count;
  }
  if (R.size() >= FProtocol.ModeMinLength) {
    const std::string_view Code = R.substr(FProtocol.ModeOffset, FProtocol.ModeLength);
    Values.Mode = std::string(Code);
    for (const TModeCode& Entry : FProtocol.ReplyModes)
      if (Code == Entry.Code) {
        Values.Mode = Entry.Text;
        break;
      }
  }
  ReportValues(Values);
}

void TTextCATInterface::SetFrequency(std::string AFrequency) {
  std::string Megahertz, Fraction;
  if (!SplitFrequencyText(AFrequency, FProtocol.FractionWidth, Megahertz, Fraction))
    return;
  // Only digits go into the command: any other character (a second dot, a
  // ";") would make the radio read another value or another command.
  if (!AllDecimalDigits(Megahertz))
    return;
  if (Megahertz.size() < FProtocol.MegahertzWidth)
    Megahertz.insert(0, FProtocol.MegahertzWidth - Megahertz.size(), '0');
  FFrequencyCommand = FProtocol.SetFrequencyPrefix + Megahertz + Fraction + ";";
}

void TTextCATInterface::SetMode(std::string AMode) {
  for (const TModeCode& Entry : FProtocol.SetModes)
    if (AMode == Entry.Text) {
      FModeCommand = std::string(FProtocol.SetModePrefix) + Entry.Code + ";";
      return;
    }
}

} // namespace vela
