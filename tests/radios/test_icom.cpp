#include <gtest/gtest.h>

#include "RadioTestSupport.h"
#include "cat/radios/untIC7000CATinterface.h"
#include "cat/radios/untIC7300CATinterface.h"
#include "cat/radios/untRadioTable.h"

using namespace vela;
using namespace vela::test;

namespace {

template <class TDriver> class IcomTest : public ::testing::Test {
protected:
  // A frame from the radio to the controller CCh.
  std::string FromRadio(std::initializer_list<int> Body) const {
    std::string Frame = Bytes({0xFE, 0xFE, 0xCC, Address});
    for (int B : Body)
      Frame += static_cast<char>(B);
    return Frame + '\xFD';
  }
  std::string ToRadio(std::initializer_list<int> Body) const {
    std::string Frame = Bytes({0xFE, 0xFE, Address, 0xCC});
    for (int B : Body)
      Frame += static_cast<char>(B);
    return Frame + '\xFD';
  }

  TDriverEnvironment Env;
  std::unique_ptr<TDriver> Driver = Env.Create<TDriver>();
  std::vector<TRxRecord>& Events = Env.Recorder.Events;
  const int Address = TDriver::DefaultAddress;
};

using IcomRadios = ::testing::Types<TIC7000CATInterface, TIC7300CATInterface>;
TYPED_TEST_SUITE(IcomTest, IcomRadios);

} // namespace

TYPED_TEST(IcomTest, ConstructionAndAlternatingPoll) {
  auto& Driver = *this->Driver;
  EXPECT_EQ(this->Env.Settings->Radio(), this->Address == 0x70 ? rtIC7000 : rtIC7300);
  const std::string ReadFrequency = this->ToRadio({0x03});
  const std::string ReadMode = this->ToRadio({0x04});
  EXPECT_EQ(Driver.PollCommand(), ReadFrequency);
  // The first poll reads the mode, then strict alternation...
  EXPECT_EQ(NextCommand(Driver), ReadMode);
  EXPECT_EQ(NextCommand(Driver), ReadFrequency);
  EXPECT_EQ(NextCommand(Driver), ReadMode);
  // ...undisturbed by set commands in between...
  Driver.SetFrequency("7.0745");
  Driver.SetMode("CW");
  EXPECT_EQ(NextCommand(Driver), this->ToRadio({0x05, 0x00, 0x45, 0x07, 0x07, 0x00}));
  EXPECT_EQ(NextCommand(Driver), this->ToRadio({0x06, 0x03}));
  EXPECT_EQ(NextCommand(Driver), ReadFrequency);
  // ...and by a restart of the worker.
  Driver.ResetCAT();
  EXPECT_EQ(NextCommand(Driver), ReadMode);
}

