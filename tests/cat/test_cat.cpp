// The driver base and the port worker, on real pseudo-terminals.
#include "cat/transport/CPort.h"
#include "cat/untCATinterface.h"
#include "cat/untCommPortThread.h"
#include "common/PtyPair.h"
#include "platform/untThread.h"
#include "settings/untVelaLogSettings.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace vela;
namespace fs = std::filesystem;

namespace {

constexpr int Generous = 10000; // ms; an upper bound for events, never a duration check

// A driver that records what the worker does with it. Its "protocol": every
// reply is "F<frequency>M<mode>;"; the poll command is "P;".
class TRecordingDriver : public TCATInterface {
public:
  TRecordingDriver(TVelaLogSettings* Settings, std::string Poll = "P;")
      : TCATInterface(nullptr, Settings) {
    FPollCommand = std::move(Poll);
  }
  ~TRecordingDriver() override { Terminating = true; }

  void ParseReply(TObject*, std::string Data, int) override {
    OnMainThread = OnMainThread && TThread::IsMainThread();
    ++Pieces;
    if (ThrowInParse) {
      ThrowInParse = false;
      throw std::runtime_error("parser failed");
    }
    Received += Data;
    size_t End;
    while ((End = Received.find(';')) != std::string::npos) {
      const std::string Reply = Received.substr(0, End);
      Received.erase(0, End + 1);
      const size_t M = Reply.find('M');
      if (Reply.empty() || Reply[0] != 'F' || M == std::string::npos)
        continue;
      FFrequency = Reply.substr(1, M - 1);
      FMode = Reply.substr(M + 1);
      ++Replies;
      PiecesPerReply.push_back(Pieces);
      Pieces = 0;
    }
    AllBytes += Data;
    Trace += Data;
  }
  void LineWasQuiet(TObject*) override { Trace += '|'; }
  void GetNextCommand(TObject* Sender, std::string& Command) override {
    ++Asked;
    if (ThrowNext) {
      ThrowNext = false;
      throw std::runtime_error("driver failed");
    }
    if (TerminateNext) {
      TerminateNext = false;
      static_cast<TThread*>(Sender)->Terminate();
      Command = "NEVER;";
      return;
    }
    if (!FFrequencyCommand.empty()) {
      Command = FFrequencyCommand;
      FFrequencyCommand.clear();
    } else if (!FModeCommand.empty()) {
      Command = FModeCommand;
      FModeCommand.clear();
    } else {
      Command = FPollCommand;
    }
  }
  void SetFrequency(std::string Frequency) override {
    FrequencyCalls.push_back(Frequency);
    FFrequencyCommand = "SF" + Frequency + ";";
  }
  void SetMode(std::string Mode) override {
    ModeCalls.push_back(Mode);
    FModeCommand = "SM" + Mode + ";";
  }
  void ResetState() override {
    Received.clear();
    ++Restarts;
  }

  // Test access to the base's state.
  void SetCurrent(std::string Frequency, std::string Mode) {
    FFrequency = std::move(Frequency);
    FMode = std::move(Mode);
  }
  TLinkState RadioState() const { return RadioLinkStatus().State; }
  TLinkState VirtualState() const { return VirtualLinkStatus().State; }

  std::string Received, AllBytes;
  // The bytes received, with '|' where the worker reported a silence.
  std::string Trace;
  std::atomic<int> Asked{0};
  int Restarts = 0; // ResetState runs once per restart of the worker
  int Replies = 0;
  // How many deliveries each reply took.
  int Pieces = 0;
  std::vector<int> PiecesPerReply;
  bool OnMainThread = true;
  bool ThrowNext = false;
  bool ThrowInParse = false;
  bool TerminateNext = false;
  bool Terminating = false;
  std::vector<std::string> FrequencyCalls, ModeCalls;
};

// A driver that, once told to idle, has nothing to write and says for how
// many asks; it records how many asks the worker left out before each call.
class TIdleDriver : public TRecordingDriver {
public:
  using TRecordingDriver::TRecordingDriver;
  void GetNextCommand(TObject* Sender, std::string& Command) override {
    if (IdleAsks == 0 || !FFrequencyCommand.empty()) {
      TRecordingDriver::GetNextCommand(Sender, Command);
      return;
    }
    Skipped.push_back(AsksSkipped());
    NothingForAsks(IdleAsks);
  }
  void Queue(std::string Command) { QueueFrequencyCommand(std::move(Command)); }
  int IdleAsks = 0;
  std::vector<int> Skipped;
};

// Records the radio link's states as the driver reports their changes.
class TLinkWatch : public TObject {
public:
  void Changed(TObject* Sender) {
    const TLinkState State = static_cast<TCATInterface*>(Sender)->RadioLinkStatus().State;
    if (States.empty() || States.back() != State)
      States.push_back(State);
  }
  bool Saw(TLinkState State) const {
    return std::find(States.begin(), States.end(), State) != States.end();
  }
  std::vector<TLinkState> States;
};

class CatTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("vela-cat-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir / "ports");
    TCustomComPort::SetPortsDir((Dir / "ports").string());
    Settings = std::make_unique<TVelaLogSettings>(nullptr, (Dir / "VelaLog.ini").string());
  }
  void TearDown() override {
    Settings.reset();
    fs::remove_all(Dir);
  }

