// Keying the transmitter by CAT: each radio's own commands, a key after the
// tune asked before it, a release ahead of everything, and the release
// queued by a restart while keyed.
#include <gtest/gtest.h>

#include "RadioTestSupport.h"
#include "cat/radios/untRadioFactory.h"
#include "cat/radios/untRadioTable.h"

using namespace vela;
using namespace vela::test;

TEST(RadioPTTTest, EachRadioKeysAfterTheTuneAskedBeforeAndReleasesFirst) {
  TDriverEnvironment Env;
  const std::string End = Bytes({0xFD});
  const struct {
    TRadioType Radio;
    std::string On, Off;
  } Cases[] = {
      {rtFlex, "ZZTX1;", "ZZTX0;"},
      {rtFT950, "TX1;", "TX0;"},
      {rtFT100D, Bytes({0, 0, 0, 1, 0x0F}), Bytes({0, 0, 0, 0, 0x0F})},
      {rtFT897D, Bytes({0, 0, 0, 0, 0x08}), Bytes({0, 0, 0, 0, 0x88})},
      {rtIC7000, Bytes({0xFE, 0xFE, 0x70, 0xCC, 0x1C, 0x00, 0x01}) + End,
       Bytes({0xFE, 0xFE, 0x70, 0xCC, 0x1C, 0x00, 0x00}) + End},
      {rtIC7300, Bytes({0xFE, 0xFE, 0x94, 0xCC, 0x1C, 0x00, 0x01}) + End,
       Bytes({0xFE, 0xFE, 0x94, 0xCC, 0x1C, 0x00, 0x00}) + End},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(FindRadioModel(Case.Radio)->Name);
    std::unique_ptr<TCATInterface> Driver =
        CreateRadioDriver(Case.Radio, nullptr, Env.Settings.get());
    EXPECT_TRUE(Driver->CanKey());
    EXPECT_FALSE(Driver->PTT());
    ASSERT_TRUE(Driver->TuneHz(7074000));
    const std::string Tune = Driver->FrequencyCommand();
    ASSERT_TRUE(Driver->SetPTT(true));
    EXPECT_TRUE(Driver->PTT());
    EXPECT_EQ(NextCommand(*Driver), Tune) << "the key waits for the tune asked before it";
    EXPECT_EQ(NextCommand(*Driver), Case.On);
    // A tune that replaces one asked before the key still goes first.
    ASSERT_TRUE(Driver->TuneHz(7074000));
    ASSERT_TRUE(Driver->SetPTT(true));
    ASSERT_TRUE(Driver->TuneHz(7074000));
    EXPECT_EQ(NextCommand(*Driver), Tune);
    EXPECT_EQ(NextCommand(*Driver), Case.On);
    // A release overtakes a tune asked before it.
    ASSERT_TRUE(Driver->TuneHz(7074000));
    ASSERT_TRUE(Driver->SetPTT(false));
    EXPECT_EQ(NextCommand(*Driver), Case.Off);
    EXPECT_EQ(NextCommand(*Driver), Tune);
    // A restart while keyed makes the release the new worker's first command.
    ASSERT_TRUE(Driver->SetPTT(true));
    Driver->ResetCAT();
    EXPECT_FALSE(Driver->PTT());
    EXPECT_EQ(Driver->PTTCommand(), Case.Off);
    EXPECT_EQ(NextCommand(*Driver), Case.Off);
    // Once keyed, every restart sends the release first: a release handed
    // out may have gone to a line that was being lost.
    ASSERT_FALSE(Driver->RadioPortConnected());
    ASSERT_TRUE(Driver->SetPTT(true));
    ASSERT_TRUE(Driver->SetPTT(false));
    EXPECT_EQ(NextCommand(*Driver), Case.Off);
    Driver->ResetCAT();
    EXPECT_EQ(NextCommand(*Driver), Case.Off);
  }
}

// The program's first driver, with clients allowed to key, releases a
// transmitter left keyed before anything else: it asks a radio that can
// tell, and releases one that cannot unasked. A later driver (another radio
// applied) does neither.
TEST(RadioPTTTest, OnlyTheProgramsFirstDriverReleasesAtStart) {
  TDriverEnvironment Env;
  Env.Settings->setBlnShareEnabled(true);
  Env.Settings->setBlnShareAllowPTT(true);
  const struct {
    const char* Answer;
    bool Released;
  } Cases[] = {{"TX1;", true}, {"TX2;", true}, {"TX0;", false}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Answer);
    TCATInterface::RearmProgramStart();
    auto Driver = CreateRadioDriver(rtFT950, nullptr, Env.Settings.get());
    EXPECT_EQ(NextCommand(*Driver), "TX;");
    Feed(*Driver, Case.Answer);
    if (Case.Released) {
      EXPECT_EQ(NextCommand(*Driver), "TX0;");
    }
    EXPECT_EQ(NextCommand(*Driver), "IF;");
  }
  TCATInterface::RearmProgramStart();
  auto Driver = CreateRadioDriver(rtFT100D, nullptr, Env.Settings.get());
  EXPECT_EQ(NextCommand(*Driver), Bytes({0, 0, 0, 0, 0x0F})) << "released unasked";
  Driver = CreateRadioDriver(rtFT950, nullptr, Env.Settings.get());
  EXPECT_EQ(NextCommand(*Driver), "IF;");
  // Without keying allowed, the first driver neither asks nor releases.
  Env.Settings->setBlnShareAllowPTT(false);
  TCATInterface::RearmProgramStart();
  Driver.reset();
  Driver = CreateRadioDriver(rtFT950, nullptr, Env.Settings.get());
  EXPECT_EQ(NextCommand(*Driver), "IF;");
}
