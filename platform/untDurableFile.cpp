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

bool AppendLines(const std::string& Path, std::string_view Data, mode_t Mode,
                 std::uint64_t* Offset) {
  const int Fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, Mode);
  if (Fd < 0)
    return false;
  struct stat St {};
  bool Ok = ::fstat(Fd, &St) == 0;
  const off_t Before = St.st_size;
  char Last = '\n';
  if (Ok && Before > 0)
    Ok = ::pread(Fd, &Last, 1, Before - 1) == 1;
  if (Ok && Last != '\n')
    Ok = WriteAll(Fd, "\n");
  Ok = Ok && WriteAll(Fd, Data) && ::fsync(Fd) == 0;
  if (!Ok) {
    const int Saved = errno != 0 ? errno : EIO;
    if (::ftruncate(Fd, Before) == 0)
      (void)::fsync(Fd);
    ::close(Fd);
    errno = Saved;
    return false;
  }
  if (::close(Fd) != 0)
    return false;
  if (Offset)
    *Offset = static_cast<std::uint64_t>(Before) + (Last != '\n' ? 1 : 0) + Data.size();
  if (Before == 0)
    SyncFolderOf(Path);
  return true;
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
