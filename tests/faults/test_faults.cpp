// The engine under broken conditions, with the real velalog-cat polling a
// radio on a pseudo-terminal: a radio port that vanishes and comes back, a
// radio that answers garbage, half replies or nothing, a radio that floods,
// and a Virtual CAT program that floods. Each test checks that nothing
// crashes or hangs, that memory stays bounded, and that what was not broken
// goes on working.
#include <gtest/gtest.h>

#include <sys/file.h>

#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "common/PtyPair.h"
#include "faults/FaultSupport.h"

using namespace vela::test;
using namespace std::chrono_literals;

namespace {

std::string Digits(long long Value, std::size_t Width) {
  std::string Text = std::to_string(Value);
  return std::string(Width > Text.size() ? Width - Text.size() : 0, '0') + Text;
}
char Bcd(long long V) {
  return static_cast<char>(16 * (V / 10) + V % 10);
}

// A radio's complete status or frequency reply for a frequency in Hz, in USB.
struct TRadioCase {
  const char* Name;
  std::string (*Reply)(long long Hz);
};

std::string FlexReply(long long Hz) {
  return "ZZIF" + Digits(Hz, 11) + "0000" + "+00000" + "000" + "00" + "0" + "01" + "0000" + "00" +
         "0" + ";";
}
std::string FT950Reply(long long Hz) {
  return "IF001" + Digits(Hz, 8) + "+0000" + "00" + "2" + "00" + "00" + "0" + ";";
}
std::string IC7300Reply(long long Hz) {
  return std::string{'\xFE',
                     '\xFE',
                     '\xCC',
                     '\x94',
                     '\x03',
                     Bcd(Hz % 100),
                     Bcd(Hz / 100 % 100),
                     Bcd(Hz / 10000 % 100),
                     Bcd(Hz / 1000000 % 100),
                     Bcd(Hz / 100000000 % 100),
                     '\xFD'};
}

const TRadioCase Radios[] = {{"flex", FlexReply}, {"ft950", FT950Reply}, {"ic7300", IC7300Reply}};

// How much a flood may add to velalog-cat's resident memory. The sanitizer
// builds keep freed memory in quarantine and shadow it, so they get more room;
// a queue that grows without bound exceeds either within seconds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long MemoryBoundKb = 256 * 1024;
#else
constexpr long MemoryBoundKb = 32 * 1024;
#endif

std::string Garbage(std::size_t Bytes, unsigned Seed) {
  std::mt19937 Random(Seed);
  std::string Data(Bytes, '\0');
  for (char& C : Data)
    C = static_cast<char>(Random());
  return Data;
}

// velalog-cat on the slave of a pty pair that the test plays as the radio.
struct TCatOnPty {
  explicit TCatOnPty(const std::string& Radio, const std::string& VirtualDevice = "")
      : Cat(Args(Radio, Radio_.SlavePath(), VirtualDevice)) {}
  static std::vector<std::string> Args(const std::string& Radio, const std::string& Device,
                                       const std::string& VirtualDevice) {
    std::vector<std::string> A = {
        Tool("velalog-cat"), "--radio", Radio, "--device", Device, "--baud", "38400"};
    if (!VirtualDevice.empty()) {
      A.push_back("--virtual-device");
      A.push_back(VirtualDevice);
    }
    return A;
  }
  // Answers with Reply until velalog-cat reports Frequency; false after the
  // bound. Polls from the program are read and dropped on the way.
  bool AnswerUntilReported(const std::string& Reply, const std::string& Frequency) {
    const auto End = Clock::now() + Generous;
    while (Clock::now() < End) {
      Radio_.Receive(4096, 20);
      Radio_.Send(Reply);
      if (!Cat.WaitLine(RxWithFrequency(Frequency), 150ms).empty())
        return true;
    }
    return false;
  }
  TPtyPair Radio_;
  TChild Cat;
};

// A simulated FT-950 at 38400 baud linked as COM1 in a temporary ports
// folder, and velalog-cat's arguments for it.
struct TLinkedSim {
  TLinkedSim() : Dir(MakeTempDir("vela-faults")) {
    std::filesystem::create_directory(Dir / "ports");
  }
  ~TLinkedSim() { std::filesystem::remove_all(Dir); }
  // The simulator once it is ready, else nullptr.
  std::unique_ptr<TChild> Start(const std::string& Hz) const {
    auto Sim = std::make_unique<TChild>(std::vector<std::string>{
        Tool("velalog-radiosim"), "--radio", "ft950", "--link", (Dir / "ports" / "com1").string(),
        "--freq", Hz, "--baud", "38400"});
    return Sim->WaitPrefix("ready").empty() ? nullptr : std::move(Sim);
  }
  std::vector<std::string> CatArgs() const {
    return {Tool("velalog-cat"),      "--radio", "ft950", "--port", "1", "--ports-dir",
            (Dir / "ports").string(), "--baud",  "38400"};
  }
  std::filesystem::path Dir;
};

} // namespace

