// The serial port on real pseudo-terminals, reached as COMn through a ports
// folder of links, as the program reaches its devices.
#include "cat/transport/CPort.h"
#include "cat/transport/CPortTermios2.h"
#include "common/PtyPair.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace vela;
using vela::test::TPtyPair;

namespace {

int CountEntries(const char* Dir) {
  int N = 0;
  if (DIR* D = ::opendir(Dir)) {
    while (dirent* E = ::readdir(D))
      if (E->d_name[0] != '.')
        ++N;
    ::closedir(D);
  }
  return N;
}
int OpenDescriptors() {
  return CountEntries("/proc/self/fd");
}
int RunningThreads() {
  return CountEntries("/proc/self/task");
}

// The kernel's ids of the process's threads now.
std::set<std::string> ThreadIds() {
  std::set<std::string> Ids;
  if (DIR* D = ::opendir("/proc/self/task")) {
    while (const dirent* E = ::readdir(D))
      if (E->d_name[0] != '.')
        Ids.insert(E->d_name);
    ::closedir(D);
  }
  return Ids;
}

// Whether none of Ids runs any more.
bool AllEnded(const std::set<std::string>& Ids) {
  const std::set<std::string> Now = ThreadIds();
  for (const std::string& Id : Ids)
    if (Now.count(Id))
      return false;
  return true;
}

// Serves synchronised calls on the main thread until Done or 5 s.
bool ServeUntil(const std::function<bool()>& Done, int TimeoutMs = 5000) {
  return TThread::WaitWhileServing(Done, TimeoutMs);
}
void ServeFor(int Ms) {
  TThread::WaitWhileServing([] { return false; }, Ms);
}

std::string Bytes(std::initializer_list<int> List) {
  std::string S;
  for (int B : List)
    S.push_back(static_cast<char>(B));
  return S;
}

// Records OnRxChar calls and, when asked, reads what is waiting.
struct TReceiver {
  TComPort* Port = nullptr;
  bool ReadData = true;
  bool Throw = false;
  bool CloseInside = false;
  std::unique_ptr<TComPort>* FreeInside = nullptr;
  std::atomic<int> Calls{0};
  std::atomic<int> LastCount{0};
  std::atomic<bool> OffMainThread{false};
  std::string Data;

  void RxChar(TObject* Sender, int Count) {
    if (!TThread::IsMainThread())
      OffMainThread = true;
    EXPECT_EQ(Sender, Port);
    LastCount = Count;
    if (ReadData) {
      std::string Chunk;
      const int N = Port->ReadPort(Chunk, Count);
      EXPECT_EQ(N, static_cast<int>(Chunk.size()));
      Data += Chunk;
    }
    ++Calls;
    if (CloseInside)
      Port->Close();
    if (FreeInside) {
      FreeInside->reset();
      Port = nullptr;
    }
    if (Throw)
      throw std::runtime_error("handler failed");
  }
};

class ComPortTest : public ::testing::Test {
protected:
  void SetUp() override {
    char Template[] = "/tmp/vela-serial-XXXXXX";
    ASSERT_NE(::mkdtemp(Template), nullptr);
    FTempDir = Template;
    FPortsDir = FTempDir + "/ports";
    ASSERT_EQ(::mkdir(FPortsDir.c_str(), 0755), 0);
    ASSERT_EQ(::symlink(FPty.SlavePath().c_str(), (FPortsDir + "/com7").c_str()), 0);
    TCustomComPort::SetPortsDir(FPortsDir);
    // A sanitizer runtime starts a helper thread with the first thread of
    // the process; count after that.
    std::thread([] {}).join();
    FBaseThreads = RunningThreads();
  }
  void TearDown() override {
    TCustomComPort::SetPortsDir("");
    std::string Cmd = "rm -rf '" + FTempDir + "'";
    [[maybe_unused]] int Rc = std::system(Cmd.c_str());
  }

  std::unique_ptr<TComPort> MakePort(TReceiver* Receiver = nullptr) {
    auto Port = std::make_unique<TComPort>();
    Port->setPort("COM7");
    if (Receiver) {
      Receiver->Port = Port.get();
      Port->setOnRxChar(MakeMethod(Receiver, &TReceiver::RxChar));
    }
    return Port;
  }

  // Bytes the master has, without waiting.
  std::string Drain() { return FPty.Receive(1 << 20, 200); }

