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

// The program's first driver, with clients allowed to key, releases the
// transmitter before anything else; a later driver (another radio applied,
// a second window) does not.
TEST(RadioPTTTest, OnlyTheProgramsFirstDriverReleasesAtStart) {
  TDriverEnvironment Env;
  Env.Settings->setBlnShareEnabled(true);
  Env.Settings->setBlnShareAllowPTT(true);
  TCATInterface::RearmProgramStart();
  std::unique_ptr<TCATInterface> First = CreateRadioDriver(rtFT950, nullptr, Env.Settings.get());
  EXPECT_EQ(NextCommand(*First), "TX0;");
  EXPECT_EQ(NextCommand(*First), "IF;");
  First.reset();
  std::unique_ptr<TCATInterface> Later = CreateRadioDriver(rtFT950, nullptr, Env.Settings.get());
  EXPECT_EQ(NextCommand(*Later), "IF;");
  // Without keying allowed, the first driver sends no release either.
  Env.Settings->setBlnShareAllowPTT(false);
  TCATInterface::RearmProgramStart();
  Later.reset();
  Later = CreateRadioDriver(rtFT950, nullptr, Env.Settings.get());
  EXPECT_EQ(NextCommand(*Later), "IF;");
}
