#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "RadioTestSupport.h"
#include "cat/radios/untFT950CATinterface.h"
#include "cat/radios/untFlexCATinterface.h"

using namespace vela;
using namespace vela::test;

namespace {

// A status reply: eleven frequency digits (Hz), sixteen other characters,
// the two-digit mode code at positions 28 and 29, then eight more.
std::string FlexStatus(const std::string& Hz11, const std::string& Mode2) {
  return "ZZIF" + Hz11 + "0000000000000000" + Mode2 + "00000000;";
}

// An information reply: memory channel, eight frequency digits (Hz),
// clarifier, the mode character at position 19, then five more.
std::string FT950Info(const std::string& Hz8, const std::string& Mode1) {
  return "IF001" + Hz8 + "+000000" + Mode1 + "00000;";
}

class FlexTest : public ::testing::Test {
protected:
  TDriverEnvironment Env;
  std::unique_ptr<TFlexCATInterface> Driver = Env.Create<TFlexCATInterface>();
  std::vector<TRxRecord>& Events = Env.Recorder.Events;
};

class FT950Test : public ::testing::Test {
protected:
  TDriverEnvironment Env;
  std::unique_ptr<TFT950CATInterface> Driver = Env.Create<TFT950CATInterface>();
  std::vector<TRxRecord>& Events = Env.Recorder.Events;
};

} // namespace

TEST_F(FlexTest, ConstructionRecordsTheRadioAndPollsStatus) {
  EXPECT_EQ(Env.Settings->Radio(), rtFlex);
  EXPECT_EQ(Driver->PollCommand(), "ZZIF;");
  EXPECT_EQ(NextCommand(*Driver), "ZZIF;");
}

TEST_F(FlexTest, DecodesFrequencyBandAndMode) {
  // The exact hertz and the radio's own mode by its Hamlib name ride along.
  const struct {
    const char* Hz;
    const char* Code;
    const char* Frequency;
    const char* Band;
    const char* Mode;
    const char* Native;
  } Cases[] = {
      {"00014074000", "01", "14.0740", "20m", "usb", "USB"},
      {"00007074560", "00", "7.0745", "40m", "lsb", "LSB"},
      {"00000475000", "02", ".4750", "160m", "AM", "AM"},
      {"00144300000", "03", "144.3000", "2m", "CW", "CWR"},
      {"00000047500", "04", ".0475", "160m", "CW", "CW"},
      {"00050125000", "05", "50.1250", "6m", "FM", "FM"},
      {"00432100000", "06", "432.1000", "70cm", "AM", "AM"},
      {"01296000000", "07", "1296.0000", "", "Digi", "PKTUSB"},
      {"00010100000", "08", "10.1000", "30m", "Digi", ""},
      {"00014074000", "09", "14.0740", "20m", "Digi", "PKTLSB"},
      {"00014074000", "10", "14.0740", "20m", "AM", "AM"},
      {"00014074000", "11", "14.0740", "20m", "Digi", ""},
      {"00014074000", "12", "14.0740", "20m", "12", ""}, // unlisted: reported as sent
      {"00014074000", "01", "14.0740", "20m", "usb", "USB"},
  };
  for (const auto& Case : Cases) {
    const std::size_t Before = Events.size();
    Feed(*Driver, FlexStatus(Case.Hz, Case.Code));
    ASSERT_EQ(Events.size(), Before + 1) << Case.Hz << " " << Case.Code;
    EXPECT_EQ(Events.back().Sender, Driver.get());
    EXPECT_EQ(Events.back().Frequency, Case.Frequency);
    EXPECT_EQ(Events.back().Band, Case.Band);
    EXPECT_EQ(Events.back().Mode, Case.Mode);
    EXPECT_EQ(Driver->FrequencyHz(), std::stoll(Case.Hz)) << Case.Hz;
    EXPECT_EQ(Driver->NativeMode(), Case.Native) << Case.Code;
  }
}

