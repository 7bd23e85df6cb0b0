// The mode vocabulary, each mode through every column, read through the
// lookups the drivers, sharing, contacts and the logbook use.
#include <gtest/gtest.h>

#include <string>

#include "cat/radios/untModeNames.h"
#include "cat/radios/untRadioTable.h"

using namespace vela;

namespace {

struct TModeCase {
  const char* Native;
  const char* Page;      // the page's text
  const char* SetBack;   // what that text sets (Digi meaning data, no radio row)
  std::uint64_t Bit;     // the network protocol's bit
  std::int32_t Passband; // and usual passband
  const char* Logbook;
  const char* RidesOn; // "" for a plain mode
  const char* Adif;    // a name a contact may carry for it, in another case; "" for none
  const char* Tune;    // the click-to-tune name; "" for none
  const char* Another; // another name a program gives it, in another case; "" for none
};

constexpr TModeCase Cases[] = {
    {"LSB", "lsb", "LSB", 0x8, 2400, "LSB", "", "Lsb", "lsb", ""},
    {"USB", "usb", "USB", 0x4, 2400, "USB", "", "uSB", "usb", ""},
    {"CW", "CW", "CW", 0x2, 500, "CW", "", "cw", "cw", ""},
    {"CWR", "CW", "CW", 0x80, 500, "CW", "", "", "", ""},
    {"AM", "AM", "AM", 0x1, 6000, "AM", "", "am", "am", ""},
    {"SAM", "AM", "AM", 0, 0, "AM", "", "", "", ""},
    {"FM", "FM", "FM", 0x20, 12000, "FM", "", "Fm", "fm", ""},
    {"WFM", "FM", "FM", 0x40, 230000, "FM", "", "", "", ""},
    {"RTTY", "Digi", "PKTUSB", 0x10, 500, "RTTY", "", "rtty", "rtty", ""},
    {"RTTYR", "Digi", "PKTUSB", 0x100, 500, "RTTY", "", "", "", ""},
    {"PKTUSB", "Digi", "PKTUSB", 0x800, 3000, "USB-D", "USB", "", "", "digu"},
    {"PKTLSB", "Digi", "PKTUSB", 0x400, 3000, "LSB-D", "LSB", "", "", "lsb-d"},
    {"PKTFM", "Digi", "PKTUSB", 0x1000, 12000, "FM", "FM", "", "", "Fm-D"},
};

} // namespace

TEST(ModeNamesTest, EachModeThroughEveryColumn) {
  ASSERT_EQ(ModeRows().size(), std::size(Cases));
  for (const TModeCase& Case : Cases) {
    SCOPED_TRACE(Case.Native);
    const TModeRow* Row = FindNativeModeRow(Case.Native);
    ASSERT_NE(Row, nullptr);
    EXPECT_EQ(PageModeForNative(Case.Native), Case.Page);
    EXPECT_EQ(NativeForPageMode(Case.Page, dmData, nullptr), Case.SetBack);
    EXPECT_EQ(Row->RigctlBit, Case.Bit);
    EXPECT_EQ(Row->Passband, Case.Passband);
    EXPECT_STREQ(Row->Logbook, Case.Logbook);
    EXPECT_EQ(IsDataMode(Case.Native), *Case.RidesOn != 0);
    EXPECT_STREQ(Row->RidesOn ? Row->RidesOn : "", Case.RidesOn);
    if (*Case.RidesOn) {
      ASSERT_NE(FindNativeModeRow(Row->RidesOn), nullptr); // rides on a plain row
      EXPECT_FALSE(IsDataMode(Row->RidesOn));
    }
    // A data mode named outright, in any case, by any of its names.
    EXPECT_EQ(DataModeForName(Case.Native), *Case.RidesOn ? Case.Native : "");
    if (*Case.Another) {
      EXPECT_EQ(DataModeForName(Case.Another), Case.Native);
    }
    const TModeRow* Adif = *Case.Adif ? FindAdifModeRow(Case.Adif) : nullptr;
    EXPECT_EQ(Adif, *Case.Adif ? Row : nullptr);
    const TModeRow* Tune = *Case.Tune ? FindTuneModeRow(Case.Tune) : nullptr;
    EXPECT_EQ(Tune, *Case.Tune ? Row : nullptr);
  }
}

TEST(ModeNamesTest, NamesThatAreNoMode) {
  for (const char* Name : {"", "usb ", "PKT", "USB-DD", "lsb;", "\xC3\xBC"}) {
    EXPECT_EQ(FindNativeModeRow(Name), nullptr) << Name;
    EXPECT_EQ(DataModeForName(Name), "") << Name;
  }
  // SSB names no row: its sideband follows the frequency.
  EXPECT_EQ(FindAdifModeRow("SSB"), nullptr);
  EXPECT_EQ(FindTuneModeRow("USB"), nullptr); // click-to-tune names are lower case
  EXPECT_EQ(NativeForPageMode("LSB", dmRTTY, nullptr), "");
  EXPECT_EQ(NativeForPageMode("Usb", dmRTTY, nullptr), "");
}

TEST(ModeNamesTest, DigiMeansWhatTheRadioRowSays) {
  for (const TRadioModel* Row : RadioModels()) {
    const TRadioModel& Model = *Row;
    SCOPED_TRACE(Model.Name);
    EXPECT_EQ(NativeForPageMode(ModeDigi, dmRTTY, &Model), Model.DigiRTTYMode);
    EXPECT_EQ(NativeForPageMode(ModeDigi, dmData, &Model), Model.DigiDataMode);
    // Every mode a radio takes is one of the vocabulary's, shown as a page text.
    for (const char* Native : Model.NativeModes())
      EXPECT_NE(PageModeForNative(Native), "") << Native;
    EXPECT_EQ(PageModeForNative(Model.DigiDataMode), ModeDigi);
  }
  EXPECT_EQ(DigiNativeMode(dmRTTY, nullptr), "RTTY");
  EXPECT_EQ(DigiNativeMode(dmData, nullptr), "PKTUSB");
}