TYPED_TEST(IcomTest, FramesSplitTogetherEchoedAndForeign) {
  auto& Driver = *this->Driver;
  auto& Events = this->Events;
  const std::string Frequency = this->FromRadio({0x03, 0x00, 0x45, 0x07, 0x07, 0x00});
  Feed(Driver, Frequency.substr(0, 6));
  EXPECT_TRUE(Events.empty());
  Feed(Driver, Frequency.substr(6));
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Sender, &Driver);
  EXPECT_EQ(Events[0].Frequency, "7.0745");
  EXPECT_EQ(Events[0].Band, "40m");
  EXPECT_EQ(Driver.FrequencyHz(), 7074500);
  EXPECT_EQ(Events[0].Mode, "");

  // Two frames in one call: one event each.
  Feed(Driver,
       this->FromRadio({0x04, 0x01, 0x01}) + this->FromRadio({0x03, 0x00, 0x00, 0x50, 0x45, 0x01}));
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[1].Mode, "usb");
  EXPECT_EQ(Events[2].Frequency, "145.5000");
  EXPECT_EQ(Events[2].Band, "2m");

  const int Other = this->Address == 0x70 ? 0x94 : 0x70;
  const std::string Ignored[] = {
      // The echo of our own commands (source CCh).
      this->ToRadio({0x03}),
      this->ToRadio({0x04}),
      this->ToRadio({0x05, 0x00, 0x00, 0x00, 0x14, 0x00}),
      // Another radio's address.
      Bytes({0xFE, 0xFE, 0xCC, Other, 0x03, 0x00, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD}),
      // Three FEh bytes: the third is taken as the destination.
      Bytes({0xFE, 0xFE, 0xFE, 0xCC, this->Address, 0x04, 0x03, 0xFD}),
      // OK, NG, transceive broadcasts, no preamble, no command, short frames.
      this->FromRadio({0xFB}),
      this->FromRadio({0xFA}),
      this->FromRadio({0x00, 0x00, 0x00, 0x40, 0x07, 0x14, 0x00}),
      Bytes({0xCC, this->Address, 0x04, 0x03, 0xFD}),
      this->FromRadio({}),
      Bytes({0xFE, 0xFE, 0xCC, 0xFD}),
      this->FromRadio({0x03, 0x00, 0x00, 0x40}), // fewer than five data bytes
      this->FromRadio({0x04}),
      // Longer than any reply.
      this->FromRadio(
          {0x03, 0, 0, 0x40, 0x07, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
  };
  for (const std::string& Frame : Ignored)
    Feed(Driver, Frame);
  EXPECT_EQ(Events.size(), 3u);
  EXPECT_EQ(Driver.Frequency(), "145.5000");
  EXPECT_EQ(Driver.Mode(), "usb");

  // A reply to another controller (any destination) counts like our own.
  Feed(Driver, Bytes({0xFE, 0xFE, 0xE0, this->Address, 0x04, 0x03, 0x02, 0xFD}));
  ASSERT_EQ(Events.size(), 4u);
  EXPECT_EQ(Events[3].Mode, "CW");
}

TYPED_TEST(IcomTest, ModeBytes) {
  auto& Driver = *this->Driver;
  auto& Events = this->Events;
  const char* Expected[] = {"lsb", "usb", "AM", "CW", "Digi", "FM", "FM", "CW", "Digi"};
  const char* Native[] = {"LSB", "USB", "AM", "CW", "RTTY", "FM", "WFM", "CWR", "RTTYR"};
  Feed(Driver, this->FromRadio({0x04, 0x08, 0x01})); // start from a mode that differs
  for (int Byte = 0; Byte <= 8; ++Byte) {
    const std::size_t Before = Events.size();
    Feed(Driver, this->FromRadio({0x04, Byte, 0x01}));
    // Only 06h after 05h is no change; every other byte raises an event.
    EXPECT_EQ(Events.size(), Before + (Byte == 6 ? 0 : 1)) << Byte;
    EXPECT_EQ(Events.back().Mode, Expected[Byte]) << Byte;
    EXPECT_EQ(Driver.Mode(), Expected[Byte]) << Byte;
    // The exact mode is kept even where the page's text does not change.
    EXPECT_EQ(Driver.NativeMode(), Native[Byte]) << Byte;
  }
  // A byte without a name: empty as the first mode frame of a call, the
  // previous frame's mode later in the same call.
  Feed(Driver, this->FromRadio({0x04, 0x09, 0x01}));
  EXPECT_EQ(Driver.Mode(), "");
  EXPECT_EQ(Driver.NativeMode(), "");
  Feed(Driver, this->FromRadio({0x04, 0x03, 0x01}) + this->FromRadio({0x04, 0x17, 0x01}));
  EXPECT_EQ(Driver.Mode(), "CW");
}

TYPED_TEST(IcomTest, ReportingRuleAndSmallFrequencies) {
  auto& Driver = *this->Driver;
  auto& Events = this->Events;
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x00, 0x74, 0x14, 0x00}));
  ASSERT_EQ(Events.size(), 1u);
  Feed(Driver, this->FromRadio({0x03, 0x99, 0x00, 0x74, 0x14, 0x00})); // 1 Hz digits dropped
  EXPECT_EQ(Events.size(), 1u);
  EXPECT_EQ(Driver.FrequencyHz(), 14740099); // but kept exact

  // A mode change while a command waits is stored but not reported; the
  // same frequency afterwards raises nothing either.
  Driver.SetFrequency("7.0745");
  Feed(Driver, this->FromRadio({0x04, 0x03, 0x01}));
  EXPECT_EQ(Events.size(), 1u);
  EXPECT_EQ(Driver.Mode(), "CW");
  NextCommand(Driver);
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x00, 0x74, 0x14, 0x00}));
  EXPECT_EQ(Events.size(), 1u);

  // Below 1 MHz the text begins with the dot; below 100 kHz it keeps the
  // zeros its four decimals need.
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x00, 0x50, 0x00, 0x00}));
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[1].Frequency, ".5000");
  EXPECT_EQ(Events[1].Mode, "CW");
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x75, 0x04, 0x00, 0x00}));
  EXPECT_EQ(Events.back().Frequency, ".0475");
  EXPECT_EQ(Events.back().Band, "160m");
}