  // Links COMn to a pty pair's device.
  void Link(int N, test::TPtyPair& Pty) {
    const fs::path L = Dir / "ports" / ("com" + std::to_string(N));
    fs::remove(L);
    fs::create_symlink(Pty.SlavePath(), L);
  }

  void UsePorts(int Radio, int Virtual, bool Enable) {
    Settings->setIntCommPort(Radio);
    Settings->setIntCommPort2(Virtual);
    Settings->setBlnComm2Enable(Enable);
  }

  // COM3 on Radio's device; with Other, COM6 on its device as the Virtual
  // CAT port, switched on.
  void UseRadio(test::TPtyPair& Radio) {
    Link(3, Radio);
    UsePorts(3, 0, false);
  }
  void UseRadioAndOther(test::TPtyPair& Radio, test::TPtyPair& Other) {
    Link(3, Radio);
    Link(6, Other);
    UsePorts(3, 6, true);
  }

  // Reads from a pty master while serving the main thread, until Done(text)
  // holds or the bound passes; EachTime runs before every look. Returns
  // everything read.
  static std::string CollectUntil(test::TPtyPair& Pty,
                                  const std::function<bool(const std::string&)>& Done,
                                  int TimeoutMs = Generous,
                                  const std::function<void()>& EachTime = nullptr) {
    std::string Text;
    TThread::WaitWhileServing(
        [&] {
          if (EachTime)
            EachTime();
          Text += Pty.Receive(1 << 16, 0);
          return Done(Text);
        },
        TimeoutMs);
    return Text;
  }
  static std::string CollectFor(test::TPtyPair& Pty, int Ms) {
    return CollectUntil(
        Pty, [](const std::string&) { return false; }, Ms);
  }
  static bool ServeUntil(const std::function<bool()>& Done) {
    return TThread::WaitWhileServing(Done, Generous);
  }
  static size_t Count(const std::string& Text, const std::string& Part) {
    size_t N = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1))
      ++N;
    return N;
  }
  std::string IniText() const {
    std::ifstream In(Dir / "VelaLog.ini");
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
  }

  fs::path Dir;
  std::unique_ptr<TVelaLogSettings> Settings;
};

} // namespace

TEST_F(CatTest, WorkerWritesTheDriversCommandEveryCycleAndRepliesReachTheParser) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  TRecordingDriver Driver(Settings.get());
  EXPECT_TRUE(Driver.RadioPortConnected());
  const std::string Polls = CollectUntil(Radio, [](const std::string& T) { return T.size() >= 8; });
  EXPECT_EQ(Polls.substr(0, 8), "P;P;P;P;");

  // A reply with a zero byte, in two pieces, reaches the parser whole.
  const std::string Reply("F14.0740M\0usb;", 14);
  Radio.Send(Reply.substr(0, 5));
  Radio.Send(Reply.substr(5));
  ASSERT_TRUE(ServeUntil([&] { return Driver.AllBytes.size() >= Reply.size(); }));
  EXPECT_EQ(Driver.AllBytes, Reply);
  EXPECT_TRUE(Driver.OnMainThread);
  EXPECT_EQ(Driver.Frequency(), "14.0740");
}