  TPtyPair FPty;
  std::string FTempDir, FPortsDir;
  int FBaseThreads = 0;
};

} // namespace

TEST(ComPortNames, ResolveThroughPortsFolderThenTtyS) {
  char Template[] = "/tmp/vela-names-XXXXXX";
  ASSERT_NE(::mkdtemp(Template), nullptr);
  const std::string Dir = Template;
  ASSERT_EQ(::symlink("/dev/null", (Dir + "/com3").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/null", (Dir + "/com12").c_str()), 0);
  TCustomComPort::SetPortsDir(Dir);
  struct {
    const char* Name;
    std::string Path;
  } Cases[] = {
      {"COM3", Dir + "/com3"},
      {"com3", Dir + "/com3"},
      {"COM12", Dir + "/com12"},
      {"COM4", "/dev/ttyS3"},
      {"COM1", "/dev/ttyS0"},
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"COM0", "COM0"},
      {"COMX", "COMX"},
      {"COM", "COM"},
      {"COM3 ", "COM3 "},
      {"COM99999999999", "COM99999999999"},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(TCustomComPort::ResolvePortName(C.Name), C.Path) << C.Name;
  EXPECT_EQ(TCustomComPort::PortLinkTarget("COM3"), "/dev/null");
  EXPECT_EQ(TCustomComPort::PortLinkTarget("COM4"), "");

  TCustomComPort::SetPortsDir("");
  const std::string Default = TCustomComPort::PortsDir();
  ASSERT_GE(Default.size(), 6u);
  EXPECT_EQ(Default.substr(Default.size() - 6), "/ports");
  char Exe[4096];
  const ssize_t N = ::readlink("/proc/self/exe", Exe, sizeof(Exe) - 1);
  ASSERT_GT(N, 0);
  const std::string ExePath(Exe, static_cast<size_t>(N));
  EXPECT_EQ(Default, ExePath.substr(0, ExePath.rfind('/')) + "/ports");

  ::unlink((Dir + "/com3").c_str());
  ::unlink((Dir + "/com12").c_str());
  ::rmdir(Dir.c_str());
}

TEST(ComPortDefaults, NewPortAndBaudRateTable) {
  TComPort Port;
  EXPECT_EQ(Port.Port(), "COM1");
  EXPECT_EQ(Port.BaudRate(), br9600);
  EXPECT_TRUE(Port.RxEvents());
  EXPECT_EQ(Port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(Port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_FALSE(Port.Connected());

  const int Expected[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                          14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int I = 1; I < 16; ++I)
    EXPECT_EQ(BaudRateToInt(static_cast<TBaudRate>(I), 1234), Expected[I]) << I;
  EXPECT_EQ(BaudRateToInt(brCustom, 31250), 31250);
  EXPECT_EQ(BaudRateToInt(static_cast<TBaudRate>(16), 1234), 0);
}

TEST_F(ComPortTest, WritesAndReadsByteStringsWithZeroBytesOnTheMainThread) {
  TReceiver Rx;
  auto Port = MakePort(&Rx);
  Port->Open();
  ASSERT_TRUE(Port->Connected());

  const std::string Out = Bytes({0xFE, 0xFE, 0x94, 0xE0, 0x00, 0x00, 0x50, 0x07, 0xFD});
  EXPECT_EQ(Port->WritePort(Out), static_cast<int>(Out.size()));
  EXPECT_EQ(FPty.Receive(Out.size()), Out);

  const std::string In = Bytes({0x00, 0x01, 0x00, 'F', 'A', ';', 0x00, 0xFF});
  FPty.Send(In);
  ASSERT_TRUE(ServeUntil([&] { return Rx.Data.size() >= In.size(); }));
  EXPECT_EQ(Rx.Data, In);
  EXPECT_FALSE(Rx.OffMainThread);
  EXPECT_GE(Rx.Calls, 1);
  EXPECT_GE(Rx.LastCount, 1);
  EXPECT_LE(Rx.LastCount, static_cast<int>(In.size()));

  // Nothing to do for an empty request, and no stale bytes in the result.
  std::string Data = "stale";
  EXPECT_EQ(Port->ReadPort(Data, 0), 0);
  EXPECT_EQ(Data, "");
  Data = "stale";
  EXPECT_EQ(Port->ReadPort(Data, -3), 0);
  EXPECT_EQ(Data, "");
  EXPECT_EQ(Port->WritePort(""), 0);
  EXPECT_EQ(Port->BytesWaiting(), 0);
  EXPECT_EQ(Drain(), "");

  Port->Close();
  EXPECT_FALSE(Port->Connected());
  Port->Close(); // closing a closed port does nothing
  EXPECT_FALSE(Port->Connected());
  EXPECT_TRUE(ServeUntil([&] { return RunningThreads() == FBaseThreads; }));
}

TEST_F(ComPortTest, DestructorClosesAndReleasesTheDevice) {
  const int Fds = OpenDescriptors();
  {
    auto Port = MakePort();
    Port->Open();
    EXPECT_GT(OpenDescriptors(), Fds);
  }
  EXPECT_EQ(OpenDescriptors(), Fds);
  EXPECT_TRUE(ServeUntil([&] { return RunningThreads() == FBaseThreads; }));
  auto Again = MakePort();
  EXPECT_NO_THROW(Again->Open());
  EXPECT_TRUE(Again->Connected());
}

TEST_F(ComPortTest, NoRxEventsStartNoThreadAndRaiseNoEvent) {
  TReceiver Rx;
  auto Port = MakePort(&Rx);
  Port->setRxEvents(false);
  Port->Open();
  EXPECT_EQ(RunningThreads(), FBaseThreads);
  FPty.Send("IF;");
  ServeFor(300);
  EXPECT_EQ(Rx.Calls, 0);
  // The bytes are still there to read.
  ASSERT_TRUE(ServeUntil([&] { return Port->BytesWaiting() == 3; }));
  std::string Data;
  EXPECT_EQ(Port->ReadPort(Data, 100), 3);
  EXPECT_EQ(Data, "IF;");
}

TEST_F(ComPortTest, UnreadBytesAreReportedAgainOnlyWhenMoreArrive) {
  TReceiver Rx;
  Rx.ReadData = false;
  auto Port = MakePort(&Rx);
  Port->Open();
  FPty.Send("abc");
  ASSERT_TRUE(ServeUntil([&] { return Rx.Calls >= 1 && Rx.LastCount == 3; }));
  ServeFor(300);
  EXPECT_EQ(Rx.Calls, 1);
  FPty.Send("de");
  ASSERT_TRUE(ServeUntil([&] { return Rx.LastCount == 5; }));
  ServeFor(300);
  EXPECT_EQ(Rx.Calls, 2);
}

TEST_F(ComPortTest, LineSettingsReachTheDevice) {
  auto Port = MakePort();
  Port->setBaudRate(br4800);
  Port->setDataBits(dbEight);
  Port->Parity().setBits(prNone);
  Port->setStopBits(sbTwoStopBits);
  Port->Open();
  termios T = FPty.SlaveTermios();
  EXPECT_EQ(cfgetospeed(&T), static_cast<speed_t>(B4800));
  EXPECT_EQ(cfgetispeed(&T), static_cast<speed_t>(B4800));
  EXPECT_EQ(T.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(T.c_cflag & PARENB, 0u);
  EXPECT_NE(T.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(T.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(T.c_oflag & OPOST, 0u);
  EXPECT_EQ(T.c_iflag & (ICRNL | IXON), 0u);

  // Changes on an open port are applied at once, the rates outside the
  // standard list included.
  struct {
    TBaudRate Rate;
    int Custom;
    int Baud;
  } Rates[] = {{br14400, 0, 14400},    {br56000, 0, 56000},   {br128000, 0, 128000},
               {br256000, 0, 256000},  {br115200, 0, 115200}, {brCustom, 31250, 31250},
               {brCustom, 9600, 9600}, {br19200, 0, 19200}};
  for (const auto& R : Rates) {
    if (R.Rate == brCustom)
      Port->setCustomBaudRate(R.Custom);
    Port->setBaudRate(R.Rate);
    int In = 0, Out = 0;
    ASSERT_EQ(termios2::ReadBaud(FPty.Master(), In, Out), 0);
    EXPECT_EQ(Out, R.Baud) << int(R.Rate);
    EXPECT_EQ(In, R.Baud) << int(R.Rate);
  }
  Port->setStopBits(sbOneStopBit);
  EXPECT_EQ(FPty.SlaveTermios().c_cflag & CSTOPB, 0u);
}

TEST_F(ComPortTest, ModemLinesOnAPtyAreNoOpsAndReadAsOff) {
  auto Port = MakePort();
  Port->FlowControl().setControlDTR(dtrEnable);
  Port->FlowControl().setControlRTS(rtsEnable);
  Port->Open();
  EXPECT_NO_THROW(Port->SetDtrLine(true));
  EXPECT_NO_THROW(Port->SetRtsLine(true));
  EXPECT_NO_THROW(Port->SetDtrLine(false));
  EXPECT_NO_THROW(Port->SetRtsLine(false));
  EXPECT_EQ(Port->ModemStatus(), 0);
  EXPECT_TRUE(Port->Connected());
}

namespace {

// Records each change of a modem line the port makes, with the output speed
// the device had then (a pty has no lines to read back).
class TLineRecordingPort : public TComPort {
public:
  struct TCall {
    int Bit;
    bool On;
    speed_t Speed;
  };
  std::vector<TCall> Calls;

protected:
  void DriveModemLine(int Fd, int Bit, bool On, int Code) override {
    termios T{};
    ::tcgetattr(Fd, &T);
    Calls.push_back({Bit, On, cfgetospeed(&T)});
    TComPort::DriveModemLine(Fd, Bit, On, Code);
  }
};

} // namespace

// Each line is set as the flow control says from the moment the device is
// open, before its line settings, and again after them (leaving speed 0
// raises both); a kept line is never touched. Closing touches no line and
// hangs up (HUPCL, which drops both) only where a kept line leaves it to the
// system and no line is to stay raised. With both lines off the device keeps
// speed 0 while closed (open() then raises neither), and the next open sets
// the lines before it leaves speed 0.
TEST_F(ComPortTest, ModemLinePolicyAtOpenAndClose) {
  enum { On, Off, Keep };
  const struct {
    int DTR, RTS;
    bool SystemHangUp, HangUp, SpeedZero;
  } Cases[] = {
      {On, On, true, false, false},    {Off, Off, true, false, true},
      {Keep, Keep, true, true, false}, {Keep, Keep, false, false, false},
      {Keep, On, true, false, false},  {Off, Keep, true, true, false},
      {Off, On, false, false, false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << Case.DTR << "/" << Case.RTS << " " << Case.SystemHangUp);
    {
      const int Fd = ::open(FPty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
      termios T = FPty.SlaveTermios();
      cfsetospeed(&T, B9600);
      T.c_cflag = Case.SystemHangUp ? (T.c_cflag | HUPCL) : (T.c_cflag & ~HUPCL);
      ASSERT_EQ(::tcsetattr(Fd, TCSANOW, &T), 0);
      ::close(Fd);
    }
    TLineRecordingPort Port;
    Port.setPort("COM7");
    Port.setBaudRate(br4800);
    Port.FlowControl().setControlDTR(Case.DTR == On ? dtrEnable : dtrDisable);
    Port.FlowControl().setKeepDTR(Case.DTR == Keep);
    Port.FlowControl().setControlRTS(Case.RTS == On ? rtsEnable : rtsDisable);
    Port.FlowControl().setKeepRTS(Case.RTS == Keep);
    Port.Open();
    const std::size_t Lines = (Case.DTR != Keep) + (Case.RTS != Keep);
    ASSERT_EQ(Port.Calls.size(), 2 * Lines);
    for (std::size_t I = 0; I < Port.Calls.size(); ++I) {
      const auto& Call = Port.Calls[I];
      const int Policy = Call.Bit == TIOCM_DTR ? Case.DTR : Case.RTS;
      EXPECT_NE(Policy, Keep);
      EXPECT_EQ(Call.On, Policy == On);
      // The first round comes before the line settings, the second after.
      EXPECT_EQ(Call.Speed, I < Lines ? static_cast<speed_t>(B9600) : static_cast<speed_t>(B4800));
    }
    Port.Calls.clear();
    Port.Close();
    EXPECT_TRUE(Port.Calls.empty());
    EXPECT_EQ((FPty.SlaveTermios().c_cflag & HUPCL) != 0, Case.HangUp);
    const termios Closed = FPty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&Closed) == B0, Case.SpeedZero);

    // Reopened (a retry): the first round comes at the speed kept while closed.
    Port.Open();
    ASSERT_EQ(Port.Calls.size(), 2 * Lines);
    if (Lines > 0) {
      EXPECT_EQ(Port.Calls.front().Speed,
                Case.SpeedZero ? static_cast<speed_t>(B0) : static_cast<speed_t>(B4800));
      EXPECT_EQ(Port.Calls.back().Speed, static_cast<speed_t>(B4800));
    }
    Port.Close();
  }
}

TEST_F(ComPortTest, CloseOnTheMainThreadWhileADeliveryWaitsFinishes) {
  TReceiver Rx;
  auto Port = MakePort(&Rx);
  const std::set<std::string> Before = ThreadIds();
  Port->Open();
  // The threads the open started: the port's event thread. Other threads of
  // the process (the toolkit's own, started when it pleases) are no concern.
  std::set<std::string> EventThread;
  for (const std::string& Id : ThreadIds())
    if (!Before.count(Id))
      EventThread.insert(Id);
  ASSERT_FALSE(EventThread.empty());
  FPty.Send("FA;");
  // The main thread serves nothing meanwhile, so the event thread sits in
  // its synchronised call.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Port->Close();
  EXPECT_FALSE(Port->Connected());
  EXPECT_TRUE(ServeUntil([&] { return AllEnded(EventThread); }, 30000));
}

TEST_F(ComPortTest, CloseFromAWorkerThreadWhileTheMainThreadServes) {
  TReceiver Rx;
  auto Port = MakePort(&Rx);
  Port->Open();
  FPty.Send("FA;");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::atomic<bool> Closed{false};
  std::thread Worker([&] {
    Port->Close();
    Closed = true;
  });
  EXPECT_TRUE(ServeUntil([&] { return Closed.load(); }, 10000));
  Worker.join();
  EXPECT_FALSE(Port->Connected());
}

TEST_F(ComPortTest, CloseInsideTheReceiveHandlerAndOpenAgain) {
  TReceiver Rx;
  Rx.CloseInside = true;
  auto Port = MakePort(&Rx);
  Port->Open();
  FPty.Send("x");
  ASSERT_TRUE(ServeUntil([&] { return Rx.Calls == 1; }));
  EXPECT_FALSE(Port->Connected());
  EXPECT_TRUE(ServeUntil([&] { return RunningThreads() == FBaseThreads; }));

  Rx.CloseInside = false;
  Port->Open(); // the device is free again
  FPty.Send("yz");
  ASSERT_TRUE(ServeUntil([&] { return Rx.Data == "xyz"; }));
}

TEST_F(ComPortTest, FreeingThePortInsideTheReceiveHandler) {
  TReceiver Rx;
  auto Port = MakePort(&Rx);
  Rx.FreeInside = &Port;
  Port->Open();
  FPty.Send("x");
  ASSERT_TRUE(ServeUntil([&] { return Rx.Calls == 1; }));
  EXPECT_EQ(Port, nullptr);
  EXPECT_TRUE(ServeUntil([&] { return RunningThreads() == FBaseThreads; }));
  auto Again = MakePort();
  EXPECT_NO_THROW(Again->Open());
}

TEST_F(ComPortTest, AThrowingHandlerEndsDeliveryUntilReopened) {
  TReceiver Rx;
  Rx.Throw = true;
  auto Port = MakePort(&Rx);
  Port->Open();
  FPty.Send("a");
  ASSERT_TRUE(ServeUntil([&] { return Rx.Calls == 1; }));
  EXPECT_TRUE(ServeUntil([&] { return RunningThreads() == FBaseThreads; }));
  EXPECT_TRUE(Port->Connected());
  Rx.Throw = false;
  FPty.Send("b");
  ServeFor(300);
  EXPECT_EQ(Rx.Calls, 1);

  Port->Close();
  Port->Open();
  FPty.Send("c");
  ASSERT_TRUE(ServeUntil([&] { return Rx.Data.find('c') != std::string::npos; }));
  EXPECT_GE(Rx.Calls, 2);
}

TEST_F(ComPortTest, HangUpEndsDeliveryAndWritesFail) {
  TReceiver Rx;
  auto Port = MakePort(&Rx);
  Port->Open();
  ASSERT_GT(RunningThreads(), FBaseThreads);
  FPty.CloseMaster();
  EXPECT_TRUE(ServeUntil([&] { return RunningThreads() == FBaseThreads; }));
  try {
    Port->WritePort("FA;");
    ADD_FAILURE() << "write to a hung-up device succeeded";
  } catch (const EComPort& E) {
    EXPECT_EQ(E.ErrorCode(), 2);
    EXPECT_EQ(E.SystemErrorCode(), EIO);
  }
  EXPECT_NO_THROW(Port->Close());
  EXPECT_FALSE(Port->Connected());
}

TEST_F(ComPortTest, WriteTimesOutWhenTheLineDoesNotDrain) {
  auto Port = MakePort();
  Port->Timeouts().setWriteTotalConstant(200);
  Port->Timeouts().setWriteTotalMultiplier(0);
  Port->Open();
  const std::string Big(4 << 20, 'x'); // far more than the pty buffers hold
  try {
    Port->WritePort(Big);
    ADD_FAILURE() << "write into a full pty succeeded";
  } catch (const EComPort& E) {
    EXPECT_EQ(E.ErrorCode(), 2);
    EXPECT_EQ(E.SystemErrorCode(), ETIMEDOUT);
  }
  EXPECT_TRUE(Port->Connected());
}

TEST_F(ComPortTest, CloseKeepsWhatWasWrittenButNotYetRead) {
  auto Port = MakePort();
  Port->Timeouts().setWriteTotalMultiplier(0);
  Port->Open();
  // More than the far end's read buffer holds (4 KiB): the rest waits in the
  // line's own queues when the port closes.
  std::string Out;
  for (int I = 0; Out.size() < 8000; ++I)
    Out += std::to_string(I) + ";";
  ASSERT_EQ(Port->WritePort(Out), static_cast<int>(Out.size()));
  Port->Close();
  const std::string Received = FPty.Receive(Out.size());
  EXPECT_EQ(Received.size(), Out.size());
  EXPECT_TRUE(Received == Out);
}

TEST_F(ComPortTest, ReadWithTimeoutsWaitsForTheWholeCount) {
  auto Port = MakePort();
  Port->setRxEvents(false);
  Port->Timeouts().setReadInterval(0);
  Port->Timeouts().setReadTotalConstant(10000);
  Port->Open();
  std::thread Sender([&] {
    FPty.Send("ab");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FPty.Send(Bytes({0, 'c', 0, 'd'}));
  });
  std::string Data;
  EXPECT_EQ(Port->ReadPort(Data, 6), 6);
  Sender.join();
  EXPECT_EQ(Data, Bytes({'a', 'b', 0, 'c', 0, 'd'}));
}

TEST_F(ComPortTest, CloseEndsAReadThatWaitsWithoutLimit) {
  auto Port = MakePort();
  Port->setRxEvents(false);
  Port->Timeouts().setReadInterval(0); // all zero: wait for the whole count
  Port->Open();
  std::thread Closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Port->Close();
  });
  std::string Data;
  try {
    Port->ReadPort(Data, 10);
    ADD_FAILURE() << "read returned without data";
  } catch (const EComPort& E) {
    EXPECT_EQ(E.ErrorCode(), 3);
    EXPECT_EQ(E.SystemErrorCode(), ECANCELED);
  }
  Closer.join();
  EXPECT_FALSE(Port->Connected());
}

// The port worker's pattern: writes from its own thread while the main
// thread reads in the receive handler, on the same device at once.
TEST_F(ComPortTest, WriteOnAWorkerWhileTheMainThreadReads) {
  TReceiver Rx;
  auto Port = MakePort(&Rx);
  Port->Open();
  std::string ToRadio, FromRadio;
  for (int I = 0; I < 3000; ++I) {
    ToRadio += "FA" + std::to_string(I) + std::string(1, '\0') + ";";
    FromRadio += "IF" + std::to_string(I) + std::string(1, '\0') + ";";
  }
  std::string Got;
  std::thread Radio([&] {
    std::thread Feeder([&] { FPty.Send(FromRadio); });
    Got = FPty.Receive(ToRadio.size(), 20000);
    Feeder.join();
  });
  std::atomic<bool> Written{false};
  std::thread Worker([&] {
    for (size_t At = 0; At < ToRadio.size(); At += 97)
      Port->WritePort(ToRadio.substr(At, 97));
    Written = true;
  });
  EXPECT_TRUE(ServeUntil([&] { return Written && Rx.Data.size() >= FromRadio.size(); }, 20000))
      << "written " << Written << ", received " << Rx.Data.size() << " of " << FromRadio.size();
  Worker.join();
  Radio.join();
  EXPECT_EQ(Got.size(), ToRadio.size());
  EXPECT_TRUE(Got == ToRadio);
  EXPECT_EQ(Rx.Data.size(), FromRadio.size());
  EXPECT_TRUE(Rx.Data == FromRadio);
}

// ------------------------------------------------------------- bad input

TEST_F(ComPortTest, MissingDeviceRaisesCode1WithNoLeftovers) {
  ASSERT_EQ(::symlink("/nonexistent/ttyUSB9", (FPortsDir + "/com9").c_str()), 0);
  const int Fds = OpenDescriptors();
  TComPort Port;
  Port.setPort("COM9");
  try {
    Port.Open();
    ADD_FAILURE() << "opened a missing device";
  } catch (const EComPort& E) {
    EXPECT_EQ(E.ErrorCode(), 1);
    EXPECT_EQ(E.SystemErrorCode(), 2);
    EXPECT_EQ(E.Message(), "Unable to open com port: No such file or directory (error 2)");
  }
  EXPECT_FALSE(Port.Connected());
  EXPECT_EQ(OpenDescriptors(), Fds);
  EXPECT_EQ(RunningThreads(), FBaseThreads);
}

TEST_F(ComPortTest, HeldDeviceRaisesCode1) {
  auto First = MakePort();
  First->Open();
  const int Fds = OpenDescriptors();
  for (const std::string& Name : {std::string("COM7"), FPty.SlavePath()}) {
    TComPort Second;
    Second.setPort(Name);
    try {
      Second.Open();
      ADD_FAILURE() << "opened a held device as " << Name;
    } catch (const EComPort& E) {
      EXPECT_EQ(E.ErrorCode(), 1);
      EXPECT_EQ(E.SystemErrorCode(), EBUSY);
      EXPECT_EQ(E.Message(), "Unable to open com port: Device or resource busy (error 16)");
    }
    EXPECT_FALSE(Second.Connected());
  }
  EXPECT_EQ(OpenDescriptors(), Fds);
  EXPECT_TRUE(First->Connected());
}

TEST_F(ComPortTest, NotATerminalFailsTheLineSettings) {
  const int Fds = OpenDescriptors();
  TComPort Port;
  Port.setPort("/dev/null");
  try {
    Port.Open();
    ADD_FAILURE() << "opened /dev/null as a serial port";
  } catch (const EComPort& E) {
    EXPECT_EQ(E.ErrorCode(), 7);
    EXPECT_EQ(E.SystemErrorCode(), ENOTTY);
  }
  EXPECT_FALSE(Port.Connected());
  EXPECT_EQ(OpenDescriptors(), Fds);
}

TEST_F(ComPortTest, OperationsNeedAnOpenPortAndSyncMethodAClosedOne) {
  auto Port = MakePort();
  std::string Data;
  struct {
    const char* What;
    std::function<void()> Call;
    int Code;
  } Cases[] = {
      {"WritePort", [&] { Port->WritePort("x"); }, 2},
      {"ReadPort", [&] { Port->ReadPort(Data, 1); }, 3},
      {"BytesWaiting", [&] { Port->BytesWaiting(); }, 10},
      {"SetDtrLine", [&] { Port->SetDtrLine(true); }, 12},
  };
  for (const auto& C : Cases) {
    try {
      C.Call();
      ADD_FAILURE() << C.What << " on a closed port succeeded";
    } catch (const EComPort& E) {
      EXPECT_EQ(E.ErrorCode(), C.Code) << C.What;
      EXPECT_EQ(E.SystemErrorCode(), EBADF) << C.What;
    }
  }

  Port->setSyncMethod(smNone); // allowed while closed
  Port->setSyncMethod(smThreadSync);
  Port->setConnected(true);
  try {
    Port->setSyncMethod(smNone);
    ADD_FAILURE() << "SyncMethod changed on an open port";
  } catch (const EComPort& E) {
    EXPECT_EQ(E.ErrorCode(), 14);
    EXPECT_EQ(E.SystemErrorCode(), -1);
    EXPECT_EQ(E.Message(), "Cannot set property while connected");
  }
  EXPECT_EQ(Port->SyncMethod(), smThreadSync);
  EXPECT_TRUE(Port->Connected());
  Port->setConnected(false);
  EXPECT_FALSE(Port->Connected());
}
