#include "settings/untSettingsLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/untPaths.h"

namespace vela {

const char* const SettingsFileName = "VelaLog.ini";

namespace {

namespace fs = std::filesystem;

std::string Environment(const char* Name) {
  const char* Value = std::getenv(Name);
  return Value ? Value : "";
}

bool IsAbsolute(const std::string& Path) {
  return !Path.empty() && Path.front() == '/';
}

} // namespace

TSettingsLocationFacts CurrentSettingsLocationFacts() {
  TSettingsLocationFacts Facts;
  Facts.ExecutableFolder = ExecutableFolder();
  Facts.ExecutableFolderWritable = ::access(Facts.ExecutableFolder.c_str(), W_OK) == 0;
  const std::string Beside = Facts.ExecutableFolder + SettingsFileName;
  struct stat Info {};
  Facts.FileBesideExecutable = ::lstat(Beside.c_str(), &Info) == 0;
  struct stat Folder {};
  if (::stat(Facts.ExecutableFolder.c_str(), &Folder) == 0) {
    Facts.ExecutableFolderOwner = Folder.st_uid;
    Facts.ExecutableFolderWorldWritable = (Folder.st_mode & S_IWOTH) != 0;
  }
  Facts.User = ::geteuid();
  Facts.XdgConfigHome = Environment("XDG_CONFIG_HOME");
  Facts.Home = Environment("HOME");
  if (!IsAbsolute(Facts.Home)) {
    const passwd* Entry = ::getpwuid(::getuid());
    Facts.Home = Entry && Entry->pw_dir ? Entry->pw_dir : "";
  }
  return Facts;
}

bool IsSystemFolder(const TSettingsLocationFacts& Facts) {
  constexpr unsigned Root = 0;
  if (Facts.ExecutableFolderWorldWritable)
    return true;
  if (Facts.ExecutableFolderOwner != Root)
    return false;
  if (Facts.User != Root)
    return true;
  // The executable's folder comes resolved (/bin is /usr/bin where the
  // system merged them); each tree counts with everything below it.
  static const char* const SystemTrees[] = {"/usr/",   "/bin/",    "/sbin/", "/lib/", "/lib32/",
                                            "/lib64/", "/libx32/", "/opt/",  "/snap/"};
  if (Facts.ExecutableFolder == "/")
    return true;
  for (const char* Tree : SystemTrees)
    if (Facts.ExecutableFolder.rfind(Tree, 0) == 0)
      return true;
  return false;
}

std::string ChooseSettingsFile(const TSettingsLocationFacts& Facts) {
  const bool System = IsSystemFolder(Facts);
  // A copy is portable once its folder holds the file: a build tree or an
  // unpacked copy in a writable folder uses the user's folder (and its
  // ports/) like the installed program until a VelaLog.ini is put beside it.
  if (!System && Facts.FileBesideExecutable)
    return Facts.ExecutableFolder + SettingsFileName;
  fs::path Config;
  if (IsAbsolute(Facts.XdgConfigHome))
    Config = Facts.XdgConfigHome;
  else if (IsAbsolute(Facts.Home))
    Config = fs::path(Facts.Home) / ".config";
  else
    return System ? std::string() : Facts.ExecutableFolder + SettingsFileName;
  return (Config / "velalog" / SettingsFileName).lexically_normal().string();
}

std::string CheckSettingsFile(const std::string& Given) {
  if (Given.empty())
    throw ESettingsLocation("--settings needs a file name");
  std::error_code Ec;
  const fs::path File = fs::absolute(Given, Ec).lexically_normal();
  if (Ec)
    throw ESettingsLocation("cannot resolve the settings file " + Given + ": " + Ec.message());
  if (fs::is_directory(File, Ec) || !File.has_filename())
    throw ESettingsLocation("the settings file " + File.string() +
                            " is a folder; name a file, e.g. " +
                            (File / SettingsFileName).string());
  if (fs::exists(File, Ec) && !fs::is_regular_file(File, Ec))
    throw ESettingsLocation("the settings file " + File.string() + " is not a regular file");
  const fs::path Folder = File.parent_path();
  if (!fs::is_directory(Folder, Ec))
    throw ESettingsLocation("the folder of the settings file " + File.string() +
                            " does not exist: " + Folder.string());
  return File.string();
}

std::string FileBesideSettings(const std::string& SettingsFile, const std::string& Name) {
  return (fs::path(SettingsFile).parent_path() / Name).string();
}

std::string PortsFolderBeside(const std::string& SettingsFile) {
  if (SettingsFile.empty())
    return "";
  return FileBesideSettings(SettingsFile, "ports");
}

void PrepareSettingsFolder(const std::string& SettingsFile) {
  // Created one level at a time, private to the user as the XDG rules ask
  // for a configuration folder that has to be made.
  fs::path Partial;
  for (const fs::path& Part : fs::path(SettingsFile).parent_path()) {
    Partial /= Part;
    ::mkdir(Partial.c_str(), 0700);
  }
}

} // namespace vela
