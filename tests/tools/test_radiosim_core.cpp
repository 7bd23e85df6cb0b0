// The simulator's radio cores, bytes in and bytes out, without a pty.
#include "tools/radiosim/untRadioSim.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vela::radiosim;
using namespace std::string_literals;

namespace {

std::string B(std::initializer_list<int> list) {
  std::string s;
  for (int b : list)
    s += static_cast<char>(b);
  return s;
}

std::unique_ptr<TRadioCore> Make(const std::string& name) {
  auto core = CreateRadioCore(name);
  EXPECT_NE(core, nullptr) << name;
  core->TakeLog();
  return core;
}

// Sends one command and returns everything the radio answered.
std::string Ask(TRadioCore& core, const std::string& bytes) {
  core.Receive(bytes);
  return core.TakeOutput();
}

bool Logged(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

} // namespace

// --- shared behaviour ----------------------------------------------------------------

TEST(RadioSimCore, EveryRadioStartsOnUsbAndTakesModeNamesCaseInsensitively) {
  for (const auto& name : RadioNames()) {
    auto core = Make(name);
    EXPECT_EQ(core->Mode(), "usb") << name;
    EXPECT_TRUE(core->setMode("CW")) << name;
    EXPECT_EQ(core->Mode(), "cw") << name;
    EXPECT_TRUE(core->setMode("Lsb")) << name;
    EXPECT_TRUE(core->setMode("digi")) << name;
    EXPECT_TRUE(core->setMode("data-usb")) << name;
    EXPECT_FALSE(core->setMode("warp")) << name;
    EXPECT_FALSE(core->setMode("")) << name;
    EXPECT_TRUE(core->setFrequency(7074000)) << name;
    EXPECT_FALSE(core->setFrequency(-1)) << name;
    EXPECT_EQ(core->Frequency(), 7074000) << name;
    auto log = core->TakeLog();
    EXPECT_TRUE(Logged(log, "mode cw")) << name;
    EXPECT_TRUE(Logged(log, "freq 7074000")) << name;
  }
  EXPECT_EQ(CreateRadioCore("ft-1000"), nullptr);
}

TEST(RadioSimCore, FrequencyBeyondTheRadiosDigitsIsRefused) {
  auto ft950 = Make("ft950");
  EXPECT_FALSE(ft950->setFrequency(100000000)); // eight digits of hertz
  EXPECT_TRUE(ft950->setFrequency(99999999));
  auto ft897 = Make("ft897d");
  EXPECT_FALSE(ft897->setFrequency(1000000000));
}

// --- FT-100D -----------------------------------------------------------------------

TEST(RadioSimFT100D, StatusRequestGives32BytesWithThe125HzWord) {
  auto core = Make("ft100d");
  const std::string reply = Ask(*core, B({0, 0, 0, 0, 0x10}));
  ASSERT_EQ(reply.size(), 32u);
  // 14.074 MHz / 1.25 Hz = 11259200 = 00 AB CD 40
  EXPECT_EQ(reply.substr(1, 4), B({0x00, 0xAB, 0xCD, 0x40}));
  EXPECT_EQ(reply[5] & 0x0F, 1); // USB
  EXPECT_EQ(core->TakeLog(), std::vector<std::string>{"cmd 00 00 00 00 10"});

  core->setFrequency(7074500);
  core->setMode("cw");
  const std::string r2 = Ask(*core, B({0, 0, 0, 0, 0x10}));
  ASSERT_EQ(r2.size(), 32u);
  const uint32_t word = static_cast<unsigned char>(r2[1]) << 24 |
                        static_cast<unsigned char>(r2[2]) << 16 |
                        static_cast<unsigned char>(r2[3]) << 8 | static_cast<unsigned char>(r2[4]);
  EXPECT_EQ(word, 5659600u); // 7074500 / 1.25
  EXPECT_EQ(r2[5] & 0x0F, 2);
  // The second block is the other VFO, untouched by the operator's dial.
  EXPECT_EQ(r2.substr(17, 4), B({0x00, 0xAB, 0xCD, 0x40}));
}

TEST(RadioSimFT100D, SetCommandsChangeStateAndAcknowledgeWithOneByte) {
  auto core = Make("ft100d");
  EXPECT_EQ(Ask(*core, B({0x00, 0x74, 0x70, 0x00, 0x0A})), B({0}));
  EXPECT_EQ(core->Frequency(), 7074000);
  EXPECT_EQ(Ask(*core, B({0x50, 0x74, 0x70, 0x00, 0x0A})), B({0}));
  EXPECT_EQ(core->Frequency(), 7074500);
  EXPECT_EQ(Ask(*core, B({0x00, 0x00, 0x43, 0x14, 0x0A})), B({0}));
  EXPECT_EQ(core->Frequency(), 144300000);
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0x06, 0x0C})), B({0}));
  EXPECT_EQ(core->Mode(), "fm");
  auto log = core->TakeLog();
  EXPECT_TRUE(Logged(log, "freq 144300000"));
  EXPECT_TRUE(Logged(log, "mode fm"));

  core->setAck(false);
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0x05, 0x0C})), "");
  EXPECT_EQ(core->Mode(), "digi");
  // Not BCD, unknown mode, unknown instruction: ignored, no answer.
  EXPECT_EQ(Ask(*core, B({0x0A, 0x74, 0x70, 0x00, 0x0A})), "");
  core->setAck(true);
  EXPECT_EQ(Ask(*core, B({0x0A, 0x74, 0x70, 0x00, 0x0A})), "");
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0x0E, 0x0C})), "");
  EXPECT_EQ(Ask(*core, B({1, 2, 3, 4, 0x77})), "");
  EXPECT_EQ(core->Frequency(), 144300000);
  EXPECT_EQ(core->Mode(), "digi");
}

