#include "cat/transport/untSerialDevices.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>

namespace vela {

namespace fs = std::filesystem;

namespace {

// ttyUSB10 after ttyUSB9: by prefix, then by number.
bool ByNumber(const std::string& A, const std::string& B) {
  const auto Digits = [](const std::string& S) { return S.find_first_of("0123456789"); };
  const std::size_t DA = Digits(A), DB = Digits(B);
  const std::string PA = A.substr(0, DA), PB = B.substr(0, DB);
  if (PA != PB)
    return PA < PB;
  const std::string NA = DA == std::string::npos ? "" : A.substr(DA);
  const std::string NB = DB == std::string::npos ? "" : B.substr(DB);
  if (NA.size() != NB.size())
    return NA.size() < NB.size();
  return NA < NB;
}

bool IsCharacterDevice(const fs::path& Path) {
  std::error_code Ec;
  return fs::is_character_file(Path, Ec);
}

// The kernel's port type of a ttyS; 0 (or none) is a port without a UART.
bool HasUart(const std::string& SysRoot, const std::string& Name) {
  std::ifstream Type(fs::path(SysRoot) / "class" / "tty" / Name / "type");
  int Value = 0;
  return Type >> Value && Value != 0;
}

} // namespace

std::vector<TSerialDevice> ListSerialDevices(const std::string& DevRoot,
                                             const std::string& SysRoot) {
  std::vector<TSerialDevice> Result;
  std::set<std::string> Named;
  std::error_code Ec;
  std::vector<TSerialDevice> ById;
  for (fs::directory_iterator It(fs::path(DevRoot) / "serial" / "by-id", Ec), End; !Ec && It != End;
       It.increment(Ec)) {
    std::error_code Lost;
    const fs::path Device = fs::canonical(It->path(), Lost);
    if (Lost || !IsCharacterDevice(Device))
      continue;
    ById.push_back({It->path().string(), Device.string(), It->path().filename().string()});
    Named.insert(Device.string());
  }
  std::sort(ById.begin(), ById.end(),
            [](const TSerialDevice& A, const TSerialDevice& B) { return A.Name < B.Name; });
  Result = ById;

  std::vector<std::string> Usb, Serial;
  for (fs::directory_iterator It(DevRoot, Ec), End; !Ec && It != End; It.increment(Ec)) {
    const std::string Name = It->path().filename().string();
    const bool IsUsb = Name.rfind("ttyUSB", 0) == 0 || Name.rfind("ttyACM", 0) == 0;
    const bool IsSerial = Name.rfind("ttyS", 0) == 0 && Name.size() > 4;
    if (!IsUsb && !IsSerial)
      continue;
    std::error_code Lost;
    const fs::path Device = fs::canonical(It->path(), Lost);
    if (Lost || !IsCharacterDevice(Device) || Named.count(Device.string()) != 0)
      continue;
    if (IsUsb)
      Usb.push_back(Name);
    else if (HasUart(SysRoot, Name))
      Serial.push_back(Name);
  }
  std::sort(Usb.begin(), Usb.end(), ByNumber);
  std::sort(Serial.begin(), Serial.end(), ByNumber);
  for (const auto* List : {&Usb, &Serial})
    for (const std::string& Name : *List) {
      const std::string Path = (fs::path(DevRoot) / Name).string();
      Result.push_back({Path, Path, Name});
    }
  return Result;
}

std::string LinkSerialDevice(const std::string& PortsDir, int Port, const std::string& DevicePath) {
  if (Port < 1)
    return "COM" + std::to_string(Port) + " is no port number; enter 1 or more";
  std::error_code Ec;
  if (!fs::exists(DevicePath, Ec))
    return DevicePath + " is gone (unplugged?); refresh the list";
  const fs::path Folder(PortsDir);
  const fs::path Link = Folder / ("com" + std::to_string(Port));
  fs::create_directories(Folder, Ec);
  if (Ec)
    return "cannot make the folder " + Folder.string() + ": " + Ec.message();
  const fs::file_status Old = fs::symlink_status(Link, Ec);
  if (fs::exists(Old) && !fs::is_symlink(Old))
    return Link.string() + " is not a link; move it away first";
  // A new link beside the old one, renamed over it: the port always names
  // the old device or the new one.
  const fs::path Temporary = Folder / (".com" + std::to_string(Port) + ".new");
  fs::remove(Temporary, Ec);
  fs::create_symlink(DevicePath, Temporary, Ec);
  if (Ec)
    return "cannot write in " + Folder.string() + ": " + Ec.message();
  fs::rename(Temporary, Link, Ec);
  if (Ec) {
    std::error_code Ignored;
    fs::remove(Temporary, Ignored);
    return "cannot write in " + Folder.string() + ": " + Ec.message();
  }
  return std::string();
}

std::string DeviceAccessProblem(const std::string& DevicePath) {
  if (::access(DevicePath.c_str(), R_OK | W_OK) == 0)
    return std::string();
  const int Error = errno;
  if (Error != EACCES && Error != EPERM)
    return DevicePath + ": " + std::strerror(Error);
  struct stat Info {};
  std::string Group;
  if (::stat(DevicePath.c_str(), &Info) == 0)
    if (const group* Entry = ::getgrgid(Info.st_gid))
      Group = Entry->gr_name;
  if (Group.empty())
    return "you may not open " + DevicePath;
  return "you may not open " + DevicePath + ": add your user to the " + Group +
         " group (sudo adduser $USER " + Group + "), then log in again";
}

} // namespace vela
