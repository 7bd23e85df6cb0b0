#include "cat/radios/untYaesuBinaryCATinterface.h"

#include <algorithm>
#include <utility>

namespace vela {

TYaesuBinaryCATInterface::TYaesuBinaryCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                                   const TRadioModel& AModel,
                                                   const std::string& APollCommand,
                                                   std::size_t AReplyLength)
    : TRadioCATInterface(AOwner, ASettings, AModel),
      FReplyLength(std::clamp<std::size_t>(AReplyLength, 1, MaxReplyLength)) {
  FPollCommand = APollCommand;
}

void TYaesuBinaryCATInterface::ResetState() {
  FByteCount = 0;
  FStatusBytes.fill(0);
  FResynchronising = false;
  FBurstPhase = 0;
  FAfterCut = false;
  FHeld.reset();
}

void TYaesuBinaryCATInterface::LineWasQuiet(TObject* Sender) {
  (void)Sender;
  // A burst of whole replies leaves nothing to come; a count left over from
  // a missing acknowledgement is no cut reply.
  FAfterCut = FBurstPhase != 0 && (FResynchronising || FByteCount > 0);
  FBurstPhase = 0;
  FResynchronising = false;
  if (FByteCount > 0)
    FByteCount = 0;
  // No byte followed the held window before this silence. Reported last: a
  // handler may restart the worker, which resets this state.
  if (std::optional<TReplyValues> Held = std::exchange(FHeld, std::nullopt))
    ReportValues(*Held);
}

void TYaesuBinaryCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender;
  if (Count <= 0)
    return;
  const std::size_t Take = std::min<std::size_t>(static_cast<std::size_t>(Count), Data.size());
  const auto Length = static_cast<std::int32_t>(FReplyLength);
  FBurstPhase = (FBurstPhase + Take) % FReplyLength;
  std::string LocalMode;
  for (std::size_t I = 0; I < Take && !FResynchronising; ++I) {
    FHeld.reset(); // a byte ran into it
    std::copy(FStatusBytes.begin() + 1, FStatusBytes.begin() + Length, FStatusBytes.begin());
    FStatusBytes[Length - 1] = static_cast<std::uint8_t>(Data[I]);
    if (++FByteCount != Length)
      continue;
    FByteCount = 0;
    std::string Mode = LocalMode;
    TReplyValues Values = DecodeReply(FStatusBytes.data(), Mode);
    if (!Values.Hz || !TakesHz(*Values.Hz)) {
      FResynchronising = true;
      break;
    }
    LocalMode = std::move(Mode);
    if (TrustBurst())
      ReportValues(Values);
    else
      FHeld = std::move(Values);
  }
}

void TYaesuBinaryCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  // The radio acknowledges a set command with one byte that is no part of
  // the next reply.
  if (ChooseCommand(Command) != TCommandKind::ckPoll) {
    --FByteCount;
    FHeld.reset();
  }
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