// A page that hands back an empty frequency is filled with the radio's own
// values at the next report, also when that report is the mode alone: never
// with the driver's "changed" marker.
TYPED_TEST(IcomTest, AnEmptiedPageIsFilledWithTheRadiosFrequency) {
  auto& Driver = *this->Driver;
  auto& Events = this->Events;
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x00, 0x74, 0x14, 0x00}));
  Feed(Driver, this->FromRadio({0x04, 0x01, 0x01}));
  Driver.TuneRadio("", "");
  EXPECT_EQ(Driver.Frequency(), "0");
  Feed(Driver, this->FromRadio({0x04, 0x03, 0x01}));
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[2].Frequency, "14.7400");
  EXPECT_EQ(Events[2].Band, "20m");
  EXPECT_EQ(Events[2].Mode, "CW");
  // The frequency read next is reported again: the page asked for it.
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x00, 0x74, 0x14, 0x00}));
  EXPECT_EQ(Events.size(), 4u);
}

TYPED_TEST(IcomTest, SetCommands) {
  auto& Driver = *this->Driver;
  const struct {
    const char* Text;
    std::string Frame; // empty: none built
  } Frequencies[] = {
      {"7.0745", this->ToRadio({0x05, 0x00, 0x45, 0x07, 0x07, 0x00})},
      {"14.25", this->ToRadio({0x05, 0x00, 0x00, 0x25, 0x14, 0x00})},
      {"145.5000", this->ToRadio({0x05, 0x00, 0x00, 0x50, 0x45, 0x01})},
      {"1296.1", this->ToRadio({0x05, 0x00, 0x00, 0x10, 0x96, 0x12})},
      {"14.074000", this->ToRadio({0x05, 0x00, 0x40, 0x07, 0x14, 0x00})},
      {"14", ""},
      {".5000", ""},
      {"14.07401", ""},
      {"-7.0745", ""},
      {"10000.0", ""},
      {"14.x", ""},
      {"14.$10", ""},
      {"14.-1", ""},
      {"", ""},
  };
  for (const auto& Case : Frequencies) {
    Driver.SetFrequency(Case.Text);
    EXPECT_EQ(Driver.FrequencyCommand(), Case.Frame) << Case.Text;
    NextCommand(Driver);
  }
  const struct {
    const char* Text;
    int Byte; // -1: none built
  } Modes[] = {
      {"lsb", 0x00}, {"usb", 0x01}, {"AM", 0x02}, {"CW", 0x03}, {"Digi", 0x04},
      {"FM", 0x05},  {"LSB", -1},   {"Cw", -1},   {"", -1},
  };
  for (const auto& Case : Modes) {
    Driver.SetMode(Case.Text);
    EXPECT_EQ(Driver.ModeCommand(), Case.Byte < 0 ? "" : this->ToRadio({0x06, Case.Byte}))
        << Case.Text;
    NextCommand(Driver);
  }
  // A newer command replaces a waiting one.
  Driver.SetFrequency("14.25");
  Driver.SetFrequency("7.0745");
  EXPECT_EQ(NextCommand(Driver), this->ToRadio({0x05, 0x00, 0x45, 0x07, 0x07, 0x00}));
}

TYPED_TEST(IcomTest, ReceiveBufferStaysBounded) {
  auto& Driver = *this->Driver;
  Feed(Driver, std::string(1 << 20, '\xFE'));
  EXPECT_LE(Driver.RxBuffer().size(), MaxPendingRxBytes);
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x00, 0x74, 0x14, 0x00}));
  // The flood's FEh bytes run into the next frame's preamble: that frame
  // is lost, the one after it is read.
  Feed(Driver, this->FromRadio({0x03, 0x00, 0x40, 0x07, 0x14, 0x00}));
  EXPECT_EQ(Driver.Frequency(), "14.0740");
}

