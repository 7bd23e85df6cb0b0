// Where the settings file lives.
//
// A copy run from a folder of its own keeps VelaLog.ini beside the executable
// (portable use): whenever that folder is writable or already holds the file.
// An installed copy, whose folder the user cannot write, keeps it in the
// user's configuration folder, $XDG_CONFIG_HOME/velalog (~/.config/velalog by
// default). A file named on the command line wins over both. The "ports"
// folder for the COMn links lies beside whichever file is used.
#pragma once

#include <string>

#include "platform/untExceptions.h"

namespace vela {

// The settings file's name, beside the executable or in the user's folder.
extern const char* const SettingsFileName;

class ESettingsLocation : public Exception {
public:
  using Exception::Exception;
};

// What the rule looks at, gathered apart so that the rule itself is a pure
// function of it.
struct TSettingsLocationFacts {
  std::string ExecutableFolder; // with a trailing "/"
  bool ExecutableFolderWritable = false;
  bool FileBesideExecutable = false;
  std::string XdgConfigHome; // as set; empty when unset
  std::string Home;          // empty when unknown
};

// The facts of this process: its executable, environment and file system.
TSettingsLocationFacts CurrentSettingsLocationFacts();

// The full path of the settings file by the rule above. A relative
// XDG_CONFIG_HOME is ignored; without any home folder the file stays beside
// the executable (where writing it then fails with the store's own error).
std::string ChooseSettingsFile(const TSettingsLocationFacts& Facts);

// A settings file named by the user: the absolute path (a relative one is
// taken from the current folder). Raises ESettingsLocation when it names a
// folder or anything else but a file, or lies in a folder that does not exist.
std::string CheckSettingsFile(const std::string& Given);

// The ports folder beside SettingsFile (no trailing "/").
std::string PortsFolderBeside(const std::string& SettingsFile);

// Creates the folder of SettingsFile when it is missing, so that the first
// write can create the file. Failures are left to that write to report.
void PrepareSettingsFolder(const std::string& SettingsFile);

} // namespace vela
