#include "settings/untSettingsBatch.h"
#include "settings/untVelaLogSettings.h"

#include "common/FileHelpers.h"
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

using namespace vela;
namespace fs = std::filesystem;

namespace {

using test::Chattr;
using test::ReadFile;
using test::WriteFile;

std::vector<std::string> List(const TVelaLogSettings& S) {
  std::vector<std::string> R;
  for (std::int32_t I = 0; I < S.intSeverListCount(); ++I)
    R.push_back(S.strServerList(I));
  return R;
}

class TSettingsTest : public testing::Test {
protected:
  void SetUp() override {
    std::string Tmpl = testing::TempDir() + "vela-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(Tmpl.data()), nullptr);
    Dir = Tmpl;
    Path = Dir + "/VelaLog.ini";
  }
  void TearDown() override {
    Chattr("-i", Dir);
    fs::remove_all(Dir);
  }
  std::string Dir;
  std::string Path;
};

TEST_F(TSettingsTest, NoFileGivesDefaultsAndWritesNothing) {
  {
    TVelaLogSettings S(nullptr, Path);
    EXPECT_EQ(S.FileName(), Path);
    EXPECT_EQ(List(S), std::vector<std::string>{"localhost"});
    EXPECT_EQ(S.strServerAddress(), "localhost");
    EXPECT_EQ(S.intMainTop(), 0);
    EXPECT_EQ(S.intMainLeft(), 0);
    EXPECT_EQ(S.intMainWidth(), 1260);
    EXPECT_EQ(S.intMainHeight(), 770);
    EXPECT_EQ(S.intCommPort(), 1);
    EXPECT_EQ(S.intCommPort2(), 0);
    EXPECT_FALSE(S.blnComm2Enable());
    EXPECT_EQ(S.BaudRate(), br4800);
    EXPECT_EQ(S.Radio(), rtFlex);
    EXPECT_EQ(S.DigiMode(), dmRTTY);
    EXPECT_EQ(S.intCIVAddress(), 0);
    EXPECT_EQ(S.DTR(), lpOn);
    EXPECT_EQ(S.RTS(), lpOn);
  }
  EXPECT_FALSE(fs::exists(Path));
}

TEST_F(TSettingsTest, RelativeNameIsBesideTheExecutable) {
  char Exe[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", Exe, sizeof Exe - 1), 0);
  const std::string Expected = fs::path(Exe).parent_path().string() + "/VelaLogTestNoSuch.ini";
  TVelaLogSettings S(nullptr, "VelaLogTestNoSuch.ini");
  EXPECT_EQ(S.FileName(), Expected);
  EXPECT_EQ(S.intMainWidth(), 1260);
}

// ---- loading -----------------------------------------------------------------

struct TLoadCase {
  const char* Name;
  std::string Text;
  std::function<void(const TVelaLogSettings&)> Check;
};

class TSettingsLoad : public TSettingsTest, public testing::WithParamInterface<TLoadCase> {};

TEST_P(TSettingsLoad, Reads) {
  WriteFile(Path, GetParam().Text);
  TVelaLogSettings S(nullptr, Path);
  GetParam().Check(S);
  EXPECT_EQ(ReadFile(Path), GetParam().Text) << "loading must not write";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TSettingsLoad,
    testing::Values(
        TLoadCase{"CountThreeOnlyFirstEntry",
                  "[ServerSettings]\nServerCount=3\nServerList0=log.club.org\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(List(S),
                              (std::vector<std::string>{"log.club.org", "localhost", "localhost"}));
                  }},
        TLoadCase{"CountZero", "[ServerSettings]\nServerCount=0\nServerList0=a\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.intSeverListCount(), 0);
                    EXPECT_EQ(S.strServerList(0), "No server index 0");
                  }},
        TLoadCase{"CountNegative", "[ServerSettings]\nServerCount=-4\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.intSeverListCount(), 0);
                    EXPECT_EQ(S.strServerList(0), "No server index 0");
                  }},
        TLoadCase{"CountAbsurdIsBounded", "[ServerSettings]\nServerCount=2147483647\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.intSeverListCount(), MaxServerListCount);
                    EXPECT_EQ(S.strServerList(MaxServerListCount - 1), "localhost");
                  }},
        TLoadCase{"AddressApartFromList",
                  "[ServerSettings]\nServerAddress=http://10.0.0.5/log/\nServerCount=1\n"
                  "ServerList0=other\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.strServerAddress(), "http://10.0.0.5/log/");
                    EXPECT_EQ(List(S), std::vector<std::string>{"other"});
                  }},
        TLoadCase{"Comm2EnableFive", "[CommSettings]\nComm2Enable=5\n",
                  [](const TVelaLogSettings& S) { EXPECT_TRUE(S.blnComm2Enable()); }},
        TLoadCase{"Comm2EnableYes", "[CommSettings]\nComm2Enable=yes\n",
                  [](const TVelaLogSettings& S) { EXPECT_FALSE(S.blnComm2Enable()); }},
        TLoadCase{"BaudRateHex", "[CommSettings]\nBaudRate=0x0A\n",
                  [](const TVelaLogSettings& S) { EXPECT_EQ(S.BaudRate(), br38400); }},
        TLoadCase{"RadioOutOfRangeKept", "[CommSettings]\nRadio=9\n",
                  [](const TVelaLogSettings& S) { EXPECT_EQ(static_cast<int>(S.Radio()), 9); }},
        TLoadCase{"EnumerationsKeepLowByte", "[CommSettings]\nRadio=$105\nBaudRate=-1\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.Radio(), rtIC7300);
                    EXPECT_EQ(static_cast<int>(S.BaudRate()), 255);
                  }},
        TLoadCase{"WidthAbc", "[Window]\nWidth=abc\nHeight=$300\nTop=-20\nLeft=+15\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.intMainWidth(), 1260);
                    EXPECT_EQ(S.intMainHeight(), 768);
                    EXPECT_EQ(S.intMainTop(), -20);
                    EXPECT_EQ(S.intMainLeft(), 15);
                  }},
        TLoadCase{"CaseCrlfAndBlanks",
                  "\xef\xbb\xbf; edited by hand\r\n[commsettings]\r\n  COMMPORT = 7 \r\n"
                  "commport2=8\r\n[WINDOW]\r\ntop=3\r\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.intCommPort(), 7);
                    EXPECT_EQ(S.intCommPort2(), 8);
                    EXPECT_EQ(S.intMainTop(), 3);
                  }},
        TLoadCase{"StationOptions",
                  "[CommSettings]\nDigiMode=DATA\nCIVAddress=98\nDTR=off\nRTS=Keep\n"
                  "[Station]\nTransceive=OFF\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.DigiMode(), dmData);
                    EXPECT_EQ(S.Transceive(), tcOff);
                    EXPECT_EQ(S.intCIVAddress(), 0x98);
                    EXPECT_EQ(S.DTR(), lpOff);
                    EXPECT_EQ(S.RTS(), lpKeep);
                  }},
        // Values the program does not know read as the defaults (and the
        // file stays as it is: the test checks every case for that).
        TLoadCase{"StationOptionsUnknown",
                  "[CommSettings]\nDigiMode=ft8\nCIVAddress=E0\nDTR=low\nRTS=\n"
                  "[Station]\nTransceive=sometimes\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.DigiMode(), dmRTTY);
                    EXPECT_EQ(S.Transceive(), tcAuto);
                    EXPECT_EQ(S.intCIVAddress(), 0);
                    EXPECT_EQ(S.DTR(), lpOn);
                    EXPECT_EQ(S.RTS(), lpOn);
                  }},
        TLoadCase{"CIVAddressForms", "[CommSettings]\nCIVAddress= 0x5a \n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.intCIVAddress(), 0x5A);
                    for (const char* Text : {"$5A", "5ah", "5A", "1", "DF"})
                      EXPECT_NE(ParseCIVAddress(Text), 0) << Text;
                    for (const char* Text : {"00", "E0", "FF", "123", "0x", "h", "-1", "9 4"})
                      EXPECT_EQ(ParseCIVAddress(Text), 0) << Text;
                  }},
        TLoadCase{"FirstDuplicateWins", "[CommSettings]\nCommPort=4\nCommPort=5\n",
                  [](const TVelaLogSettings& S) { EXPECT_EQ(S.intCommPort(), 4); }},
        TLoadCase{"KeysInWrongSectionIgnored", "CommPort=4\n[Window]\nRadio=3\n",
                  [](const TVelaLogSettings& S) {
                    EXPECT_EQ(S.intCommPort(), 1);
                    EXPECT_EQ(S.Radio(), rtFlex);
                  }}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// ---- server list ---------------------------------------------------------------