TEST_F(FlexTest, OnlyZZIFMarksAStatusReply) {
  Feed(*Driver, FlexStatus("00014074000", "01"));
  ASSERT_EQ(Events.size(), 1u);
  // Another program's "IF;" answer carries mode and VFO digits at 28 and 29.
  Feed(*Driver, "IF00007074500000000000000000020000000;");
  Feed(*Driver, "FA00007074500;ZZMD03;ID904;");
  EXPECT_EQ(Events.size(), 1u);
  EXPECT_EQ(Driver->Frequency(), "14.0740");
  EXPECT_EQ(Driver->Mode(), "usb");
}

TEST_F(FlexTest, FramingSplitSeveralAndShortMessages) {
  const std::string Reply = FlexStatus("00014074000", "01");
  Feed(*Driver, Reply.substr(0, 20));
  Feed(*Driver, Reply.substr(20, Reply.size() - 21));
  EXPECT_TRUE(Events.empty()); // nothing until the ";"
  Feed(*Driver, ";");
  ASSERT_EQ(Events.size(), 1u);

  // Two replies in one call, each with its own changed flag.
  Feed(*Driver, FlexStatus("00007074500", "03") + FlexStatus("00007074500", "00"));
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[1].Mode, "CW");
  EXPECT_EQ(Events[2].Mode, "lsb");
  EXPECT_EQ(Events[2].Frequency, "7.0745");

  // 10 to 29 characters after ZZIF: frequency only; fewer: nothing.
  Feed(*Driver, "ZZIF0001407400012345;");
  ASSERT_EQ(Events.size(), 4u);
  EXPECT_EQ(Events[3].Frequency, "14.0740");
  EXPECT_EQ(Events[3].Mode, "lsb");
  Feed(*Driver, "ZZIF000140;");
  EXPECT_EQ(Events.size(), 4u);
}

TEST_F(FlexTest, NonDigitFrequencyIsReportedWithoutBand) {
  Feed(*Driver, FlexStatus("0001407x000", "01"));
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Frequency, "14.07x0");
  EXPECT_EQ(Events[0].Band, "");
}

TEST_F(FlexTest, AMegabyteWithoutTerminatorStaysBounded) {
  Feed(*Driver, std::string(1 << 20, 'Z'));
  EXPECT_LE(Driver->RxBuffer().size(), MaxPendingRxBytes);
  Feed(*Driver, FlexStatus("00014074000", "01"));
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Frequency, "14.0740");
}

TEST_F(FlexTest, ReportingRule) {
  const std::string Usb = FlexStatus("00014074000", "01");
  Feed(*Driver, Usb);
  Feed(*Driver, Usb); // identical: nothing
  ASSERT_EQ(Events.size(), 1u);

  Feed(*Driver, FlexStatus("00014074000", "03")); // mode change alone
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[1].Band, "20m");
  EXPECT_EQ(Events[1].Frequency, "14.0740");
  EXPECT_EQ(Events[1].Mode, "CW");

  // While a tune command waits, changes are stored but not reported.
  Driver->SetMode("usb");
  Feed(*Driver, FlexStatus("00007074500", "03"));
  EXPECT_EQ(Events.size(), 2u);
  EXPECT_EQ(Driver->Frequency(), "7.0745");
  EXPECT_EQ(Driver->Band(), "40m");
  EXPECT_EQ(NextCommand(*Driver), "ZZMD01;");
  Feed(*Driver, FlexStatus("00007074500", "03")); // same values: still nothing
  EXPECT_EQ(Events.size(), 2u);
  Feed(*Driver, FlexStatus("00007074500", "01"));
  ASSERT_EQ(Events.size(), 3u);
  EXPECT_EQ(Events[2].Frequency, "7.0745");
  EXPECT_EQ(Events[2].Band, "40m");
  EXPECT_EQ(Events[2].Mode, "usb");
}