TEST_F(CatTest, TheFirstBytesAfterAWriteToAQuietLineFollowASilence) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  TRecordingDriver Driver(Settings.get());
  CollectUntil(Radio, [](const std::string& T) { return T.size() >= 2; });
  // Two pieces sent before the main thread reads either: the worker cannot
  // write between them (it waits for an empty queue), so they are one reply.
  Radio.Send("F1");
  Radio.Send("4M;");
  ASSERT_TRUE(ServeUntil([&] { return Driver.AllBytes.size() >= 5; }));
  EXPECT_EQ(Driver.Trace, "|F14M;");
  // The next poll goes out on a quiet line; its reply follows a silence.
  CollectUntil(Radio, [](const std::string& T) { return T.size() >= 2; });
  Radio.Send("F7M;");
  ASSERT_TRUE(ServeUntil([&] { return Driver.AllBytes.size() >= 9; }));
  EXPECT_EQ(Driver.Trace, "|F14M;|F7M;");
}

// A radio that sends its reply a character at a time, with pauses longer
// than the port's burst gap but within the line's rate: once the worker has
// seen the same reply length twice, each reply reaches the parser in one
// delivery, not in one per character (a round trip to the main thread each).
TEST_F(CatTest, APacedReplyOfKnownLengthReachesTheParserInOnePiece) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  Settings->setBaudRate(br1200); // 9.2 ms per character of 11 bits
  TRecordingDriver Driver(Settings.get());
  std::atomic<bool> Stop{false};
  std::thread RadioSide([&] {
    std::string In;
    while (!Stop) {
      In += Radio.Receive(64, 20);
      const size_t At = In.find("P;");
      if (At == std::string::npos)
        continue;
      In.erase(0, At + 2);
      for (char C : std::string("F14.0740Musb;")) {
        Radio.Send(std::string(1, C));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  });
  const bool Answered = ServeUntil([&] { return Driver.Replies >= 8; });
  Stop = true;
  RadioSide.join();
  ASSERT_TRUE(Answered);
  // The first two replies teach the length; a loaded machine may still
  // stretch a pause past a wait now and then.
  const auto& Pieces = Driver.PiecesPerReply;
  EXPECT_GE(std::count(Pieces.begin() + 2, Pieces.begin() + 8, 1), 4)
      << ::testing::PrintToString(Pieces);
}

// An interface that keys the transmitter from DTR or RTS has the station
// hold that line low: opening the radio port, at start and at every reopen,
// never raises it.
TEST_F(CatTest, TheWorkerLeavesTheModemLinesAsTheStationSetThem) {
  struct TLineRecordingPort : TComPort {
    std::mutex Lock;
    std::vector<std::pair<int, bool>> Calls;
    void DriveModemLine(int Fd, int Bit, bool On, int Code) override {
      {
        std::lock_guard<std::mutex> Guard(Lock);
        Calls.emplace_back(Bit, On);
      }
      TComPort::DriveModemLine(Fd, Bit, On, Code);
    }
  };
  test::TPtyPair Radio;
  Link(3, Radio);
  TLineRecordingPort* Port = nullptr;
  auto Handle = std::make_shared<TCommPortThreadHandle>();
  auto* Worker = new TCommPortThread(nullptr, 3, 0, br9600, Handle, lpOff, lpOff, [&] {
    auto Made = std::make_unique<TLineRecordingPort>();
    Made->setPort("COM3");
    Port = Made.get();
    return std::unique_ptr<TComPort>(std::move(Made));
  });
  ASSERT_TRUE(Worker->RadioPortConnected());
  {
    std::lock_guard<std::mutex> Guard(Port->Lock);
    EXPECT_FALSE(Port->Calls.empty());
    for (const auto& [Bit, On] : Port->Calls)
      EXPECT_FALSE(On) << (Bit == TIOCM_DTR ? "DTR" : "RTS") << " raised";
  }
  delete Worker;
}

TEST_F(CatTest, QuietTimeIsTwentyMillisecondsOrThreeByteTimes) {
  const struct {
    TBaudRate Rate;
    std::int64_t Ns;
  } Cases[] = {
      {br115200, 20000000}, {br4800, 20000000}, // three bytes take less
      {br1200, 27500000},                       // 3 bytes of 11 bits
      {br300, 110000000},   {br110, 300000000},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(TCommPortThread::QuietNs(Case.Rate), Case.Ns) << Case.Rate;
}

TEST_F(CatTest, BareInterfaceWritesNothing) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  TCATInterface Bare(nullptr, Settings.get());
  EXPECT_TRUE(Bare.RadioPortConnected());
  EXPECT_EQ(CollectFor(Radio, 400), "");
  Radio.Send("F1M2;");
  EXPECT_EQ(CollectFor(Radio, 200), "");
  EXPECT_EQ(Bare.Frequency(), "");
}

TEST_F(CatTest, MissingPortRaisesNothingAndPendingCommandsWaitForIt) {
  UsePorts(200, 0, false); // no ports/com200, no /dev/ttyS199
  TRecordingDriver Driver(Settings.get());
  EXPECT_FALSE(Driver.RadioPortConnected());
  EXPECT_EQ(Driver.RadioState(), TLinkState::lsMissing);
  Driver.SetCurrent("7.0000", "CW");
  Driver.TuneRadio("14.0740", "usb");
  EXPECT_EQ(Driver.FrequencyCommand(), "SF14.0740;");
  // Cycles pass; the driver is not asked while its radio is away.
  TThread::WaitWhileServing([] { return false; }, 300);
  EXPECT_EQ(Driver.Asked, 0);
  // The device appears: the worker opens it by itself, and the commands
  // that waited go out first, then the polls.
  test::TPtyPair Radio;
  Link(200, Radio);
  const std::string Seen = CollectUntil(
      Radio, [](const std::string& T) { return T.find("SMusb;P;") != std::string::npos; });
  EXPECT_EQ(Seen.substr(0, 16), "SF14.0740;SMusb;") << Seen;
  EXPECT_TRUE(Driver.RadioPortConnected());
  EXPECT_EQ(Driver.RadioState(), TLinkState::lsWaiting);
}

TEST_F(CatTest, VirtualPortEqualToRadioPortFailsQuietlyAndPollingGoesOn) {
  test::TPtyPair Radio;
  Link(4, Radio);
  UsePorts(4, 4, true);
  TRecordingDriver Driver(Settings.get());
  EXPECT_TRUE(Driver.RadioPortConnected());
  const std::string Polls = CollectUntil(Radio, [](const std::string& T) { return T.size() >= 6; });
  EXPECT_EQ(Polls.substr(0, 6), "P;P;P;");
}

TEST_F(CatTest, VirtualCatSwitchOffOpensNoSecondPort) {
  test::TPtyPair Radio, Other;
  Link(3, Radio);
  Link(5, Other);
  UsePorts(3, 5, false);
  TRecordingDriver Driver(Settings.get());
  CollectUntil(Radio, [](const std::string& T) { return T.size() >= 4; });
  Other.Send("X;");
  const std::string Polls = CollectFor(Radio, 300);
  EXPECT_EQ(Polls.find('X'), std::string::npos);
  // The port stays free for another program.
  TComPort Probe;
  Probe.setPort("COM5");
  EXPECT_NO_THROW(Probe.Open());
}

TEST_F(CatTest, OtherProgramsBytesReplaceOnePollAndRepliesGoToWhoAsked) {
  test::TPtyPair Radio, Other;
  UseRadioAndOther(Radio, Other);
  TRecordingDriver Driver(Settings.get());
  CollectUntil(Radio, [](const std::string& T) { return T.size() >= 4; });

  // Pieces sent within one cycle go to the radio together, in order.
  Other.Send("AB");
  Other.Send("CD;");
  const std::string Seen = CollectUntil(
      Radio, [](const std::string& T) { return T.find("ABCD;") != std::string::npos; });
  ASSERT_NE(Seen.find("ABCD;"), std::string::npos) << Seen;

  // The radio answers the other program: the answer goes back to it only.
  const int RepliesBefore = Driver.Replies;
  Radio.Send("F7.0745MCW;");
  const std::string Back = CollectUntil(
      Other, [](const std::string& T) { return T.find("F7.0745MCW;") != std::string::npos; });
  EXPECT_EQ(Back, "F7.0745MCW;");
  EXPECT_EQ(Driver.Replies, RepliesBefore);

  // The next poll's reply goes to the driver, not to the other program.
  CollectUntil(Radio, [](const std::string& T) { return T.find("P;") != std::string::npos; });
  Radio.Send("F14.0740Musb;");
  ASSERT_TRUE(ServeUntil([&] { return Driver.Frequency() == "14.0740"; }));
  EXPECT_EQ(CollectFor(Other, 300), "");
}

TEST_F(CatTest, ADriverCommandWaitingForTheLineLetsTheOtherProgramGoFirst) {
  test::TPtyPair Radio, Other;
  UseRadioAndOther(Radio, Other);
  TRecordingDriver Driver(Settings.get());
  CollectUntil(Radio, [](const std::string& T) { return T.find("P;") != std::string::npos; });
  // Not served for a while: the worker's next request for the driver's
  // command is queued meanwhile. Then the radio is still sending when the
  // other program's command comes, so the driver's command must wait for
  // the line, and the other program's goes first.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // A poll the worker wrote just before the pause is no part of the test.
  Radio.Drain();
  Radio.Send("z");
  Other.Send("O;");
  // Both must be there to read before the worker is served again.
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while ((Radio.SlaveWaiting() == 0 || Other.SlaveWaiting() == 0) &&
         std::chrono::steady_clock::now() < Deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  int Chatter = 5; // the radio keeps the line busy a little longer
  std::string Seen = CollectUntil(
      Radio, [](const std::string& T) { return T.find("O;") != std::string::npos; }, Generous,
      [&] {
        if (Chatter-- > 0)
          Radio.Send("z");
      });
  Seen +=
      CollectUntil(Radio, [](const std::string& T) { return T.find("P;") != std::string::npos; });
  EXPECT_EQ(Seen, "O;P;");
}

// A driver with nothing to write for a while is not asked meanwhile, and
// hears how many asks were left out; a command queued in such a pause goes
// out without waiting for its end. Alone on the line and shared.
TEST_F(CatTest, AnIdleDriverIsLeftAloneUntilItHasACommand) {
  for (const bool Shared : {false, true}) {
    SCOPED_TRACE(Shared ? "shared" : "alone");
    test::TPtyPair Radio, Other;
    if (Shared)
      UseRadioAndOther(Radio, Other);
    else
      UseRadio(Radio);
    TIdleDriver Driver(Settings.get());
    CollectUntil(Radio, [](const std::string& T) { return T.find("P;") != std::string::npos; });
    Driver.IdleAsks = 4;
    ASSERT_TRUE(ServeUntil([&] { return Driver.Skipped.size() >= 2; }));
    EXPECT_EQ(Driver.Skipped[1], 4);
    // A pause far longer than any wait here.
    Driver.IdleAsks = 1000000;
    ASSERT_TRUE(ServeUntil([&] { return Driver.Skipped.size() >= 3; }));
    Driver.Queue("SF7.0745;");
    const std::string Seen = CollectUntil(
        Radio, [](const std::string& T) { return T.find("SF7.0745;") != std::string::npos; });
    EXPECT_NE(Seen.find("SF7.0745;"), std::string::npos) << Seen;
  }
}

TEST_F(CatTest, ARadioThatNeverFallsQuietIsStillPolled) {
  test::TPtyPair Radio, Other;
  UseRadioAndOther(Radio, Other);
  TRecordingDriver Driver(Settings.get());
  CollectUntil(Radio, [](const std::string& T) { return T.size() >= 2; });
  // Chatter every few milliseconds for a while: polls still go out.
  const std::string Seen = CollectUntil(
      Radio, [](const std::string& T) { return Count(T, "P;") >= 2; }, Generous,
      [&] { Radio.Send("z"); });
  EXPECT_GE(Count(Seen, "P;"), 2u);
}

TEST_F(CatTest, TuneRadioRules) {
  UsePorts(200, 0, false);
  TRecordingDriver Driver(Settings.get());

  // Before the first reply nothing happens, not even for the mode.
  Driver.TuneRadio("14.0740", "usb");
  EXPECT_TRUE(Driver.FrequencyCalls.empty());
  EXPECT_TRUE(Driver.ModeCalls.empty());

  Driver.SetCurrent("7.0745", "CW");
  // An empty frequency marks the current one as "0"; the mode is not looked at.
  Driver.TuneRadio("", "usb");
  EXPECT_EQ(Driver.Frequency(), "0");
  EXPECT_TRUE(Driver.ModeCalls.empty());

  Driver.SetCurrent("7.0745", "CW");
  Driver.TuneRadio("7.0745", "usb"); // only the mode differs
  EXPECT_TRUE(Driver.FrequencyCalls.empty());
  EXPECT_EQ(Driver.ModeCalls, std::vector<std::string>{"usb"});

  Driver.TuneRadio("7.0745", "cw"); // letter case counts
  EXPECT_EQ(Driver.ModeCalls.back(), "cw");

  Driver.TuneRadio("14.0740", ""); // empty mode: only the frequency
  EXPECT_EQ(Driver.FrequencyCalls, std::vector<std::string>{"14.0740"});
  EXPECT_EQ(Driver.ModeCalls.size(), 2u);

  Driver.TuneRadio("21.0740", "");
  EXPECT_EQ(Driver.FrequencyCommand(), "SF21.0740;"); // the later one waits
  EXPECT_EQ(Driver.Frequency(), "7.0745");            // unchanged until a reply
}

TEST_F(CatTest, PendingCommandSurvivesResetAndGoesOutFirst) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  TRecordingDriver Driver(Settings.get());
  Radio.Send("F7.0745MCW;");
  ASSERT_TRUE(ServeUntil([&] { return Driver.Frequency() == "7.0745"; }));
  Driver.TuneRadio("14.0740", "usb");
  Driver.ResetCAT();
  EXPECT_EQ(Driver.Frequency(), ""); // restart clears the current values
  EXPECT_EQ(Driver.FrequencyCommand(), "SF14.0740;");
  const std::string Seen = CollectUntil(
      Radio, [](const std::string& T) { return T.find("SMusb;") != std::string::npos; });
  const size_t F = Seen.find("SF14.0740;"), M = Seen.find("SMusb;");
  ASSERT_NE(F, std::string::npos) << Seen;
  ASSERT_NE(M, std::string::npos) << Seen;
  EXPECT_LT(F, M);
}

TEST_F(CatTest, ApplyPortSettingsWritesAndRestartsOnlyOnChange) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  Settings->setBaudRate(br4800);
  TRecordingDriver Driver(Settings.get());
  const std::string Before = IniText();
  Driver.ApplyPortSettings(3, 0, false, br4800);
  EXPECT_EQ(IniText(), Before);
  EXPECT_EQ(Driver.Restarts, 0);

  Driver.ApplyPortSettings(3, 0, false, br9600);
  EXPECT_EQ(Driver.Restarts, 1);
  EXPECT_EQ(Settings->BaudRate(), br9600);
  TVelaLogSettings Reloaded(nullptr, (Dir / "VelaLog.ini").string());
  EXPECT_EQ(Reloaded.BaudRate(), br9600);
  EXPECT_EQ(Reloaded.intCommPort(), 3);
  EXPECT_TRUE(Driver.RadioPortConnected());
  const termios Line = Radio.SlaveTermios();
  EXPECT_EQ(cfgetospeed(&Line), B9600);
}

