// velalog-cat: the CAT engine without a window.
//
// Runs the program's own settings store (on a private INI file), radio driver
// and port worker, prints one line per receive event and takes tune, reset
// and quit commands on standard input. Operators use it to check a CAT set-up;
// tests and benchmarks use it to drive the engine.
#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <libintl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "cat/radios/untRadioFactory.h"
#include "cat/radios/untRadioTable.h"
#include "cat/radios/untRigctldCATinterface.h"
#include "cat/transport/CPort.h"
#include "cat/transport/untTcpPort.h"
#include "cat/untCATinterface.h"
#include "contacts/untContactMonitor.h"
#include "net/untSharingPortCheck.h"
#include "platform/untPaths.h"
#include "platform/untShutdownSignals.h"
#include "platform/untStrToInt.h"
#include "platform/untThread.h"
#include "settings/untSettingsBatch.h"
#include "settings/untSettingsLocation.h"
#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"
#include "tools/cat/untCatReporter.h"
#include "tools/cat/untCatUsage.h"
#include "untProgramInfo.h"

using namespace vela;

namespace {

// --contacts or --contacts-file without a radio: the contact listener
// alone, until a signal.
int RunContacts(int argc, char** argv, const std::string& Listen,
                const std::vector<std::string>& Files, const std::string& Folder, bool Trace) {
  QCoreApplication App(argc, argv);
  TContactMonitor Contacts(std::cout, std::cerr);
  Contacts.setTrace(Trace);
  if (!Listen.empty() && !Contacts.Start(Listen))
    return 1;
  Contacts.FollowFiles(Files, Folder);
  TShutdownSignals Signals([](int) { QCoreApplication::quit(); });
  return App.exec();
}

[[noreturn]] void UsageError(const std::string& Message) {
  std::cerr << "velalog-cat: " << Message << "\n\n" << CatUsage;
  std::exit(2);
}

// The API key in a file of the user's own: its first line, blanks around it
// trimmed. A file others may read is refused, as the key would not be
// secret there.
std::string ReadKeyFile(const char* FileName) {
  if (!FileName)
    UsageError("--api-key-file needs a file name");
  struct stat St {};
  if (::stat(FileName, &St) != 0)
    UsageError(std::string("--api-key-file: ") + FileName + ": " + std::strerror(errno));
  if ((St.st_mode & 077) != 0)
    UsageError(std::string("--api-key-file: ") + FileName +
               " may be read by others; make it private first (chmod 600)");
  std::ifstream In(FileName);
  std::string Key;
  std::getline(In, Key);
  const std::size_t First = Key.find_first_not_of(" \t\r");
  Key = First == std::string::npos ? std::string()
                                   : Key.substr(First, Key.find_last_not_of(" \t\r") - First + 1);
  std::string Error;
  if (!ValidApiKey(Key, &Error))
    UsageError(std::string("--api-key-file: ") + FileName + ": " + Error);
  return Key;
}

int ParseNumber(const std::string& Option, const char* Text) {
  std::int32_t Value = 0;
  if (!Text || !TryStrToInt(Text, Value))
    UsageError("bad number for " + Option + ": " + (Text ? Text : "(missing)"));
  return Value;
}

// on|off|keep for --dtr and --rts.
TLinePolicy ParseLinePolicy(const std::string& Option, const char* Text) {
  for (TLinePolicy Policy : {lpOn, lpOff, lpKeep})
    if (Text && std::string(Text) == LinePolicyText(Policy))
      return Policy;
  UsageError(Option + " takes on, off or keep");
}

void LinkDevice(const std::filesystem::path& Dir, int Port, const std::string& Device) {
  std::error_code Error;
  const auto Link = Dir / ("com" + std::to_string(Port));
  std::filesystem::remove(Link, Error);
  std::filesystem::create_symlink(std::filesystem::absolute(Device), Link, Error);
  if (Error)
    UsageError("cannot link " + Link.string() + ": " + Error.message());
}

} // namespace

