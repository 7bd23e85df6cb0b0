#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "cat/radios/untBandPlan.h"
#include "cat/radios/untRadioCATinterface.h"

using namespace vela;

TEST(BandPlanTest, BoundsAreExclusiveAndThePlanHasNoGaps) {
  const struct {
    std::int32_t Count;
    const char* Band;
  } Cases[] = {
      {INT32_MIN, ""},   {-1, ""},        {0, "160m"},     {4750, "160m"},    {19999, "160m"},
      {20000, "80m"},    {39999, "80m"},  {40000, "40m"},  {53000, "40m"},    {79999, "40m"},
      {80000, "30m"},    {101000, "30m"}, {119999, "30m"}, {120000, "20m"},   {140740, "20m"},
      {159999, "20m"},   {160000, "17m"}, {189999, "17m"}, {190000, "15m"},   {219999, "15m"},
      {220000, "12m"},   {249999, "12m"}, {250000, "10m"}, {319999, "10m"},   {320000, "6m"},
      {501000, "6m"},    {639999, "6m"},  {640000, "4m"},  {700000, "4m"},    {999999, "4m"},
      {1000000, "2m"},   {1455000, "2m"}, {1499999, "2m"}, {1500000, "70cm"}, {4321000, "70cm"},
      {4999999, "70cm"}, {5000000, ""},   {12960000, ""},  {INT32_MAX, ""},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(BandForFrequency(Case.Count), Case.Band) << Case.Count;
}

TEST(BandPlanTest, ABandByNameCoversWhatTheLookupGivesIt) {
  // Each band the lookup shows: its range starts where the band below ends,
  // and every count of it, and none outside, is given its name.
  std::int32_t From = 0;
  for (const char* Name :
       {"160m", "80m", "40m", "30m", "20m", "17m", "15m", "12m", "10m", "6m", "4m", "2m", "70cm"}) {
    const std::optional<TBandRange> Band = FindBand(Name);
    ASSERT_TRUE(Band) << Name;
    EXPECT_TRUE(Band->Shown) << Name;
    EXPECT_EQ(Band->From, From) << Name;
    EXPECT_EQ(BandForFrequency(Band->From), Name);
    EXPECT_EQ(BandForFrequency(Band->Below - 1), Name);
    EXPECT_NE(BandForFrequency(Band->Below), Name);
    From = Band->Below;
  }
  // 60 m lies inside what the lookup calls 40m.
  const std::optional<TBandRange> Sixty = FindBand("60m");
  ASSERT_TRUE(Sixty);
  EXPECT_FALSE(Sixty->Shown);
  EXPECT_EQ(BandForFrequency(Sixty->From), "40m");
  EXPECT_EQ(BandForFrequency(Sixty->Below - 1), "40m");
  for (const char* Name : {"", "40M", "40", "m", "2200m", "23cm", "40m "})
    EXPECT_FALSE(FindBand(Name)) << '"' << Name << '"';
}

TEST(BandPlanTest, FrequencyTextHasFourDecimalsAndNoLeadingZeros) {
  const struct {
    std::int32_t Count;
    const char* Text;
  } Cases[] = {
      {140740, "14.0740"},
      {70745, "7.0745"},
      {1443000, "144.3000"},
      {4750, ".4750"},
      {10000, "1.0000"},
      {9999, ".9999"},
      {1000, ".1000"},
      {475, ".0475"},
      {5, ".0005"},
      {0, ".0000"},
      // No frequency text is ever negative.
      {-140740, ""},
      {-1, ""},
      {INT32_MIN, ""},
      {INT32_MAX, "214748.3647"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(FrequencyText(Case.Count), Case.Text) << Case.Count;
}

TEST(BandPlanTest, TextFromReplyDigitsMatchesTextFromCount) {
  // The text drivers build the text from the digit characters; for every
  // count both ways must agree, including the counts below 1000.
  for (std::int32_t Count : {0, 5, 475, 999, 1000, 4750, 70745, 140740, 1443000, 99999999}) {
    std::string Nine = std::to_string(Count);
    Nine.insert(0, 9 - Nine.size(), '0');
    EXPECT_EQ(FrequencyTextFromDigits(Nine), FrequencyText(Count)) << Nine;
    std::int32_t Parsed = -1;
    ASSERT_TRUE(DigitsToCount(Nine, Parsed));
    EXPECT_EQ(Parsed, Count);
  }
  // Digits that would read as a negative frequency give no frequency.
  EXPECT_EQ(FrequencyTextFromDigits("000-14074"), "");
  EXPECT_EQ(FrequencyTextFromDigits("-00140740"), "");
  std::int32_t Parsed = 0;
  for (const char* Bad : {"", "0001407a0", "-00140740", " 00140740", "0123456789"})
    EXPECT_FALSE(DigitsToCount(Bad, Parsed)) << Bad;
}

TEST(RadioHelperTest, TakeMessagesSplitsInOrderAndKeepsTheRest) {
  std::string Buffer;
  std::vector<std::string> Messages;
  auto Collect = [&](std::string_view M) { Messages.emplace_back(M); };
  TakeMessages(Buffer, "AB;C", ';', Collect);
  TakeMessages(Buffer, "D;;E", ';', Collect);
  EXPECT_EQ(Messages, (std::vector<std::string>{"AB", "CD", ""}));
  EXPECT_EQ(Buffer, "E");
}

TEST(RadioHelperTest, TakeMessagesBoundsABufferWithoutTerminator) {
  std::string Buffer;
  std::vector<std::string> Messages;
  auto Collect = [&](std::string_view M) { Messages.emplace_back(M); };
  // A megabyte without terminator, in one piece and in small pieces.
  TakeMessages(Buffer, std::string(1 << 20, 'x'), ';', Collect);
  EXPECT_EQ(Buffer.size(), MaxPendingRxBytes);
  for (int I = 0; I < 4096; ++I)
    TakeMessages(Buffer, std::string(256, 'y'), ';', Collect);
  EXPECT_EQ(Buffer.size(), MaxPendingRxBytes);
  EXPECT_TRUE(Messages.empty());
  // A complete message after the flood is still recognised.
  TakeMessages(Buffer, "ZZIF1;", ';', Collect);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].substr(Messages[0].size() - 5), "ZZIF1");
  EXPECT_TRUE(Buffer.empty());
}

TEST(RadioHelperTest, DecimalConversionAcceptsNothingButDecimal) {
  const struct {
    const char* Text;
    bool Ok;
    std::int32_t Value;
  } Cases[] = {
      {"14", true, 14},
      {"  7", true, 7},
      {"+3", true, 3},
      {"-5", true, -5},
      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"$E", false, 0},
      {"0x10", false, 0},
      {"1 ", false, 0},
      {"1;", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const auto& Case : Cases) {
    std::int32_t Value = 0;
    EXPECT_EQ(TryDecimalToInt(Case.Text, Value), Case.Ok) << Case.Text;
    if (Case.Ok) {
      EXPECT_EQ(Value, Case.Value) << Case.Text;
    }
  }
}

TEST(BandPlanTest, DataModeNamesAndDigitalModes) {
  const struct {
    const char* Name;
    const char* Data; // DataModeForName
    bool Digital;     // IsDigitalModeName
  } Cases[] = {
      {"PKTUSB", "PKTUSB", false}, {"usb-d", "PKTUSB", false},
      {"DIGU", "PKTUSB", false},   {"pktlsb", "PKTLSB", false},
      {"LSB-D", "PKTLSB", false},  {"FM-D", "PKTFM", false},
      {"FT8", "", true},           {"ft4", "", true},
      {"JS8", "", true},           {"PSK31", "", true},
      {"RTTY", "", false},         {"Digi", "", false},
      {"USB", "", false},          {"", "", false},
      {"PKTUSBX", "", false},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(DataModeForName(Case.Name), Case.Data) << Case.Name;
    EXPECT_EQ(IsDigitalModeName(Case.Name), Case.Digital) << Case.Name;
  }
}