namespace {

// An IC-7300 whose station says "Digi" means data (DigiMode=data).
class IC7300DataTest : public IcomTest<TIC7300CATInterface> {
protected:
  IC7300DataTest() { Env.Settings->setDigiMode(dmData); }
  const std::string ReadMode = ToRadio({0x04});
  const std::string ReadFlag = ToRadio({0x1A, 0x06});
  const std::string ReadFrequency = ToRadio({0x03});
};

} // namespace

TEST_F(IC7300DataTest, ReadsTheDataFlagAfterTheModeAndReportsDigi) {
  auto& D = *Driver;
  EXPECT_EQ(NextCommand(D), ReadMode);
  EXPECT_EQ(NextCommand(D), ReadFlag);
  EXPECT_EQ(NextCommand(D), ReadFrequency);
  EXPECT_EQ(NextCommand(D), ReadMode);
  // mode byte, data flag, then page mode and Hamlib mode.
  const struct {
    int Mode, Flag;
    const char* Text;
    const char* Native;
  } Cases[] = {
      {0x01, 0x01, "Digi", "PKTUSB"}, {0x00, 0x01, "Digi", "PKTLSB"}, {0x05, 0x01, "Digi", "PKTFM"},
      {0x01, 0x00, "usb", "USB"},     {0x03, 0x01, "CW", "CW"},       {0x04, 0x00, "Digi", "RTTY"},
  };
  for (const auto& Case : Cases) {
    Feed(D, FromRadio({0x04, Case.Mode, 0x01}) + FromRadio({0x1A, 0x06, Case.Flag, 0x01}));
    EXPECT_EQ(Events.back().Mode, Case.Text) << Case.Mode << " " << Case.Flag;
    EXPECT_EQ(D.NativeMode(), Case.Native) << Case.Mode << " " << Case.Flag;
  }
  // Another mode at the radio: its flag is taken as off until it is read.
  Feed(D, FromRadio({0x04, 0x01, 0x01}) + FromRadio({0x1A, 0x06, 0x01, 0x01}));
  Feed(D, FromRadio({0x04, 0x00, 0x01}));
  EXPECT_EQ(Events.back().Mode, "lsb");
}

TEST_F(IC7300DataTest, ARadioAnsweringNGToTheFlagKeepsTheModeOfTheModeReply) {
  auto& D = *Driver;
  NextCommand(D); // mode
  Feed(D, FromRadio({0x04, 0x01, 0x01}));
  EXPECT_EQ(NextCommand(D), ReadFlag);
  const std::size_t Before = Events.size();
  Feed(D, FromRadio({0xFA}));
  EXPECT_EQ(Events.size(), Before);
  EXPECT_EQ(D.Mode(), "usb");
  // No retry: the rotation goes on to the frequency.
  EXPECT_EQ(NextCommand(D), ReadFrequency);
  EXPECT_EQ(NextCommand(D), ReadMode);
}

TEST_F(IC7300DataTest, DigiSetsUSBWithDataOnAndOtherModesTurnItOff) {
  auto& D = *Driver;
  Feed(D, FromRadio({0x03, 0x00, 0x40, 0x07, 0x14, 0x00}) + FromRadio({0x04, 0x03, 0x01}));
  const std::size_t Before = Events.size();
  D.TuneRadio("14.0740", "Digi");
  // One frame per cycle; the reports wait until both have gone out.
  EXPECT_EQ(NextCommand(D), ToRadio({0x06, 0x01}));
  Feed(D, FromRadio({0x04, 0x01, 0x01}));
  EXPECT_EQ(Events.size(), Before);
  EXPECT_EQ(NextCommand(D), ToRadio({0x1A, 0x06, 0x01, 0x01}));
  EXPECT_EQ(D.ModeCommand(), "");
  D.SetMode("usb");
  EXPECT_EQ(NextCommand(D), ToRadio({0x06, 0x01}));
  EXPECT_EQ(NextCommand(D), ToRadio({0x1A, 0x06, 0x00, 0x00}));
  D.SetMode("CW"); // no data variant: the mode alone
  EXPECT_EQ(D.ModeCommand(), ToRadio({0x06, 0x03}));
}