int main(int argc, char** argv) {
  TShutdownSignals::Install();
  // The program's own texts (a settings file that refuses writes) in the
  // user's language where a catalogue has them.
  std::setlocale(LC_ALL, "");
  BindCatalogue("velalog");
  textdomain("velalog");
  std::string RadioText, IniPath, PortsDir, Device, VirtualDevice, RigctldHost, ContactsListen;
  std::vector<std::string> ContactsFiles;
  bool TraceOn = false;
  bool ResendRefused = false;
  int Port = 0, VirtualPort = 0;
  TSharingOptions Sharing;
  TBaudRate Baud = br4800;
  // Written to the settings only when given.
  std::optional<TDigiMode> Digi;
  std::optional<TTransceive> Transceive;
  std::optional<std::int32_t> CIVAddress;
  std::optional<TLinePolicy> DTR, RTS;
  bool Exact = false;
  TLogbookOptions Logbook;
  Logbook.TuneListen.clear();
  for (int I = 1; I < argc; ++I) {
    const std::string Arg = argv[I];
    auto Next = [&]() -> const char* { return I + 1 < argc ? argv[++I] : nullptr; };
    if (Arg == "--help" || Arg == "-h") {
      std::cout << CatUsage;
      return 0;
    } else if (Arg == "--version") {
      std::cout << "velalog-cat " << VelaLogVersion << "\n";
      return 0;
    } else if (Arg == "--list-radios") {
      for (const TRadioModel& Model : RadioModels())
        std::cout << Model.Name << '\t' << int{Model.Radio} << '\t' << Model.DisplayName << '\n';
      return 0;
    } else if (Arg == "--exact") {
      Exact = true;
    } else if (Arg == "--digi") {
      const char* V = Next();
      if (!V || (std::string(V) != "rtty" && std::string(V) != "data"))
        UsageError("--digi takes rtty or data");
      Digi = std::string(V) == "data" ? dmData : dmRTTY;
    } else if (Arg == "--transceive") {
      const char* V = Next();
      if (!V || (std::string(V) != "auto" && std::string(V) != "off"))
        UsageError("--transceive takes auto or off");
      Transceive = std::string(V) == "off" ? tcOff : tcAuto;
    } else if (Arg == "--civ") {
      const char* V = Next();
      CIVAddress = V ? ParseCIVAddress(V) : 0;
      if (!ValidCIVAddress(*CIVAddress))
        UsageError("--civ takes a CI-V address in hexadecimal, 01 to DF, not CC");
    } else if (Arg == "--dtr") {
      DTR = ParseLinePolicy(Arg, Next());
    } else if (Arg == "--rts") {
      RTS = ParseLinePolicy(Arg, Next());
    } else if (Arg == "--radio") {
      const char* V = Next();
      RadioText = V ? V : "";
    } else if (Arg == "--port") {
      Port = ParseNumber(Arg, Next());
    } else if (Arg == "--virtual") {
      VirtualPort = ParseNumber(Arg, Next());
    } else if (Arg == "--baud") {
      const int Bits = ParseNumber(Arg, Next());
      if (!BaudRateFromInt(Bits, Baud))
        UsageError("unsupported baud rate: " + std::to_string(Bits));
    } else if (Arg == "--ports-dir") {
      const char* V = Next();
      if (!V)
        UsageError("--ports-dir needs a folder");
      PortsDir = V;
    } else if (Arg == "--device") {
      const char* V = Next();
      if (!V)
        UsageError("--device needs a path");
      Device = V;
    } else if (Arg == "--virtual-device") {
      const char* V = Next();
      if (!V)
        UsageError("--virtual-device needs a path");
      VirtualDevice = V;
    } else if (Arg == "--rigctld") {
      Sharing.Enabled = true;
      Sharing.Port = ParseNumber(Arg, Next());
      if (Sharing.Port < 0 || Sharing.Port > 65535)
        UsageError("--rigctld needs a port from 0 to 65535");
    } else if (Arg == "--rigctld-address") {
      const char* V = Next();
      if (!V)
        UsageError("--rigctld-address needs an address");
      Sharing.Address = V;
    } else if (Arg == "--allow-ptt") {
      Sharing.AllowPTT = true;
    } else if (Arg == "--rigctld-host") {
      const char* V = Next();
      if (!V)
        UsageError("--rigctld-host needs HOST:PORT");
      RigctldHost = V;
    } else if (Arg == "--contacts") {
      const char* V = Next();
      if (!V)
        UsageError("--contacts needs [HOST:]PORT");
      ContactsListen = V;
    } else if (Arg == "--contacts-file") {
      const char* V = Next();
      if (!V || !*V)
        UsageError("--contacts-file needs a file name");
      ContactsFiles.push_back(std::filesystem::absolute(V).string());
    } else if (Arg == "--logbook-api") {
      const char* V = Next();
      std::string Error;
      if (!V || LogbookApiUrl(V, "radio", &Error).empty())
        UsageError("--logbook-api needs the logbook's address: " + (V ? Error : "(missing)"));
      Logbook.Url = V;
    } else if (Arg == "--api-key") {
      const char* V = Next();
      std::string Error;
      if (!V || !ValidApiKey(V, &Error))
        UsageError("--api-key: " + (V ? Error : "no API key"));
      Logbook.Key = V;
    } else if (Arg == "--api-key-file") {
      Logbook.Key = ReadKeyFile(Next());
    } else if (Arg == "--resend-refused") {
      ResendRefused = true;
    } else if (Arg == "--station-id") {
      Logbook.StationId = ParseNumber(Arg, Next());
      if (Logbook.StationId < 1)
        UsageError("--station-id needs a station number of 1 or more");
    } else if (Arg == "--radio-name") {
      const char* V = Next();
      if (!V || !*V || std::strlen(V) > 250)
        UsageError("--radio-name needs a name of 1 to 250 characters");
      Logbook.RadioName = V;
    } else if (Arg == "--tune-listen") {
      const char* V = Next();
      std::string Host, Error;
      std::uint16_t ListenPort = 0;
      if (!V || !ParseTuneListenAddress(V, Host, ListenPort, Error))
        UsageError("--tune-listen: " + (V ? Error : "needs [HOST:]PORT"));
      Logbook.TuneListen = V;
    } else if (Arg == "--logbook-kind") {
      const char* V = Next();
      const std::string Kind = V ? V : "";
      if (Kind != "auto" && LogbookKindFromText(Kind) == TLogbookKind::lkUnknown)
        UsageError("--logbook-kind needs auto, wavelog or cloudlog");
      Logbook.Kind = LogbookKindFromText(Kind);
    } else if (Arg == "--tune-origins") {
      const char* V = Next();
      if (!V)
        UsageError("--tune-origins needs web origins separated by blanks");
      Logbook.TuneOrigins = V;
    } else if (Arg == "--trace") {
      TraceOn = true;
    } else if (Arg == "--ini") {
      const char* V = Next();
      if (!V)
        UsageError("--ini needs a file name");
      IniPath = V;
    } else {
      UsageError("unknown option: " + Arg);
    }
  }
  // What was taken from log files is kept beside the settings file (a
  // private one goes at the end).
  const auto ContactsFolder = [&IniPath] {
    return std::filesystem::path(IniPath.empty()
                                     ? ChooseSettingsFile(CurrentSettingsLocationFacts())
                                     : std::filesystem::absolute(IniPath).string())
        .parent_path()
        .string();
  };
  if (RadioText.empty() && (!ContactsListen.empty() || !ContactsFiles.empty()))
    return RunContacts(argc, argv, ContactsListen, ContactsFiles, ContactsFolder(), TraceOn);
  if (RadioText.empty())
    UsageError("--radio is required");
  const std::optional<TRadioType> Known = RadioFromName(RadioText);
  if (!Known)
    UsageError("unknown radio: " + RadioText);
  const TRadioType Radio = *Known;
  const bool Network = Radio == rtRigctld;
  if (Network) {
    THostPort Address;
    std::string Error;
    if (RigctldHost.empty())
      RigctldHost = DefaultRigctldAddress;
    if (!ParseHostPort(RigctldHost, TRigctldCATInterface::DefaultPort, Address, Error))
      UsageError("--rigctld-host: " + Error);
  }
  if (!Network && Port < 1 && Device.empty())
    UsageError("--port N (N >= 1) or --device PATH is required");
  if (const std::string Conflict = SharingPortConflict(Sharing.Port, Radio, RigctldHost);
      Sharing.Enabled && !Conflict.empty())
    UsageError("--rigctld: " + Conflict);
  if (const char* Env = std::getenv("VELALOG_API_KEY"); Logbook.Key.empty() && Env && *Env) {
    std::string Error;
    if (!ValidApiKey(Env, &Error))
      UsageError("VELALOG_API_KEY: " + Error);
    Logbook.Key = Env;
  }
  if (!Logbook.Url.empty() && Logbook.Key.empty())
    UsageError("--logbook-api needs --api-key, --api-key-file or VELALOG_API_KEY");
  Logbook.Enabled = !Logbook.Url.empty() || !Logbook.TuneListen.empty();

  // A private folder for the settings file and, with --device, the port links.
  char Template[] = "/tmp/velalog-cat.XXXXXX";
  const char* PrivateDir = mkdtemp(Template);
  if (!PrivateDir) {
    std::perror("velalog-cat: mkdtemp");
    return 1;
  }
  if (!Device.empty()) {
    if (Port < 1)
      Port = 1;
    PortsDir = std::string(PrivateDir) + "/ports";
    std::filesystem::create_directories(PortsDir);
    LinkDevice(PortsDir, Port, Device);
    if (!VirtualDevice.empty()) {
      if (VirtualPort < 1)
        VirtualPort = Port + 1;
      LinkDevice(PortsDir, VirtualPort, VirtualDevice);
    }
  }
  TCustomComPort::SetPortsDir(
      PortsDir.empty() ? PortsFolderBeside(ChooseSettingsFile(CurrentSettingsLocationFacts()))
                       : std::filesystem::absolute(PortsDir).string());
  const std::string ContactsFilesFolder = ContactsFolder();
  const bool IniGiven = !IniPath.empty();
  if (!IniGiven)
    IniPath = std::string(PrivateDir) + "/VelaLog.ini";

  QCoreApplication App(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);

  int ExitCode = 0;
  {
    TVelaLogSettings Settings(nullptr, std::filesystem::absolute(IniPath).string());
    try {
      TSettingsBatch Batch(Settings);
      // The station makes the driver for the stored radio.
      Settings.setRadio(Radio);
      Settings.setIntCommPort(Port);
      Settings.setIntCommPort2(VirtualPort);
      Settings.setBlnComm2Enable(VirtualPort > 0);
      Settings.setBaudRate(Baud);
      if (Digi)
        Settings.setDigiMode(*Digi);
      if (CIVAddress)
        Settings.setIntCIVAddress(*CIVAddress);
      if (Transceive)
        Settings.setTransceive(*Transceive);
      if (DTR)
        Settings.setDTR(*DTR);
      if (RTS)
        Settings.setRTS(*RTS);
      if (Network)
        Settings.setStrRigctldAddress(RigctldHost);
      // The driver releases a transmitter left keyed at start when clients
      // may key it.
      if (Sharing.Enabled) {
        Settings.setBlnShareEnabled(true);
        Settings.setBlnShareAllowPTT(Sharing.AllowPTT);
      }
    } catch (const std::exception& E) {
      std::cerr << "velalog-cat: " << E.what() << "\n";
      return 1;
    }
    TReporter Reporter;
    Reporter.Exact = Exact;
    Reporter.Hex = FindRadioModel(Radio) && FindRadioModel(Radio)->Binary;
    // The web logbook's contact queue lies beside the settings file given,
    // else in the program's settings folder (a private file goes).
    const std::string Beside = IniGiven ? std::filesystem::absolute(IniPath).string()
                                        : ChooseSettingsFile(CurrentSettingsLocationFacts());
    auto Station = std::make_unique<TStation>(Settings, Beside);
    // Set once the driver is gone: the input reader's late requests are dropped.
    bool Closing = false;
    auto Driver = [&Station] { return Station->CAT(); };
    Station->AddRxConsumer([&](const TRadioValue& Value) { Reporter.RxData(*Driver(), Value); });
    // The worker tells its first states from the message loop, after this.
    Station->AddChangeConsumer([&] { Reporter.LinkChange(*Driver()); });
    if (TraceOn)
      Station->setOnTrace(MakeMethod(&Reporter, &TReporter::Trace));
    std::string Failure;
    Station->AddFailureConsumer([&](TStationPart Part, const std::string& Reason) {
      Failure = (Part == spSharing ? "cannot share the radio: " : "cannot serve click-to-tune: ") +
                Reason;
    });
    auto Fail = [&] {
      std::cerr << "velalog-cat: " << Failure << "\n";
      Station.reset();
      std::error_code Ignored;
      std::filesystem::remove_all(PrivateDir, Ignored);
      return 1;
    };

    // The sharing server (the logbook's API comes once its handlers stand).
    TStationOptions Options = TStationOptions::FromSettings(Settings);
    Options.Sharing = Sharing;
    Options.Logbook = Logbook;
    // Contacts come from --contacts alone, never from a settings file given.
    Options.ContactsEnabled = false;
    Station->Apply(Options);
    if (!Failure.empty())
      return Fail();
    if (Sharing.Enabled)
      std::cout << "rigctld\t" << Sharing.Address << '\t' << Station->Sharing().Server().Port()
                << std::endl;
    TContactMonitor Contacts(std::cout, std::cerr);
    Contacts.setTrace(TraceOn);
    if (!ContactsListen.empty() && !Contacts.Start(ContactsListen)) {
      Station.reset();
      std::error_code Ignored;
      std::filesystem::remove_all(PrivateDir, Ignored);
      return 1;
    }
    if (!ContactsFiles.empty())
      Contacts.FollowFiles(ContactsFiles, ContactsFilesFolder);
    // The contacts of --contacts go to the logbook too, and the digital-mode
    // program's mode names a data mode there.
    Station->AddContactSource(Contacts.Listener());

    if (Logbook.Enabled) {
      std::error_code Ignored;
      std::filesystem::create_directories(std::filesystem::path(Beside).parent_path(), Ignored);
      TLogbookApi& LogbookApi = Station->Logbook();
      LogbookApi.setOnOutcome([&Reporter](const std::string& Call, const TApiReply& Reply) {
        Reporter.Note("# logbook " + Call + " " +
                      (Reply.Status ? std::to_string(Reply.Status) : std::string("-")) +
                      (Reply.Ok() ? "" : " " + ApiOutcomeWords(Reply)));
      });
      LogbookApi.setOnTune([&Reporter](int Status, std::int64_t Hz, const std::string& Mode) {
        Reporter.Note("# logbook tune " + std::to_string(Status) + " " + std::to_string(Hz) +
                      (Mode.empty() ? "" : " " + Mode));
      });
      LogbookApi.Commands().setOnReport([&Reporter](const TCommandReport& Report) {
        Reporter.Note("# logbook command " + std::to_string(Report.Id) + " " + Report.Status +
                      (Report.Why.empty() || Report.Status != "FAILED" ? "" : " " + Report.Why));
      });
      LogbookApi.Outbox().setOnSetAside([&Reporter](const std::string& Words) {
        Reporter.Note("# logbook set aside: " + Words);
      });
      if (ResendRefused) {
        std::string Error;
        const std::size_t Queued = LogbookApi.ResendRefused(&Error);
        Reporter.Note("# logbook resent " + std::to_string(Queued) + " set aside" +
                      (Error.empty() ? "" : " — " + Error));
      }
      Options.LogbookKeyKnown = true;
      Station->ApplyLogbook(Options);
      if (!Failure.empty())
        return Fail();
      if (LogbookApi.Listener().Listening())
        std::cout << "tune\t" << LogbookApi.Listener().Address() << '\t'
                  << LogbookApi.Listener().Port() << std::endl;
    }

    // Standard input is read on its own thread; each command runs on the main
    // thread through a synchronised call, like every other driver operation.
    std::thread Reader([&] {
      std::string Line;
      while (std::getline(std::cin, Line)) {
        std::istringstream Words(Line);
        std::string Command, Frequency, Mode;
        Words >> Command >> Frequency >> Mode;
        std::int64_t Hz = 0;
        const bool HzOk = Command == "tune-hz" && TryDigitsToInt(Frequency, 12, Hz);
        bool Quit = false;
        TThread::Synchronize([&] {
          if (Closing)
            return;
          TCATInterface* Driver = Station->CAT();
          if (Command == "tune")
            Driver->TuneRadio(Frequency, Mode);
          else if (Command == "tune-hz") {
            if (!HzOk || !Driver->TuneHz(Hz))
              std::cerr << "velalog-cat: the radio cannot take " << Frequency << " Hz\n";
          } else if (Command == "tune-mode") {
            if (!Driver->TuneNativeMode(Frequency))
              std::cerr << "velalog-cat: the radio cannot take mode " << Frequency << "\n";
          } else if (Command == "reset")
            Driver->ResetCAT();
          else if (Command == "quit")
            Quit = true;
          else if (!Command.empty())
            std::cerr << "velalog-cat: unknown command: " << Command << "\n";
        });
        if (Quit)
          break;
      }
      TThread::Synchronize([] { QCoreApplication::quit(); });
    });
    Reader.detach();

    // SIGTERM, SIGINT and SIGHUP end the program the polite way: the sharing
    // server and the driver release a keyed transmitter on the line first.
    TShutdownSignals Signals([](int) { QCoreApplication::quit(); });
    ExitCode = App.exec();
    // Sharing and serving stop before the driver goes: a keyed transmitter
    // is released through it.
    Closing = true;
    Station.reset();
  }
  std::error_code Ignored;
  std::filesystem::remove_all(PrivateDir, Ignored);
  // The reader thread may still block on standard input; leave without
  // running static destructors under it.
  std::cout.flush();
  std::_Exit(ExitCode);
}
