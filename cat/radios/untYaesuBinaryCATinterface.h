// The common body of the drivers for radios with Yaesu's binary protocol:
// five-byte commands, replies of a fixed length with no frame markers.
//
// Replies are framed by counting bytes. Each set command handed out lowers
// the count by one, for the one-byte acknowledgement the radio sends. A count
// alone never recovers from a lost or extra byte, a missing acknowledgement or
// a reply to another program's command, so silences on the line (no byte for
// longer than the larger of 20 ms and three byte-times) resynchronise it.
//
// Bytes that arrive after a silence while a reply is partly collected are
// held back until the line falls silent again (seen at the next delivery or
// the worker's next cycle). If they form whole replies by themselves and do
// not complete the partial one, the partial reply is dropped and they start
// afresh; otherwise (the tail of a reply came late because the program or
// the sender was held up) counting goes on as counting alone would. When
// replies arrive whole, the decoded values are those of counting alone.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cat/radios/untRadioCATinterface.h"

namespace vela {

class TYaesuBinaryCATInterface : public TRadioCATInterface {
public:
  // Milliseconds of a monotonic clock.
  using TClock = std::function<std::int64_t()>;

  static constexpr std::size_t MaxReplyLength = 32;
  static constexpr std::int64_t MinSilenceMs = 20;

  TYaesuBinaryCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings, TRadioType ARadio,
                           const std::string& APollCommand, std::size_t AReplyLength);

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void GetNextCommand(TObject* Sender, std::string& Command) override;

  // Replaces the clock (tests drive it by hand); an empty one restores the
  // steady clock.
  void setNowMs(TClock Clock);
  std::int32_t ByteCount() const { return FByteCount; }
  // The silence that starts a new reply, for the baud rate of the last restart.
  std::int64_t SilenceMs() const { return FSilenceMs; }

protected:
  // Decodes one complete reply, oldest byte first. LocalMode starts empty
  // for each ParseReply call and carries the mode from reply to reply
  // within the call, for mode values outside the driver's table.
  virtual void DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) = 0;

  // Splits a frequency text in MHz into megahertz (0 to 999) and the
  // fraction in units of 10 Hz (0 to 99999). Fails for no dot, anything but
  // digits in either part, an empty integer part, 1000 MHz and above, or a
  // fraction finer than 10 Hz that is not all zeros: the BCD commands never
  // carry a digit outside 0 to 9.
  static bool SplitFrequency(const std::string& Text, std::int32_t& Megahertz,
                             std::int32_t& TensOfHertz);
  static std::uint8_t BCD(std::int32_t Value) {
    return static_cast<std::uint8_t>(16 * (Value / 10) + Value % 10);
  }

  // The last reply-length bytes received, oldest first.
  std::array<std::uint8_t, MaxReplyLength> FStatusBytes{};
  // Bytes received since the last decoded reply, lowered by one for every
  // set command handed out.
  std::int32_t FByteCount = 0;

private:
  void UpdateSilence();
  bool SilentSince(std::int64_t Now) const;
  void Consume(std::string_view Bytes, std::string& LocalMode);
  void Resolve(bool AtSilence);

  // Bytes held back after a silence that found a partly collected reply.
  bool FHolding = false;
  std::string FHeld;

  std::size_t FReplyLength;
  TClock FNowMs;
  std::optional<std::int64_t> FLastRxMs;
  std::int64_t FSilenceMs = MinSilenceMs;
  std::int64_t FByteUs = 0; // one byte on the wire, in microseconds
};

} // namespace vela