TEST_F(CatTest, RestartsInARowAlwaysReopenThePort) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  TRecordingDriver Driver(Settings.get());
  for (int I = 0; I < 20; ++I) {
    Driver.ResetCAT();
    ASSERT_TRUE(Driver.RadioPortConnected()) << "restart " << I;
  }
  const std::string Polls = CollectUntil(Radio, [](const std::string& T) { return T.size() >= 4; });
  EXPECT_EQ(Polls.substr(Polls.size() - 2), "P;");
}

TEST_F(CatTest, TerminateDuringTheSynchronisedCallWritesNothingAfterIt) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  TRecordingDriver Driver(Settings.get());
  CollectUntil(Radio, [](const std::string& T) { return T.size() >= 2; });
  Driver.TerminateNext = true;
  const std::string Seen = CollectFor(Radio, 500);
  EXPECT_EQ(Seen.find("NEVER;"), std::string::npos);
  // The worker has gone; a reset starts a new one that polls again.
  Driver.ResetCAT();
  EXPECT_NE(CollectUntil(Radio, [](const std::string& T) { return T.size() >= 2; }), "");
}

// A failure in the driver's command call or in its parser no longer ends the
// worker or the port's deliveries: the link counts as lost and recovers.
TEST_F(CatTest, ADriverFailureCountsAsLostAndTheLinkRecovers) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  auto Driver = std::make_unique<TRecordingDriver>(Settings.get());
  CollectUntil(Radio, [](const std::string& T) { return T.size() >= 2; });
  for (bool InParse : {false, true}) {
    SCOPED_TRACE(InParse ? "parser" : "command call");
    (InParse ? Driver->ThrowInParse : Driver->ThrowNext) = true;
    if (InParse)
      Radio.Send("F1M2;");
    ASSERT_TRUE(ServeUntil([&] { return Driver->RadioState() == TLinkState::lsLost; }));
    const TLinkStatus Lost = Driver->RadioLinkStatus();
    EXPECT_NE(LinkStatusText(TLinkRole::lrRadio, Lost).find("failed"), std::string::npos)
        << LinkStatusText(TLinkRole::lrRadio, Lost);
    // Polls resume without Reset CAT, and replies reach the parser again.
    Radio.Drain();
    CollectUntil(Radio, [](const std::string& T) { return T.find("P;") != std::string::npos; });
    Radio.Send("F3.5000Mlsb;");
    EXPECT_TRUE(ServeUntil([&] { return Driver->Frequency() == "3.5000"; }));
    EXPECT_TRUE(ServeUntil([&] { return Driver->RadioState() == TLinkState::lsLive; }));
  }
  Driver->ThrowNext = true;
  ASSERT_TRUE(ServeUntil([&] { return Driver->RadioState() == TLinkState::lsLost; }));
  Driver.reset(); // destruction while the link recovers
}

