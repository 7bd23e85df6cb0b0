// velalog-cat's command line read into the station's options: what each
// form runs, the values it fills, and the reason a wrong one gives.
#include "tools/cat/untCatOptions.h"

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vela;

namespace {

// Runs the parser on Args (after the program's name), without a key in the
// environment; the usage error's text, or empty.
std::string Parse(std::initializer_list<const char*> Args, TCatOptions& Options,
                  TCatRun* Run = nullptr) {
  ::unsetenv("VELALOG_API_KEY");
  std::vector<char*> Argv{const_cast<char*>("velalog-cat")};
  for (const char* Arg : Args)
    Argv.push_back(const_cast<char*>(Arg));
  try {
    const TCatRun Result = ParseCatOptions(static_cast<int>(Argv.size()), Argv.data(), Options);
    if (Run)
      *Run = Result;
    return {};
  } catch (const ECatUsage& E) {
    return E.what();
  }
}

TEST(CatOptions, WrongCommandLinesSayWhy) {
  struct {
    std::initializer_list<const char*> Args;
    const char* Why;
  } Cases[] = {
      {{}, "--radio is required"},
      {{"--radio", "nope"}, "unknown radio: nope"},
      {{"--radio", "ft950"}, "--port N (N >= 1) or --device PATH is required"},
      {{"--radio", "ft950", "--port", "x"}, "bad number for --port: x"},
      {{"--baud", "123"}, "unsupported baud rate: 123"},
      {{"--dtr", "maybe"}, "--dtr takes on, off or keep"},
      {{"--rigctld", "70000"}, "--rigctld needs a port from 0 to 65535"},
      {{"--tune-listen", "localhost"}, "--tune-listen: \"localhost\" has no port"},
      {{"--tune-listen", "shack:1"}, "--tune-listen: \"shack\" is not an IP address"},
      {{"--live-listen", "shack:1"}, "--live-listen: \"shack\" is not an IP address"},
      {{"--radio", "rigctld", "--rigctld-host", "[::1"}, "--rigctld-host: \"[::1\": missing"},
      {{"--radio", "ft950", "--port", "1", "--logbook-api", "http://127.0.0.1/"},
       "--logbook-api needs --api-key, --api-key-file or VELALOG_API_KEY"},
      {{"--ini"}, "--ini needs a file name"},
      {{"--frobnicate"}, "unknown option: --frobnicate"},
  };
  for (const auto& C : Cases) {
    TCatOptions Options;
    const std::string Why = Parse(C.Args, Options);
    EXPECT_EQ(Why.rfind(C.Why, 0), 0u) << C.Why << " / " << Why;
  }
}

TEST(CatOptions, EachFormRunsWhatItAsks) {
  struct {
    std::initializer_list<const char*> Args;
    TCatRun Run;
  } Cases[] = {
      {{"--help", "--bogus"}, TCatRun::crPrinted},
      {{"--list-radios"}, TCatRun::crPrinted},
      {{"--contacts", "2237"}, TCatRun::crContacts},
      {{"--contacts-file", "wsjtx_log.adi"}, TCatRun::crContacts},
      {{"--radio", "ic7300", "--port", "2", "--contacts", "2237"}, TCatRun::crStation},
      {{"--radio", "rigctld"}, TCatRun::crStation},
  };
  for (const auto& C : Cases) {
    TCatOptions Options;
    TCatRun Run = TCatRun::crPrinted;
    testing::internal::CaptureStdout();
    const std::string Why = Parse(C.Args, Options, &Run);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Why, "");
    EXPECT_EQ(Run, C.Run) << *C.Args.begin();
  }
}

// The values land where the station and the store take them: ports, baud
// rate, sharing, the logbook's API, the daemon's default address; --device
// numbers its links COM1 and COM2 when no numbers were given.
TEST(CatOptions, ValuesReachTheStationAndTheStore) {
  TCatOptions Options;
  ASSERT_EQ(Parse({"--radio", "ft950", "--port", "3", "--virtual", "4", "--baud", "9600", "--digi",
                   "data", "--rigctld", "0", "--allow-ptt", "--tune-listen", "0"},
                  Options),
            "");
  const TStationOptions& S = Options.Station;
  EXPECT_EQ(S.Radio, rtFT950);
  EXPECT_EQ(S.ComPort, 3);
  EXPECT_EQ(S.ComPort2, 4);
  EXPECT_EQ(S.BaudRate, br9600);
  EXPECT_TRUE(S.Sharing.Enabled && S.Sharing.AllowPTT);
  EXPECT_EQ(S.Sharing.Port, 0);
  EXPECT_TRUE(S.Logbook.Enabled);
  EXPECT_EQ(S.Logbook.TuneListen, "0");
  EXPECT_EQ(S.Logbook.LiveListen, DefaultLogbookLiveListen); // on with the API, unless told
  EXPECT_FALSE(S.ContactsEnabled);

  QTemporaryDir Temp;
  const std::string Dir = Temp.path().toStdString();
  PrepareCatPorts(Options, Dir);
  EXPECT_TRUE(Options.Station.Com2Enable);
  TVelaLogSettings Settings(nullptr, Dir + "/VelaLog.ini");
  StoreCatOptions(Options, Settings);
  TVelaLogSettings Stored(nullptr, Dir + "/VelaLog.ini");
  EXPECT_EQ(Stored.Radio(), rtFT950);
  EXPECT_EQ(Stored.intCommPort2(), 4);
  EXPECT_TRUE(Stored.blnComm2Enable());
  EXPECT_EQ(Stored.DigiMode(), dmData);
  EXPECT_TRUE(Stored.blnShareAllowPTT());

  TCatOptions Linked;
  ASSERT_EQ(
      Parse({"--radio", "ft950", "--device", "/dev/null", "--virtual-device", "/dev/zero"}, Linked),
      "");
  PrepareCatPorts(Linked, Dir);
  EXPECT_EQ(Linked.Station.ComPort, 1);
  EXPECT_EQ(Linked.Station.ComPort2, 2);
  EXPECT_EQ(std::filesystem::read_symlink(Dir + "/ports/com2"), "/dev/zero");

  TCatOptions Daemon;
  ASSERT_EQ(Parse({"--radio", "rigctld"}, Daemon), "");
  EXPECT_EQ(Daemon.RigctldHost, DefaultRigctldAddress);
}

} // namespace
