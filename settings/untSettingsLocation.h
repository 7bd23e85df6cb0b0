// Where the settings file lives.
//
// A copy run from a folder of its own keeps VelaLog.ini beside the executable
// (portable use) when that folder already holds the file. Any other copy (a
// build tree, one unpacked into a writable folder, the installed program)
// keeps it in the user's configuration folder,
// $XDG_CONFIG_HOME/velalog (~/.config/velalog by default), for every user,
// root included: a system folder is never read for the file nor written to
// (see IsSystemFolder). A file named on the command line wins over both. The
// "ports" folder for the COMn links lies beside whichever file is used.
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
  // The folder's owner and whether every user may write to it, and the
  // (effective) user the program runs as.
  unsigned ExecutableFolderOwner = 0;
  bool ExecutableFolderWorldWritable = false;
  unsigned User = 0;
  std::string XdgConfigHome; // as set; empty when unset
  std::string Home;          // empty when unknown
};

// The facts of this process: its executable, environment and file system.
TSettingsLocationFacts CurrentSettingsLocationFacts();

// Whether the executable lies in a folder shared by the system's users, which
// must not hold their settings: a file there is read by everyone and, once
// root has written it, can be written by root alone.
//  - A folder owned by root is another user's for everyone but root.
//  - For root itself, ownership and writability tell nothing: the system's
//    program trees (/usr with /usr/local, /bin, /sbin, /lib*, /opt, /snap)
//    are root's folders that every user runs programs from.
//  - A folder that every user may write to (such as /tmp) is nobody's own.
// A copy in a folder of the user's own (root's too, outside those trees)
// is not in a system folder.
bool IsSystemFolder(const TSettingsLocationFacts& Facts);

// The full path of the settings file by the rule above. A relative
// XDG_CONFIG_HOME is ignored. Without any home folder the file of a copy in
// a folder of its own stays beside the executable (where writing it then
// fails with the store's own error); the installed program then has no
// place for it, and the result is empty.
std::string ChooseSettingsFile(const TSettingsLocationFacts& Facts);

// A settings file named by the user: the absolute path (a relative one is
// taken from the current folder). Raises ESettingsLocation when it names a
// folder or anything else but a file, or lies in a folder that does not exist.
std::string CheckSettingsFile(const std::string& Given);

// Name in the folder of SettingsFile (relative where SettingsFile names no
// folder): where the program keeps the files that go with its settings.
std::string FileBesideSettings(const std::string& SettingsFile, const std::string& Name);

// The ports folder beside SettingsFile (no trailing "/"); empty for an empty
// SettingsFile.
std::string PortsFolderBeside(const std::string& SettingsFile);

// Creates the folder of SettingsFile when it is missing, so that the first
// write can create the file. Failures are left to that write to report.
void PrepareSettingsFolder(const std::string& SettingsFile);

} // namespace vela