TEST_F(CatTest, VanishingPortDoesNotCrashAndResetRecovers) {
  auto Radio = std::make_unique<test::TPtyPair>();
  Link(3, *Radio);
  UsePorts(3, 0, false);
  TRecordingDriver Driver(Settings.get());
  CollectUntil(*Radio, [](const std::string& T) { return T.size() >= 2; });
  Radio.reset(); // the adapter is pulled
  // The worker keeps running and notices.
  ASSERT_TRUE(ServeUntil([&] {
    return Driver.RadioState() == TLinkState::lsLost ||
           Driver.RadioState() == TLinkState::lsMissing;
  }));
  test::TPtyPair Back;
  Link(3, Back);
  Driver.ResetCAT();
  EXPECT_TRUE(Driver.RadioPortConnected());
  Back.Send("F3.5000Mlsb;");
  EXPECT_TRUE(ServeUntil([&] { return Driver.Frequency() == "3.5000"; }));
}

// The radio's device vanishes (a USB radio switched off) and comes back as
// another node behind the same COMn link: the link goes lost, the worker
// reopens the port by itself at its normal pace, and the driver starts
// afresh, so that the next reply is reported in full.
TEST_F(CatTest, VanishedRadioComesBackWithoutResetCat) {
  auto Radio = std::make_unique<test::TPtyPair>();
  UseRadio(*Radio);
  TLinkWatch Watch;
  TRecordingDriver Driver(Settings.get());
  Driver.setOnLinkChange(MakeMethod(&Watch, &TLinkWatch::Changed));
  CollectUntil(*Radio, [](const std::string& T) { return T.find("P;") != std::string::npos; });
  Radio->Send("F7.0745MCW;");
  ASSERT_TRUE(ServeUntil([&] { return Driver.RadioState() == TLinkState::lsLive; }));
  EXPECT_EQ(Driver.Frequency(), "7.0745");

  Radio.reset();
  ASSERT_TRUE(ServeUntil([&] { return Watch.Saw(TLinkState::lsLost); }));
  test::TPtyPair Back;
  Link(3, Back);
  CollectUntil(Back, [](const std::string& T) { return T.find("P;") != std::string::npos; });
  EXPECT_EQ(Driver.Restarts, 1);     // the parser started afresh
  EXPECT_EQ(Driver.Frequency(), ""); // and the values are unknown again
  Back.Send("F7.0745MCW;");
  ASSERT_TRUE(ServeUntil([&] { return Driver.RadioState() == TLinkState::lsLive; }));
  EXPECT_EQ(Driver.Frequency(), "7.0745");
  EXPECT_NE(Driver.RadioLinkStatus().Where.find(Back.SlavePath()), std::string::npos)
      << Driver.RadioLinkStatus().Where;
  EXPECT_EQ(Watch.States.back(), TLinkState::lsLive);
}

