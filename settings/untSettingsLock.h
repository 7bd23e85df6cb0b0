// One writer per settings file: a program that writes the settings file, or
// the files beside it (the contact journal, the logbook's queue), holds a
// lock beside it for its whole run, so that a second copy on the same file
// cannot overwrite what the first one wrote.
//
// The lock is the file's name plus ".lock", locked with flock(2) and holding
// "PID HOST PROGRAM" of the holder. The system drops the lock when its holder
// ends in any way (kill -9 too): an unlocked file of a process that died is
// taken over. A lock file naming another host may belong to a copy on that
// machine (a shared home folder whose file system does not carry locks
// across machines): it is not taken over, and the words say which file to
// remove once that copy no longer runs. Where no lock file can be made (a
// read-only folder), nothing is locked: nothing can be written there anyway.
#pragma once

#include <string>

namespace vela {

class TSettingsLock {
public:
  TSettingsLock() = default;
  // Releases the lock (the file stays, emptied).
  ~TSettingsLock();
  TSettingsLock(const TSettingsLock&) = delete;
  TSettingsLock& operator=(const TSettingsLock&) = delete;

  // Takes the lock beside SettingsFile for Program ("velalog"). False, with
  // Error in the operator's words ("/home/op/.config/velalog/VelaLog.ini is
  // in use by velalog-cat (process 4242 on shack)"), when another copy holds
  // it.
  bool Take(const std::string& SettingsFile, const std::string& Program, std::string& Error);

  // What is wrong with the settings file itself though it is there: one too
  // large to be read. Empty when nothing is.
  static std::string FileProblem(const std::string& SettingsFile);

  static std::string PathBeside(const std::string& SettingsFile) { return SettingsFile + ".lock"; }

private:
  int FFd = -1;
};

} // namespace vela
