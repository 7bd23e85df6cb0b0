#include <gtest/gtest.h>

#include "sharing/untRigctlProtocol.h"

using namespace vela;

TEST(RigctlProtocol, ParsesShortAndLongNamesWithArguments) {
  using enum TRigctlCommand;
  const struct {
    const char* Line;
    TRigctlCommand Command;
    const char* Name;
    char Separator;
    std::vector<std::string> Args;
  } Cases[] = {
      {"f", rcGetFreq, "get_freq", 0, {}},
      {"\\get_freq", rcGetFreq, "get_freq", 0, {}},
      {"+f", rcGetFreq, "get_freq", '\n', {}},
      {"+\\get_freq", rcGetFreq, "get_freq", '\n', {}},
      {";f", rcGetFreq, "get_freq", ';', {}},
      {"  F   14074055.000000  ", rcSetFreq, "set_freq", 0, {"14074055.000000"}},
      {"\\set_freq 7074000", rcSetFreq, "set_freq", 0, {"7074000"}},
      {"M PKTUSB -1", rcSetMode, "set_mode", 0, {"PKTUSB", "-1"}},
      {"+M USB 0", rcSetMode, "set_mode", '\n', {"USB", "0"}},
      {"\\set_mode\tCW\t500", rcSetMode, "set_mode", 0, {"CW", "500"}},
      {"m", rcGetMode, "get_mode", 0, {}},
      {"v", rcGetVfo, "get_vfo", 0, {}},
      {"V VFOA", rcSetVfo, "set_vfo", 0, {"VFOA"}},
      {"t", rcGetPtt, "get_ptt", 0, {}},
      {"\\set_ptt 1", rcSetPtt, "set_ptt", 0, {"1"}},
      {"s", rcGetSplitVfo, "get_split_vfo", 0, {}},
      {"\\set_split_vfo 0 VFOA", rcSetSplitVfo, "set_split_vfo", 0, {"0", "VFOA"}},
      {"\\chk_vfo", rcChkVfo, "chk_vfo", 0, {}},
      {"\\get_powerstat", rcGetPowerstat, "get_powerstat", 0, {}},
      {"\\get_lock_mode", rcGetLockMode, "get_lock_mode", 0, {}},
      {"\\dump_state", rcDumpState, "dump_state", 0, {}},
      {"q", rcQuit, "quit", 0, {}},
      {"Q", rcQuit, "quit", 0, {}},
      {"xyz", rcUnknown, "xyz", 0, {}},
      {"\\get_level AF", rcUnknown, "\\get_level", 0, {}},
      {"ff", rcUnknown, "ff", 0, {}},
      {"\\", rcUnknown, "\\", 0, {}},
  };
  for (const auto& Case : Cases) {
    TRigctlRequest Request;
    ASSERT_TRUE(ParseRigctlRequest(Case.Line, Request)) << Case.Line;
    EXPECT_EQ(Request.Command, Case.Command) << Case.Line;
    EXPECT_EQ(Request.Name, Case.Name) << Case.Line;
    EXPECT_EQ(Request.Separator, Case.Separator) << Case.Line;
    EXPECT_EQ(Request.Args, Case.Args) << Case.Line;
  }
  TRigctlRequest Request;
  for (const char* Blank : {"", "   ", "\t\r", "+", "+  "})
    EXPECT_FALSE(ParseRigctlRequest(Blank, Request)) << '"' << Blank << '"';
  ASSERT_TRUE(ParseRigctlRequest("F", Request));
  EXPECT_FALSE(RigctlArgsComplete(Request));
  ASSERT_TRUE(ParseRigctlRequest("M USB", Request));
  EXPECT_FALSE(RigctlArgsComplete(Request));
  ASSERT_TRUE(ParseRigctlRequest("M USB 0", Request));
  EXPECT_TRUE(RigctlArgsComplete(Request));
}