TEST_F(TSettingsTest, OutOfRangeIndexReadsTextAndWritesNothing) {
  const std::string Text = "[ServerSettings]\nServerCount=2\nServerList0=a\nServerList1=b\n";
  WriteFile(Path, Text);
  TVelaLogSettings S(nullptr, Path);
  EXPECT_EQ(S.strServerList(5), "No server index 5");
  EXPECT_EQ(S.strServerList(-1), "No server index -1");
  S.setStrServerList(5, "x");
  S.setStrServerList(2, "x");
  S.setStrServerList(-1, "x");
  EXPECT_EQ(List(S), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ReadFile(Path), Text);
  S.setStrServerList(1, "c");
  EXPECT_EQ(ReadFile(Path), "[ServerSettings]\nServerCount=2\nServerList0=a\nServerList1=c\n");
}

struct TResizeCase {
  const char* Name;
  std::string Before;
  std::int32_t NewCount;
  std::vector<std::string> List;
  std::string After;
};

class TSettingsResize : public TSettingsTest, public testing::WithParamInterface<TResizeCase> {};

TEST_P(TSettingsResize, ResizesListAndWritesCount) {
  const TResizeCase& C = GetParam();
  WriteFile(Path, C.Before);
  TVelaLogSettings S(nullptr, Path);
  S.setIntSeverListCount(C.NewCount);
  EXPECT_EQ(List(S), C.List);
  EXPECT_EQ(ReadFile(Path), C.After);
}