TEST_F(IC7300DataTest, ALaterTuneBackToTheOldStateIsNotLost) {
  auto& D = *Driver;
  // USB-D on 14.0740.
  Feed(D, FromRadio({0x03, 0x00, 0x40, 0x07, 0x14, 0x00}) + FromRadio({0x04, 0x01, 0x01}) +
              FromRadio({0x1A, 0x06, 0x01, 0x01}));
  ASSERT_EQ(D.Mode(), "Digi");
  D.TuneRadio("14.2000", "usb");
  while (!D.FrequencyCommand().empty() || !D.ModeCommand().empty())
    NextCommand(D);
  // The radio is there in frequency, its mode not yet read back: the next
  // request goes by what the radio was told, not by the old mode text.
  Feed(D, FromRadio({0x03, 0x00, 0x00, 0x20, 0x14, 0x00}));
  D.TuneRadio("14.0740", "Digi");
  EXPECT_EQ(D.FrequencyCommand(), ToRadio({0x05, 0x00, 0x40, 0x07, 0x14, 0x00}));
  EXPECT_EQ(D.ModeCommand(), ToRadio({0x06, 0x01}) + ToRadio({0x1A, 0x06, 0x01, 0x01}));
  // The same page walked again tunes nothing more.
  while (!D.FrequencyCommand().empty() || !D.ModeCommand().empty())
    NextCommand(D);
  D.TuneRadio("14.0740", "Digi");
  EXPECT_EQ(D.FrequencyCommand(), "");
  EXPECT_EQ(D.ModeCommand(), "");
}

// A data mode set by its Hamlib name (a program sharing the radio) reads back
// as set, also where the station's "Digi" means RTTY.
class IC7300DataModeTuned : public IcomTest<TIC7300CATInterface> {};

TEST_F(IC7300DataModeTuned, ReadsTheFlagOnceADataModeWasSet) {
  auto& D = *Driver;
  EXPECT_TRUE(D.TuneNativeMode("PKTUSB"));
  EXPECT_EQ(NextCommand(D), ToRadio({0x06, 0x01}));
  EXPECT_EQ(NextCommand(D), ToRadio({0x1A, 0x06, 0x01, 0x01}));
  std::string Polls;
  for (int I = 0; I < 3; ++I)
    Polls += NextCommand(D);
  EXPECT_NE(Polls.find(ToRadio({0x1A, 0x06})), std::string::npos);
  Feed(D, FromRadio({0x04, 0x01, 0x01}) + FromRadio({0x1A, 0x06, 0x01, 0x01}));
  EXPECT_EQ(D.NativeMode(), "PKTUSB");
}

// With the default "Digi means RTTY" nothing of the data mode is sent or read.
TYPED_TEST(IcomTest, DigiMeansRTTYByDefaultAndAlwaysOnTheIC7000) {
  auto& D = *this->Driver;
  if (this->Address == 0x70)
    this->Env.Settings->setDigiMode(dmData);
  D.SetMode("Digi");
  EXPECT_EQ(D.ModeCommand(), this->ToRadio({0x06, 0x04}));
  D.SetMode("usb");
  EXPECT_EQ(D.ModeCommand(), this->ToRadio({0x06, 0x01}));
  for (int I = 0; I < 4; ++I)
    EXPECT_NE(NextCommand(D)[4], '\x1A');
}

// The stored CI-V address replaces the radio's own, for the frames sent and
// for those taken; frames from the radio's default address are then another
// radio's.
TYPED_TEST(IcomTest, AStoredCIVAddressIsUsedFromTheNextStart) {
  auto& D = *this->Driver;
  this->Env.Settings->setIntCIVAddress(0x5E);
  D.ResetCAT();
  EXPECT_EQ(NextCommand(D), Bytes({0xFE, 0xFE, 0x5E, 0xCC, 0x04, 0xFD}));
  D.SetMode("CW");
  EXPECT_EQ(D.ModeCommand(), Bytes({0xFE, 0xFE, 0x5E, 0xCC, 0x06, 0x03, 0xFD}));
  Feed(D, this->FromRadio({0x03, 0x00, 0x40, 0x07, 0x14, 0x00}));
  EXPECT_EQ(D.Frequency(), "");
  Feed(D, Bytes({0xFE, 0xFE, 0xCC, 0x5E, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD}));
  EXPECT_EQ(D.Frequency(), "14.0740");
}