// The radio's port disappears while the program polls it (the simulator ends,
// as a pulled USB adapter takes its device along) and a radio comes back on
// the same port name. The program keeps running and answering; "reset"
// (Reset CAT) reopens the port and reporting resumes.
TEST(Faults, RadioPortVanishesAndResetRecovers) {
  TLinkedSim Station;
  auto Sim = Station.Start("14074000");
  ASSERT_TRUE(Sim);
  TChild Cat(Station.CatArgs());
  ASSERT_FALSE(Cat.WaitLine(RxWithFrequency("14.0740")).empty());

  Sim->Kill();
  Sim.reset();
  std::this_thread::sleep_for(1s); // the program polls a vanished device meanwhile
  ASSERT_TRUE(Cat.Running());

  auto Back = Station.Start("7074000");
  ASSERT_TRUE(Back);
  ASSERT_TRUE(Cat.Send("reset"));
  EXPECT_FALSE(Cat.WaitLine(RxWithFrequency("7.0740")).empty()) << "no report after reset";
  Back->Send("freq 7030000");
  EXPECT_FALSE(Cat.WaitLine(RxWithFrequency("7.0300")).empty()) << "VFO change not followed";

  ASSERT_TRUE(Cat.Send("quit"));
  EXPECT_TRUE(Cat.Wait(Generous)) << "velalog-cat did not end";
}

// A radio that answers with garbage, stops in the middle of a reply, or says
// nothing for a while: the program keeps polling, and the first whole reply
// afterwards is reported.
TEST(Faults, GarbageHalfRepliesAndSilenceThenRecovery) {
  for (const TRadioCase& R : Radios) {
    SCOPED_TRACE(R.Name);
    TCatOnPty Rig(R.Name);
    ASSERT_TRUE(Rig.AnswerUntilReported(R.Reply(14074000), "14.0740"));

    Rig.Radio_.Send(Garbage(16384, 1));
    const std::string Half = R.Reply(21074000);
    Rig.Radio_.Send(Half.substr(0, Half.size() / 2));
    // Silence: the program goes on polling.
    Rig.Radio_.Receive(1 << 20, 200);
    const std::string Polls = Rig.Radio_.Receive(1 << 20, 1500);
    EXPECT_FALSE(Polls.empty()) << "no polls while the radio was silent";
    EXPECT_TRUE(Rig.Cat.Running());

    EXPECT_TRUE(Rig.AnswerUntilReported(R.Reply(7074000), "7.0740"));
    ASSERT_TRUE(Rig.Cat.Send("quit"));
    EXPECT_TRUE(Rig.Cat.Wait(Generous));
  }
}

// A half reply followed by a whole one must not be reported as a frequency
// made from both (a restart or noise cuts a reply short): only the whole
// reply counts.
TEST(Faults, HalfReplyThenWholeReplyReportsOnlyTheWholeOne) {
  for (const TRadioCase& R : Radios) {
    SCOPED_TRACE(R.Name);
    TCatOnPty Rig(R.Name);
    ASSERT_TRUE(Rig.AnswerUntilReported(R.Reply(14074000), "14.0740"));
    const std::string Half = R.Reply(21074000);
    Rig.Radio_.Send(Half.substr(0, Half.size() / 2) + R.Reply(7074000));
    const std::string Line = Rig.Cat.WaitPrefix("rx\t", 5s);
    EXPECT_NE(Line.find("\t7.0740\t"), std::string::npos) << "reported: " << Line;
    Rig.Cat.Send("quit");
  }
}