TEST(RadioSimFT100D, CommandsAreFramedInFivesAcrossCalls) {
  auto core = Make("ft100d");
  EXPECT_EQ(Ask(*core, B({0, 0})), "");
  EXPECT_EQ(Ask(*core, B({0, 0, 0x10})).size(), 32u);
  // A half command is forgotten after ResetInput (the program calls it after a pause).
  core->Receive(B({0x12, 0x34}));
  core->ResetInput();
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0, 0x10})).size(), 32u);
}

TEST(RadioSimFT100D, DropAndInsertShiftOneReplyOnly) {
  auto core = Make("ft100d");
  const std::string normal = Ask(*core, B({0, 0, 0, 0, 0x10}));
  core->DropNextReplyByte();
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0, 0x10})), normal.substr(1));
  core->InsertNextReplyByte();
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0, 0x10})), "\0"s + normal);
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0, 0x10})), normal);
  // A fault waits for a command that has a reply.
  core->setAck(false);
  core->DropNextReplyByte();
  EXPECT_EQ(Ask(*core, B({0x00, 0x74, 0x70, 0x00, 0x0A})), "");
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0, 0x10})).size(), 31u);
}

// --- FT-897D -----------------------------------------------------------------------

TEST(RadioSimFT897D, ReadGivesBcdFrequencyAndModeByte) {
  struct TCase {
    int64_t Hz;
    const char* Mode;
    std::string Reply;
  };
  const TCase cases[] = {
      {14074000, "usb", B({0x01, 0x40, 0x74, 0x00, 0x01})},
      {7074560, "cw", B({0x00, 0x70, 0x74, 0x56, 0x02})},
      {144300000, "fm", B({0x14, 0x43, 0x00, 0x00, 0x08})},
      {432100000, "digi", B({0x43, 0x21, 0x00, 0x00, 0x0A})},
      {3573000, "cw-n", B({0x00, 0x35, 0x73, 0x00, 0x82})},
      {145500000, "fm-n", B({0x14, 0x55, 0x00, 0x00, 0x88})},
  };
  for (const auto& c : cases) {
    auto core = Make("ft897d");
    ASSERT_TRUE(core->setFrequency(c.Hz));
    ASSERT_TRUE(core->setMode(c.Mode));
    EXPECT_EQ(Ask(*core, B({0, 0, 0, 0, 0x03})), c.Reply) << c.Hz << " " << c.Mode;
  }
}

TEST(RadioSimFT897D, SetCommandsAndAcknowledge) {
  auto core = Make("ft897d");
  EXPECT_EQ(Ask(*core, B({0x00, 0x70, 0x74, 0x50, 0x01})), B({0}));
  EXPECT_EQ(core->Frequency(), 7074500);
  EXPECT_EQ(Ask(*core, B({0x0A, 0, 0, 0, 0x07})), B({0}));
  EXPECT_EQ(core->Mode(), "digi");
  // The narrow filter cannot be chosen with the mode command; not BCD is ignored.
  EXPECT_EQ(Ask(*core, B({0x82, 0, 0, 0, 0x07})), "");
  EXPECT_EQ(Ask(*core, B({0x05, 0, 0, 0, 0x07})), "");
  EXPECT_EQ(Ask(*core, B({0x0F, 0x70, 0x74, 0x50, 0x01})), "");
  EXPECT_EQ(core->Mode(), "digi");
  EXPECT_EQ(core->Frequency(), 7074500);
  // Status reads answer one byte whatever the acknowledgement setting.
  core->setAck(false);
  EXPECT_EQ(Ask(*core, B({0, 0, 0, 0, 0xE7})).size(), 1u);
  EXPECT_EQ(Ask(*core, B({0x00, 0x70, 0x74, 0x00, 0x01})), "");
  EXPECT_EQ(core->Frequency(), 7074000);
}