TEST_F(FlexTest, SetCommandsAndTheirOrder) {
  const struct {
    const char* Text;
    const char* Command; // empty: none built
  } Frequencies[] = {
      {"14.0740", "ZZFA00014074000;"},
      {"7.0745", "ZZFA00007074500;"},
      {".4750", "ZZFA00000475000;"},
      {"144.3", "ZZFA00144300000;"},
      {"14.", "ZZFA00014000000;"},
      {"14.07400000", "ZZFA00014074000;"}, // zeros finer than 1 Hz are dropped
      {"14", ""},
      {"", ""},
      {"14.0740001", ""},
      {"14.07.40", ""},
      {"14.074;ZZTX1", ""},
      {"-14.074", ""},
      {"14.O74", ""},
  };
  for (const auto& Case : Frequencies) {
    Driver->SetFrequency(Case.Text);
    EXPECT_EQ(NextCommand(*Driver), *Case.Command ? Case.Command : "ZZIF;") << Case.Text;
  }

  const struct {
    const char* Text;
    const char* Command;
  } Modes[] = {
      {"lsb", "ZZMD00;"}, {"usb", "ZZMD01;"},  {"CW", "ZZMD04;"}, {"FM", "ZZMD05;"},
      {"AM", "ZZMD06;"},  {"Digi", "ZZMD07;"}, {"USB", ""},       {"cw", ""},
      {"", ""},           {"Data", ""},
  };
  for (const auto& Case : Modes) {
    Driver->SetMode(Case.Text);
    EXPECT_EQ(NextCommand(*Driver), *Case.Command ? Case.Command : "ZZIF;") << Case.Text;
  }

  // A newer command replaces a waiting one in its place: the mode, asked
  // first, goes first.
  Driver->SetMode("AM");
  Driver->SetFrequency("14.0740");
  Driver->SetFrequency("7.0745");
  Driver->SetMode("CW");
  EXPECT_EQ(NextCommand(*Driver), "ZZMD04;");
  EXPECT_EQ(NextCommand(*Driver), "ZZFA00007074500;");
  EXPECT_EQ(NextCommand(*Driver), "ZZIF;");
}

TEST_F(FlexTest, TuneRadioQueuesOnlyWhatDiffers) {
  Feed(*Driver, FlexStatus("00014074000", "01"));
  Driver->TuneRadio("14.0740", "CW");
  EXPECT_TRUE(Driver->FrequencyCommand().empty());
  EXPECT_EQ(Driver->ModeCommand(), "ZZMD04;");
  Driver->TuneRadio("7.0745", "CW");
  EXPECT_EQ(Driver->FrequencyCommand(), "ZZFA00007074500;");
}

TEST_F(FT950Test, ConstructionRecordsTheRadioAndPollsInformation) {
  EXPECT_EQ(Env.Settings->Radio(), rtFT950);
  EXPECT_EQ(NextCommand(*Driver), "IF;");
}

TEST_F(FT950Test, DecodesFrequencyBandAndMode) {
  const struct {
    const char* Hz;
    const char* Code;
    const char* Frequency;
    const char* Band;
    const char* Mode;
    const char* Native;
  } Cases[] = {
      {"14074000", "2", "14.0740", "20m", "usb", "USB"},
      {"07074560", "1", "7.0745", "40m", "lsb", "LSB"},
      {"50125000", "3", "50.1250", "6m", "CW", "CW"},
      {"00475000", "4", ".4750", "160m", "FM", "FM"},
      {"00047500", "5", ".0475", "160m", "AM", "AM"},
      {"14074000", "6", "14.0740", "20m", "Digi", "RTTY"},
      {"14074000", "7", "14.0740", "20m", "CW", "CWR"},
      {"14074000", "8", "14.0740", "20m", "Digi", "PKTLSB"},
      {"21074000", "9", "21.0740", "15m", "Digi", "RTTYR"},
      {"14074000", "A", "14.0740", "20m", "Digi", "PKTFM"},
      {"14074000", "B", "14.0740", "20m", "FM", "FM"},
      {"14074000", "C", "14.0740", "20m", "Digi", "PKTUSB"},
      {"14074000", "D", "14.0740", "20m", "D", ""},
      {"28074000", "2", "28.0740", "10m", "usb", "USB"},
  };
  for (const auto& Case : Cases) {
    const std::size_t Before = Events.size();
    Feed(*Driver, FT950Info(Case.Hz, Case.Code));
    ASSERT_EQ(Events.size(), Before + 1) << Case.Hz << " " << Case.Code;
    EXPECT_EQ(Events.back().Frequency, Case.Frequency);
    EXPECT_EQ(Events.back().Band, Case.Band);
    EXPECT_EQ(Events.back().Mode, Case.Mode);
    EXPECT_EQ(Driver->FrequencyHz(), std::stoll(Case.Hz)) << Case.Hz;
    EXPECT_EQ(Driver->NativeMode(), Case.Native) << Case.Code;
  }
}

