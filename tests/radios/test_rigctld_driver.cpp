#include <gtest/gtest.h>

#include "RadioTestSupport.h"
#include "cat/radios/untRigctldCATinterface.h"

using namespace vela;
using namespace vela::test;

namespace {

std::string FrequencyAnswer(const std::string& Hz, const std::string& Result = "0") {
  return "get_freq:\nFrequency: " + Hz + "\nRPRT " + Result + "\n";
}

std::string ModeAnswer(const std::string& Mode, const std::string& Result = "0") {
  return "get_mode:\nMode: " + Mode + "\nPassband: 2400\nRPRT " + Result + "\n";
}

class RigctldDriverTest : public ::testing::Test {
protected:
  TDriverEnvironment Env;
  std::unique_ptr<TRigctldCATInterface> Driver = Env.Create<TRigctldCATInterface>();
  std::vector<TRxRecord>& Events = Env.Recorder.Events;
};

} // namespace

TEST_F(RigctldDriverTest, RecordsItsTypeAndPollsFrequencyAndMode) {
  EXPECT_EQ(Env.Settings->Radio(), rtRigctld);
  EXPECT_EQ(NextCommand(*Driver), "+f\n+m\n");
}

TEST_F(RigctldDriverTest, ReadsAnswersIntoPageTextsAndExactValues) {
  const struct {
    std::string Bytes;
    const char* Band;
    const char* Frequency;
    const char* Mode;
    std::int64_t Hz;
    const char* Native;
  } Cases[] = {
      {FrequencyAnswer("14074000") + ModeAnswer("USB"), "20m", "14.0740", "usb", 14074000, "USB"},
      {ModeAnswer("LSB"), "20m", "14.0740", "lsb", 14074000, "LSB"},
      {ModeAnswer("CWR"), "20m", "14.0740", "CW", 14074000, "CWR"},
      {ModeAnswer("SAM"), "20m", "14.0740", "AM", 14074000, "SAM"},
      {ModeAnswer("PKTUSB"), "20m", "14.0740", "Digi", 14074000, "PKTUSB"},
      {ModeAnswer("WFM"), "20m", "14.0740", "FM", 14074000, "WFM"},
      {ModeAnswer("RTTYR"), "20m", "14.0740", "Digi", 14074000, "RTTYR"},
      // A mode outside the table is reported as the daemon names it.
      {ModeAnswer("DSB"), "20m", "14.0740", "DSB", 14074000, "DSB"},
      {FrequencyAnswer("7074550.000000") + ModeAnswer("DSB"), "40m", "7.0745", "DSB", 7074550,
       "DSB"},
      // The mode refused: the frequency is still reported.
      {FrequencyAnswer("475000") + "get_mode:\nRPRT -11\n", "160m", ".4750", "DSB", 475000, "DSB"},
      {FrequencyAnswer("1296000000") + ModeAnswer("AM"), "", "1296.0000", "AM", 1296000000, "AM"},
      {"get_freq:\r\nFrequency: 3573000\r\nRPRT 0\r\n" + ModeAnswer("CW"), "80m", "3.5730", "CW",
       3573000, "CW"},
  };
  for (const auto& Case : Cases) {
    const std::size_t Before = Events.size();
    Feed(*Driver, Case.Bytes);
    ASSERT_EQ(Events.size(), Before + 1) << "one report per poll: " << Case.Bytes;
    EXPECT_EQ(Events.back().Sender, Driver.get());
    EXPECT_EQ(Events.back().Band, Case.Band) << Case.Bytes;
    EXPECT_EQ(Events.back().Frequency, Case.Frequency) << Case.Bytes;
    EXPECT_EQ(Events.back().Mode, Case.Mode) << Case.Bytes;
    EXPECT_EQ(Driver->FrequencyHz(), Case.Hz) << Case.Bytes;
    EXPECT_EQ(Driver->NativeMode(), Case.Native) << Case.Bytes;
  }
  EXPECT_EQ(Driver->LastResult(), 0);
}

