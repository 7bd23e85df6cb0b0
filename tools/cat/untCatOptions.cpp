#include "tools/cat/untCatOptions.h"

#include "cat/transport/untSerialDevices.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "cat/radios/untRadioFactory.h"
#include "cat/radios/untRadioTable.h"
#include "cat/radios/untRigctldCATinterface.h"
#include "cat/transport/CPort.h"
#include "cat/transport/untHostPort.h"
#include "cat/transport/untListenAddress.h"
#include "platform/untPaths.h"
#include "platform/untStrToInt.h"
#include "settings/untSettingsBatch.h"
#include "settings/untSettingsLocation.h"
#include "tools/cat/untCatUsage.h"
#include "untProgramInfo.h"

namespace vela {

namespace {

[[noreturn]] void Usage(const std::string& Message) {
  throw ECatUsage(Message);
}

// An option's value, or Missing as the usage error.
std::string Needed(const char* Text, const std::string& Missing) {
  if (!Text)
    Usage(Missing);
  return Text;
}

// The API key in a file of the user's own: its first line, blanks around it
// trimmed. A file others may read is refused, as the key would not be
// secret there.
std::string ReadKeyFile(const char* FileName) {
  if (!FileName)
    Usage("--api-key-file needs a file name");
  struct stat St {};
  if (::stat(FileName, &St) != 0)
    Usage(std::string("--api-key-file: ") + FileName + ": " + std::strerror(errno));
  if ((St.st_mode & 077) != 0)
    Usage(std::string("--api-key-file: ") + FileName +
          " may be read by others; make it private first (chmod 600)");
  std::ifstream In(FileName);
  std::string Key;
  std::getline(In, Key);
  const std::size_t First = Key.find_first_not_of(" \t\r");
  Key = First == std::string::npos ? std::string()
                                   : Key.substr(First, Key.find_last_not_of(" \t\r") - First + 1);
  std::string Error;
  if (!ValidApiKey(Key, &Error))
    Usage(std::string("--api-key-file: ") + FileName + ": " + Error);
  return Key;
}

int ParseNumber(const std::string& Option, const char* Text) {
  std::int32_t Value = 0;
  if (!Text || !TryStrToInt(Text, Value))
    Usage("bad number for " + Option + ": " + (Text ? Text : "(missing)"));
  return Value;
}

// on|off|keep for --dtr and --rts.
TLinePolicy ParseLinePolicy(const std::string& Option, const char* Text) {
  for (TLinePolicy Policy : {lpOn, lpOff, lpKeep})
    if (Text && std::string(Text) == LinePolicyText(Policy))
      return Policy;
  Usage(Option + " takes on, off or keep");
}

void LinkDevice(const std::filesystem::path& Dir, int Port, const std::string& Device) {
  std::error_code Error;
  const auto Link = Dir / ("com" + std::to_string(Port));
  std::filesystem::remove(Link, Error);
  std::filesystem::create_symlink(std::filesystem::absolute(Device), Link, Error);
  if (Error)
    Usage("cannot link " + Link.string() + ": " + Error.message());
}

// The checks that need the whole command line, for a run with a radio.
void CheckStation(TCatOptions& O, const std::string& RadioText) {
  TStationOptions& S = O.Station;
  if (RadioText.empty())
    Usage("--radio is required");
  const std::optional<TRadioType> Known = RadioFromName(RadioText);
  if (!Known)
    Usage("unknown radio: " + RadioText);
  S.Radio = *Known;
  const bool Network = S.Radio == rtRigctld;
  if (Network) {
    THostPort Address;
    std::string Error;
    if (O.RigctldHost.empty())
      O.RigctldHost = DefaultRigctldAddress;
    if (!ParseHostPort(O.RigctldHost, TRigctldCATInterface::DefaultPort, Address, Error))
      Usage("--rigctld-host: " + Error);
    S.RigctldAddress = O.RigctldHost;
  }
  if (!Network && S.ComPort < 1 && O.Device.empty())
    Usage("--port N (N >= 1) or --device PATH is required");
  TLogbookOptions& Logbook = S.Logbook;
  if (const char* Env = std::getenv("VELALOG_API_KEY"); Logbook.Key.empty() && Env && *Env) {
    std::string Error;
    if (!ValidApiKey(Env, &Error))
      Usage("VELALOG_API_KEY: " + Error);
    Logbook.Key = Env;
  }
  if (!Logbook.Url.empty() && Logbook.Key.empty())
    Usage("--logbook-api needs --api-key, --api-key-file or VELALOG_API_KEY");
  Logbook.Enabled = !Logbook.Url.empty() || !Logbook.TuneListen.empty();
}

} // namespace

std::string TCatOptions::SettingsFile() const {
  return IniPath.empty() ? ChooseSettingsFile(CurrentSettingsLocationFacts())
                         : std::filesystem::absolute(IniPath).string();
}

TCatRun ParseCatOptions(int argc, char** argv, TCatOptions& O) {
  TStationOptions& S = O.Station;
  TLogbookOptions& Logbook = S.Logbook;
  Logbook.TuneListen.clear();
  std::string RadioText;
  bool LiveAsked = false; // --live-listen alone serves the pages too
  for (int I = 1; I < argc; ++I) {
    const std::string Arg = argv[I];
    auto Next = [&]() -> const char* { return I + 1 < argc ? argv[++I] : nullptr; };
    if (Arg == "--help" || Arg == "-h") {
      std::cout << CatUsage;
      return TCatRun::crPrinted;
    } else if (Arg == "--version") {
      std::cout << "velalog-cat " << VelaLogVersion << "\n";
      return TCatRun::crPrinted;
    } else if (Arg == "--list-radios") {
      for (const TRadioModel* Model : RadioModels())
        std::cout << Model->Name << '\t' << int{Model->Radio} << '\t' << Model->DisplayName << '\n';
      return TCatRun::crPrinted;
    } else if (Arg == "--list-ports") {
      for (const TSerialDevice& Device : ListSerialDevices())
        std::cout << Device.Path << '\t' << Device.Device << '\n';
      return TCatRun::crPrinted;
    } else if (Arg == "--exact") {
      O.Exact = true;
    } else if (Arg == "--digi") {
      const char* V = Next();
      if (!V || (std::string(V) != "rtty" && std::string(V) != "data"))
        Usage("--digi takes rtty or data");
      O.Digi = std::string(V) == "data" ? dmData : dmRTTY;
    } else if (Arg == "--transceive") {
      const char* V = Next();
      if (!V || (std::string(V) != "auto" && std::string(V) != "off"))
        Usage("--transceive takes auto or off");
      O.Transceive = std::string(V) == "off" ? tcOff : tcAuto;
    } else if (Arg == "--civ") {
      const char* V = Next();
      O.CIVAddress = V ? ParseCIVAddress(V) : 0;
      if (!ValidCIVAddress(*O.CIVAddress))
        Usage("--civ takes a CI-V address in hexadecimal, 01 to DF, not CC");
    } else if (Arg == "--dtr") {
      O.DTR = ParseLinePolicy(Arg, Next());
    } else if (Arg == "--rts") {
      O.RTS = ParseLinePolicy(Arg, Next());
    } else if (Arg == "--radio") {
      const char* V = Next();
      RadioText = V ? V : "";
    } else if (Arg == "--port") {
      S.ComPort = ParseNumber(Arg, Next());
    } else if (Arg == "--virtual") {
      S.ComPort2 = ParseNumber(Arg, Next());
    } else if (Arg == "--baud") {
      const int Bits = ParseNumber(Arg, Next());
      if (!BaudRateFromInt(Bits, S.BaudRate))
        Usage("unsupported baud rate: " + std::to_string(Bits));
    } else if (Arg == "--ports-dir") {
      O.PortsDir = Needed(Next(), "--ports-dir needs a folder");
    } else if (Arg == "--device") {
      O.Device = Needed(Next(), "--device needs a path");
    } else if (Arg == "--virtual-device") {
      O.VirtualDevice = Needed(Next(), "--virtual-device needs a path");
    } else if (Arg == "--rigctld") {
      S.Sharing.Enabled = true;
      S.Sharing.Port = ParseNumber(Arg, Next());
      if (S.Sharing.Port < 0 || S.Sharing.Port > 65535)
        Usage("--rigctld needs a port from 0 to 65535");
    } else if (Arg == "--rigctld-address") {
      S.Sharing.Address = Needed(Next(), "--rigctld-address needs an address");
    } else if (Arg == "--allow-ptt") {
      S.Sharing.AllowPTT = true;
    } else if (Arg == "--rigctld-host") {
      O.RigctldHost = Needed(Next(), "--rigctld-host needs HOST:PORT");
    } else if (Arg == "--contacts") {
      O.ContactsListen = Needed(Next(), "--contacts needs [HOST:]PORT");
    } else if (Arg == "--contacts-file") {
      const char* V = Next();
      if (!V || !*V)
        Usage("--contacts-file needs a file name");
      O.ContactsFiles.push_back(std::filesystem::absolute(V).string());
    } else if (Arg == "--logbook-api") {
      const char* V = Next();
      std::string Error;
      if (!V || LogbookApiUrl(V, "radio", &Error).empty())
        Usage("--logbook-api needs the logbook's address: " + (V ? Error : "(missing)"));
      Logbook.Url = V;
    } else if (Arg == "--api-key") {
      const char* V = Next();
      std::string Error;
      if (!V || !ValidApiKey(V, &Error))
        Usage("--api-key: " + (V ? Error : "no API key"));
      Logbook.Key = V;
    } else if (Arg == "--api-key-file") {
      Logbook.Key = ReadKeyFile(Next());
    } else if (Arg == "--resend-refused") {
      O.ResendRefused = true;
    } else if (Arg == "--fix-station-callsign") {
      O.ResendRefused = true;
      O.FixStationCallsign = true;
    } else if (Arg == "--station-id") {
      Logbook.StationId = ParseNumber(Arg, Next());
      if (Logbook.StationId < 1)
        Usage("--station-id needs a station number of 1 or more");
    } else if (Arg == "--radio-name") {
      const char* V = Next();
      if (!V || !*V || std::strlen(V) > 250)
        Usage("--radio-name needs a name of 1 to 250 characters");
      Logbook.RadioName = V;
    } else if (Arg == "--tune-listen") {
      const char* V = Next();
      TListenAddress Where;
      std::string Error;
      if (!V || !ParseListenAddress(V, std::nullopt, Where, Error))
        Usage("--tune-listen: " + (V ? Error : "needs [HOST:]PORT"));
      Logbook.TuneListen = V;
    } else if (Arg == "--live-listen") {
      const char* V = Next();
      TListenAddress Where;
      std::string Error;
      if (!V || (std::string(V) != "off" && !ParseListenAddress(V, std::nullopt, Where, Error)))
        Usage("--live-listen: " + (V ? Error : "needs HOST:PORT or off"));
      Logbook.LiveListen = V;
      LiveAsked = Logbook.LiveListen != "off";
    } else if (Arg == "--logbook-kind") {
      const char* V = Next();
      const std::string Kind = V ? V : "";
      if (Kind != "auto" && LogbookKindFromText(Kind) == TLogbookKind::lkUnknown)
        Usage("--logbook-kind needs auto, wavelog or cloudlog");
      Logbook.Kind = LogbookKindFromText(Kind);
    } else if (Arg == "--tune-origins") {
      Logbook.TuneOrigins = Needed(Next(), "--tune-origins needs web origins separated by blanks");
    } else if (Arg == "--trace") {
      O.Trace = true;
    } else if (Arg == "--ini") {
      O.IniPath = Needed(Next(), "--ini needs a file name");
    } else {
      Usage("unknown option: " + Arg);
    }
  }
  if (RadioText.empty() && (!O.ContactsListen.empty() || !O.ContactsFiles.empty()))
    return TCatRun::crContacts;
  CheckStation(O, RadioText);
  Logbook.Enabled = Logbook.Enabled || LiveAsked;
  return TCatRun::crStation;
}

void PrepareCatPorts(TCatOptions& O, const std::string& PrivateDir) {
  TStationOptions& S = O.Station;
  if (!O.Device.empty()) {
    if (S.ComPort < 1)
      S.ComPort = 1;
    O.PortsDir = PrivateDir + "/ports";
    std::filesystem::create_directories(O.PortsDir);
    LinkDevice(O.PortsDir, S.ComPort, O.Device);
    if (!O.VirtualDevice.empty()) {
      if (S.ComPort2 < 1)
        S.ComPort2 = S.ComPort + 1;
      LinkDevice(O.PortsDir, S.ComPort2, O.VirtualDevice);
    }
  }
  S.Com2Enable = S.ComPort2 > 0;
  // The ports folder beside the settings file used: the one given, else the
  // one VELA Log itself uses from here.
  std::string PortsDir = O.PortsDir;
  if (PortsDir.empty())
    PortsDir =
        PortsFolderBeside(O.IniPath.empty() ? ChooseSettingsFile(CurrentSettingsLocationFacts())
                                            : std::filesystem::absolute(O.IniPath).string());
  TCustomComPort::SetPortsDir(PortsDir.empty() ? PortsDir
                                               : std::filesystem::absolute(PortsDir).string());
}

void StoreCatOptions(const TCatOptions& O, TVelaLogSettings& Settings) {
  const TStationOptions& S = O.Station;
  TSettingsBatch Batch(Settings);
  Settings.setRadio(S.Radio);
  StoreRadioPorts(Settings, S.ComPort, S.ComPort2, S.Com2Enable, S.BaudRate);
  if (O.Digi)
    Settings.setDigiMode(*O.Digi);
  if (O.CIVAddress)
    Settings.setIntCIVAddress(*O.CIVAddress);
  if (O.Transceive)
    Settings.setTransceive(*O.Transceive);
  if (O.DTR)
    Settings.setDTR(*O.DTR);
  if (O.RTS)
    Settings.setRTS(*O.RTS);
  if (S.Radio == rtRigctld)
    Settings.setStrRigctldAddress(O.RigctldHost);
  // The driver releases a transmitter left keyed at start when clients
  // may key it.
  if (S.Sharing.Enabled) {
    Settings.setBlnShareEnabled(true);
    Settings.setBlnShareAllowPTT(S.Sharing.AllowPTT);
  }
}

} // namespace vela
