#include "settings/untVelaLogSettings.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

namespace vela {

const char* const DefaultLogServer = "localhost";
const char* const DefaultRigctldAddress = "localhost:4532";

namespace {

const char* const SecServer = "ServerSettings";
const char* const SecWindow = "Window";
const char* const SecComm = "CommSettings";

std::string ServerListKey(std::int32_t Index) {
  return "ServerList" + std::to_string(Index);
}

} // namespace

std::string ExecutableFolder() {
  std::string Path(PATH_MAX, '\0');
  const ssize_t N = ::readlink("/proc/self/exe", Path.data(), Path.size());
  if (N > 0 && static_cast<std::size_t>(N) < Path.size()) {
    Path.resize(static_cast<std::size_t>(N));
    return Path.substr(0, Path.find_last_of('/') + 1);
  }
  std::error_code Ec;
  std::string Cwd = std::filesystem::current_path(Ec).string();
  return Cwd.empty() || Cwd.back() == '/' ? Cwd : Cwd + "/";
}

TVelaLogSettings::TVelaLogSettings(TComponent* AOwner, const std::string& FileName)
    : TComponent(AOwner),
      FFileName(!FileName.empty() && FileName.front() == '/' ? FileName
                                                             : ExecutableFolder() + FileName),
      FIniFile(std::make_unique<TIniFile>(FFileName)) {
  Load();
}

// Every write was flushed to disk when it was made; nothing is left to do.
TVelaLogSettings::~TVelaLogSettings() = default;

const std::string& TVelaLogSettings::FileName() const {
  return FFileName;
}

void TVelaLogSettings::Load() {
  std::int32_t Count = FIniFile->ReadInteger(SecServer, "ServerCount", 1);
  if (Count > MaxServerListCount)
    Count = MaxServerListCount;
  for (std::int32_t I = 0; I < Count; ++I)
    FServerList.push_back(FIniFile->ReadString(SecServer, ServerListKey(I), DefaultLogServer));
  FstrServerAddress = FIniFile->ReadString(SecServer, "ServerAddress", DefaultLogServer);

  FintMainTop = FIniFile->ReadInteger(SecWindow, "Top", 0);
  FintMainLeft = FIniFile->ReadInteger(SecWindow, "Left", 0);
  FintMainWidth = FIniFile->ReadInteger(SecWindow, "Width", 1260);
  FintMainHeight = FIniFile->ReadInteger(SecWindow, "Height", 770);

  FintCommPort = FIniFile->ReadInteger(SecComm, "CommPort", 1);
  FintCommPort2 = FIniFile->ReadInteger(SecComm, "CommPort2", 0);
  FblnComm2Enable = FIniFile->ReadBool(SecComm, "Comm2Enable", false);
  // The enumerations keep the low byte of what is stored, in range or not.
  FBaudRate = static_cast<TBaudRate>(
      static_cast<std::uint8_t>(FIniFile->ReadInteger(SecComm, "BaudRate", br4800)));
  FRadio = static_cast<TRadioType>(
      static_cast<std::uint8_t>(FIniFile->ReadInteger(SecComm, "Radio", rtFlex)));
  FstrRigctldAddress = FIniFile->ReadString(SecComm, "RigctldAddress", DefaultRigctldAddress);
}

void TVelaLogSettings::setIntMainTop(std::int32_t Value) {
  FIniFile->WriteInteger(SecWindow, "Top", Value);
  FintMainTop = Value;
}

void TVelaLogSettings::setIntMainLeft(std::int32_t Value) {
  FIniFile->WriteInteger(SecWindow, "Left", Value);
  FintMainLeft = Value;
}

void TVelaLogSettings::setIntMainWidth(std::int32_t Value) {
  FIniFile->WriteInteger(SecWindow, "Width", Value);
  FintMainWidth = Value;
}

void TVelaLogSettings::setIntMainHeight(std::int32_t Value) {
  FIniFile->WriteInteger(SecWindow, "Height", Value);
  FintMainHeight = Value;
}

void TVelaLogSettings::setStrServerAddress(const std::string& Value) {
  FstrServerAddress = Value;
  FIniFile->WriteString(SecServer, "ServerAddress", Value);
}

void TVelaLogSettings::setIntSeverListCount(std::int32_t Value) {
  if (Value > MaxServerListCount)
    Value = MaxServerListCount;
  if (Value >= 1) {
    FServerList.resize(static_cast<std::size_t>(Value));
    FIniFile->WriteInteger(SecServer, "ServerCount", Value);
    return;
  }
  if (FServerList.size() > 1)
    FServerList.resize(1);
  FIniFile->WriteInteger(SecServer, "ServerCount", 1);
  setStrServerList(0, DefaultLogServer);
}

std::string TVelaLogSettings::strServerList(std::int32_t Index) const {
  if (Index >= 0 && static_cast<std::size_t>(Index) < FServerList.size())
    return FServerList[static_cast<std::size_t>(Index)];
  return "No server index " + std::to_string(Index);
}

void TVelaLogSettings::setStrServerList(std::int32_t Index, const std::string& Value) {
  if (Index < 0 || static_cast<std::size_t>(Index) >= FServerList.size())
    return;
  FServerList[static_cast<std::size_t>(Index)] = Value;
  FIniFile->WriteString(SecServer, ServerListKey(Index), Value);
}

void TVelaLogSettings::setIntCommPort(std::int32_t Value) {
  FintCommPort = Value;
  FIniFile->WriteInteger(SecComm, "CommPort", Value);
}

void TVelaLogSettings::setIntCommPort2(std::int32_t Value) {
  FintCommPort2 = Value;
  FIniFile->WriteInteger(SecComm, "CommPort2", Value);
}

void TVelaLogSettings::setBlnComm2Enable(bool Value) {
  FblnComm2Enable = Value;
  FIniFile->WriteBool(SecComm, "Comm2Enable", Value);
}

void TVelaLogSettings::setBaudRate(TBaudRate Value) {
  FBaudRate = Value;
  FIniFile->WriteInteger(SecComm, "BaudRate", Value);
}

void TVelaLogSettings::setRadio(TRadioType Value) {
  FRadio = Value;
  FIniFile->WriteInteger(SecComm, "Radio", Value);
}

void TVelaLogSettings::setStrRigctldAddress(const std::string& Value) {
  FstrRigctldAddress = Value;
  FIniFile->WriteString(SecComm, "RigctldAddress", Value);
}

} // namespace vela
