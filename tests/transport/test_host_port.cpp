// Splitting host:port text and reading its port number, shared by the TCP
// port, the sharing port check and the contact listener.
#include "cat/transport/untHostPort.h"

#include <gtest/gtest.h>

using namespace vela;

TEST(HostPortSplit, PartsOfEachForm) {
  struct {
    const char* Text;
    THostPortSplit Result;
    const char* Host;
    const char* Port;
    bool HasPort;
    bool Bracketed;
  } Cases[] = {
      {"localhost:4532", THostPortSplit::hsOk, "localhost", "4532", true, false},
      {"localhost", THostPortSplit::hsOk, "localhost", "", false, false},
      {"host:", THostPortSplit::hsOk, "host", "", true, false},
      {":4532", THostPortSplit::hsOk, "", "4532", true, false},
      {"[::1]:4532", THostPortSplit::hsOk, "::1", "4532", true, true},
      {"[::1]", THostPortSplit::hsOk, "::1", "", false, true},
      {"[fe80::1%eth0]:", THostPortSplit::hsOk, "fe80::1%eth0", "", true, true},
      {"::1", THostPortSplit::hsOk, "::1", "", false, false},
      {"fe80::1:4532", THostPortSplit::hsOk, "fe80::1:4532", "", false, false},
      {"[::1", THostPortSplit::hsNoCloseBracket, "", "", false, false},
      {"[::1]4532", THostPortSplit::hsJunkAfterBracket, "::1", "", false, true},
  };
  for (const auto& C : Cases) {
    THostPortParts Parts;
    EXPECT_EQ(SplitHostPort(C.Text, Parts), C.Result) << C.Text;
    if (C.Result == THostPortSplit::hsNoCloseBracket)
      continue;
    EXPECT_EQ(Parts.Host, C.Host) << C.Text;
    EXPECT_EQ(Parts.Port, C.Port) << C.Text;
    EXPECT_EQ(Parts.HasPort, C.HasPort) << C.Text;
    EXPECT_EQ(Parts.Bracketed, C.Bracketed) << C.Text;
  }
}

TEST(HostPortSplit, PortNumbers) {
  struct {
    const char* Text;
    bool Read;
    std::uint16_t Port;
  } Cases[] = {{"0", true, 0},       {"1", true, 1},      {"65535", true, 65535},
               {"00080", true, 80},  {"65536", false, 0}, {"99999", false, 0},
               {"123456", false, 0}, {"", false, 0},      {"+80", false, 0},
               {"-1", false, 0},     {" 80", false, 0},   {"8o", false, 0}};
  for (const auto& C : Cases) {
    std::uint16_t Port = 7;
    EXPECT_EQ(ParsePortNumber(C.Text, Port), C.Read) << C.Text;
    EXPECT_EQ(Port, C.Read ? C.Port : 7) << C.Text;
  }
}