// A hand-edited address outside 01h..DFh, or the controller's own, gives
// the radio's default address.
TYPED_TEST(IcomTest, AnUnusableCIVAddressFallsBackToTheRadiosOwn) {
  for (int Stored : {0x00, 0xCC, 0xE0, 0x1A0}) {
    this->Env.Settings->setIntCIVAddress(Stored);
    this->Driver->ResetCAT();
    EXPECT_EQ(this->Driver->RadioAddress(), this->Address) << Stored;
  }
  EXPECT_TRUE(ValidCIVAddress(0x01));
  EXPECT_TRUE(ValidCIVAddress(0xDF));
  EXPECT_FALSE(ValidCIVAddress(CIVControllerAddress));
}

namespace {

// A transceive frame: the radio's report of a change made at it, to 00h.
std::string Report(int From, std::initializer_list<int> Body) {
  std::string Frame = Bytes({0xFE, 0xFE, 0x00, From});
  for (int B : Body)
    Frame += static_cast<char>(B);
  return Frame + '\xFD';
}

// Polls until the driver hands out a command; the number of empty polls
// before it in Idle.
std::string NextWrite(TCATInterface& Driver, int& Idle) {
  for (Idle = 0; Idle < 1000; ++Idle)
    if (std::string Command = NextCommand(Driver); !Command.empty())
      return Command;
  return {};
}

} // namespace

TYPED_TEST(IcomTest, TransceiveFramesThroughTheReader) {
  auto& Driver = *this->Driver;
  auto& Events = this->Events;
  const int Radio = this->Address;
  const int Other = Radio == 0x70 ? 0x94 : 0x70;
  Feed(Driver,
       this->FromRadio({0x03, 0x00, 0x40, 0x07, 0x14, 0x00}) + this->FromRadio({0x04, 0x01, 0x01}));
  ASSERT_EQ(Driver.Frequency(), "14.0740");
  const std::string Half = Report(Radio, {0x00, 0x00, 0x00, 0x10, 0x07, 0x00});
  const struct {
    const char* What;
    std::string Bytes;
    const char* Frequency; // nullptr: no event
    const char* Band;
    const char* Mode;
  } Cases[] = {
      {"frequency", Report(Radio, {0x00, 0x00, 0x45, 0x07, 0x07, 0x00}), "7.0745", "40m", "usb"},
      {"the same again", Report(Radio, {0x00, 0x90, 0x45, 0x07, 0x07, 0x00}), nullptr, "", ""},
      {"mode and filter", Report(Radio, {0x01, 0x03, 0x02}), "7.0745", "40m", "CW"},
      {"mode alone", Report(Radio, {0x01, 0x02}), "7.0745", "40m", "AM"},
      {"outside every band", Report(Radio, {0x00, 0x00, 0x00, 0x10, 0x96, 0x12}), "1296.1000", "",
       "AM"},
      {"a mode byte not in the table", Report(Radio, {0x01, 0x17, 0x01}), "1296.1000", "", ""},
      {"a bad BCD digit", Report(Radio, {0x00, 0x00, 0x00, 0x4A, 0x07, 0x00}), nullptr, "", ""},
      {"short", Report(Radio, {0x00, 0x00, 0x00, 0x10}), nullptr, "", ""},
      {"no mode byte", Report(Radio, {0x01}), nullptr, "", ""},
      {"another radio on the bus", Report(Other, {0x00, 0x00, 0x00, 0x10, 0x14, 0x00}), nullptr, "",
       ""},
      {"to a controller, not to all", this->FromRadio({0x00, 0x00, 0x00, 0x10, 0x14, 0x00}),
       nullptr, "", ""},
      {"our own command's echo", Bytes({0xFE, 0xFE, 0x00, 0xCC, 0x00, 0, 0, 0x10, 0x14, 0, 0xFD}),
       nullptr, "", ""},
      {"another command to all", Report(Radio, {0x03, 0x00, 0x00, 0x10, 0x14, 0x00}), "14.1000",
       "20m", ""},
      {"garbage", Bytes({0x13, 0xFD, 0xFE, 0x00, 0x94, 0xFD, 0xFE, 0xFE, 0xFD}), nullptr, "", ""},
      // Half a frame runs into the next one: only the whole one counts.
      {"cut by the line", Half.substr(0, 7) + Report(Radio, {0x00, 0x00, 0x00, 0x20, 0x14, 0x00}),
       "14.2000", "20m", ""},
      {"half a frame", Half.substr(0, 8), nullptr, "", ""},
  };
  for (const auto& Case : Cases) {
    const std::size_t Before = Events.size();
    Feed(Driver, Case.Bytes);
    if (!Case.Frequency) {
      EXPECT_EQ(Events.size(), Before) << Case.What;
      continue;
    }
    ASSERT_EQ(Events.size(), Before + 1) << Case.What;
    EXPECT_EQ(Events.back().Frequency, Case.Frequency) << Case.What;
    EXPECT_EQ(Events.back().Band, Case.Band) << Case.What;
    EXPECT_EQ(Events.back().Mode, Case.Mode) << Case.What;
  }
  EXPECT_TRUE(Driver.FollowingReports());

  // A knob that spins: one report per change, each as it comes.
  const std::size_t Before = Events.size();
  Feed(Driver, Report(Radio, {0x00, 0x00, 0x00, 0x20, 0x14, 0x00})); // rest of "half a frame"
  std::string Spin;
  for (int Step = 0; Step < 100; ++Step)
    Spin += Report(Radio, {0x00, 0x00, (Step % 10) << 4, 0x20 + Step / 10, 0x14, 0x00});
  Feed(Driver, Spin);
  EXPECT_EQ(Events.size(), Before + 99); // the first step is where it stood
  EXPECT_EQ(Driver.Frequency(), "14.2990");
}

