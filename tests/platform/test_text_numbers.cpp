// The shared text rules beside TryStrToInt: trimming, digit runs and hertz.
#include <gtest/gtest.h>

#include "platform/untStrToInt.h"
#include "platform/untText.h"

using namespace vela;

TEST(TextRules, TrimTakesTheBlanksItIsGiven) {
  EXPECT_EQ(Trim(" \tkey = v \t"), "key = v");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim("x\r"), "x\r"); // a CR is a blank only where the caller says so
  EXPECT_EQ(Trim("\r\nF 7\r\n", " \t\r\n"), "F 7");
}

TEST(TextRules, AsciiLowerLeavesOtherBytesAlone) {
  EXPECT_EQ(AsciiLower("PKTUSB Ft8 [CommSettings]"), "pktusb ft8 [commsettings]");
  // UTF-8 (and any byte above 127) passes unchanged, whatever the locale.
  EXPECT_EQ(AsciiLower("J\xC3\x96RG \xC3\x9C"), "j\xC3\x96rg \xC3\x9C");
}

TEST(TextRules, DigitRuns) {
  struct {
    const char* Text;
    std::size_t Max;
    bool Ok;
    std::int64_t Value;
  } Cases[] = {
      {"0", 9, true, 0},           {"000140740", 9, true, 140740},
      {"0123456789", 9, false, 0}, {"999999999999", 12, true, 999999999999},
      {"", 9, false, 0},           {"+1", 9, false, 0},
      {"-1", 9, false, 0},         {" 1", 9, false, 0},
      {"1 ", 9, false, 0},         {"1a", 9, false, 0},
      {"1", 19, false, 0},
  };
  for (const auto& C : Cases) {
    std::int64_t Value = -7;
    EXPECT_EQ(TryDigitsToInt(C.Text, C.Max, Value), C.Ok) << C.Text;
    EXPECT_EQ(Value, C.Ok ? C.Value : -7) << C.Text;
  }
}

TEST(TextRules, HertzRoundToTheNearest) {
  constexpr std::int64_t Limit = 1'000'000'000'000;
  struct {
    const char* Text;
    bool Ok;
    std::int64_t Hz;
  } Cases[] = {
      {"14074000.6", true, 14074001},
      {"14074000.5", true, 14074001},
      {"14074000.49", true, 14074000},
      {"7074000.000000", true, 7074000},
      {".5", true, 1},
      {"5.", true, 5},
      {"1000000000000", true, Limit},
      {"999999999999.5", true, Limit},
      {"1000000000000.5", false, 0},
      {"1000000000001", false, 0},
      {"+5", false, 0},
      {" 5", false, 0},
      {".", false, 0},
      {"1.2.3", false, 0},
      {"1e6", false, 0},
      {"99999999999999999999999", false, 0},
  };
  for (const auto& C : Cases) {
    std::int64_t Hz = -1;
    EXPECT_EQ(ParseHertz(C.Text, Limit, Hz), C.Ok) << C.Text;
    EXPECT_EQ(Hz, C.Ok ? C.Hz : -1) << C.Text;
  }
}