TEST_F(RigctldDriverTest, IgnoresWhatIsNotAGoodAnswer) {
  Feed(*Driver, FrequencyAnswer("7074000") + ModeAnswer("USB"));
  const std::size_t Before = Events.size();
  const std::string Cases[] = {
      "Frequency: 14074000\nRPRT 0\n",                      // no answer line before it
      "get_mode:\nMode: CW\n" + FrequencyAnswer("x1"),      // cut off by another answer
      FrequencyAnswer("14074000", "-5"),                    // the radio behind did not answer
      FrequencyAnswer("-14074000"),                         // not a frequency
      FrequencyAnswer("999999999999"),                      // beyond what the page can show
      FrequencyAnswer("14O74000"),                          // a letter among the digits
      ModeAnswer("usb; rm"),                                // not a mode name
      "get_mode:\nRPRT -11\n",                              // the daemon cannot read the mode
      FrequencyAnswer("14074000") + "get_mode:\nRPRT -1\n", // refused: reported below
      "set_mode: USB 0\nMode: FM\nRPRT 0\n",                // a set command's answer
      std::string("\x00\xff\x01garbage\n\n\n::\nRPRT\nRPRT x\n", 28),
  };
  for (const std::string& Bytes : Cases)
    Feed(*Driver, Bytes);
  ASSERT_EQ(Events.size(), Before + 1);
  EXPECT_EQ(Events.back().Frequency, "14.0740");
  EXPECT_EQ(Events.back().Mode, "usb");
  EXPECT_EQ(Driver->LastResult(), -1);
  EXPECT_EQ(Driver->RadioNote(), "") << "the frequency is read";
  Feed(*Driver, FrequencyAnswer("14074000", "-5"));
  EXPECT_NE(Driver->RadioNote().find("RPRT -5 (timed out"), std::string::npos);
}

TEST_F(RigctldDriverTest, TuneCommandsGoFirstAndHoldReports) {
  Feed(*Driver, FrequencyAnswer("14074000") + ModeAnswer("USB"));
  Driver->TuneRadio("7.0745", "CW");
  EXPECT_EQ(Driver->FrequencyCommand(), "+F 7074500\n");
  EXPECT_EQ(Driver->ModeCommand(), "+M CW 0\n");
  const std::size_t Before = Events.size();
  Feed(*Driver, FrequencyAnswer("3573000") + ModeAnswer("USB"));
  EXPECT_EQ(Events.size(), Before) << "reported while a tune command waits";
  EXPECT_EQ(NextCommand(*Driver), "+F 7074500\n");
  EXPECT_EQ(NextCommand(*Driver), "+M CW 0\n");
  EXPECT_EQ(NextCommand(*Driver), "+f\n+m\n");
}

TEST_F(RigctldDriverTest, BuildsSetCommandsFromPageTexts) {
  const struct {
    const char* Frequency;
    const char* Command; // "" = none
  } Frequencies[] = {
      {"7.0745", "+F 7074500\n"},
      {".4750", "+F 475000\n"},
      {"144.300", "+F 144300000\n"},
      {"14.07412", "+F 14074120\n"},
      {"14.0741234", ""},
      {"7,0745", ""},
      {"7.0745\n+F 1", ""},
      {"-7.0745", ""},
      {"0.0000", ""},
      {"1234567.0", ""},
  };
  for (const auto& Case : Frequencies) {
    Driver->SetFrequency(Case.Frequency);
    EXPECT_EQ(Driver->FrequencyCommand(), Case.Command) << Case.Frequency;
    NextCommand(*Driver);
  }
  const struct {
    const char* Mode;
    const char* Command;
  } Modes[] = {
      {"lsb", "+M LSB 0\n"}, {"usb", "+M USB 0\n"},   {"CW", "+M CW 0\n"}, {"AM", "+M AM 0\n"},
      {"FM", "+M FM 0\n"},   {"Digi", "+M RTTY 0\n"}, {"LSB", ""},         {"PKTUSB", ""},
  };
  for (const auto& Case : Modes) {
    Driver->SetMode(Case.Mode);
    EXPECT_EQ(Driver->ModeCommand(), Case.Command) << Case.Mode;
    NextCommand(*Driver);
  }
  // Exact tuning takes the daemon's own names, and nothing that could carry
  // a second command.
  EXPECT_TRUE(Driver->TuneNativeMode("PKTUSB"));
  EXPECT_EQ(Driver->ModeCommand(), "+M PKTUSB 0\n");
  EXPECT_FALSE(Driver->TuneNativeMode("USB 0\n+F 1"));
  EXPECT_TRUE(Driver->TuneHz(7074001));
  EXPECT_EQ(Driver->FrequencyCommand(), "+F 7074001\n");
}

TEST_F(RigctldDriverTest, DaemonAnsweringOneCommandPerConnectionIsPolledOneAtATime) {
  EXPECT_EQ(NextCommand(*Driver), "+f\n+m\n");
  Feed(*Driver, FrequencyAnswer("14074000") + ModeAnswer("USB"));
  EXPECT_EQ(NextCommand(*Driver), "+f\n+m\n");
  Feed(*Driver, FrequencyAnswer("7074000")); // then the daemon closed
  EXPECT_EQ(NextCommand(*Driver), "+f\n");
  EXPECT_TRUE(Driver->OneCommandPolls());
  ASSERT_FALSE(Events.empty());
  EXPECT_EQ(Events.back().Frequency, "7.0740") << "the answer that came is reported";
  EXPECT_EQ(NextCommand(*Driver), "+m\n");
  EXPECT_EQ(NextCommand(*Driver), "+f\n");
  Driver->ResetCAT();
  EXPECT_EQ(NextCommand(*Driver), "+f\n+m\n");
}
