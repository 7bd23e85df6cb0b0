// The common body of the drivers for radios with Yaesu's binary protocol:
// five-byte commands, replies of a fixed length with no frame markers.
//
// Replies are framed by counting bytes. Each set command handed out lowers
// the count by one, for the one-byte acknowledgement the radio sends. A count
// alone never recovers from a lost or extra byte, a missing acknowledgement or
// a reply to another program's command, so a silence on the line
// resynchronises it: bytes that come after one start a new reply, and a
// partly collected reply is dropped. The port worker tells where the silences
// were (it writes only to a quiet line), so a busy main thread, which delays
// the handling of bytes but not their arrival, cannot blur them.
//
// A count still waiting for acknowledgements at a silence is kept: the
// acknowledgement itself comes after one. When the radio sent none, the
// next reply is not decoded (its count never reaches a reply's length) and
// the one after the next silence is; a wrong window is never decoded. When
// replies arrive whole and acknowledgements come as the count expects, the
// count is 0 at every silence and the decoded values are those of counting
// alone.
//
// A window that decodes to a frequency outside the radio's range was framed
// wrongly (a fragment of another reply in it, a byte lost): it is never
// reported, and the bytes up to the next silence are dropped, since the
// windows after it within the same burst are shifted alike.
//
// A range check cannot catch every wrong window, so a window is reported as
// soon as it completes only when nothing from before the silence can run
// into it: the line is the driver's alone, and the burst before the silence
// ended on a reply's boundary. Otherwise (the line shared with another
// program, whose reply may pause past the quiet time and finish after the
// driver's poll; or a reply of the driver's own cut short) the window is
// held until the next silence shows that no byte followed it, and dropped if
// one did: bytes that ran into a window at its front push as many of its own
// past its end. Values held when a set command goes out are dropped too; the
// next poll reads what the command left.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cat/radios/untRadioCATinterface.h"

namespace vela {

class TYaesuBinaryCATInterface : public TRadioCATInterface {
public:
  static constexpr std::size_t MaxReplyLength = 32;

  TYaesuBinaryCATInterface(TComponent* AOwner, TVelaLogSettings* ASettings,
                           const TRadioModel& AModel, const std::string& APollCommand,
                           std::size_t AReplyLength);

  void ResetState() override;
  void ParseReply(TObject* Sender, std::string Data, int Count) override;
  void GetNextCommand(TObject* Sender, std::string& Command) override;
  void LineWasQuiet(TObject* Sender) override;
  void SetFrequency(std::string AFrequency) override;

  std::int32_t ByteCount() const { return FByteCount; }
  // True from a misframed reply until the next silence.
  bool Resynchronising() const { return FResynchronising; }
  // A complete window waits for the silence after it.
  bool Holding() const { return FHeld.has_value(); }

protected:
  // Decodes one complete reply, oldest byte first, into the values to
  // report, Hz set; no Hz when the bytes cannot be one reply of the radio's
  // (then, as outside the range, misframed). LocalMode starts empty for each
  // ParseReply call and carries the mode from reply to reply within the
  // call, for mode values outside the driver's table.
  virtual TReplyValues DecodeReply(const std::uint8_t* Reply, std::string& LocalMode) = 0;
  // The set-frequency command for megahertz (0 to 999) and the fraction in
  // units of 10 Hz (0 to 99999).
  virtual std::string EncodeFrequency(std::int32_t Megahertz, std::int32_t TensOfHertz) const = 0;
  // Hz rounded to the command's 10 Hz step.
  bool BuildFrequencyCommand(std::int64_t Hz, std::string& Command) const override;
  // The set command carries tens of hertz.
  std::int64_t TunedHz(std::int64_t Hz) const override { return (Hz + 5) / 10 * 10; }

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
  // The windows of the current burst are reported as soon as they complete.
  bool TrustBurst() const { return !LineShared() && !FAfterCut; }

  std::size_t FReplyLength;
  bool FResynchronising = false;
  // The bytes of the current burst (those dropped too), modulo the reply
  // length.
  std::size_t FBurstPhase = 0;
  // The burst before the last silence stopped inside a reply.
  bool FAfterCut = false;
  // The last complete window of an untrusted burst, decoded.
  std::optional<TReplyValues> FHeld;
};

} // namespace vela
