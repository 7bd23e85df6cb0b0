#include "cat/radios/untBandPlan.h"

#include "platform/untStrToInt.h"
#include <algorithm>
#include <array>
#include <climits>

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

// Amateur bands that lie inside a band of the plan, which shows their
// frequencies under that band's name: 60 m is 5.3515 to 5.3665 MHz.
struct TInnerBand {
  const char* Name;
  std::int32_t From;
  std::int32_t Below;
};
constexpr std::array<TInnerBand, 1> InnerBands{{{"60m", 53515, 53666}}};

} // namespace

std::string BandForFrequency(std::int32_t Count) {
  if (Count < 0)
    return {};
  for (const TBandBound& Band : BandPlan)
    if (Count < Band.Below)
      return Band.Name;
  return {};
}

std::optional<TBandRange> FindBand(std::string_view Name) {
  std::int32_t From = 0;
  for (const TBandBound& Band : BandPlan) {
    if (Name == Band.Name)
      return TBandRange{From, Band.Below, true};
    From = Band.Below;
  }
  for (const TInnerBand& Band : InnerBands)
    if (Name == Band.Name)
      return TBandRange{Band.From, Band.Below, false};
  return std::nullopt;
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

namespace {

// Whole 100 Hz units, finer digits dropped; past what a count holds (no
// radio goes there) the text stops growing.
std::int32_t PageCount(std::int64_t Hz) {
  return static_cast<std::int32_t>(Hz < 0 ? -1 : std::min<std::int64_t>(Hz / 100, INT32_MAX));
}

} // namespace

std::string PageFrequencyText(const TRadioValue& Value) {
  return Value.Hz ? FrequencyText(PageCount(*Value.Hz)) : Value.FrequencyWord;
}

std::string PageBand(const TRadioValue& Value) {
  return Value.Hz ? BandForFrequency(PageCount(*Value.Hz)) : std::string();
}

std::string PageModeText(const TRadioValue& Value) {
  if (Value.NativeMode.empty())
    return Value.ModeWord;
  std::string Text = PageModeForNative(Value.NativeMode);
  return Text.empty() ? Value.NativeMode : Text;
}

TPageTexts PageTexts(const TRadioValue& Value) {
  return {PageBand(Value), PageFrequencyText(Value), PageModeText(Value)};
}

bool DigitsToCount(std::string_view Digits, std::int32_t& Count) {
  std::int64_t Value = 0;
  if (!TryDigitsToInt(Digits, 9, Value))
    return false;
  Count = static_cast<std::int32_t>(Value);
  return true;
}

} // namespace vela
