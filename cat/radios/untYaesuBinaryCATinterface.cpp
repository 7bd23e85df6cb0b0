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
  FSettings->setRadio(ARadio);
  FPollCommand = APollCommand;
  UpdateSilence();
}

void TYaesuBinaryCATInterface::UpdateSilence() {
  const std::int64_t Baud = BaudRateToInt(FSettings->BaudRate());
  const std::int64_t ThreeBytesMs = Baud > 0 ? (3 * BitsPerByte * 1000 + Baud - 1) / Baud : 0;
  FSilenceMs = std::max(MinSilenceMs, ThreeBytesMs);
}

void TYaesuBinaryCATInterface::setNowMs(TClock Clock) {
  FNowMs = Clock ? std::move(Clock) : TClock(SteadyNowMs);
}

void TYaesuBinaryCATInterface::ResetState() {
  FByteCount = 0;
  FStatusBytes.fill(0);
  FLastRxMs.reset();
  // A restart is when a new baud rate takes effect.
  UpdateSilence();
}

void TYaesuBinaryCATInterface::ParseReply(TObject* Sender, std::string Data, int Count) {
  (void)Sender;
  if (Count <= 0)
    return;
  const std::size_t Take = std::min<std::size_t>(static_cast<std::size_t>(Count), Data.size());
  if (Take == 0)
    return;

  const std::int64_t Now = FNowMs();
  if (FLastRxMs && Now - *FLastRxMs > FSilenceMs)
    FByteCount = 0; // a partly collected reply is dropped; these bytes start a new one
  FLastRxMs = Now;

  std::string LocalMode;
  for (std::size_t I = 0; I < Take; ++I) {
    std::copy(FStatusBytes.begin() + 1, FStatusBytes.begin() + FReplyLength, FStatusBytes.begin());
    FStatusBytes[FReplyLength - 1] = static_cast<std::uint8_t>(Data[I]);
    if (++FByteCount != static_cast<std::int32_t>(FReplyLength))
      continue;
    FByteCount = 0;
    DecodeReply(FStatusBytes.data(), LocalMode);
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
  const std::size_t Dot = Text.find('.');
  if (Dot == std::string::npos)
    return false;
  const std::string Whole = Text.substr(0, Dot);
  std::string Fraction = Text.substr(Dot + 1);
  if (Whole.empty() || !AllDigits(Whole) || !AllDigits(Fraction))
    return false;
  if (Fraction.size() > 5) {
    if (Fraction.find_first_not_of('0', 5) != std::string::npos)
      return false;
    Fraction.resize(5);
  }
  Fraction.append(5 - Fraction.size(), '0');
  std::int32_t M = 0, F = 0;
  if (!TryDecimalToInt(Whole, M) || !TryDecimalToInt(Fraction, F) || M > 999)
    return false; // 1000 MHz and above
  Megahertz = M;
  TensOfHertz = F;
  return true;
}

} // namespace vela
