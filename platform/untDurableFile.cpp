#include "platform/untDurableFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace vela {

bool WriteAll(int Fd, std::string_view Data) {
  std::size_t Done = 0;
  while (Done < Data.size()) {
    const ssize_t N = ::write(Fd, Data.data() + Done, Data.size() - Done);
    if (N < 0 && errno == EINTR)
      continue;
    if (N <= 0)
      return false;
    Done += static_cast<std::size_t>(N);
  }
  return true;
}

void SyncFolderOf(const std::string& Path) {
  const std::string Folder = std::filesystem::path(Path).parent_path().string();
  const int Fd = ::open(Folder.empty() ? "." : Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd >= 0) {
    (void)::fsync(Fd);
    ::close(Fd);
  }
}

bool AppendDurably(const std::string& Path, std::string_view Data, mode_t Mode) {
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, Mode);
  if (Fd < 0)
    return false;
  bool Ok = WriteAll(Fd, Data) && ::fsync(Fd) == 0;
  const int Saved = errno;
  Ok = (::close(Fd) == 0) && Ok;
  if (!Ok && Saved != 0)
    errno = Saved;
  return Ok;
}

bool ReplaceDurably(const std::string& Path, std::string_view Data, mode_t Mode,
                    const TFileOwner* Owner) {
  std::string Temporary = Path + ".XXXXXX";
  const int Fd = ::mkstemp(Temporary.data());
  if (Fd < 0)
    return false;
  bool Ok = ::fchmod(Fd, Mode) == 0;
  if (Ok && Owner) {
    struct stat Now {};
    if (::fstat(Fd, &Now) == 0 && (Now.st_uid != Owner->Uid || Now.st_gid != Owner->Gid))
      (void)!::fchown(Fd, Owner->Uid, Owner->Gid);
  }
  Ok = Ok && WriteAll(Fd, Data) && ::fsync(Fd) == 0;
  int Saved = errno;
  Ok = (::close(Fd) == 0) && Ok;
  if (Ok) {
    Ok = ::rename(Temporary.c_str(), Path.c_str()) == 0;
    Saved = errno;
  }
  if (!Ok) {
    ::unlink(Temporary.c_str());
    errno = Saved;
    return false;
  }
  SyncFolderOf(Path);
  return true;
}

} // namespace vela
