// The simulator program on a real pseudo-terminal: a rig-control client reads
// and sets it, and the operator's input lines reach the wire.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Generous = std::chrono::seconds(20);

std::string TempDir() {
  char tmpl[] = "/tmp/radiosim-test-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  return dir ? dir : "/tmp";
}

// Runs velalog-radiosim with pipes on its standard input and output.
class TSimProcess {
public:
  explicit TSimProcess(std::vector<std::string> args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
      return;
    FPid = fork();
    if (FPid == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      std::vector<char*> argv;
      std::string exe = std::string(VELA_BIN_DIR) + "/velalog-radiosim";
      argv.push_back(exe.data());
      for (auto& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FIn = in[1];
    FOut = out[0];
  }
  ~TSimProcess() {
    CloseInput();
    if (FPid > 0 && !Wait(std::chrono::seconds(5))) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0)
      close(FOut);
  }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(FIn, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseInput() {
    if (FIn >= 0)
      close(FIn);
    FIn = -1;
  }
  // True when the process ended within the bound.
  bool Wait(std::chrono::seconds bound) {
    const auto end = Clock::now() + bound;
    while (Clock::now() < end) {
      int status = 0;
      if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return true;
      }
      usleep(20000);
    }
    return false;
  }

  // Waits for an output line equal to `line` (or starting with it when `prefix`);
  // returns the line, or "" after the bound.
  std::string WaitLine(const std::string& line, bool prefix = false) {
    const auto end = Clock::now() + Generous;
    while (true) {
      size_t nl;
      while ((nl = FBuffer.find('\n')) != std::string::npos) {
        std::string got = FBuffer.substr(0, nl);
        FBuffer.erase(0, nl + 1);
        FLines.push_back(got);
        if (got == line || (prefix && got.rfind(line, 0) == 0))
          return got;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0)
        return "";
      pollfd p{FOut, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
        return "";
      char buf[1024];
      const ssize_t n = read(FOut, buf, sizeof buf);
      if (n <= 0)
        return "";
      FBuffer.append(buf, static_cast<size_t>(n));
    }
  }

private:
  pid_t FPid = -1;
  int FIn = -1, FOut = -1;
  std::string FBuffer;
  std::vector<std::string> FLines;
};

bool HaveRigctl() {
  return std::system("command -v rigctl >/dev/null 2>&1") == 0;
}

// Runs rigctl with the given commands and returns its output lines.
std::vector<std::string> Rigctl(int model, const std::string& link, const std::string& commands) {
  const std::string cmd = "timeout 60 rigctl -m " + std::to_string(model) + " -r " + link +
                          " -s 4800 " + commands + " 2>/dev/null";
  std::vector<std::string> lines;
  FILE* f = popen(cmd.c_str(), "r");
  if (!f)
    return lines;
  char buf[512];
  while (std::fgets(buf, sizeof buf, f)) {
    std::string l = buf;
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r'))
      l.pop_back();
    lines.push_back(l);
  }
  pclose(f);
  return lines;
}

struct TRadioCase {
  const char* Name;
  int Model;
};

class RadioSimRigctl : public testing::TestWithParam<TRadioCase> {};

TEST_P(RadioSimRigctl, ClientReadsAndSetsFrequencyAndMode) {
  if (!HaveRigctl())
    GTEST_SKIP() << "rigctl is not installed";
  const auto& c = GetParam();
  const std::string link = TempDir() + "/" + c.Name;
  TSimProcess sim({"--radio", c.Name, "--link", link, "--freq", "14074000", "--mode", "usb"});
  ASSERT_EQ(sim.WaitLine("ready " + link), "ready " + link);

  auto out = Rigctl(c.Model, link, "f F 7074000 f m");
  ASSERT_GE(out.size(), 4u) << c.Name;
  EXPECT_EQ(out[0], "14074000") << c.Name;
  EXPECT_EQ(out[1], "7074000") << c.Name;
  EXPECT_EQ(out[2], "USB") << c.Name;
  EXPECT_EQ(sim.WaitLine("freq 7074000"), "freq 7074000");

  // The operator turns the dial and changes the mode; a new client session sees it.
  sim.Send("freq 3573000");
  sim.Send("mode cw");
  ASSERT_EQ(sim.WaitLine("mode cw"), "mode cw");
  out = Rigctl(c.Model, link, "f m");
  ASSERT_GE(out.size(), 2u) << c.Name;
  EXPECT_EQ(out[0], "3573000") << c.Name;
  EXPECT_EQ(out[1], "CW") << c.Name;

  Rigctl(c.Model, link, "M LSB 0");
  EXPECT_EQ(sim.WaitLine("mode lsb"), "mode lsb") << c.Name;
  sim.Send("quit");
  EXPECT_TRUE(sim.Wait(std::chrono::seconds(10)));
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "link left behind";
}

INSTANTIATE_TEST_SUITE_P(AllRadios, RadioSimRigctl,
                         testing::Values(TRadioCase{"flex", 2048}, TRadioCase{"ft950", 1028},
                                         TRadioCase{"ft100d", 1021}, TRadioCase{"ft897d", 1043},
                                         TRadioCase{"ic7000", 3060}, TRadioCase{"ic7300", 3073}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Opens the simulator's pty raw, as a driver would.
int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0)
    return fd;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Reads until `count` bytes arrived or the bound passed.
std::string ReadBytes(int fd, size_t count) {
  std::string got;
  const auto end = Clock::now() + Generous;
  while (got.size() < count && Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 200) > 0) {
      char buf[256];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0)
        got.append(buf, static_cast<size_t>(n));
    }
  }
  return got;
}