// Floods velalog-cat from the radio's side with Chunk for seconds; then its
// memory must have stayed bounded, the next reply must be reported and the
// program must still end when asked.
static void FloodFromRadio(TCatOnPty& Rig, const std::string& Chunk) {
  ASSERT_TRUE(Rig.AnswerUntilReported(FT950Reply(14074000), "14.0740"));
  const long Before = ResidentKb(Rig.Cat.Pid());
  const auto End = Clock::now() + 4s;
  while (Clock::now() < End) {
    Rig.Radio_.Send(Chunk);
    Rig.Radio_.Receive(1 << 16, 0);
    Rig.Cat.Drain();
  }
  const long After = ResidentKb(Rig.Cat.Pid());
  EXPECT_LT(After - Before, MemoryBoundKb)
      << "resident memory grew from " << Before << " kB to " << After << " kB";
  EXPECT_TRUE(Rig.AnswerUntilReported(FT950Reply(3573000), "3.5730"));
  ASSERT_TRUE(Rig.Cat.Send("quit"));
  EXPECT_TRUE(Rig.Cat.Wait(Generous)) << "velalog-cat did not end after the flood";
}

// A radio that sends without pause (replies mixed with noise).
TEST(Faults, FloodingRadioKeepsMemoryBounded) {
  TCatOnPty Rig("ft950");
  std::string Chunk;
  while (Chunk.size() < 8192)
    Chunk += FT950Reply(14074000) + Garbage(37, static_cast<unsigned>(Chunk.size()));
  FloodFromRadio(Rig, Chunk);
}

// The same flood with Virtual CAT on while the other program reads nothing:
// the radio's bytes queued for it must not pile up without bound, and polling
// must go on.
TEST(Faults, FloodingRadioWithUnreadVirtualPort) {
  TPtyPair Other;
  TCatOnPty Rig("ft950", Other.SlavePath());
  std::string Chunk;
  while (Chunk.size() < 8192)
    Chunk += FT950Reply(14074000);
  FloodFromRadio(Rig, Chunk);
}

// The other program on the Virtual CAT port floods bytes for seconds: memory
// stays bounded, and afterwards the program reports the radio again.
TEST(Faults, FloodingVirtualProgramKeepsMemoryBounded) {
  const auto Dir = MakeTempDir("vela-faults");
  const std::string Link = (Dir / "radio").string();
  TChild Sim({Tool("velalog-radiosim"), "--radio", "ft950", "--link", Link, "--freq", "14074000",
              "--baud", "0"});
  ASSERT_FALSE(Sim.WaitPrefix("ready").empty());
  TPtyPair Other;
  TChild Cat({Tool("velalog-cat"), "--radio", "ft950", "--device", Link, "--virtual-device",
              Other.SlavePath(), "--baud", "38400"});
  ASSERT_FALSE(Cat.WaitLine(RxWithFrequency("14.0740")).empty());
  const long Before = ResidentKb(Cat.Pid());
  const std::string Flood = Garbage(16384, 7);
  const auto End = Clock::now() + 4s;
  while (Clock::now() < End) {
    Other.Send(Flood);
    Other.Receive(1 << 16, 0); // the other program reads what it is sent
    Cat.Drain();
    Sim.Drain(); // the simulator logs every command it receives
  }
  const long After = ResidentKb(Cat.Pid());
  EXPECT_LT(After - Before, MemoryBoundKb)
      << "resident memory grew from " << Before << " kB to " << After << " kB";
  EXPECT_TRUE(Cat.Running());
  Sim.Send("freq 7074000");
  EXPECT_FALSE(Cat.WaitLine(RxWithFrequency("7.0740")).empty()) << "no report after the flood";
  ASSERT_TRUE(Cat.Send("quit"));
  EXPECT_TRUE(Cat.Wait(Generous)) << "velalog-cat did not end after the flood";
  std::filesystem::remove_all(Dir);
}