TYPED_TEST(IcomTest, ReportsLetTheReadsSlowToAKeepAlive) {
  auto& Driver = *this->Driver;
  auto& Events = this->Events;
  const int Radio = this->Address;
  const std::string ReadFrequency = this->ToRadio({0x03});
  const std::string ReadMode = this->ToRadio({0x04});
  // The radio's answer to Read: on 14.0 MHz plus Khz, in mode ModeByte.
  const auto Answer = [&](const std::string& Read, int Khz, int ModeByte) {
    Feed(Driver, Read == ReadFrequency
                     ? this->FromRadio({0x03, 0x00, (Khz % 10) << 4, Khz / 10, 0x14, 0x00})
                     : this->FromRadio({0x04, ModeByte, 0x01}));
  };
  int Idle = 0;
  // Until the radio reports, every cycle reads.
  EXPECT_EQ(NextWrite(Driver, Idle), ReadMode);
  EXPECT_EQ(Idle, 0);
  EXPECT_FALSE(Driver.FollowingReports());
  Feed(Driver, Report(Radio, {0x00, 0x00, 0x40, 0x07, 0x14, 0x00}));
  EXPECT_TRUE(Driver.FollowingReports());
  // Then one read a keep-alive, frequency and mode in turn; the values it
  // finds were reported.
  std::string Read = NextWrite(Driver, Idle);
  EXPECT_EQ(Read, ReadFrequency);
  EXPECT_EQ(Idle, TypeParam::KeepAliveCycles - 1);
  Answer(Read, 74, 0x01);
  Read = NextWrite(Driver, Idle);
  EXPECT_EQ(Read, ReadMode);
  EXPECT_EQ(Idle, TypeParam::KeepAliveCycles - 1);
  Answer(Read, 74, 0x01);
  EXPECT_TRUE(Driver.FollowingReports());

  // A tune goes out at once and is read back at once; the radio need not
  // report it.
  Driver.SetFrequency("14.0800");
  EXPECT_EQ(NextCommand(Driver), this->ToRadio({0x05, 0x00, 0x00, 0x08, 0x14, 0x00}));
  EXPECT_EQ(NextCommand(Driver), ReadFrequency);
  Answer(ReadFrequency, 80, 0x01);
  EXPECT_EQ(Events.back().Frequency, "14.0800");
  EXPECT_TRUE(Driver.FollowingReports());

  // A read that finds a value no report announced (a lost frame): reported,
  // and every cycle reads again...
  Read = NextWrite(Driver, Idle);
  Answer(Read, 90, 0x03);
  EXPECT_FALSE(Driver.FollowingReports());
  EXPECT_EQ(Events.back().Frequency, Read == ReadFrequency ? "14.0900" : "14.0800");
  EXPECT_EQ(Events.back().Mode, Read == ReadMode ? "CW" : "usb");
  EXPECT_NE(NextCommand(Driver), "");
  EXPECT_NE(NextCommand(Driver), "");
  // ...until the next report.
  Feed(Driver, Report(Radio, {0x01, 0x03, 0x01}));
  EXPECT_TRUE(Driver.FollowingReports());
  EXPECT_EQ(NextCommand(Driver), "");

  // A read left unanswered until the next is due: every cycle reads again,
  // so that the link's health sees a silent radio as before.
  NextWrite(Driver, Idle);
  EXPECT_NE(NextWrite(Driver, Idle), "");
  EXPECT_EQ(Idle, TypeParam::KeepAliveCycles - 1);
  EXPECT_FALSE(Driver.FollowingReports());
  EXPECT_NE(NextWrite(Driver, Idle), "");
  EXPECT_EQ(Idle, 0);

  // Keying goes out at once.
  Feed(Driver, Report(Radio, {0x01, 0x01, 0x01}));
  ASSERT_TRUE(Driver.FollowingReports());
  ASSERT_TRUE(Driver.SetPTT(true));
  EXPECT_EQ(NextCommand(Driver), this->ToRadio({0x1C, 0x00, 0x01}));

  // A new link, or the station's Transceive off: the full cycle.
  Driver.ResetCAT();
  EXPECT_FALSE(Driver.FollowingReports());
  Feed(Driver, Report(Radio, {0x01, 0x01, 0x01}));
  EXPECT_TRUE(Driver.FollowingReports());
  this->Env.Settings->setTransceive(tcOff);
  EXPECT_NE(NextCommand(Driver), "");
  EXPECT_FALSE(Driver.FollowingReports());
  // Off, reports are left alone: the polls tell.
  const std::size_t Before = Events.size();
  Feed(Driver, Report(Radio, {0x00, 0x00, 0x00, 0x00, 0x07, 0x00}));
  EXPECT_EQ(Events.size(), Before);
  EXPECT_FALSE(Driver.FollowingReports());
}

