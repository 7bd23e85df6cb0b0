// What the network sharing server needs of a radio: its current values, the
// values of a set request still on its way, and the set operations. The
// server answers every client from this and never touches a port; the radio
// drivers are reached through an adapter (untCATRigBackend).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sharing/untRigctlProtocol.h"

namespace vela {

class TRigBackend {
public:
  virtual ~TRigBackend() = default;

  // False while there is no radio to answer for.
  virtual bool Ready() const = 0;
  // True only while the radio answers (its link is live): otherwise its
  // values are old and a set or keying command cannot be known to reach it.
  virtual bool LinkUp() const = 0;

  // The radio's values as last reported: frequency in hertz (0 before the
  // first report) and Hamlib mode name (empty when unknown); the passband
  // reported is always the mode's usual one.
  virtual std::int64_t FrequencyHz() const = 0;
  virtual std::string Mode() const = 0;

  // The values of a set request not yet confirmed by the radio.
  virtual std::optional<std::int64_t> RequestedHz() const = 0;
  virtual std::optional<std::string> RequestedMode() const = 0;

  // Queue a change; false when the radio cannot take the value.
  virtual bool TuneHz(std::int64_t Hz) = 0;
  virtual bool TuneMode(const std::string& Mode) = 0;

  // Transmitter keying by command; SetPTT is false when the radio cannot.
  // PTT is the state last asked for, PTTWritten the state last written to
  // the radio, PTTUnwritten whether the last request is still on its way.
  virtual bool SetPTT(bool On) = 0;
  virtual bool PTT() const = 0;
  virtual bool PTTWritten() const = 0;
  virtual bool PTTUnwritten() const = 0;
  // Keyed or about to be: a key asked for, or a keyed state whose release
  // has not reached the radio yet. Nothing may retune the radio then.
  bool Transmitting() const { return PTT() || PTTWritten(); }

  virtual bool HasDataMode() const = 0;
  virtual TRigctlRadioFacts Facts() const = 0;
};

} // namespace vela