// --- FT-950 ------------------------------------------------------------------------

TEST(RadioSimFT950, InformationReplyCarriesFrequencyAndModeAtFixedPositions) {
  auto core = Make("ft950");
  const std::string r = Ask(*core, "IF;");
  EXPECT_EQ(r, "IF00114074000+000000200000;");
  const std::string rest = r.substr(2);
  EXPECT_EQ(rest.substr(3, 8), "14074000");
  EXPECT_EQ(rest[18], '2');

  struct TCase {
    const char* Mode;
    char Char;
  };
  for (TCase c : {TCase{"lsb", '1'},
                  {"cw", '3'},
                  {"fm", '4'},
                  {"am", '5'},
                  {"cwr", '7'},
                  {"digi", 'C'},
                  {"fm-n", 'B'},
                  {"rtty", '6'}}) {
    ASSERT_TRUE(core->setMode(c.Mode));
    EXPECT_EQ(Ask(*core, "IF;")[2 + 18], c.Char) << c.Mode;
    EXPECT_EQ(Ask(*core, "MD0;"), "MD0"s + c.Char + ";") << c.Mode;
  }
  core->setFrequency(475000);
  EXPECT_EQ(Ask(*core, "IF;").substr(5, 8), "00475000");
}

TEST(RadioSimFT950, CommandsOfARigControlClient) {
  auto core = Make("ft950");
  EXPECT_EQ(Ask(*core, "FA07074500;"), "");
  EXPECT_EQ(core->Frequency(), 7074500);
  EXPECT_EQ(Ask(*core, "FA;"), "FA07074500;");
  EXPECT_EQ(Ask(*core, "MD03;"), "");
  EXPECT_EQ(core->Mode(), "cw");
  EXPECT_EQ(Ask(*core, "ID;"), "ID0310;");
  EXPECT_EQ(Ask(*core, "PS;"), "PS1;");
  EXPECT_EQ(Ask(*core, "AI0;AI;"), "AI0;");
  EXPECT_EQ(Ask(*core, "EX0271;EX027;"), "EX0271;");
  EXPECT_EQ(Ask(*core, "NA01;NA0;SH0;"), "NA01;SH000;");
  auto log = core->TakeLog();
  EXPECT_TRUE(Logged(log, "cmd FA07074500;"));
  EXPECT_TRUE(Logged(log, "freq 7074500"));
  EXPECT_TRUE(Logged(log, "mode cw"));
  // Malformed or unknown: "?;" and no change.
  for (const char* bad : {"FA123;", "FA1407400x;", "MD0Z;", "MD3;", "XY;", "Q;", "fa;"})
    EXPECT_EQ(Ask(*core, bad), "?;") << bad;
  EXPECT_EQ(core->Frequency(), 7074500);
  EXPECT_EQ(core->Mode(), "cw");
}

TEST(RadioSimFT950, SplitCommandsAndNoiseAreHandled) {
  auto core = Make("ft950");
  EXPECT_EQ(Ask(*core, "I"), "");
  EXPECT_EQ(Ask(*core, "F"), "");
  EXPECT_EQ(Ask(*core, ";FA;").size(), 27u + 11u);
  // A run of noise without ";" is bounded and does not poison the next command.
  core->Receive(std::string(10000, 'x'));
  core->TakeOutput();
  EXPECT_EQ(Ask(*core, ";ID;"), "?;ID0310;");
}

// --- Flex --------------------------------------------------------------------------

