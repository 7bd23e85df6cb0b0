// The API key kept in a real Secret Service (run by run_with_keyring.sh
// under its own D-Bus session, with a keyring it unlocks) and, without one,
// in the settings file made private.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "logbook/untApiKeyStore.h"
#include "settings/untVelaLogSettings.h"

using namespace vela;

namespace {

std::string FreshSettingsFile(const char* Name) {
  const std::string File = ::testing::TempDir() + Name + "-" +
                           std::to_string(QCoreApplication::applicationPid()) + ".ini";
  std::remove(File.c_str());
  return File;
}

std::string Contents(const std::string& File) {
  std::ifstream In(File);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// Writes Key and reads it back through a second store on the same file.
struct TRoundTrip {
  bool WriteOk = false;
  TKeyPlace Written = TKeyPlace::kpNone, Read = TKeyPlace::kpNone;
  std::string Key;
};
TRoundTrip RoundTrip(const std::string& File, const std::string& Key, bool UseKeyring) {
  TRoundTrip Result;
  bool Done = false;
  {
    TVelaLogSettings Settings(nullptr, File);
    TApiKeyStore Store(Settings, UseKeyring);
    Store.Write(Key, [&](bool Ok, TKeyPlace Place, const std::string&) {
      Result.WriteOk = Ok;
      Result.Written = Place;
      Done = true;
    });
    QElapsedTimer Clock;
    Clock.start();
    while (!Done && Clock.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  Done = false;
  TVelaLogSettings Settings(nullptr, File);
  TApiKeyStore Store(Settings, UseKeyring);
  Store.Read([&](const std::string& Read, TKeyPlace Place) {
    Result.Key = Read;
    Result.Read = Place;
    Done = true;
  });
  QElapsedTimer Clock;
  Clock.start();
  while (!Done && Clock.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return Result;
}

} // namespace

TEST(ApiKeyStore, SecretServiceKeepsTheKeyOutOfTheSettingsFile) {
  if (!std::getenv("VELA_KEYRING_TEST"))
    GTEST_SKIP() << "needs the Secret Service that run_with_keyring.sh starts";
  const std::string File = FreshSettingsFile("keyring");
  const TRoundTrip Trip = RoundTrip(File, "wl5f3a9c0e11d2", true);
  EXPECT_TRUE(Trip.WriteOk);
  EXPECT_EQ(Trip.Written, TKeyPlace::kpKeyring);
  EXPECT_EQ(Trip.Read, TKeyPlace::kpKeyring);
  EXPECT_EQ(Trip.Key, "wl5f3a9c0e11d2");
  EXPECT_EQ(Contents(File).find("wl5f3a9c0e11d2"), std::string::npos);
  std::remove(File.c_str());
}

TEST(ApiKeyStore, WithoutAKeyringTheSettingsFileKeepsItPrivately) {
  // No session bus at all: the keyring does not answer and the file serves.
  for (bool UseKeyring : {false, true}) {
    if (UseKeyring && std::getenv("VELA_KEYRING_TEST"))
      continue;
    const std::string File = FreshSettingsFile("nokeyring");
    const TRoundTrip Trip = RoundTrip(File, "wl77aa", UseKeyring);
    EXPECT_TRUE(Trip.WriteOk);
    EXPECT_EQ(Trip.Written, TKeyPlace::kpSettingsFile);
    EXPECT_EQ(Trip.Read, TKeyPlace::kpSettingsFile);
    EXPECT_EQ(Trip.Key, "wl77aa");
    struct stat St {};
    ASSERT_EQ(::stat(File.c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 0777, 0600u);
    EXPECT_NE(Contents(File).find("ApiKey=wl77aa"), std::string::npos);
    std::remove(File.c_str());
  }
}

TEST(ApiKeyStore, AKeyTypedIntoASettingsFileOthersCanReadIsMadePrivate) {
  const std::string File = FreshSettingsFile("typed");
  {
    std::ofstream Out(File);
    Out << "[LogbookApi]\nApiKey=wl99bb\n";
  }
  ASSERT_EQ(::chmod(File.c_str(), 0644), 0);
  TVelaLogSettings Settings(nullptr, File);
  TApiKeyStore Store(Settings, false);
  bool Done = false;
  Store.Read([&](const std::string&, TKeyPlace) { Done = true; });
  QElapsedTimer Clock;
  Clock.start();
  while (!Done && Clock.elapsed() < 30000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(Store.Key(), "wl99bb");
  struct stat St {};
  ASSERT_EQ(::stat(File.c_str(), &St), 0);
  EXPECT_EQ(St.st_mode & 0777, 0600u);
  EXPECT_NE(Store.Notice().find("readable only by you"), std::string::npos) << Store.Notice();
  std::remove(File.c_str());
}

int main(int argc, char** argv) {
  if (!std::getenv("VELA_KEYRING_TEST"))
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  QCoreApplication App(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
