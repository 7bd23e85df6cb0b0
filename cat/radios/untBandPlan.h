// The band plan and the form of the frequency text, and the page's three
// texts of a radio value (the mode names are untModeNames').
//
// A frequency count is the frequency in units of 100 Hz (14.074 MHz is
// 140740). The frequency text is the count in MHz with exactly four decimals
// and no leading zeros ("14.0740", "7.0745", ".4750").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cat/radios/untModeNames.h"
#include "cat/untRadioValue.h"

namespace vela {

// The band name of a frequency count, or the empty text outside the plan
// (negative counts, 500 MHz and above).
std::string BandForFrequency(std::int32_t Count);

// The frequency counts of a band named as a logbook names it (lower case):
// From, its first, up to Below, the first past it. The plan's own bands
// cover it without gaps (Shown: BandForFrequency gives the name); an
// amateur band lying inside one of them (60m, inside "40m") has its own
// edges. nullopt for any other name.
struct TBandRange {
  std::int32_t From;
  std::int32_t Below;
  bool Shown;
};
std::optional<TBandRange> FindBand(std::string_view Name);

// The frequency text of a count: a dot before the last four digits, no
// leading zeros. Counts below 1000 keep the zeros the four decimals need
// (475 gives ".0475"); a negative count gives the empty text.
std::string FrequencyText(std::int32_t Count);

// The page's text of a text reply's frequency characters that form no
// number: a dot before the last four characters, then leading "0"
// characters removed; the empty text when what is left starts with a minus
// sign. For digits of any count this equals FrequencyText of the count.
std::string FrequencyTextFromDigits(std::string_view Digits);

// The log page's band, frequency and mode texts of a radio value: the band
// and the frequency text of its hertz in whole 100 Hz (or its frequency
// word, with no band), and the page's text of its Hamlib mode (a mode the
// page has no text for as Hamlib names it; without one, its mode word).
// Every writer of the radio's state into the page makes its texts here.
struct TPageTexts {
  std::string Band, Frequency, Mode;
  bool operator==(const TPageTexts&) const = default;
};
TPageTexts PageTexts(const TRadioValue& Value);
// Its parts, for the driver's reporting rule, which compares them one by one.
std::string PageFrequencyText(const TRadioValue& Value);
std::string PageBand(const TRadioValue& Value);
std::string PageModeText(const TRadioValue& Value);

// Converts a run of decimal digits (nothing else, at most nine) to a count.
// Fails for an empty run, any other character or a longer run.
bool DigitsToCount(std::string_view Digits, std::int32_t& Count);

} // namespace vela