namespace {
bool StartsWith(const std::string& Line, const std::string& Prefix) {
  return Line.rfind(Prefix, 0) == 0;
}
} // namespace

// The radio is switched off (the simulator quits and its device goes) and on
// again as another device behind the same COMn link: velalog-cat reports the
// link's states on standard error and the radio's values again without
// "reset"; --trace shows the polls and the replies.
TEST(Faults, RadioVanishesAndComesBackByItself) {
  TLinkedSim Station;
  auto Sim = Station.Start("14074000");
  ASSERT_TRUE(Sim);
  std::vector<std::string> Args = Station.CatArgs();
  Args.push_back("--trace");
  TChild Cat(Args, true, true);
  EXPECT_FALSE(Cat.WaitLine([](const std::string& L) {
                    return StartsWith(L, "# trace ") && L.find(" > IF;") != std::string::npos;
                  })
                   .empty());
  EXPECT_FALSE(Cat.WaitLine([](const std::string& L) {
                    return StartsWith(L, "# trace ") && L.find(" < IF001") != std::string::npos;
                  })
                   .empty());
  ASSERT_FALSE(Cat.WaitLine(RxWithFrequency("14.0740")).empty());

  Sim->Send("quit");
  Sim.reset();
  const std::string Gone = Cat.WaitLine([](const std::string& L) {
    return StartsWith(L, "# link radio lost ") || StartsWith(L, "# link radio missing ");
  });
  ASSERT_FALSE(Gone.empty());
  EXPECT_NE(Gone.find("COM1 → "), std::string::npos) << Gone;

  auto Back = Station.Start("7074000");
  ASSERT_TRUE(Back);
  EXPECT_FALSE(Cat.WaitLine(RxWithFrequency("7.0740")).empty()) << "no report after the return";
  EXPECT_FALSE(Cat.WaitPrefix("# link radio live ").empty());
  ASSERT_TRUE(Cat.Send("quit"));
  EXPECT_TRUE(Cat.Wait(Generous)) << "velalog-cat did not end";
}

// Paths that are no serial port are refused with the system's reason; a port
// that another program holds is refused as busy and taken once it is free.
TEST(Faults, NoSerialPortIsRefusedAndABusyPortIsTakenOnceFree) {
  const auto Dir = MakeTempDir("vela-faults");
  const std::string File = (Dir / "plain-file").string();
  std::ofstream(File) << "not a tty\n";
  const struct {
    std::string Path, Reason;
  } Cases[] = {{Dir.string(), "is a directory"}, {File, "inappropriate ioctl"}};
  for (const auto& C : Cases) {
    TChild Cat({Tool("velalog-cat"), "--radio", "ft950", "--device", C.Path}, true, true);
    const std::string Line = Cat.WaitPrefix("# link radio ");
    EXPECT_TRUE(StartsWith(Line, "# link radio refused ")) << Line;
    EXPECT_NE(Line.find(C.Reason), std::string::npos) << Line;
    Cat.Send("quit");
  }

  TPtyPair Radio;
  const int Holder = ::open(Radio.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(Holder, 0);
  ASSERT_EQ(::flock(Holder, LOCK_EX | LOCK_NB), 0);
  TChild Cat({Tool("velalog-cat"), "--radio", "ft950", "--device", Radio.SlavePath()}, true, true);
  const std::string Busy = Cat.WaitPrefix("# link radio ");
  EXPECT_TRUE(StartsWith(Busy, "# link radio refused ")) << Busy;
  EXPECT_NE(Busy.find("busy"), std::string::npos) << Busy;
  ::close(Holder);
  EXPECT_FALSE(Cat.WaitPrefix("# link radio waiting ").empty());
  EXPECT_FALSE(Radio.Receive(3).empty()) << "no poll once the port was free";
  Cat.Send("quit");
  EXPECT_TRUE(Cat.Wait(Generous));
  std::filesystem::remove_all(Dir);
}
