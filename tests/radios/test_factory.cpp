#include <gtest/gtest.h>

#include <algorithm>

#include "RadioTestSupport.h"
#include "cat/radios/untBandPlan.h"
#include "cat/radios/untRadioFactory.h"
#include "cat/radios/untRadioTable.h"

using namespace vela;
using namespace vela::test;

namespace {

const char* const HamlibModes[] = {"LSB", "USB",  "CW",    "CWR",    "AM",     "FM",
                                   "WFM", "RTTY", "RTTYR", "PKTUSB", "PKTLSB", "PKTFM"};

bool Listed(const TRadioModel& Model, std::string_view Mode) {
  const auto Modes = Model.NativeModes();
  return std::any_of(Modes.begin(), Modes.end(), [&](const char* Name) { return Mode == Name; });
}

} // namespace

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

// Each row is found by its number and its name, lists exactly the Hamlib
// modes its driver can set, and its "Digi" choices are among them.
TEST(RadioTableTest, EachRowDescribesWhatItsDriverDoes) {
  TDriverEnvironment Env;
  ASSERT_EQ(RadioModels().size(), 7u);
  for (std::size_t I = 0; I < RadioModels().size(); ++I) {
    const TRadioModel& Model = *RadioModels()[I];
    SCOPED_TRACE(Model.Name);
    EXPECT_EQ(Model.Radio, static_cast<TRadioType>(I));
    EXPECT_EQ(FindRadioModel(Model.Radio), &Model);
    EXPECT_EQ(FindRadioModel(std::string_view(Model.Name)), &Model);
    std::unique_ptr<TCATInterface> Driver = Model.Create(nullptr, Env.Settings.get());
    EXPECT_EQ(Driver->Radio(), Model.Radio);
    for (const char* Mode : HamlibModes)
      EXPECT_EQ(Driver->TuneNativeMode(Mode), Listed(Model, Mode)) << Mode;
    EXPECT_TRUE(Listed(Model, Model.DigiRTTYMode));
    EXPECT_TRUE(Listed(Model, Model.DigiDataMode));
    EXPECT_EQ(Model.HasDataMode, Listed(Model, "PKTUSB"));
    EXPECT_EQ(Model.DefaultCIVAddress != 0, Model.Radio == rtIC7000 || Model.Radio == rtIC7300);
    EXPECT_FALSE(Driver->TuneNativeMode("usb")) << "Hamlib names are upper case";
    EXPECT_FALSE(Driver->TuneHz(0));
    EXPECT_FALSE(Driver->TuneHz(-1));
  }
  EXPECT_EQ(FindRadioModel(static_cast<TRadioType>(7)), nullptr);
  EXPECT_EQ(FindRadioModel(std::string_view("IC7300")), nullptr);
}

TEST(RadioTableTest, PageModeOfEachHamlibMode) {
  const char* const Page[] = {"lsb", "usb",  "CW",   "CW",   "AM",   "FM",
                              "FM",  "Digi", "Digi", "Digi", "Digi", "Digi"};
  for (std::size_t I = 0; I < std::size(HamlibModes); ++I)
    EXPECT_EQ(PageModeForNative(HamlibModes[I]), Page[I]) << HamlibModes[I];
  EXPECT_EQ(PageModeForNative("SAM"), "AM");
  for (const char* Other : {"", "usb", "DSB", "PKTAM", "CW "})
    EXPECT_EQ(PageModeForNative(Other), "") << Other;
}

// Exact tuning: the frequency at the step the command carries, and the
// radio's own modes beyond the page's six.
TEST(RadioTableTest, ExactTuneCommandsPerRadio) {
  TDriverEnvironment Env;
  const std::string Icom7300 = Bytes({0xFE, 0xFE, 0x94, 0xCC});
  const std::string Icom7000 = Bytes({0xFE, 0xFE, 0x70, 0xCC});
  const std::string End = Bytes({0xFD});
  const struct {
    TRadioType Radio;
    std::int64_t Hz;
    std::string Frequency; // empty: refused
    const char* Mode;
    std::string ModeCommand; // empty: refused
  } Cases[] = {
      {rtFlex, 14074123, "ZZFA00014074123;", "PKTLSB", "ZZMD09;"},
      // Outside the radio's range: refused, whatever the command could carry.
      {rtFlex, 99999999999, "", "CWR", "ZZMD03;"},
      {rtFlex, 100000000000, "", "RTTY", ""},
      {rtFT950, 7074560, "FA07074560;", "PKTUSB", "MD0C;"},
      {rtFT950, 99990000, "", "RTTYR", "MD09;"},
      {rtFT950, 29999, "", "CW", "MD03;"},
      {rtFT950, 30000, "FA00030000;", "CW", "MD03;"},
      {rtFT950, 56000000, "FA56000000;", "CW", "MD03;"},
      {rtFT950, 56000001, "", "CW", "MD03;"},
      // The binary Yaesus take 10 Hz steps: rounded to the nearest.
      {rtFT100D, 14074126, Bytes({0x13, 0x74, 0x40, 0x01, 0x0A}), "CWR", Bytes({0, 0, 0, 3, 0x0C})},
      {rtFT100D, 1000000000, "", "PKTFM", ""},
      {rtFT897D, 7074555, Bytes({0x00, 0x70, 0x74, 0x56, 0x01}), "PKTFM",
       Bytes({0x0C, 0, 0, 0, 7})},
      {rtIC7000, 7074556, Icom7000 + Bytes({0x05, 0x56, 0x45, 0x07, 0x07, 0x00}) + End, "RTTYR",
       Icom7000 + Bytes({0x06, 0x08}) + End},
      {rtIC7000, 10000000000, "", "PKTUSB", ""},
      {rtIC7300, 50313001, Icom7300 + Bytes({0x05, 0x01, 0x30, 0x31, 0x50, 0x00}) + End, "CWR",
       Icom7300 + Bytes({0x06, 0x07}) + End},
      {rtIC7300, 1296000001, "", "CWR", Icom7300 + Bytes({0x06, 0x07}) + End},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(FindRadioModel(Case.Radio)->Name + std::string(" ") + std::to_string(Case.Hz));
    std::unique_ptr<TCATInterface> Driver =
        CreateRadioDriver(Case.Radio, nullptr, Env.Settings.get());
    EXPECT_EQ(Driver->TuneHz(Case.Hz), !Case.Frequency.empty());
    EXPECT_EQ(Driver->TuneNativeMode(Case.Mode), !Case.ModeCommand.empty());
    // Both go out through the pending commands, in the order asked.
    EXPECT_EQ(Driver->FrequencyCommand(), Case.Frequency);
    EXPECT_EQ(Driver->ModeCommand(), Case.ModeCommand);
    if (!Case.Frequency.empty()) {
      EXPECT_EQ(NextCommand(*Driver), Case.Frequency);
    }
    if (!Case.ModeCommand.empty()) {
      EXPECT_EQ(NextCommand(*Driver), Case.ModeCommand);
    }
  }
}

// A page's frequency must be decimal for every radio: what the text-to-integer
// conversion would also take (hexadecimal, signs, blanks) tunes nothing.
TEST(RadioFactoryTest, NoDriverTunesToAFrequencyThatIsNotDecimal) {
  TDriverEnvironment Env;
  for (const TRadioModel* Model : RadioModels()) {
    const TRadioType Radio = Model->Radio;
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