TEST(RadioSimFlex, StatusRepliesCarryFieldsAtTheirPositions) {
  auto core = Make("flex");
  const std::string zz = Ask(*core, "ZZIF;");
  ASSERT_EQ(zz.size(), 41u);
  const std::string rest = zz.substr(4);
  EXPECT_EQ(rest.substr(0, 11), "00014074000");
  EXPECT_EQ(rest.substr(27, 2), "01");

  const std::string kw = Ask(*core, "IF;");
  ASSERT_EQ(kw.size(), 38u);
  EXPECT_EQ(kw.substr(2, 11), "00014074000");
  EXPECT_EQ(kw[29], '2'); // USB in the single-digit codes
  EXPECT_EQ(kw[30], '0'); // VFO A

  struct TCase {
    const char* Mode;
    const char* ZZ;
    char Kenwood;
  };
  for (TCase c : {TCase{"lsb", "00", '1'},
                  {"cw", "04", '3'},
                  {"cwr", "03", '7'},
                  {"fm", "05", '4'},
                  {"am", "06", '5'},
                  {"digi", "07", '9'},
                  {"digi-l", "09", '6'}}) {
    ASSERT_TRUE(core->setMode(c.Mode));
    EXPECT_EQ(Ask(*core, "ZZIF;").substr(4 + 27, 2), c.ZZ) << c.Mode;
    EXPECT_EQ(Ask(*core, "ZZMD;"), "ZZMD"s + c.ZZ + ";") << c.Mode;
    EXPECT_EQ(Ask(*core, "IF;")[29], c.Kenwood) << c.Mode;
    EXPECT_EQ(Ask(*core, "MD;"), "MD"s + c.Kenwood + ";") << c.Mode;
  }
  core->setFrequency(144300000);
  EXPECT_EQ(Ask(*core, "ZZIF;").substr(4, 11), "00144300000");
}

TEST(RadioSimFlex, SetCommandsAndRefusals) {
  auto core = Make("flex");
  EXPECT_EQ(Ask(*core, "ZZFA00007074500;"), "");
  EXPECT_EQ(core->Frequency(), 7074500);
  EXPECT_EQ(Ask(*core, "FA;"), "FA00007074500;");
  EXPECT_EQ(Ask(*core, "FA00014074000;ZZFA;"), "ZZFA00014074000;");
  EXPECT_EQ(Ask(*core, "ZZMD04;"), "");
  EXPECT_EQ(core->Mode(), "cw");
  EXPECT_EQ(Ask(*core, "MD1;"), "");
  EXPECT_EQ(core->Mode(), "lsb");
  EXPECT_EQ(Ask(*core, "ID;PS;AI;ZZSW;"), "ID019;PS1;AI0;ZZSW0;");
  for (const char* bad : {"ZZMD99;", "ZZMD4;", "ZZFA14074000;", "MD8;", "ZZXX;", "FA1;", "ZZ;"})
    EXPECT_EQ(Ask(*core, bad), "?;") << bad;
  EXPECT_EQ(core->Frequency(), 14074000);
  EXPECT_EQ(core->Mode(), "lsb");
}

// --- Icom --------------------------------------------------------------------------

TEST(RadioSimIcom, EchoesEveryFrameAndAnswersReads) {
  auto core = Make("ic7000");
  const std::string readFreq = B({0xFE, 0xFE, 0x70, 0xE0, 0x03, 0xFD});
  EXPECT_EQ(Ask(*core, readFreq),
            readFreq + B({0xFE, 0xFE, 0xE0, 0x70, 0x03, 0x00, 0x40, 0x07, 0x14, 0x00, 0xFD}));
  EXPECT_EQ(core->TakeLog(), std::vector<std::string>{"cmd FE FE 70 E0 03 FD"});

  core->setEcho(false);
  core->setMode("cw-n");
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x70, 0xCC, 0x04, 0xFD})),
            B({0xFE, 0xFE, 0xCC, 0x70, 0x04, 0x03, 0x03, 0xFD}));
  core->setFrequency(145500000);
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x70, 0xCC, 0x03, 0xFD})),
            B({0xFE, 0xFE, 0xCC, 0x70, 0x03, 0x00, 0x00, 0x50, 0x45, 0x01, 0xFD}));
}