TEST(RadioSimProgram, OperatorInputShapesTheNextReplyOnTheWire) {
  const std::string link = TempDir() + "/ft897d";
  TSimProcess sim({"--radio", "ft897d", "--link", link, "--baud", "9600"});
  ASSERT_EQ(sim.WaitLine("ready " + link), "ready " + link);
  const int fd = OpenRaw(link);
  ASSERT_GE(fd, 0);
  const std::string poll("\0\0\0\0\x03", 5);

  sim.Send("freq 7074500");
  sim.Send("mode cw-n");
  ASSERT_EQ(sim.WaitLine("mode cw-n"), "mode cw-n");
  ASSERT_EQ(write(fd, poll.data(), poll.size()), 5);
  EXPECT_EQ(ReadBytes(fd, 5), std::string("\x00\x70\x74\x50\x82", 5));
  EXPECT_EQ(sim.WaitLine("cmd 00 00 00 00 03"), "cmd 00 00 00 00 03");

  sim.Send("insert");
  sim.Send("status");
  ASSERT_EQ(sim.WaitLine("status 7074500 cw-n"), "status 7074500 cw-n");
  ASSERT_EQ(write(fd, poll.data(), poll.size()), 5);
  EXPECT_EQ(ReadBytes(fd, 6), std::string("\x00\x00\x70\x74\x50\x82", 6));

  sim.Send("bogus");
  EXPECT_EQ(sim.WaitLine("error unknown command: bogus"), "error unknown command: bogus");
  sim.Send("freq 14.074");
  EXPECT_EQ(sim.WaitLine("error bad frequency", true), "error bad frequency: 14.074");
  close(fd);

  // End of input stops the simulator (no --stay) and removes the link.
  sim.CloseInput();
  EXPECT_TRUE(sim.Wait(std::chrono::seconds(10)));
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(RadioSimProgram, IcomTransceiveBroadcastsDialChanges) {
  const std::string link = TempDir() + "/ic7300";
  TSimProcess sim({"--radio", "ic7300", "--link", link, "--transceive", "--baud", "0"});
  ASSERT_EQ(sim.WaitLine("ready " + link), "ready " + link);
  const int fd = OpenRaw(link);
  ASSERT_GE(fd, 0);
  sim.Send("freq 7074000");
  EXPECT_EQ(ReadBytes(fd, 11), std::string("\xFE\xFE\x00\x94\x00\x00\x40\x07\x07\x00\xFD", 11));
  sim.Send("foreign");
  EXPECT_EQ(ReadBytes(fd, 11), std::string("\xFE\xFE\xE0\x94\x03\x00\x40\x07\x07\x00\xFD", 11));
  close(fd);
}

TEST(RadioSimProgram, BadArgumentsAreRefusedClearly) {
  const std::string dir = TempDir();
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--radio", "ft2000", "--link", dir + "/x"},
        {"--radio", "ft950"},
        {"--radio", "ft950", "--link", dir + "/x", "--mode", "warp"},
        {"--radio", "ft950", "--link", dir + "/x", "--freq", "fourteen"},
        {"--radio", "ft950", "--link", dir + "/x", "--bogus"}}) {
    TSimProcess sim(args);
    EXPECT_EQ(sim.WaitLine("ready", true), "");
    EXPECT_TRUE(sim.Wait(std::chrono::seconds(10)));
  }
  // An existing file that is not a link is left alone.
  const std::string file = dir + "/plain";
  FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  TSimProcess sim({"--radio", "ft950", "--link", file});
  EXPECT_EQ(sim.WaitLine("ready", true), "");
  struct stat st {};
  ASSERT_EQ(lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

} // namespace
