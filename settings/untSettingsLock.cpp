#include "settings/untSettingsLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <sstream>

#include "platform/untIniFile.h"

namespace vela {

namespace {

std::string HostName() {
  char Name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(Name, sizeof Name - 1) != 0)
    return "localhost";
  return Name;
}

// The holder as the lock file names it: "PID HOST PROGRAM".
struct THolder {
  long Pid = 0;
  std::string Host, Program;
};

THolder ReadHolder(int Fd) {
  char Text[512] = {};
  const ssize_t N = ::pread(Fd, Text, sizeof Text - 1, 0);
  THolder Holder;
  if (N <= 0)
    return Holder;
  std::istringstream In(std::string(Text, static_cast<std::size_t>(N)));
  In >> Holder.Pid >> Holder.Host;
  std::getline(In >> std::ws, Holder.Program);
  if (!In && Holder.Host.empty())
    Holder.Pid = 0;
  return Holder;
}

std::string HolderWords(const THolder& Holder) {
  if (Holder.Pid <= 0)
    return "another program";
  return (Holder.Program.empty() ? std::string("another copy") : Holder.Program) + " (process " +
         std::to_string(Holder.Pid) + " on " + Holder.Host + ")";
}

} // namespace

TSettingsLock::~TSettingsLock() {
  if (FFd < 0)
    return;
  // Emptied before it is unlocked: a lock file that names a holder is one
  // whose holder did not end the ordinary way.
  if (::ftruncate(FFd, 0) == 0)
    (void)::fsync(FFd);
  ::close(FFd);
}

bool TSettingsLock::Take(const std::string& SettingsFile, const std::string& Program,
                         std::string& Error) {
  Error.clear();
  const std::string Path = PathBeside(SettingsFile);
  const int Fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (Fd < 0)
    return true; // nothing can be written beside it either
  if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
    const THolder Holder = ReadHolder(Fd);
    ::close(Fd);
    Error = SettingsFile + " is in use by " + HolderWords(Holder) +
            ": one copy at a time may use a settings file";
    return false;
  }
  const std::string Host = HostName();
  const THolder Before = ReadHolder(Fd);
  if (Before.Pid > 0 && !Before.Host.empty() && Before.Host != Host) {
    ::close(Fd);
    Error = SettingsFile + " is in use by " + HolderWords(Before) +
            ", or was when that machine stopped: remove " + Path +
            " once no copy runs there with it";
    return false;
  }
  // Free, or left by a process of this machine that ended: taken.
  const std::string Text = std::to_string(::getpid()) + " " + Host + " " +
                           (Program.empty() ? "velalog" : Program) + "\n";
  // Should the words not be written, the lock holds all the same.
  if (::ftruncate(Fd, 0) == 0 && ::pwrite(Fd, Text.data(), Text.size(), 0) > 0)
    (void)::fsync(Fd);
  FFd = Fd;
  return true;
}

std::string TSettingsLock::FileProblem(const std::string& SettingsFile) {
  struct stat St {};
  if (::stat(SettingsFile.c_str(), &St) != 0 || !S_ISREG(St.st_mode) ||
      static_cast<std::uintmax_t>(St.st_size) <= MaxIniFileSize)
    return {};
  return SettingsFile + " is larger than " + std::to_string(MaxIniFileSize / (1024 * 1024)) +
         " MiB (" + std::to_string(St.st_size) +
         " bytes): it is not read, the defaults are used, and no setting can be saved to it";
}

} // namespace vela