TEST(RadioSimIcom, SetCommandsAnswerOkOrNg) {
  auto core = Make("ic7300");
  core->setEcho(false);
  const std::string ok = B({0xFE, 0xFE, 0xCC, 0x94, 0xFB, 0xFD});
  const std::string ng = B({0xFE, 0xFE, 0xCC, 0x94, 0xFA, 0xFD});
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x94, 0xCC, 0x05, 0x00, 0x45, 0x07, 0x07, 0x00, 0xFD})), ok);
  EXPECT_EQ(core->Frequency(), 7074500);
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x94, 0xCC, 0x06, 0x03, 0xFD})), ok);
  EXPECT_EQ(core->Mode(), "cw");
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x94, 0xCC, 0x06, 0x05, 0x03, 0xFD})), ok);
  EXPECT_EQ(core->Mode(), "fm-n");
  // Bad BCD, short frequency, unknown mode, bad filter, unknown command: NG.
  for (const std::string& bad :
       {B({0xFE, 0xFE, 0x94, 0xCC, 0x05, 0x00, 0x4A, 0x07, 0x07, 0x00, 0xFD}),
        B({0xFE, 0xFE, 0x94, 0xCC, 0x05, 0x00, 0x45, 0x07, 0xFD}),
        B({0xFE, 0xFE, 0x94, 0xCC, 0x06, 0x06, 0xFD}),
        B({0xFE, 0xFE, 0x94, 0xCC, 0x06, 0x01, 0x07, 0xFD}),
        B({0xFE, 0xFE, 0x94, 0xCC, 0x99, 0xFD})})
    EXPECT_EQ(Ask(*core, bad), ng) << HexBytes(bad);
  EXPECT_EQ(core->Frequency(), 7074500);
  EXPECT_EQ(core->Mode(), "fm-n");
  // Frames for another radio address, and noise, are only echoed (echo off here).
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x70, 0xCC, 0x03, 0xFD})), "");
  EXPECT_EQ(Ask(*core, B({0x12, 0x34, 0xFD})), "");
}

TEST(RadioSimIcom, DataModeShowsAsUsbInTheModeReply) {
  auto core = Make("ic7300");
  core->setEcho(false);
  ASSERT_TRUE(core->setMode("data-usb"));
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x94, 0xE0, 0x04, 0xFD})),
            B({0xFE, 0xFE, 0xE0, 0x94, 0x04, 0x01, 0x01, 0xFD}));
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x94, 0xE0, 0x1A, 0x06, 0xFD})),
            B({0xFE, 0xFE, 0xE0, 0x94, 0x1A, 0x06, 0x01, 0x01, 0xFD}));
  // The IC-7000 has no such command.
  auto ic7000 = Make("ic7000");
  ic7000->setEcho(false);
  EXPECT_EQ(Ask(*ic7000, B({0xFE, 0xFE, 0x70, 0xE0, 0x1A, 0x06, 0xFD})),
            B({0xFE, 0xFE, 0xE0, 0x70, 0xFA, 0xFD}));
}

TEST(RadioSimIcom, FramesSplitOverCallsAndNoiseBeforeThem) {
  auto core = Make("ic7000");
  core->setEcho(false);
  core->Receive(std::string(5000, '\x11'));
  EXPECT_EQ(core->TakeOutput(), "");
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0x70})), "");
  EXPECT_EQ(Ask(*core, B({0xE0, 0x03, 0xFD})).size(), 11u);
  // Three preamble bytes are accepted as well.
  EXPECT_EQ(Ask(*core, B({0xFE, 0xFE, 0xFE, 0x70, 0xE0, 0x03, 0xFD})).size(), 11u);
}

TEST(RadioSimIcom, TransceiveAndForeignFramesGoToOtherAddresses) {
  auto core = Make("ic7000");
  core->setFrequency(7074000);
  EXPECT_EQ(core->TakeOutput(), "");
  core->setTransceive(true);
  core->setFrequency(7074500);
  EXPECT_EQ(core->TakeOutput(),
            B({0xFE, 0xFE, 0x00, 0x70, 0x00, 0x00, 0x45, 0x07, 0x07, 0x00, 0xFD}));
  core->setMode("am");
  EXPECT_EQ(core->TakeOutput(), B({0xFE, 0xFE, 0x00, 0x70, 0x01, 0x02, 0x01, 0xFD}));
  // A CAT set command is no dial turn: no broadcast.
  core->setEcho(false);
  Ask(*core, B({0xFE, 0xFE, 0x70, 0xCC, 0x05, 0x00, 0x40, 0x07, 0x07, 0x00, 0xFD}));
  EXPECT_TRUE(core->EmitForeign("freq"));
  EXPECT_EQ(core->TakeOutput(),
            B({0xFE, 0xFE, 0xE0, 0x70, 0x03, 0x00, 0x40, 0x07, 0x07, 0x00, 0xFD}));
  EXPECT_TRUE(core->EmitForeign("mode"));
  EXPECT_EQ(core->TakeOutput(), B({0xFE, 0xFE, 0xE0, 0x70, 0x04, 0x02, 0x01, 0xFD}));
  EXPECT_FALSE(core->EmitForeign("noise"));
  EXPECT_FALSE(Make("ft950")->EmitForeign("freq"));
}
