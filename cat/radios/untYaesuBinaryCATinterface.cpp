#include "cat/radios/untYaesuBinaryCATinterface.h"

#include <algorithm>
#include <chrono>

namespace vela {

namespace {

std::int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A byte on the line: start bit, eight data bits, two stop bits.
constexpr std::int64_t BitsPerByte = 11;

bool AllDigits(std::string_view Text) {
  return std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; });
}

} // namespace

TYaesuBinaryCATInterface::TYaesuBinaryCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                                                   TRadioType ARadio,
                                                   const std::string& APollCommand,
                                                   std::size_t AReplyLength)
    : TRadioCATInterface(AOwner, ASettings),
      FReplyLength(std::clamp<std::size_t>(AReplyLength, 1, MaxReplyLength)), FNowMs(SteadyNowMs) {
  RecordRadioType(ARadio);
  FPollCommand = APollCommand;
  UpdateSilence();
}

void TYaesuBinaryCATInterface::UpdateSilence() {
  const std::int64_t Baud = BaudRateToInt(FSettings->BaudRate());
  const std::int64_t ThreeBytesMs = Baud > 0 ? (3 * BitsPerByte * 1000 + Baud - 1) / Baud : 0;
  FSilenceMs = std::max(MinSilenceMs, ThreeBytesMs);
  FByteUs = Baud > 0 ? BitsPerByte * 1000000 / Baud : 0;
}

void TYaesuBinaryCATInterface::setNowMs(TClock Clock) {
  FNowMs = Clock ? std::move(Clock) : TClock(SteadyNowMs);
}

void TYaesuBinaryCATInterface::ResetState() {
  FByteCount = 0;
  FStatusBytes.fill(0);
  FLastRxMs.reset();
  FHolding = false;
  FHeld.clear();
  // A restart is when a new baud rate takes effect.
  UpdateSilence();
}

bool TYaesuBinaryCATInterface::SilentSince(std::int64_t Now) const {
  return FLastRxMs && Now - *FLastRxMs > FSilenceMs;
}

void TYaesuBinaryCATInterface::Consume(std::string_view Bytes, std::string& LocalMode) {
  const auto Length = static_cast<std::int32_t>(FReplyLength);
  for (char Byte : Bytes) {
    std::copy(FStatusBytes.begin() + 1, FStatusBytes.begin() + Length, FStatusBytes.begin());
    FStatusBytes[Length - 1] = static_cast<std::uint8_t>(Byte);
    if (++FByteCount != Length)
      continue;
    FByteCount = 0;
    DecodeReply(FStatusBytes.data(), LocalMode);
  }
}

void TYaesuBinaryCATInterface::Resolve(bool AtSilence) {
  if (!FHolding)
    return;
  FHolding = false;
  const auto Length = static_cast<std::int64_t>(FReplyLength);
  const auto Held = static_cast<std::int64_t>(FHeld.size());
  auto Whole = [&](std::int64_t Bytes) { return ((Bytes % Length) + Length) % Length == 0; };
  // A fresh start only on evidence: the held bytes ended in a silence, form
  // whole replies by themselves and do not complete the partial one.
  // Anything else keeps counting, as counting alone would.
  if (AtSilence && Whole(Held) && !Whole(FByteCount + Held))
    FByteCount = 0;
  const std::string Bytes = std::move(FHeld);
  FHeld.clear();
  std::string LocalMode;
  Consume(Bytes, LocalMode);
}

void TYaesuBinaryCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender;
  if (Count <= 0)
    return;
  const std::size_t Take = std::min<std::size_t>(static_cast<std::size_t>(Count), Data.size());
  if (Take == 0)
    return;
  const std::string_view Bytes(Data.data(), Take);

  const std::int64_t Now = FNowMs();
  // The line was quiet for the gap since the last delivery less the time
  // these bytes took on the wire: a delivery held up while the radio kept
  // sending is no silence.
  const bool Silence =
      FLastRxMs &&
      (Now - *FLastRxMs) * 1000 - static_cast<std::int64_t>(Take) * FByteUs > FSilenceMs * 1000;
  if (Silence) {
    Resolve(true);
    if (FByteCount != 0) {
      FHolding = true;
      FHeld.clear();
    }
  }
  FLastRxMs = Now;

  if (FHolding) {
    FHeld.append(Bytes);
    // A line that never falls silent again: decide now.
    if (FHeld.size() > 4 * FReplyLength)
      Resolve(false);
    return;
  }
  std::string LocalMode;
  Consume(Bytes, LocalMode);
}

void TYaesuBinaryCATInterface::GetNextCommand(TObject* Sender, std::string& Command) {
  (void)Sender;
  // The worker asks once per cycle: held bytes followed by a silence are
  // decided here, before the next reply can arrive.
  const bool Silent = SilentSince(FNowMs());
  if (Silent)
    Resolve(true);
  // The radio acknowledges a set command with one byte that is no part of
  // the next reply.
  if (ChooseCommand(Command) != TCommandKind::ckPoll) {
    Resolve(Silent);
    --FByteCount;
  }
}

bool TYaesuBinaryCATInterface::SplitFrequency(const std::string& Text, std::int32_t& Megahertz,
                                              std::int32_t& TensOfHertz) {
  std::string Whole, Fraction;
  if (!SplitFrequencyText(Text, 5, Whole, Fraction) || Whole.empty() || !AllDigits(Whole))
    return false;
  std::int32_t M = 0, F = 0;
  if (!TryDecimalToInt(Whole, M) || !TryDecimalToInt(Fraction, F) || M > 999)
    return false; // 1000 MHz and above
  Megahertz = M;
  TensOfHertz = F;
  return true;
}

} // namespace vela