TEST_F(FT950Test, FramingAndShortMessages) {
  const std::string Reply = FT950Info("14074000", "2");
  Feed(*Driver, Reply.substr(0, Reply.size() - 1));
  EXPECT_TRUE(Events.empty());
  Feed(*Driver, ";FA14074000;MD02;");
  ASSERT_EQ(Events.size(), 1u);
  // 11 to 19 characters after IF: frequency only; fewer: nothing.
  Feed(*Driver, "IF0010707450012;");
  ASSERT_EQ(Events.size(), 2u);
  EXPECT_EQ(Events[1].Frequency, "7.0745");
  EXPECT_EQ(Events[1].Mode, "usb");
  Feed(*Driver, "IF0011407400;");
  EXPECT_EQ(Events.size(), 2u);
}

TEST_F(FT950Test, SetCommands) {
  const struct {
    const char* Text;
    const char* Command;
  } Frequencies[] = {
      {"14.0740", "FA14074000;"},
      {"7.0745", "FA07074500;"},
      {"50.125", "FA50125000;"},
      {".4750", "FA00475000;"},
      {"14", ""},
      {"14.0x", ""},
      {"14.074;MD04", ""},
  };
  for (const auto& Case : Frequencies) {
    Driver->SetFrequency(Case.Text);
    EXPECT_EQ(NextCommand(*Driver), *Case.Command ? Case.Command : "IF;") << Case.Text;
  }
  const struct {
    const char* Text;
    const char* Command;
  } Modes[] = {
      {"lsb", "MD01;"}, {"usb", "MD02;"},  {"CW", "MD03;"}, {"FM", "MD04;"},
      {"AM", "MD05;"},  {"Digi", "MD06;"}, {"LSB", ""},     {"Usb", ""},
  };
  for (const auto& Case : Modes) {
    Driver->SetMode(Case.Text);
    EXPECT_EQ(NextCommand(*Driver), *Case.Command ? Case.Command : "IF;") << Case.Text;
  }
  Driver->SetFrequency("14.0740");
  Driver->SetMode("lsb");
  EXPECT_EQ(NextCommand(*Driver), "FA14074000;");
  EXPECT_EQ(NextCommand(*Driver), "MD01;");
  EXPECT_EQ(NextCommand(*Driver), "IF;");
  // Where the station's "Digi" means data: PKT-U; the rest stays.
  Env.Settings->setDigiMode(dmData);
  Driver->SetMode("Digi");
  EXPECT_EQ(NextCommand(*Driver), "MD0C;");
  Driver->SetMode("usb");
  EXPECT_EQ(NextCommand(*Driver), "MD02;");
}