const std::string ThreeServers =
    "[ServerSettings]\nServerCount=3\nServerList0=a\nServerList1=b\nServerList2=c\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, TSettingsResize,
    testing::Values(
        // Surplus keys stay in the file; only the count and entry 0 change.
        TResizeCase{"ThreeToZero",
                    ThreeServers,
                    0,
                    {"localhost"},
                    "[ServerSettings]\nServerCount=1\nServerList0=localhost\nServerList1=b\n"
                    "ServerList2=c\n"},
        TResizeCase{"ThreeToNegative",
                    ThreeServers,
                    -7,
                    {"localhost"},
                    "[ServerSettings]\nServerCount=1\nServerList0=localhost\nServerList1=b\n"
                    "ServerList2=c\n"},
        TResizeCase{"ThreeToTwo",
                    ThreeServers,
                    2,
                    {"a", "b"},
                    "[ServerSettings]\nServerCount=2\nServerList0=a\nServerList1=b\n"
                    "ServerList2=c\n"},
        TResizeCase{
            "OneToThree", "", 3, {"localhost", "", ""}, "[ServerSettings]\nServerCount=3\n"},
        TResizeCase{"EmptyToZero",
                    "[ServerSettings]\nServerCount=0\n",
                    0,
                    {},
                    "[ServerSettings]\nServerCount=1\n"},
        TResizeCase{"EmptyToTwo",
                    "[ServerSettings]\nServerCount=0\n",
                    2,
                    {"", ""},
                    "[ServerSettings]\nServerCount=2\n"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(TSettingsTest, ShrunkListReloadsWithoutSurplusEntries) {
  WriteFile(Path, ThreeServers);
  {
    TVelaLogSettings S(nullptr, Path);
    S.setIntSeverListCount(0);
  }
  TVelaLogSettings Again(nullptr, Path);
  EXPECT_EQ(List(Again), std::vector<std::string>{"localhost"});
}

// ---- write-through -------------------------------------------------------------

TEST_F(TSettingsTest, EverySettingSurvivesRestartAndForeignLinesStay) {
  const std::string Foreign = "; hand-written note\n[Other]\nKeep=me\n[CommSettings]\nExtra=1\n";
  WriteFile(Path, Foreign);
  {
    TVelaLogSettings S(nullptr, Path);
    S.setIntMainTop(-10);
    S.setIntMainLeft(20);
    S.setIntMainWidth(1600);
    S.setIntMainHeight(900);
    S.setStrServerAddress("http://log.example.net/index.php");
    S.setIntSeverListCount(2);
    S.setStrServerList(0, "log.example.net");
    S.setStrServerList(1, " spaced name ");
    S.setIntCommPort(3);
    S.setIntCommPort2(6);
    S.setBlnComm2Enable(true);
    S.setBaudRate(br115200);
    S.setRadio(rtIC7000);
    S.setDigiMode(dmData);
    S.setIntCIVAddress(0x5E);
    S.setDTR(lpOff);
    S.setRTS(lpKeep);
    const std::string Text = ReadFile(Path);
    EXPECT_NE(Text.find("DigiMode=data\nCIVAddress=5E\nDTR=off\nRTS=keep\n"), std::string::npos);
    EXPECT_EQ(Text.rfind("; hand-written note\n[Other]\nKeep=me\n[CommSettings]\nExtra=1\n", 0),
              0u);
  }
  TVelaLogSettings S(nullptr, Path);
  EXPECT_EQ(S.intMainTop(), -10);
  EXPECT_EQ(S.intMainLeft(), 20);
  EXPECT_EQ(S.intMainWidth(), 1600);
  EXPECT_EQ(S.intMainHeight(), 900);
  EXPECT_EQ(S.strServerAddress(), "http://log.example.net/index.php");
  EXPECT_EQ(List(S), (std::vector<std::string>{"log.example.net", " spaced name "}));
  EXPECT_EQ(S.intCommPort(), 3);
  EXPECT_EQ(S.intCommPort2(), 6);
  EXPECT_TRUE(S.blnComm2Enable());
  EXPECT_EQ(S.BaudRate(), br115200);
  EXPECT_EQ(S.Radio(), rtIC7000);
  EXPECT_EQ(S.DigiMode(), dmData);
  EXPECT_EQ(S.intCIVAddress(), 0x5E);
  EXPECT_EQ(S.DTR(), lpOff);
  EXPECT_EQ(S.RTS(), lpKeep);
  const std::string Before = ReadFile(Path);
  S.setBlnComm2Enable(false);
  S.setBlnComm2Enable(true);
  EXPECT_EQ(ReadFile(Path), Before) << "setting a value back restores the same bytes";
}

// ---- refused writes ------------------------------------------------------------

struct TRefusedCase {
  const char* Name;
  std::function<void(TVelaLogSettings&)> Set;
  std::function<bool(const TVelaLogSettings&)> HoldsNewValue;
  bool KeepsOld;
};

class TSettingsRefused : public TSettingsTest, public testing::WithParamInterface<TRefusedCase> {};

TEST_P(TSettingsRefused, RaisesWithFullPath) {
  const TRefusedCase& C = GetParam();
  const std::string Text = "[ServerSettings]\nServerCount=2\n";
  WriteFile(Path, Text);
  TVelaLogSettings S(nullptr, Path);
  if (!Chattr("+i", Dir))
    GTEST_SKIP() << "chattr +i is not available here";
  try {
    C.Set(S);
    ADD_FAILURE() << "the setter did not raise";
  } catch (const EIniFileException& E) {
    EXPECT_EQ(E.Message(), "Unable to write to " + Path);
  }
  EXPECT_EQ(C.HoldsNewValue(S), !C.KeepsOld);
  EXPECT_EQ(ReadFile(Path), Text);
}

INSTANTIATE_TEST_SUITE_P(
    Setters, TSettingsRefused,
    testing::Values(TRefusedCase{"Top", [](auto& S) { S.setIntMainTop(5); },
                                 [](const auto& S) { return S.intMainTop() == 5; }, true},

                    TRefusedCase{"Height", [](auto& S) { S.setIntMainHeight(5); },
                                 [](const auto& S) { return S.intMainHeight() == 5; }, true},
                    TRefusedCase{"ServerAddress", [](auto& S) { S.setStrServerAddress("x"); },
                                 [](const auto& S) { return S.strServerAddress() == "x"; }, false},
                    TRefusedCase{"ServerList", [](auto& S) { S.setStrServerList(1, "x"); },
                                 [](const auto& S) { return S.strServerList(1) == "x"; }, false},

                    TRefusedCase{"ServerCountZero", [](auto& S) { S.setIntSeverListCount(0); },
                                 [](const auto& S) { return S.intSeverListCount() == 1; }, false},

                    TRefusedCase{"Radio", [](auto& S) { S.setRadio(rtFT950); },
                                 [](const auto& S) { return S.Radio() == rtFT950; }, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

} // namespace

// ---- network sharing -----------------------------------------------------------

TEST_F(TSettingsTest, NetworkSharingDefaultsAndSurvivesRestart) {
  {
    TVelaLogSettings S(nullptr, Path);
    EXPECT_FALSE(S.blnShareEnabled());
    EXPECT_EQ(S.intSharePort(), 4532);
    EXPECT_EQ(S.strShareAddress(), "127.0.0.1");
    EXPECT_FALSE(S.blnShareAllowPTT());
    EXPECT_EQ(S.intShareTxLimit(), 180);
    S.setBlnShareEnabled(true);
    S.setIntSharePort(4600);
    S.setStrShareAddress("0.0.0.0");
    S.setBlnShareAllowPTT(true);
    S.setIntShareTxLimit(60);
  }
  EXPECT_NE(ReadFile(Path).find("[NetworkSharing]\nEnabled=1\nPort=4600\nAddress=0.0.0.0\n"),
            std::string::npos)
      << ReadFile(Path);
  TVelaLogSettings S(nullptr, Path);
  EXPECT_TRUE(S.blnShareEnabled());
  EXPECT_EQ(S.intSharePort(), 4600);
  EXPECT_EQ(S.strShareAddress(), "0.0.0.0");
  EXPECT_TRUE(S.blnShareAllowPTT());
  EXPECT_EQ(S.intShareTxLimit(), 60);
}
namespace {

// A batch (nested or not) writes nothing until the outermost one ends, then
// everything at once; a file that refuses the replace fails the batch's end
// with the usual message, and an exception already on its way is not
// replaced by it.
TEST_F(TSettingsTest, BatchWritesAtItsEndAndRaisesTheWriteErrorThere) {
  TVelaLogSettings S(nullptr, Path);
  {
    TSettingsBatch Outer(S);
    S.setIntCommPort(3);
    {
      TSettingsBatch Inner(S);
      S.setRadio(rtFT950);
    }
    S.setStrServerAddress("log.example");
    EXPECT_FALSE(fs::exists(Path));
  }
  const std::string Text = ReadFile(Path);
  for (const char* Line : {"CommPort=3", "Radio=3", "ServerAddress=log.example"})
    EXPECT_NE(Text.find(Line), std::string::npos) << Line << " in " << Text;

  test::TImmutable Lock(Path);
  if (!Lock.Ok())
    GTEST_SKIP() << "chattr +i is not available here";
  bool Raised = false;
  try {
    TSettingsBatch Batch(S);
    S.setIntCommPort(4);
    S.setIntCommPort2(5);
  } catch (const EIniFileException& E) {
    Raised = true;
    EXPECT_EQ(std::string(E.what()), "Unable to write to " + Path);
  }
  EXPECT_TRUE(Raised);
  EXPECT_THROW(
      {
        TSettingsBatch Batch(S);
        S.setIntCommPort(6);
        throw std::runtime_error("first");
      },
      std::runtime_error);
  EXPECT_EQ(ReadFile(Path), Text);
}

} // namespace

// ---- contacts ------------------------------------------------------------------

TEST_F(TSettingsTest, ContactsDefaultsSurviveRestartAndFieldsAreReadAsEdited) {
  {
    TVelaLogSettings S(nullptr, Path);
    EXPECT_FALSE(S.blnContactsEnabled());
    EXPECT_EQ(S.strContactsListen(), "127.0.0.1:2237");
    EXPECT_FALSE(S.blnContactsSubmit());
    EXPECT_TRUE(S.ContactFields().empty());
    S.setBlnContactsEnabled(true);
    S.setStrContactsListen("224.0.0.1:2237");
    S.setBlnContactsSubmit(true);
  }
  TVelaLogSettings S(nullptr, Path);
  EXPECT_TRUE(S.blnContactsEnabled());
  EXPECT_EQ(S.strContactsListen(), "224.0.0.1:2237");
  EXPECT_TRUE(S.blnContactsSubmit());
  // A hand edit of the mapping counts at once; empty values map nothing.
  WriteFile(Path, ReadFile(Path) + "[ContactFields]\nRST_Sent = rst_s\ngridsquare=\n"
                                   "comment=note\n[Other]\nx=y\n");
  EXPECT_EQ(S.ContactFields(), (std::vector<std::pair<std::string, std::string>>{
                                   {"comment", "note"}, {"rst_sent", "rst_s"}}));
}
