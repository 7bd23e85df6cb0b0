// The real program as a user starts it, under Xvfb: a command line it cannot
// use ends it with status 2, and SIGTERM ends it as the close box does, also
// during start-up and while an error box is open.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/FileHelpers.h"

namespace fs = std::filesystem;
using namespace vela::test;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Generous = std::chrono::seconds(90);

// The program in a child process; its standard error goes to a file.
class TProgram {
public:
  // BlockSignals: SIGTERM and SIGINT are blocked across the exec, so that a
  // signal sent at once waits until the program unblocks it.
  TProgram(const std::vector<std::string>& Arguments, const std::string& ErrorFile,
           bool BlockSignals = false) {
    std::vector<std::string> Args{std::string(VELA_BIN_DIR) + "/velalog"};
    Args.insert(Args.end(), Arguments.begin(), Arguments.end());
    // Blocked before the fork, so that the child never runs unblocked.
    sigset_t Blocked, Old;
    sigemptyset(&Blocked);
    sigaddset(&Blocked, SIGTERM);
    sigaddset(&Blocked, SIGINT);
    ::sigprocmask(SIG_BLOCK, &Blocked, &Old);
    FPid = ::fork();
    if (FPid != 0)
      ::sigprocmask(SIG_SETMASK, &Old, nullptr);
    if (FPid == 0) {
      const int Err = ::open(ErrorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(Err, STDERR_FILENO);
      ::dup2(Err, STDOUT_FILENO);
      if (!BlockSignals)
        ::sigprocmask(SIG_SETMASK, &Old, nullptr);
      // The program quiets the browser engine by itself.
      ::unsetenv("QT_LOGGING_RULES");
      std::vector<char*> Argv;
      for (auto& A : Args)
        Argv.push_back(A.data());
      Argv.push_back(nullptr);
      ::execv(Argv[0], Argv.data());
      ::_exit(127);
    }
  }
  ~TProgram() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      ::waitpid(FPid, nullptr, 0);
    }
  }
  void Signal(int Number) { ::kill(FPid, Number); }
  pid_t Pid() const { return FPid; }
  // True when the program ended within the bound; Status() is its wait status.
  bool Wait() {
    const auto End = Clock::now() + Generous;
    while (Clock::now() < End) {
      if (::waitpid(FPid, &FStatus, WNOHANG) == FPid) {
        FPid = -1;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  bool ExitedWith(int Code) const { return WIFEXITED(FStatus) && WEXITSTATUS(FStatus) == Code; }
  int Status() const { return FStatus; }

private:
  pid_t FPid = -1;
  int FStatus = -1;
};

bool WaitFor(const std::function<bool()>& Done) {
  const auto End = Clock::now() + Generous;
  while (Clock::now() < End) {
    if (Done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

class Program : public testing::Test {
protected:
  void SetUp() override {
    std::string Tmpl = testing::TempDir() + "vela-program-XXXXXX";
    ASSERT_NE(::mkdtemp(Tmpl.data()), nullptr);
    Dir = Tmpl;
    Ini = Dir + "/station.ini";
    Errors = Dir + "/stderr.txt";
    // No radio key: the driver writes it once the window stands. A port that
    // does not exist keeps real serial devices out of the test.
    WriteFile(Ini, "[ServerSettings]\nServerAddress=about:blank\n[CommSettings]\nCommPort=250\n");
  }
  void TearDown() override {
    Chattr("-i", Ini);
    fs::remove_all(Dir);
  }
  std::string Describe(const TProgram& P) {
    return "wait status " + std::to_string(P.Status()) + ", output:\n" + ReadFile(Errors) +
           "\nsettings:\n" + ReadFile(Ini);
  }
  bool PlacementStored() {
    const std::string Text = ReadFile(Ini);
    return Text.find("Width=") != std::string::npos && Text.find("Top=") != std::string::npos;
  }

  std::string Dir, Ini, Errors;
};

} // namespace

TEST_F(Program, CommandLinesItCannotUseEndWithStatusTwo) {
  const std::vector<std::vector<std::string>> Bad = {
      {"--no-such-option"}, {"stray"},           {"--settings"},
      {"--settings", ""},   {"--settings", Dir}, {"--settings", Dir + "/missing/VelaLog.ini"}};
  for (const auto& Args : Bad) {
    TProgram P(Args, Errors);
    ASSERT_TRUE(P.Wait()) << Args[0];
    EXPECT_TRUE(P.ExitedWith(2)) << Args.back() << ": " << Describe(P);
    EXPECT_FALSE(ReadFile(Errors).empty()) << Args.back();
  }
  TProgram Help({"--help"}, Errors);
  ASSERT_TRUE(Help.Wait());
  EXPECT_TRUE(Help.ExitedWith(0)) << Describe(Help);
  EXPECT_NE(ReadFile(Errors).find("--settings <file>"), std::string::npos) << ReadFile(Errors);
}

TEST_F(Program, SigtermClosesLikeTheCloseBox) {
  TProgram P({"--settings", Ini}, Errors);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(Ini).find("Radio=") != std::string::npos; }))
      << Describe(P);
  EXPECT_FALSE(PlacementStored());
  P.Signal(SIGTERM);
  ASSERT_TRUE(P.Wait()) << Describe(P);
  EXPECT_TRUE(P.ExitedWith(0)) << Describe(P);
  EXPECT_TRUE(PlacementStored()) << Describe(P);
  // The browser engine's start-up report is not printed by default.
  EXPECT_EQ(ReadFile(Errors).find("Init Parameters"), std::string::npos) << ReadFile(Errors);
}

TEST_F(Program, SigtermDuringStartUpEndsCleanly) {
  // Sent before the program runs a line of its own: it waits, blocked, and
  // arrives as soon as the program can take it, long before the window.
  TProgram P({"--settings", Ini}, Errors, true);
  P.Signal(SIGTERM);
  ASSERT_TRUE(P.Wait()) << Describe(P);
  EXPECT_TRUE(P.ExitedWith(0)) << Describe(P);
  EXPECT_TRUE(PlacementStored()) << Describe(P);
}

TEST_F(Program, ASecondSignalEndsAtOnce) {
  // Both wait, blocked, and arrive together: the first starts the polite
  // close, the second ends the program by its default action.
  TProgram P({"--settings", Ini}, Errors, true);
  P.Signal(SIGINT);
  P.Signal(SIGTERM);
  ASSERT_TRUE(P.Wait()) << Describe(P);
  EXPECT_TRUE(WIFSIGNALED(P.Status())) << Describe(P);
}

TEST_F(Program, SigtermWhileTheErrorBoxIsOpenEndsCleanly) {
  TImmutable Lock(Ini);
  if (!Lock.Ok())
    GTEST_SKIP() << "chattr +i is not available here";
  if (std::system("command -v xdotool >/dev/null") != 0)
    GTEST_SKIP() << "xdotool is missing";
  TProgram P({"--settings", Ini}, Errors);
  // The driver cannot store its radio type: the error box, titled with the
  // application's name, opens once the window stands.
  const std::string Search = "xdotool search --all --onlyvisible --pid " + std::to_string(P.Pid()) +
                             " --name '^VELA Log$' >/dev/null 2>&1";
  ASSERT_TRUE(WaitFor([&] { return std::system(Search.c_str()) == 0; })) << Describe(P);
  P.Signal(SIGTERM);
  ASSERT_TRUE(P.Wait()) << Describe(P);
  EXPECT_TRUE(P.ExitedWith(0)) << Describe(P);
  // The failed placement write goes to standard error: no box is left open.
  EXPECT_NE(ReadFile(Errors).find("Unable to write"), std::string::npos) << Describe(P);
}

TEST_F(Program, ASecondCopyOnTheSameSettingsSaysWhoHoldsThemAndEnds) {
  if (std::system("command -v xdotool >/dev/null") != 0)
    GTEST_SKIP() << "xdotool is missing";
  TProgram First({"--settings", Ini}, Errors);
  const std::string Pid = std::to_string(First.Pid());
  ASSERT_TRUE(WaitFor([&] { return ReadFile(Ini + ".lock").rfind(Pid + " ", 0) == 0; }));
  const std::string SecondErrors = Dir + "/second.txt";
  TProgram Second({"--settings", Ini}, SecondErrors);
  // The message box, titled with the application's name; closing it ends
  // the second copy with status 1.
  const std::string Search = "xdotool search --all --onlyvisible --pid " +
                             std::to_string(Second.Pid()) + " --name '^VELA Log$' >/dev/null 2>&1";
  ASSERT_TRUE(WaitFor([&] { return std::system(Search.c_str()) == 0; })) << ReadFile(SecondErrors);
  EXPECT_NE(ReadFile(SecondErrors).find(Ini + " is in use by velalog (process " + Pid + " on "),
            std::string::npos)
      << ReadFile(SecondErrors);
  Second.Signal(SIGTERM);
  ASSERT_TRUE(Second.Wait()) << ReadFile(SecondErrors);
  EXPECT_TRUE(Second.ExitedWith(1)) << Second.Status();
  First.Signal(SIGTERM);
  ASSERT_TRUE(First.Wait());
}