TEST_F(FT950Test, PageTuneRefusesAFrequencyOutOfRangeAndWhileKeyed) {
  Feed(*Driver, FT950Info("14074000", "2"));
  const struct {
    const char* Frequency;
    bool Keyed;
    TTuneRefusal Refusal;
  } Cases[] = {
      {"99.9900", false, TTuneRefusal::trOutOfRange},
      {".0299", false, TTuneRefusal::trOutOfRange},
      {"1234567.0", false, TTuneRefusal::trOutOfRange},
      {"7.0740", true, TTuneRefusal::trTransmitting},
      {"7.0740", false, TTuneRefusal::trNone},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Frequency);
    ASSERT_TRUE(Driver->SetPTT(Case.Keyed));
    NextCommand(*Driver); // the PTT command goes out
    EXPECT_EQ(Driver->TuneRadio(Case.Frequency, "CW"), Case.Refusal);
    const bool Refused = Case.Refusal != TTuneRefusal::trNone;
    EXPECT_EQ(Driver->FrequencyCommand().empty(), Refused);
    EXPECT_EQ(Driver->ModeCommand().empty(), Refused);
    if (Refused) {
      EXPECT_EQ(Driver->RadioNote(), TCATInterface::TuneRefusalWords(Case.Refusal));
    }
  }
}

TEST_F(FT950Test, SetCommandsGoOutInTheOrderAsked) {
  ASSERT_TRUE(Driver->TuneNativeMode("CW"));
  ASSERT_TRUE(Driver->TuneHz(7030000));
  EXPECT_EQ(NextCommand(*Driver), "MD03;");
  EXPECT_EQ(NextCommand(*Driver), "FA07030000;");
}

// What the radio is about to be, whoever tuned it (the page, a program
// sharing the radio, the logbook): the tune's value while its command waits,
// and after it went out until the radio reports it or any other change.
TEST_F(FT950Test, APendingTuneStandsUntilTheRadioReportsAChange) {
  const auto Exact = [](TCATInterface& D) { return D.TuneHz(7074000); };
  const auto Page = [](TCATInterface& D) {
    return D.TuneRadio("21.0740", "CW") == TTuneRefusal::trNone;
  };
  const auto Data = [](TCATInterface& D) { return D.TuneNativeMode("PKTUSB"); };
  const struct {
    const char* Name;
    std::function<bool(TCATInterface&)> Tune;
    std::optional<std::int64_t> Hz;
    std::optional<std::string> Mode;
    std::string After; // the radio's reply once the commands went out
    bool Stands;
  } Cases[] = {
      {"hertz, the radio not there yet", Exact, 7074000, {}, FT950Info("14074000", "2"), true},
      {"hertz, read back", Exact, 7074000, {}, FT950Info("07074000", "2"), false},
      {"hertz, the knob turned", Exact, 7074000, {}, FT950Info("14075000", "2"), false},
      {"the page, not there yet", Page, 21074000, "CW", FT950Info("14074000", "2"), true},
      {"the page, read back", Page, 21074000, "CW", FT950Info("21074000", "3"), false},
      {"a mode, not there yet", Data, {}, "PKTUSB", FT950Info("14074000", "2"), true},
      {"a mode, read back", Data, {}, "PKTUSB", FT950Info("14074000", "C"), false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    auto D = Env.Create<TFT950CATInterface>();
    Feed(*D, FT950Info("14074000", "2"));
    ASSERT_FALSE(D->PendingHz() || D->PendingNativeMode());
    ASSERT_TRUE(Case.Tune(*D));
    EXPECT_EQ(D->PendingHz(), Case.Hz);
    EXPECT_EQ(D->PendingNativeMode(), Case.Mode);
    for (int I = 0; I < 4 && !(D->FrequencyCommand().empty() && D->ModeCommand().empty()); ++I)
      NextCommand(*D);
    ASSERT_TRUE(D->FrequencyCommand().empty() && D->ModeCommand().empty());
    EXPECT_EQ(D->PendingHz(), Case.Hz); // sent, not yet reported
    EXPECT_EQ(D->PendingNativeMode(), Case.Mode);
    Feed(*D, Case.After);
    EXPECT_EQ(D->PendingHz(), Case.Stands ? Case.Hz : std::nullopt);
    EXPECT_EQ(D->PendingNativeMode(), Case.Stands ? Case.Mode : std::nullopt);
  }
}