TEST(RigctlProtocol, FormatsPlainAndExtendedAnswers) {
  const struct {
    const char* Line;
    TRigctlReply Reply;
    const char* Text;
  } Cases[] = {
      {"f", {0, {"14074000"}}, "14074000\n"},
      {"+f", {0, {"14074000"}}, "get_freq:\nFrequency: 14074000\nRPRT 0\n"},
      {";f", {0, {"14074000"}}, "get_freq:;Frequency: 14074000;RPRT 0\n"},
      {"f", {-11, {}}, "RPRT -11\n"},
      {"+t", {-11, {}}, "get_ptt:\nRPRT -11\n"},
      {"m", {0, {"PKTUSB", "3000"}}, "PKTUSB\n3000\n"},
      {"+m", {0, {"USB", "2400"}}, "get_mode:\nMode: USB\nPassband: 2400\nRPRT 0\n"},
      {"s", {0, {"0", "VFOA"}}, "0\nVFOA\n"},
      {"+s", {0, {"0", "VFOA"}}, "get_split_vfo:\nSplit: 0\nTX VFO: VFOA\nRPRT 0\n"},
      {"F 14074000", {0, {}}, "RPRT 0\n"},
      {"+F 14074000", {0, {}}, "set_freq: 14074000\nRPRT 0\n"},
      {"+M USB 0", {-11, {}}, "set_mode: USB 0\nRPRT -11\n"},
      {"\\get_lock_mode", {0, {"0"}}, "0\n"},
      {"\\dump_state", {0, {"1\n2\ndone\n"}}, "1\n2\ndone\n"},
      {"xyz", {-4, {}}, "RPRT -4\n"},
      {"+xyz", {-4, {}}, "RPRT -4\n"},
  };
  for (const auto& Case : Cases) {
    TRigctlRequest Request;
    ASSERT_TRUE(ParseRigctlRequest(Case.Line, Request));
    EXPECT_EQ(FormatRigctlReply(Request, Case.Reply), Case.Text) << Case.Line;
  }
}

TEST(RigctlProtocol, ReadsNumbersAndResults) {
  const struct {
    const char* Text;
    bool Ok;
    std::int64_t Hz;
  } HzCases[] = {
      {"14074000", true, 14074000},
      {"14074055.000000", true, 14074055},
      {"14074055.5", true, 14074056},
      {"14074055.49", true, 14074055},
      {".5", true, 1},
      {"+7074000", true, 7074000},
      {"1000000000000", true, 1000000000000},
      {"1000000000001", false, 0},
      {"99999999999999999999999", false, 0},
      {"-14074000", false, 0},
      {"14.074e6", false, 0},
      {"", false, 0},
      {".", false, 0},
      {"14074000x", false, 0},
      {"1 4", false, 0},
  };
  for (const auto& Case : HzCases) {
    std::int64_t Hz = 0;
    EXPECT_EQ(ParseRigctlHz(Case.Text, Hz), Case.Ok) << Case.Text;
    if (Case.Ok) {
      EXPECT_EQ(Hz, Case.Hz) << Case.Text;
    }
  }
}

TEST(RigctlProtocol, LineReaderSplitsPiecesAndBoundsALine) {
  TRigctlLineReader Reader(8);
  std::vector<std::string> Lines;
  EXPECT_TRUE(Reader.Feed("f\r\nm", Lines));
  EXPECT_TRUE(Reader.Feed("\n\nF 7", Lines));
  EXPECT_EQ(Lines, (std::vector<std::string>{"f", "m", ""}));
  EXPECT_EQ(Reader.Pending(), 3u);
  EXPECT_TRUE(Reader.Feed("07400\n", Lines)); // exactly 8 bytes
  EXPECT_EQ(Lines.back(), "F 707400");
  Lines.clear();
  EXPECT_FALSE(Reader.Feed("123456789", Lines)); // unfinished and too long
  EXPECT_EQ(Reader.Pending(), 0u);
  EXPECT_FALSE(Reader.Feed(std::string("ok\n") + std::string(20, 'x') + "\n", Lines));
  EXPECT_EQ(Lines, (std::vector<std::string>{"ok"}));
  // Zero bytes are text like any other.
  Lines.clear();
  TRigctlLineReader Binary;
  EXPECT_TRUE(Binary.Feed(std::string("a\0b\n", 4), Lines));
  EXPECT_EQ(Lines, (std::vector<std::string>{std::string("a\0b", 3)}));
}

TEST(RigctlProtocol, DumpStateNamesTheRadiosModesAndEnds) {
  TRigctlRadioFacts Facts;
  Facts.LowHz = 30000;
  Facts.HighHz = 56000000;
  Facts.Modes = {"LSB", "USB", "CW", "PKTUSB"};
  Facts.StepHz = 10;
  Facts.CanKey = true;
  const std::string Text = FormatRigctlDumpState(Facts);
  EXPECT_TRUE(Text.starts_with("1\n2\n0\n30000.000000 56000000.000000 0x80e -1 -1")) << Text;
  EXPECT_NE(Text.find("\n0x80e 10\n0 0\n"), std::string::npos) << Text;
  EXPECT_NE(Text.find("\n0x800 3000\n"), std::string::npos) << Text;
  EXPECT_EQ(Text.find("0x20 "), std::string::npos) << "FM is not settable here";
  EXPECT_NE(Text.find("\nptt_type=0x1\n"), std::string::npos);
  EXPECT_TRUE(Text.ends_with("\ndone\n"));
  Facts.CanKey = false;
  EXPECT_NE(FormatRigctlDumpState(Facts).find("\nptt_type=0x0\n"), std::string::npos);
}
