// A settings folder that refuses writes (made immutable; root ignores mode
// bits): the store reads defaults, every write fails with a clear error and
// leaves the folder as it was, and velalog-cat ends with that error instead
// of crashing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/FileHelpers.h"
#include "faults/FaultSupport.h"
#include "platform/untIniFile.h"
#include "settings/untSettingsLock.h"
#include "settings/untVelaLogSettings.h"

using namespace vela;
using namespace vela::test;

namespace {

std::filesystem::path SettingsDir() {
  // The build tree is on a real file system more often than /tmp. One folder
  // per test: the tests run in parallel, each in its own process.
  const std::string Name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const auto Dir =
      std::filesystem::path(VELA_BIN_DIR) / ".." / "tests" / ("faults-settings-" + Name);
  std::filesystem::remove_all(Dir);
  std::filesystem::create_directories(Dir);
  return Dir;
}

bool Eventually(const std::function<bool()>& Done) {
  const auto Until = Clock::now() + Generous;
  while (!Done()) {
    if (Clock::now() > Until)
      return false;
    ::usleep(20000);
  }
  return true;
}

} // namespace

TEST(SettingsFaults, UnwritableFolderFailsEveryWriteAndKeepsTheFile) {
  const auto Dir = SettingsDir();
  const auto Ini = Dir / "VelaLog.ini";
  {
    std::ofstream Out(Ini);
    Out << "[CommSettings]\nCommPort=3\n";
  }
  {
    TImmutable Lock(Dir.string());
    if (!Lock.Ok())
      GTEST_SKIP() << "chattr +i is not supported here";
    TVelaLogSettings Settings(nullptr, Ini.string());
    EXPECT_EQ(Settings.intCommPort(), 3);
    try {
      Settings.setIntCommPort(5);
      ADD_FAILURE() << "a write into an immutable folder reported success";
    } catch (const std::exception& E) {
      EXPECT_NE(std::string(E.what()).find("Unable to write to"), std::string::npos) << E.what();
    }
    TVelaLogSettings Again(nullptr, Ini.string());
    EXPECT_EQ(Again.intCommPort(), 3);
  }
  std::ifstream In(Ini);
  const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(Text, "[CommSettings]\nCommPort=3\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), {}), 1)
      << "a temporary file was left behind";
  std::filesystem::remove_all(Dir);
}

TEST(SettingsFaults, VelalogCatEndsWithTheErrorOnAnUnwritableFolder) {
  const auto Dir = SettingsDir();
  TImmutable Lock(Dir.string());
  if (!Lock.Ok())
    GTEST_SKIP() << "chattr +i is not supported here";
  TChild Cat({Tool("velalog-cat"), "--radio", "ft950", "--port", "200", "--ini",
              (Dir / "VelaLog.ini").string()});
  ASSERT_TRUE(Cat.Wait(Generous)) << "velalog-cat hung on an unwritable settings folder";
  EXPECT_TRUE(WIFEXITED(Cat.ExitStatus()));
  EXPECT_EQ(WEXITSTATUS(Cat.ExitStatus()), 1);
}

// One copy at a time on a settings file: the second says which file is in
// use by which process and ends with status 1; a lock left by a process that
// died is taken over; one naming another machine is not.
TEST(SettingsFaults, TwoCopiesOnOneSettingsFile) {
  const auto Dir = SettingsDir();
  const std::string Ini = (Dir / "VelaLog.ini").string();
  const std::string LockFile = TSettingsLock::PathBeside(Ini);
  auto Second = [&] {
    TChild Cat({Tool("velalog-cat"), "--radio", "ft950", "--port", "200", "--ini", Ini}, false,
               true);
    const std::string Line = Cat.WaitPrefix("velalog-cat: ");
    EXPECT_TRUE(Cat.Wait(Generous));
    EXPECT_TRUE(WIFEXITED(Cat.ExitStatus()) && WEXITSTATUS(Cat.ExitStatus()) == 1) << Line;
    return Line;
  };
  {
    TChild First({Tool("velalog-cat"), "--radio", "ft950", "--port", "200", "--ini", Ini});
    const std::string Pid = std::to_string(First.Pid());
    ASSERT_TRUE(Eventually([&] { return ReadFile(LockFile).rfind(Pid + " ", 0) == 0; }));
    const std::string Told = Second();
    EXPECT_NE(Told.find(Ini + " is in use by velalog-cat (process " + Pid + " on "),
              std::string::npos)
        << Told;
    First.Kill(); // as kill -9: the system drops its lock
  }
  // Left by a process that died on this machine: taken over.
  {
    TChild Again({Tool("velalog-cat"), "--radio", "ft950", "--port", "200", "--ini", Ini});
    const std::string Pid = std::to_string(Again.Pid());
    ASSERT_TRUE(Eventually([&] { return ReadFile(LockFile).rfind(Pid + " ", 0) == 0; }));
  }
  // Naming a process of another machine: not taken over, and the words say
  // which file to remove.
  WriteFile(LockFile, "4242 another-shack-pc velalog\n");
  const std::string Told = Second();
  EXPECT_NE(Told.find("velalog (process 4242 on another-shack-pc)"), std::string::npos) << Told;
  EXPECT_NE(Told.find("remove " + LockFile), std::string::npos) << Told;
  std::filesystem::remove_all(Dir);
}

TEST(SettingsFaults, ASettingsFileOverTheLimitIsReported) {
  const auto Dir = SettingsDir();
  const std::string Ini = (Dir / "VelaLog.ini").string();
  WriteFile(Ini, "[CommSettings]\n" + std::string(MaxIniFileSize, ';') + "\n");
  EXPECT_NE(TSettingsLock::FileProblem(Ini).find("is larger than 1 MiB"), std::string::npos);
  WriteFile(Ini, "[CommSettings]\nCommPort=3\n");
  EXPECT_EQ(TSettingsLock::FileProblem(Ini), "");
  std::filesystem::remove_all(Dir);
}
