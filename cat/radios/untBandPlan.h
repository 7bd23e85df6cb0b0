// The vocabulary every radio driver speaks: the band plan, the form of the
// frequency text and the six mode names.
//
// A frequency count is the frequency in units of 100 Hz (14.074 MHz is
// 140740). The frequency text is the count in MHz with exactly four decimals
// and no leading zeros ("14.0740", "7.0745", ".4750").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vela {

// The six mode names, spelt exactly as the log page expects them.
inline constexpr const char* ModeLSB = "lsb";
inline constexpr const char* ModeUSB = "usb";
inline constexpr const char* ModeCW = "CW";
inline constexpr const char* ModeAM = "AM";
inline constexpr const char* ModeFM = "FM";
inline constexpr const char* ModeDigi = "Digi";

// A radio's own mode by its Hamlib name: LSB USB CW CWR AM SAM FM WFM RTTY
// RTTYR PKTUSB PKTLSB PKTFM. The mode name the log page shows for one (CW and
// CWR are "CW", SAM is "AM", WFM is "FM", the RTTY and packet modes are
// "Digi"); the empty text for any other name.
std::string PageModeForNative(std::string_view NativeMode);

// The Hamlib data mode that a mode name given outright stands for, in any
// letter case: PKTUSB, USB-D and DIGU name PKTUSB; PKTLSB, LSB-D and DIGL
// PKTLSB; PKTFM and FM-D PKTFM. The empty text for any other name: RTTY and
// the page's "Digi" follow the station's "Digi means" instead.
std::string DataModeForName(std::string_view Name);
// Whether Name (any case) is a digital mode that runs on a data mode's
// upper sideband (FT8, FT4, JS8, PSK31, ...), as the digital-mode programs
// and web logbooks name them.
bool IsDigitalModeName(std::string_view Name);

// The band name of a frequency count, or the empty text outside the plan
// (negative counts, 500 MHz and above).
std::string BandForFrequency(std::int32_t Count);

// The frequency text of a count: a dot before the last four digits, no
// leading zeros. Counts below 1000 keep the zeros the four decimals need
// (475 gives ".0475"); a negative count gives the empty text.
std::string FrequencyText(std::int32_t Count);

// The frequency text built from the digit characters of a text reply: a dot
// before the last four characters, then leading "0" characters removed; the
// empty text when what is left starts with a minus sign.
// For any count of 1000 or more this equals FrequencyText of the same count.
std::string FrequencyTextFromDigits(std::string_view Digits);

// Converts a run of decimal digits (nothing else, at most nine) to a count.
// Fails for an empty run, any other character or a longer run.
bool DigitsToCount(std::string_view Digits, std::int32_t& Count);

} // namespace vela
