#include <gtest/gtest.h>

#include "RadioTestSupport.h"
#include "cat/radios/untRadioFactory.h"

using namespace vela;
using namespace vela::test;

TEST(RadioFactoryTest, CreatesEachDriverAndNamesEachType) {
  TDriverEnvironment Env;
  const struct {
    TRadioType Radio;
    const char* Name;
    std::size_t PollLength;
  } Cases[] = {
      {rtFlex, "flex", 5},   {rtFT100D, "ft100d", 5}, {rtFT897D, "ft897d", 5},
      {rtFT950, "ft950", 3}, {rtIC7000, "ic7000", 6}, {rtIC7300, "ic7300", 6},
  };
  for (const auto& Case : Cases) {
    // Another type in the store first, so that the driver's own write shows.
    Env.Settings->setRadio(Case.Radio == rtFlex ? rtIC7300 : rtFlex);
    std::unique_ptr<TCATInterface> Driver =
        CreateRadioDriver(Case.Radio, nullptr, Env.Settings.get());
    ASSERT_TRUE(Driver) << Case.Name;
    EXPECT_EQ(Driver->Radio(), Case.Radio) << Case.Name;
    EXPECT_EQ(Driver->PollCommand().size(), Case.PollLength) << Case.Name;
    EXPECT_STREQ(RadioName(Case.Radio), Case.Name);
    EXPECT_EQ(RadioFromName(Case.Name), Case.Radio);
  }
  EXPECT_EQ(CreateRadioDriver(static_cast<TRadioType>(9), nullptr, Env.Settings.get()), nullptr);
  EXPECT_EQ(RadioName(static_cast<TRadioType>(9)), nullptr);
  EXPECT_FALSE(RadioFromName("FLEX"));
  EXPECT_FALSE(RadioFromName("ic-7300"));
  EXPECT_FALSE(RadioFromName(""));
}

// A page's frequency must be decimal for every radio: what the text-to-integer
// conversion would also take (hexadecimal, signs, blanks) tunes nothing.
TEST(RadioFactoryTest, NoDriverTunesToAFrequencyThatIsNotDecimal) {
  TDriverEnvironment Env;
  for (TRadioType Radio : {rtFlex, rtFT100D, rtFT897D, rtFT950, rtIC7000, rtIC7300}) {
    std::unique_ptr<TCATInterface> Driver = CreateRadioDriver(Radio, nullptr, Env.Settings.get());
    ASSERT_TRUE(Driver);
    Driver->SetFrequency("14.0740");
    EXPECT_FALSE(Driver->FrequencyCommand().empty()) << RadioName(Radio);
    for (const char* Text :
         {"$E.0740", "0xE.0740", "xE.0740", "+14.0740", " 14.0740", "14 .0740"}) {
      NextCommand(*Driver); // hands out (and so clears) a waiting command
      Driver->SetFrequency(Text);
      EXPECT_EQ(Driver->FrequencyCommand(), "") << RadioName(Radio) << " " << Text;
    }
  }
}