// A radio that never answers turns silent; one that answers garbage is live
// (the bytes arrive); one whose bus only echoes the commands is silent.
TEST_F(CatTest, SilentGarbageAndEchoOnly) {
  test::TPtyPair Radio;
  UseRadio(Radio);
  TRecordingDriver Driver(Settings.get());
  EXPECT_EQ(Driver.RadioState(), TLinkState::lsWaiting);
  CollectUntil(Radio,
               [&](const std::string&) { return Driver.RadioState() != TLinkState::lsWaiting; });
  ASSERT_EQ(Driver.RadioState(), TLinkState::lsSilent);
  const std::string Words = LinkStateWords(TLinkRole::lrRadio, Driver.RadioLinkStatus());
  EXPECT_NE(Words.find("no reply for"), std::string::npos) << Words;
  EXPECT_NE(Words.find("4800 baud"), std::string::npos) << Words;

  CollectUntil(
      Radio, [&](const std::string&) { return Driver.RadioState() == TLinkState::lsLive; },
      Generous, [&] { Radio.Send(std::string("\x01\xFEzz", 4)); });
  EXPECT_EQ(Driver.RadioState(), TLinkState::lsLive);

  // Each poll comes back unchanged, as a CI-V bus echoes it.
  std::string Pending;
  CollectUntil(
      Radio, [&](const std::string&) { return Driver.RadioState() == TLinkState::lsSilent; },
      Generous,
      [&] {
        Pending += Radio.Receive(1 << 16, 0);
        for (size_t At; (At = Pending.find("P;")) != std::string::npos;) {
          Radio.Send("P;");
          Pending.erase(0, At + 2);
        }
      });
  EXPECT_EQ(Driver.RadioState(), TLinkState::lsSilent);
}

