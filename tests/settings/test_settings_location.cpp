// Where the settings file lives: beside the executable for a portable copy,
// in the user's configuration folder for an installed one (root's too, never
// in a system folder), or where the command line says.
#include "settings/untSettingsLocation.h"

#include "platform/untPaths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

using namespace vela;
namespace fs = std::filesystem;

namespace {

// Owners and users: 0 is root, 1000 the operator.
struct TLocationCase {
  const char* Name;
  const char* Folder;
  unsigned Owner, User;
  bool WorldWritable, Writable, FileBeside;
  const char* XdgConfigHome;
  const char* Home;
  const char* Expected;
};

const char* const OpIni = "/home/op/.config/velalog/VelaLog.ini";
const char* const RootIni = "/root/.config/velalog/VelaLog.ini";

const TLocationCase LocationCases[] = {
    {"a writable folder without the file: the user's folder", "/home/op/vl/", 1000, 1000, false,
     true, false, "/x", "/home/op", "/x/velalog/VelaLog.ini"},
    {"a build tree without the file: the user's folder", "/home/op/src/build/bin/", 1000, 1000,
     false, true, false, "", "/home/op", OpIni},
    {"portable: the file is already there", "/home/op/vl/", 1000, 1000, false, false, true, "",
     "/home/op", "/home/op/vl/VelaLog.ini"},
    {"portable: root's own copy", "/root/vl/", 0, 0, false, true, true, "", "/root",
     "/root/vl/VelaLog.ini"},
    {"portable: the operator's copy run by root", "/home/op/vl/", 1000, 0, false, true, true, "",
     "/root", "/home/op/vl/VelaLog.ini"},
    {"installed: XDG_CONFIG_HOME", "/usr/bin/", 0, 1000, false, false, false, "/cfg/", "/home/op",
     "/cfg/velalog/VelaLog.ini"},
    {"installed: a relative XDG_CONFIG_HOME is ignored", "/usr/bin/", 0, 1000, false, false, false,
     "cfg", "/home/op", OpIni},
    {"installed: a file root left there is not read", "/usr/bin/", 0, 1000, false, false, true, "",
     "/home/op", OpIni},
    {"installed, run by root: writable, yet not written", "/usr/bin/", 0, 0, false, true, true, "",
     "/root", RootIni},
    {"installed in /usr/local/bin, run by root", "/usr/local/bin/", 0, 0, false, true, false, "",
     "/root", RootIni},
    {"another root folder, run by the operator", "/srv/vl/", 0, 1000, false, false, true, "",
     "/home/op", OpIni},
    {"a folder everyone writes to", "/tmp/", 0, 0, true, true, false, "", "/root", RootIni},
    {"installed: no home at all has no place", "/usr/bin/", 0, 1000, false, false, false, "", "",
     ""},
};

} // namespace

TEST(SettingsLocation, ChoosesByTheTable) {
  for (const TLocationCase& Case : LocationCases) {
    TSettingsLocationFacts Facts;
    Facts.ExecutableFolder = Case.Folder;
    Facts.ExecutableFolderOwner = Case.Owner;
    Facts.User = Case.User;
    Facts.ExecutableFolderWorldWritable = Case.WorldWritable;
    Facts.ExecutableFolderWritable = Case.Writable;
    Facts.FileBesideExecutable = Case.FileBeside;
    Facts.XdgConfigHome = Case.XdgConfigHome;
    Facts.Home = Case.Home;
    EXPECT_EQ(ChooseSettingsFile(Facts), Case.Expected) << Case.Name;
  }
  EXPECT_EQ(PortsFolderBeside("/home/op/.config/velalog/VelaLog.ini"),
            "/home/op/.config/velalog/ports");
  EXPECT_EQ(PortsFolderBeside(""), "");
}

// The files that go with the settings lie in its folder, whatever its form.
TEST(SettingsLocation, FilesBesideTheSettingsFile) {
  const struct {
    const char* Settings;
    const char* Expected;
  } Cases[] = {
      {"/home/op/.config/velalog/VelaLog.ini", "/home/op/.config/velalog/LogbookOutbox.jsonl"},
      {"/VelaLog.ini", "/LogbookOutbox.jsonl"},
      {"VelaLog.ini", "LogbookOutbox.jsonl"},
      {"run/Station A.ini", "run/LogbookOutbox.jsonl"},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(FileBesideSettings(Case.Settings, "LogbookOutbox.jsonl"), Case.Expected)
        << Case.Settings;
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
  // The test's own folder in the build tree is writable, and its owner and
  // the user are read.
  EXPECT_TRUE(Facts.ExecutableFolderWritable);
  EXPECT_EQ(Facts.User, ::geteuid());
  struct stat Folder {};
  ASSERT_EQ(::stat(Facts.ExecutableFolder.c_str(), &Folder), 0);
  EXPECT_EQ(Facts.ExecutableFolderOwner, Folder.st_uid);
}
