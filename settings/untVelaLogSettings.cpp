#include "settings/untVelaLogSettings.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/untStrToInt.h"
#include "platform/untText.h"

namespace vela {

const char* const DefaultLogServer = "localhost";
const char* const DefaultRigctldAddress = "localhost:4532";
const char* const DefaultLogbookTuneListen = "127.0.0.1:54321";
const char* const DefaultLogbookLiveListen = "127.0.0.1:54322";

namespace {

const char* const SecServer = "ServerSettings";
const char* const SecWindow = "Window";
const char* const SecComm = "CommSettings";
const char* const SecShare = "NetworkSharing";
const char* const SecContacts = "Contacts";
const char* const SecContactFields = "ContactFields";
const char* const SecLogbook = "LogbookApi";
const char* const SecStation = "Station";

std::string ServerListKey(std::int32_t Index) {
  return "ServerList" + std::to_string(Index);
}

const char* const DigiModeNames[] = {"rtty", "data"};
const char* const LinePolicyNames[] = {"on", "off", "keep"};
const char* const TransceiveNames[] = {"auto", "off"};

// The index of Text among Names (without regard to case), or Default.
template <std::size_t N>
int IndexOf(const std::string& Text, const char* const (&Names)[N], int Default) {
  for (std::size_t I = 0; I < N; ++I)
    if (::strcasecmp(Text.c_str(), Names[I]) == 0)
      return static_cast<int>(I);
  return Default;
}

} // namespace

const char* DigiModeText(TDigiMode Value) {
  return DigiModeNames[Value == dmData ? 1 : 0];
}

const char* LinePolicyText(TLinePolicy Value) {
  return LinePolicyNames[Value <= lpKeep ? Value : lpOn];
}

const char* TransceiveText(TTransceive Value) {
  return TransceiveNames[Value == tcOff ? 1 : 0];
}

std::string CIVAddressText(std::int32_t Address) {
  char Text[8];
  std::snprintf(Text, sizeof Text, "%02X", static_cast<unsigned>(Address) & 0xFF);
  return Text;
}

std::int32_t ParseCIVAddress(std::string_view Text) {
  Text = Trim(Text, " \t\r\n\v\f");
  if (Text.size() > 2 && (Text.substr(0, 2) == "0x" || Text.substr(0, 2) == "0X"))
    Text.remove_prefix(2);
  else if (Text.size() > 1 && Text[0] == '$')
    Text.remove_prefix(1);
  else if (Text.size() > 1 && (Text.back() == 'h' || Text.back() == 'H'))
    Text.remove_suffix(1);
  std::int64_t Address = 0;
  if (!TryHexDigitsToInt(Text, 2, Address))
    return 0;
  return Address >= 0x01 && Address <= 0xDF ? static_cast<std::int32_t>(Address) : 0;
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
  FDigiMode = static_cast<TDigiMode>(
      IndexOf(FIniFile->ReadString(SecComm, "DigiMode", ""), DigiModeNames, dmRTTY));
  FintCIVAddress = ParseCIVAddress(FIniFile->ReadString(SecComm, "CIVAddress", ""));
  FDTR = static_cast<TLinePolicy>(
      IndexOf(FIniFile->ReadString(SecComm, "DTR", ""), LinePolicyNames, lpOn));
  FRTS = static_cast<TLinePolicy>(
      IndexOf(FIniFile->ReadString(SecComm, "RTS", ""), LinePolicyNames, lpOn));
  FstrRigctldAddress = FIniFile->ReadString(SecComm, "RigctldAddress", DefaultRigctldAddress);
  FTransceive = static_cast<TTransceive>(
      IndexOf(FIniFile->ReadString(SecStation, "Transceive", ""), TransceiveNames, tcAuto));

  FblnShareEnabled = FIniFile->ReadBool(SecShare, "Enabled", false);
  FintSharePort = FIniFile->ReadInteger(SecShare, "Port", 4532);
  FstrShareAddress = FIniFile->ReadString(SecShare, "Address", "127.0.0.1");
  FblnShareAllowPTT = FIniFile->ReadBool(SecShare, "AllowPTT", false);
  FintShareTxLimit = FIniFile->ReadInteger(SecShare, "TxTimeLimit", 180);

  FblnContactsEnabled = FIniFile->ReadBool(SecContacts, "Enabled", false);
  FstrContactsListen = FIniFile->ReadString(SecContacts, "Listen", DefaultContactsListen);
  FblnContactsSubmit = FIniFile->ReadBool(SecContacts, "Submit", false);
  FstrContactsInterface = FIniFile->ReadString(SecContacts, "Interface", "");
  FblnLogbookApiEnabled = FIniFile->ReadBool(SecLogbook, "Enabled", false);
  FstrLogbookApiUrl = FIniFile->ReadString(SecLogbook, "Url", "");
  FintLogbookStationId = FIniFile->ReadInteger(SecLogbook, "StationId", 0);
  FstrLogbookRadioName = FIniFile->ReadString(SecLogbook, "RadioName", "");
  FstrLogbookTuneListen = FIniFile->ReadString(SecLogbook, "TuneListen", DefaultLogbookTuneListen);
  FstrLogbookTuneOrigins = FIniFile->ReadString(SecLogbook, "TuneOrigins", "");
  FstrLogbookLiveListen = FIniFile->ReadString(SecLogbook, "LiveListen", DefaultLogbookLiveListen);
  FstrLogbookSelfSignedHost = FIniFile->ReadString(SecLogbook, "SelfSignedHost", "");
  FstrLogbookApiKey = FIniFile->ReadString(SecLogbook, "ApiKey", "");
  FstrLogbookKind = FIniFile->ReadString(SecLogbook, "Kind", "auto");
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

bool StoreRadioPorts(TVelaLogSettings& Settings, std::int32_t ComPort, std::int32_t ComPort2,
                     bool Com2Enable, TBaudRate BaudRate) {
  if (ComPort == Settings.intCommPort() && ComPort2 == Settings.intCommPort2() &&
      Com2Enable == Settings.blnComm2Enable() && BaudRate == Settings.BaudRate())
    return false;
  Settings.setIntCommPort(ComPort);
  Settings.setIntCommPort2(ComPort2);
  Settings.setBlnComm2Enable(Com2Enable);
  Settings.setBaudRate(BaudRate);
  return true;
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

void TVelaLogSettings::setDigiMode(TDigiMode Value) {
  FDigiMode = Value;
  FIniFile->WriteString(SecComm, "DigiMode", DigiModeText(Value));
}

void TVelaLogSettings::setTransceive(TTransceive Value) {
  FTransceive = Value;
  FIniFile->WriteString(SecStation, "Transceive", TransceiveText(Value));
}

void TVelaLogSettings::setIntCIVAddress(std::int32_t Value) {
  FintCIVAddress = Value;
  FIniFile->WriteString(SecComm, "CIVAddress", CIVAddressText(Value));
}

void TVelaLogSettings::setDTR(TLinePolicy Value) {
  FDTR = Value;
  FIniFile->WriteString(SecComm, "DTR", LinePolicyText(Value));
}

void TVelaLogSettings::setRTS(TLinePolicy Value) {
  FRTS = Value;
  FIniFile->WriteString(SecComm, "RTS", LinePolicyText(Value));
}

void TVelaLogSettings::setBlnShareEnabled(bool Value) {
  FblnShareEnabled = Value;
  FIniFile->WriteBool(SecShare, "Enabled", Value);
}

void TVelaLogSettings::setIntSharePort(std::int32_t Value) {
  FintSharePort = Value;
  FIniFile->WriteInteger(SecShare, "Port", Value);
}

void TVelaLogSettings::setStrShareAddress(const std::string& Value) {
  FstrShareAddress = Value;
  FIniFile->WriteString(SecShare, "Address", Value);
}

void TVelaLogSettings::setBlnShareAllowPTT(bool Value) {
  FblnShareAllowPTT = Value;
  FIniFile->WriteBool(SecShare, "AllowPTT", Value);
}

void TVelaLogSettings::setIntShareTxLimit(std::int32_t Value) {
  FintShareTxLimit = Value;
  FIniFile->WriteInteger(SecShare, "TxTimeLimit", Value);
}

void TVelaLogSettings::setStrRigctldAddress(const std::string& Value) {
  FstrRigctldAddress = Value;
  FIniFile->WriteString(SecComm, "RigctldAddress", Value);
}

void TVelaLogSettings::setBlnContactsEnabled(bool Value) {
  FblnContactsEnabled = Value;
  FIniFile->WriteBool(SecContacts, "Enabled", Value);
}

void TVelaLogSettings::setStrContactsListen(const std::string& Value) {
  FstrContactsListen = Value;
  FIniFile->WriteString(SecContacts, "Listen", Value);
}

void TVelaLogSettings::setBlnContactsSubmit(bool Value) {
  FblnContactsSubmit = Value;
  FIniFile->WriteBool(SecContacts, "Submit", Value);
}

std::vector<std::pair<std::string, std::string>> TVelaLogSettings::ContactFields() const {
  auto Fields = FIniFile->ReadSection(SecContactFields);
  std::erase_if(Fields, [](const auto& Field) { return Field.second.empty(); });
  return Fields;
}

std::vector<std::string> TVelaLogSettings::ContactsLogFiles() const {
  std::vector<std::string> Paths;
  for (int I = 0; I < MaxContactsLogFiles; ++I)
    if (std::string Path = FIniFile->ReadString(SecContacts, "LogFile" + std::to_string(I), "");
        !Path.empty())
      Paths.push_back(std::move(Path));
  return Paths;
}

std::string TVelaLogSettings::strContactsJs8CallTcp() const {
  return FIniFile->ReadString(SecContacts, "Js8CallTcp", "");
}

void TVelaLogSettings::setContactsLogFiles(const std::vector<std::string>& Paths) {
  for (int I = 0; I < MaxContactsLogFiles; ++I) {
    const std::string Key = "LogFile" + std::to_string(I);
    const auto At = static_cast<std::size_t>(I);
    if (At < Paths.size() || !FIniFile->ReadString(SecContacts, Key, "").empty())
      FIniFile->WriteString(SecContacts, Key, At < Paths.size() ? Paths[At] : "");
  }
}

void TVelaLogSettings::setBlnLogbookApiEnabled(bool Value) {
  FblnLogbookApiEnabled = Value;
  FIniFile->WriteBool(SecLogbook, "Enabled", Value);
}

void TVelaLogSettings::setStrLogbookApiUrl(const std::string& Value) {
  FstrLogbookApiUrl = Value;
  FIniFile->WriteString(SecLogbook, "Url", Value);
}

void TVelaLogSettings::setIntLogbookStationId(std::int32_t Value) {
  FintLogbookStationId = Value;
  FIniFile->WriteInteger(SecLogbook, "StationId", Value);
}

void TVelaLogSettings::setStrLogbookRadioName(const std::string& Value) {
  FstrLogbookRadioName = Value;
  FIniFile->WriteString(SecLogbook, "RadioName", Value);
}

void TVelaLogSettings::setStrLogbookTuneListen(const std::string& Value) {
  FstrLogbookTuneListen = Value;
  FIniFile->WriteString(SecLogbook, "TuneListen", Value);
}

void TVelaLogSettings::setStrLogbookLiveListen(const std::string& Value) {
  FstrLogbookLiveListen = Value;
  FIniFile->WriteString(SecLogbook, "LiveListen", Value);
}

void TVelaLogSettings::setStrLogbookTuneOrigins(const std::string& Value) {
  FstrLogbookTuneOrigins = Value;
  FIniFile->WriteString(SecLogbook, "TuneOrigins", Value);
}

void TVelaLogSettings::setStrLogbookKind(const std::string& Value) {
  FstrLogbookKind = Value;
  FIniFile->WriteString(SecLogbook, "Kind", Value);
}

void TVelaLogSettings::setStrLogbookSelfSignedHost(const std::string& Value) {
  FstrLogbookSelfSignedHost = Value;
  FIniFile->WriteString(SecLogbook, "SelfSignedHost", Value);
}

void TVelaLogSettings::setStrLogbookApiKey(const std::string& Value) {
  FstrLogbookApiKey = Value;
  FIniFile->WriteString(SecLogbook, "ApiKey", Value);
}

} // namespace vela
