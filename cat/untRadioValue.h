// The radio's state as its driver last read it, carried whole from the
// driver to everything that shows or serves it. The texts the log page
// shows are made from it where they are written (PageTexts in
// cat/radios/untBandPlan.h); the sharing server and the web logbook read
// its hertz and Hamlib mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vela {

struct TRadioValue {
  // The frequency in hertz at the radio's resolution; empty while unknown,
  // and when the radio's characters formed no number (see FrequencyWord).
  std::optional<std::int64_t> Hz;
  // The radio's mode by its Hamlib name; empty while unknown and where no
  // Hamlib name fits.
  std::string NativeMode;
  // What the page shows that the two above cannot say, empty otherwise: a
  // text radio's frequency characters that formed no number, as sent; the
  // page's word for a mode without a Hamlib name (the radio's own code
  // where the page has none).
  std::string FrequencyWord;
  std::string ModeWord;

  // The hertz, 0 while unknown.
  std::int64_t HzOrZero() const { return Hz.value_or(0); }
  bool operator==(const TRadioValue&) const = default;
};

} // namespace vela
