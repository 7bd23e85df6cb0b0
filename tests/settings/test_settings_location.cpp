// Where the settings file lives: beside the executable for a portable copy,
// in the user's configuration folder for an installed one, or where the
// command line says.
#include "settings/untSettingsLocation.h"

#include "platform/untPaths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

using namespace vela;
namespace fs = std::filesystem;

namespace {

struct TLocationCase {
  const char* Name;
  bool Writable;
  bool FileBeside;
  const char* XdgConfigHome;
  const char* Home;
  const char* Expected;
};

const TLocationCase LocationCases[] = {
    {"portable: a writable folder", true, false, "/x", "/home/op", "/opt/vl/VelaLog.ini"},
    {"portable: the file is already there", false, true, "", "/home/op", "/opt/vl/VelaLog.ini"},
    {"installed: the home default", false, false, "", "/home/op",
     "/home/op/.config/velalog/VelaLog.ini"},
    {"installed: XDG_CONFIG_HOME", false, false, "/cfg/", "/home/op", "/cfg/velalog/VelaLog.ini"},
    {"installed: a relative XDG_CONFIG_HOME is ignored", false, false, "cfg", "/home/op",
     "/home/op/.config/velalog/VelaLog.ini"},
    {"installed: no home at all", false, false, "", "", "/opt/vl/VelaLog.ini"},
};

} // namespace

TEST(SettingsLocation, ChoosesByTheTable) {
  for (const TLocationCase& Case : LocationCases) {
    TSettingsLocationFacts Facts;
    Facts.ExecutableFolder = "/opt/vl/";
    Facts.ExecutableFolderWritable = Case.Writable;
    Facts.FileBesideExecutable = Case.FileBeside;
    Facts.XdgConfigHome = Case.XdgConfigHome;
    Facts.Home = Case.Home;
    EXPECT_EQ(ChooseSettingsFile(Facts), Case.Expected) << Case.Name;
  }
  EXPECT_EQ(PortsFolderBeside("/home/op/.config/velalog/VelaLog.ini"),
            "/home/op/.config/velalog/ports");
}

TEST(SettingsLocation, NamedFileMustBeAFileInAnExistingFolder) {
  std::string Tmpl = testing::TempDir() + "vela-location-XXXXXX";
  ASSERT_NE(::mkdtemp(Tmpl.data()), nullptr);
  const fs::path Dir = Tmpl;

  EXPECT_EQ(CheckSettingsFile((Dir / "mine.ini").string()), (Dir / "mine.ini").string());
  const fs::path Old = fs::current_path();
  fs::current_path(Dir);
  EXPECT_EQ(CheckSettingsFile("./sub/../mine.ini"), (Dir / "mine.ini").string());
  fs::current_path(Old);

  for (const std::string& Bad : {Dir.string(), Dir.string() + "/", (Dir / "no" / "x.ini").string(),
                                 std::string("/dev/null"), std::string()}) {
    try {
      CheckSettingsFile(Bad);
      ADD_FAILURE() << Bad << " was accepted";
    } catch (const ESettingsLocation& E) {
      EXPECT_NE(std::string(E.what()), "") << Bad;
    }
  }

  // The folder of a file in the user's folder is made on demand, nested.
  const fs::path Nested = Dir / "a" / "velalog" / "VelaLog.ini";
  PrepareSettingsFolder(Nested.string());
  EXPECT_TRUE(fs::is_directory(Nested.parent_path()));
  EXPECT_EQ(fs::status(Nested.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  fs::remove_all(Dir);
}

TEST(SettingsLocation, FactsComeFromTheEnvironment) {
  const std::string OldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  ::setenv("HOME", "relative", 1);
  const TSettingsLocationFacts Facts = CurrentSettingsLocationFacts();
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", OldHome.c_str(), 1);
  EXPECT_EQ(Facts.ExecutableFolder, ExecutableFolder());
  EXPECT_EQ(Facts.XdgConfigHome, "/cfg");
  // A home that is not absolute is taken from the user's password entry.
  EXPECT_EQ(Facts.Home.front(), '/') << Facts.Home;
  // The test's own folder in the build tree is writable.
  EXPECT_TRUE(Facts.ExecutableFolderWritable);
}