// Many vanish/return cycles of both ports leave no descriptor and no thread
// behind, and each ends with both links open again.
TEST_F(CatTest, ManyVanishAndReturnCyclesLeaveNothingBehind) {
  TCommPortThread::SetRetryTiming(20, 60000, 5000);
  struct TRestore {
    ~TRestore() { TCommPortThread::SetRetryTiming(1000, 60000, 5000); }
  } Restore;
  auto Radio = std::make_unique<test::TPtyPair>();
  auto Other = std::make_unique<test::TPtyPair>();
  UseRadioAndOther(*Radio, *Other);
  TRecordingDriver Driver(Settings.get());
  auto CountEntries = [](const char* Dir) {
    return std::distance(fs::directory_iterator(Dir), fs::directory_iterator{});
  };
  long Fds = 0, Threads = 0;
  constexpr int Cycles = 100;
  for (int Cycle = 0; Cycle <= Cycles; ++Cycle) {
    if (Cycle > 0) {
      Radio.reset();
      Other.reset();
      ASSERT_TRUE(ServeUntil([&] {
        return Driver.RadioState() != TLinkState::lsWaiting &&
               Driver.VirtualState() != TLinkState::lsWaiting;
      })) << "cycle "
          << Cycle;
      Radio = std::make_unique<test::TPtyPair>();
      Other = std::make_unique<test::TPtyPair>();
      Link(3, *Radio);
      Link(6, *Other);
    }
    ASSERT_TRUE(ServeUntil([&] {
      Radio->Drain();
      return Driver.RadioState() == TLinkState::lsWaiting &&
             Driver.VirtualState() == TLinkState::lsWaiting &&
             Driver.RadioLinkStatus().Where.find(Radio->SlavePath()) != std::string::npos;
    })) << "cycle "
        << Cycle << ": " << LinkStatusText(TLinkRole::lrRadio, Driver.RadioLinkStatus());
    if (Cycle == 0) {
      Fds = CountEntries("/proc/self/fd");
      Threads = CountEntries("/proc/self/task");
    }
  }
  // Threads that are ending may still be counted for a moment.
  EXPECT_TRUE(ServeUntil([&] { return CountEntries("/proc/self/task") <= Threads; }))
      << CountEntries("/proc/self/task") << " threads, " << Threads << " at the start";
  EXPECT_EQ(CountEntries("/proc/self/fd"), Fds);
  // The other program's bytes still reach the radio.
  Other->Send("O;");
  EXPECT_NE(
      CollectUntil(*Radio, [](const std::string& T) { return T.find("O;") != std::string::npos; })
          .find("O;"),
      std::string::npos);
}
