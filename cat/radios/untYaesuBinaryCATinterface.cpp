#include "cat/radios/untYaesuBinaryCATinterface.h"

#include <algorithm>

namespace vela {

TYaesuBinaryCATInterface::TYaesuBinaryCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                                   TRadioType ARadio,
                                                   const std::string& APollCommand,
                                                   std::size_t AReplyLength)
    : TRadioCATInterface(AOwner, ASettings, ARadio),
      FReplyLength(std::clamp<std::size_t>(AReplyLength, 1, MaxReplyLength)) {
  FPollCommand = APollCommand;
}

void TYaesuBinaryCATInterface::ResetState() {
  FByteCount = 0;
  FStatusBytes.fill(0);
  FResynchronising = false;
}

void TYaesuBinaryCATInterface::LineWasQuiet(TObject* Sender) {
  (void)Sender;
  FResynchronising = false;
  if (FByteCount > 0)
    FByteCount = 0;
}

void TYaesuBinaryCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender;
  if (Count <= 0)
    return;
  const std::size_t Take = std::min<std::size_t>(static_cast<std::size_t>(Count), Data.size());
  const auto Length = static_cast<std::int32_t>(FReplyLength);
  std::string LocalMode;
  for (std::size_t I = 0; I < Take && !FResynchronising; ++I) {
    std::copy(FStatusBytes.begin() + 1, FStatusBytes.begin() + Length, FStatusBytes.begin());
    FStatusBytes[Length - 1] = static_cast<std::uint8_t>(Data[I]);
    if (++FByteCount != Length)
      continue;
    FByteCount = 0;
    std::string Mode = LocalMode;
    const TReplyValues Values = DecodeReply(FStatusBytes.data(), Mode);
    if (!Values.Hz || !TakesHz(*Values.Hz)) {
      FResynchronising = true;
      break;
    }
    LocalMode = std::move(Mode);
    ReportValues(Values);
  }
}

void TYaesuBinaryCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  // The radio acknowledges a set command with one byte that is no part of
  // the next reply.
  if (ChooseCommand(Command) != TCommandKind::ckPoll)
    --FByteCount;
}

bool TYaesuBinaryCATInterface::SplitFrequency(const std::string& Text, std::int32_t& Megahertz,
                                              std::int32_t& TensOfHertz) {
  std::string Whole, Fraction;
  if (!SplitFrequencyText(Text, 5, Whole, Fraction) || Whole.empty())
    return false;
  std::int32_t M = 0, F = 0;
  if (!TryDecimalToInt(Whole, M) || !TryDecimalToInt(Fraction, F) || M > 999)
    return false; // 1000 MHz and above
  Megahertz = M;
  TensOfHertz = F;
  return true;
}

void TYaesuBinaryCATInterface::SetFrequency(std::string AFrequency) {
  std::int32_t M = 0, F = 0;
  if (SplitFrequency(AFrequency, M, F))
    QueueFrequencyCommand(EncodeFrequency(M, F));
}

bool TYaesuBinaryCATInterface::BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const {
  const std::int64_t Tens = TunedHz(Hz) / 10;
  if (Hz < 0 || Tens / 100000 > 999)
    return false; // 1000 MHz and above
  Command = EncodeFrequency(static_cast<std::int32_t>(Tens / 100000),
                            static_cast<std::int32_t>(Tens % 100000));
  return true;
}

} // namespace vela
