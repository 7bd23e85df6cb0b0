#include "cat/radios/untBandPlan.h"

#include "platform/untStrToInt.h"
#include <array>

namespace vela {

namespace {

struct TBandBound {
  std::int32_t Below; // first count that no longer belongs to the band
  const char* Name;
};

// Tested top down, first match wins. The plan has no gaps: a frequency
// between two amateur bands takes the name of the band above it.
constexpr std::array<TBandBound, 13> BandPlan{{
    {20000, "160m"},
    {40000, "80m"},
    {80000, "40m"},
    {120000, "30m"},
    {160000, "20m"},
    {190000, "17m"},
    {220000, "15m"},
    {250000, "12m"},
    {320000, "10m"},
    {640000, "6m"},
    {1000000, "4m"},
    {1500000, "2m"},
    {5000000, "70cm"},
}};

struct TNativePageMode {
  const char* Native;
  const char* Page;
};
constexpr std::array<TNativePageMode, 13> NativePageModes{{
    {"LSB", ModeLSB},
    {"USB", ModeUSB},
    {"CW", ModeCW},
    {"CWR", ModeCW},
    {"AM", ModeAM},
    {"SAM", ModeAM},
    {"FM", ModeFM},
    {"WFM", ModeFM},
    {"RTTY", ModeDigi},
    {"RTTYR", ModeDigi},
    {"PKTUSB", ModeDigi},
    {"PKTLSB", ModeDigi},
    {"PKTFM", ModeDigi},
}};

} // namespace

namespace {

bool SameLetters(std::string_view A, std::string_view B) {
  if (A.size() != B.size())
    return false;
  for (std::size_t I = 0; I < A.size(); ++I) {
    const auto Upper = [](char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 32) : C; };
    if (Upper(A[I]) != Upper(B[I]))
      return false;
  }
  return true;
}

struct TDataName {
  const char* Name;
  const char* Native;
};
constexpr TDataName DataNames[] = {
    {"PKTUSB", "PKTUSB"}, {"USB-D", "PKTUSB"}, {"DIGU", "PKTUSB"}, {"PKTLSB", "PKTLSB"},
    {"LSB-D", "PKTLSB"},  {"DIGL", "PKTLSB"},  {"PKTFM", "PKTFM"}, {"FM-D", "PKTFM"},
};
// The digital modes a program or a logbook's spot may name; all ride on the
// upper sideband's data mode.
constexpr const char* DigitalModeNames[] = {
    "FT8",      "FT4",  "JS8",    "JT65",   "JT9",   "JT4",    "Q65",    "MSK144", "FST4",
    "FST4W",    "WSPR", "PSK",    "PSK31",  "PSK63", "PSK125", "BPSK31", "QPSK31", "OLIVIA",
    "CONTESTI", "MFSK", "MFSK16", "DOMINO", "THOR",  "HELL",   "FSK441",
};

} // namespace

std::string DataModeForName(std::string_view Name) {
  for (const TDataName& Entry : DataNames)
    if (SameLetters(Name, Entry.Name))
      return Entry.Native;
  return {};
}

bool IsDigitalModeName(std::string_view Name) {
  for (const char* Entry : DigitalModeNames)
    if (SameLetters(Name, Entry))
      return true;
  return false;
}

std::string PageModeForNative(std::string_view NativeMode) {
  for (const TNativePageMode& Entry : NativePageModes)
    if (NativeMode == Entry.Native)
      return Entry.Page;
  return {};
}

std::string BandForFrequency(std::int32_t Count) {
  if (Count < 0)
    return {};
  for (const TBandBound& Band : BandPlan)
    if (Count < Band.Below)
      return Band.Name;
  return {};
}

std::string FrequencyText(std::int32_t Count) {
  // A negative count is no frequency; no radio reports one.
  if (Count < 0)
    return std::string();
  std::string Digits = std::to_string(Count);
  if (Digits.size() < 4)
    Digits.insert(0, 4 - Digits.size(), '0');
  const std::size_t Whole = Digits.size() - 4;
  // No leading zeros: below 1 MHz the text begins with the dot.
  return Digits.substr(0, Whole) + "." + Digits.substr(Whole);
}

std::string FrequencyTextFromDigits(std::string_view Digits) {
  std::string Text(Digits);
  Text.insert(Text.size() >= 4 ? Text.size() - 4 : 0, ".");
  const std::size_t FirstKept = Text.find_first_not_of('0');
  // Garbage that would read as a negative frequency is no frequency.
  if (FirstKept == std::string::npos || Text[FirstKept] == '-')
    return std::string();
  return Text.substr(FirstKept);
}

bool DigitsToCount(std::string_view Digits, std::int32_t& Count) {
  std::int64_t Value = 0;
  if (!TryDigitsToInt(Digits, 9, Value))
    return false;
  Count = static_cast<std::int32_t>(Value);
  return true;
}

} // namespace vela