// The data flag is not in a mode report: it is read at once.
TEST_F(IC7300DataTest, AModeReportReadsTheDataFlagAtOnce) {
  auto& D = *Driver;
  Feed(D, Report(Address, {0x01, 0x01, 0x01}));
  ASSERT_TRUE(D.FollowingReports());
  EXPECT_EQ(NextCommand(D), ReadFlag);
  Feed(D, FromRadio({0x1A, 0x06, 0x01, 0x01}));
  EXPECT_EQ(Events.back().Mode, "Digi");
  EXPECT_TRUE(D.FollowingReports());
  EXPECT_EQ(NextCommand(D), "");
}

// What a shared line hands to both sides: the radio's transceive frames,
// whole, however the bytes are cut; nothing else.
TYPED_TEST(IcomTest, TransceiveFramesPickedOutOfASharedLine) {
  auto& Driver = *this->Driver;
  const std::string Broadcast = Report(this->Address, {0x00, 0x00, 0x40, 0x07, 0x14, 0x00});
  const std::string Line = this->ToRadio({0x03}) + Bytes({0x13, 0x37}) + Broadcast.substr(0, 5) +
                           Broadcast.substr(5) + this->FromRadio({0x04, 0x01, 0x01}) +
                           Report(this->Address == 0x70 ? 0x94 : 0x70, {0x01, 0x03}) +
                           Report(this->Address, {0x01, 0x03, 0x01});
  for (std::size_t Piece : {Line.size(), std::size_t{1}, std::size_t{7}}) {
    std::string Picked;
    for (std::size_t At = 0; At < Line.size(); At += Piece) {
      std::string Part;
      Driver.TakeUnsolicited(nullptr, Line.substr(At, Piece), Part);
      Picked += Part;
    }
    EXPECT_EQ(Picked, Broadcast + Report(this->Address, {0x01, 0x03, 0x01})) << Piece;
  }
}
