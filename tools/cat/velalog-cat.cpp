// velalog-cat: the CAT engine without a window.
//
// Runs the program's own settings store (on a private INI file), radio driver
// and port worker, prints one line per receive event and takes tune, reset
// and quit commands on standard input. Operators use it to check a CAT set-up;
// tests and benchmarks use it to drive the engine.
#include <QCoreApplication>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <libintl.h>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "cat/radios/untRadioTable.h"
#include "contacts/untContactListener.h"
#include "logbook/untLogbookKeySource.h"
#include "platform/untPaths.h"
#include "platform/untShutdownSignals.h"
#include "platform/untStrToInt.h"
#include "platform/untThread.h"
#include "settings/untSettingsLock.h"
#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"
#include "tools/cat/untCatContacts.h"
#include "tools/cat/untCatOptions.h"
#include "tools/cat/untCatReporter.h"

using namespace vela;

namespace {

// One copy at a time on a settings file that velalog-cat writes, or beside
// which it keeps the logbook's queue or what it took from log files.
bool TakeSettingsLock(const TCatOptions& Cat, TSettingsLock& Lock) {
  const std::string File = Cat.SettingsFile();
  if (const std::string Problem = TSettingsLock::FileProblem(File); !Problem.empty())
    std::cerr << "velalog-cat: " << Problem << "\n";
  const bool Writes = !Cat.IniPath.empty() || Cat.Station.Logbook.Enabled ||
                      Cat.Station.ContactsEnabled || !Cat.ContactsFiles.empty();
  std::string InUse;
  if (!Writes || File.empty() || Lock.Take(File, "velalog-cat", InUse))
    return true;
  std::cerr << "velalog-cat: " << InUse << "\n";
  return false;
}

// --contacts or --contacts-file without a radio: a contact listener alone,
// until a signal.
int RunContacts(int argc, char** argv, const TCatOptions& Cat) {
  TSettingsLock Lock;
  if (!TakeSettingsLock(Cat, Lock))
    return 1;
  QCoreApplication App(argc, argv);
  TContactListener Listener;
  TCatContacts Contacts([&Listener] { return Listener.Report(); }, std::cout, std::cerr);
  Contacts.setTrace(Cat.Trace);
  Listener.AddContactConsumer(
      [&Contacts](const TContact& Contact, const std::string&) { Contacts.Contact(Contact); });
  Listener.setOnChange(MakeMethod(&Contacts, &TCatContacts::ListenerChange));
  if (!Cat.ContactsListen.empty()) {
    Listener.Start(Cat.ContactsListen);
    if (!Contacts.ShowListening())
      return 1;
  }
  // What was taken from log files is kept beside the settings file.
  Listener.FollowFiles(Cat.ContactsFiles,
                       std::filesystem::path(Cat.SettingsFile()).parent_path().string());
  Contacts.ShowFiles();
  TShutdownSignals Signals([](int) { QCoreApplication::quit(); });
  const int Code = App.exec();
  // A contact still waiting for its ADIF is printed now.
  Listener.DeliverHeld();
  Listener.setOnChange(TListenerChangeEvent());
  return Code;
}

} // namespace

int main(int argc, char** argv) {
  TShutdownSignals::Install();
  // The program's own texts (a settings file that refuses writes) in the
  // user's language where a catalogue has them.
  std::setlocale(LC_ALL, "");
  BindCatalogue("velalog");
  textdomain("velalog");
  TCatOptions Cat;
  // A private folder for the settings file and, with --device, the port links.
  char Template[] = "/tmp/velalog-cat.XXXXXX";
  const char* PrivateDir = nullptr;
  try {
    const TCatRun Run = ParseCatOptions(argc, argv, Cat);
    if (Run == TCatRun::crPrinted)
      return 0;
    if (Run == TCatRun::crContacts)
      return RunContacts(argc, argv, Cat);
    PrivateDir = mkdtemp(Template);
    if (!PrivateDir) {
      std::perror("velalog-cat: mkdtemp");
      return 1;
    }
    PrepareCatPorts(Cat, PrivateDir);
  } catch (const ECatUsage& E) {
    std::cerr << "velalog-cat: " << E.what()
              << "\nTry 'velalog-cat --help' for more information.\n";
    return 2;
  }
  // What was taken from log files is kept beside the settings file given,
  // else in the program's settings folder, as the web logbook's contact queue.
  const std::string Beside = Cat.SettingsFile();
  const std::string IniPath =
      Cat.IniPath.empty() ? std::string(PrivateDir) + "/VelaLog.ini" : Cat.IniPath;
  TSettingsLock Lock;
  if (!TakeSettingsLock(Cat, Lock)) {
    std::error_code Ignored;
    std::filesystem::remove_all(PrivateDir, Ignored);
    return 1;
  }

  QCoreApplication App(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);

  int ExitCode = 0;
  {
    TVelaLogSettings Settings(nullptr, std::filesystem::absolute(IniPath).string());
    try {
      // The station makes the driver for the stored radio.
      StoreCatOptions(Cat, Settings);
    } catch (const std::exception& E) {
      std::cerr << "velalog-cat: " << E.what() << "\n";
      return 1;
    }
    TReporter Reporter;
    Reporter.Exact = Cat.Exact;
    const TRadioModel* Model = FindRadioModel(Cat.Station.Radio);
    Reporter.Hex = Model && Model->Binary;
    auto Station = std::make_unique<TStation>(Settings, Beside);
    // Set once the driver is gone: the input reader's late requests are dropped.
    bool Closing = false;
    Station->AddRxConsumer(
        [&](const TRadioValue& Value) { Reporter.RxData(Station->Links(), Value); });
    // The worker tells its first states from the message loop, after this.
    Station->AddChangeConsumer([&] { Reporter.LinkChange(Station->Links()); });
    if (Cat.Trace)
      Station->setOnTrace(MakeMethod(&Reporter, &TReporter::Trace));
    // A file that refuses a write (a full disk, a read-only folder) is said
    // at once with the file and the reason, and again once written.
    std::string WriteProblem;
    Station->AddChangeConsumer([&] {
      const std::string Now = Station->WriteProblems();
      if (Now == WriteProblem)
        return;
      Reporter.Note("velalog-cat: " +
                    (Now.empty() ? "written again (was: " + WriteProblem + ")" : Now));
      WriteProblem = Now;
    });
    std::string Failure;
    Station->AddFailureConsumer([&](TStationPart Part, const std::string& Reason) {
      Failure =
          (Part == spSharing ? "cannot share the radio: " : "cannot serve the logbook's pages: ") +
          Reason;
    });
    // Each server's address once it listens ("rigctld", "tune", "live"); one
    // whose address is taken says so on standard error, and prints its line
    // when it is up.
    struct TShown {
      bool Up = false;
      std::string Waiting;
    };
    TShown Rigctld, Tune, Live;
    auto Show = [&Reporter](TShown& Shown, const char* Name, bool Listening,
                            const std::string& Address, std::uint16_t Port,
                            const std::string& Why) {
      if (Listening && !Shown.Up) {
        Shown.Up = true;
        std::cout << Name << '\t' << Address << '\t' << Port << std::endl;
      } else if (!Listening && !Why.empty() && Why != Shown.Waiting) {
        Shown.Waiting = Why;
        Reporter.Note(std::string("# ") + Name + " waiting: " + Why);
      }
    };
    bool ShowLogbook = false;
    auto ShowListeners = [&] {
      auto ShowServer = [&](TShown& Shown, const char* Name, TStationServer Which) {
        const TServerState State = Station->Server(Which);
        Show(Shown, Name, State.Listening, State.Host, State.Port, State.Why);
      };
      if (Cat.Station.Sharing.Enabled)
        ShowServer(Rigctld, "rigctld", TStationServer::Sharing);
      if (!ShowLogbook)
        return;
      ShowServer(Tune, "tune", TStationServer::Tune);
      ShowServer(Live, "live", TStationServer::Live);
    };
    Station->AddChangeConsumer([&] { ShowListeners(); });
    auto Fail = [&] {
      std::cerr << "velalog-cat: " << Failure << "\n";
      Station.reset();
      std::error_code Ignored;
      std::filesystem::remove_all(PrivateDir, Ignored);
      return 1;
    };

    Station->AddLogbookConsumer(
        [&Reporter](const TLogbookWords& Outcome) { Reporter.Note("# logbook " + Outcome.Text); });
    // The key given on the command line, in the environment or a file.
    TStationOptions& Options = Cat.Station;
    TFixedLogbookKey LogbookKey(Options.Logbook.Key);
    Station->setLogbookKeySource(&LogbookKey);
    if (Options.Logbook.Enabled) {
      std::error_code Ignored;
      std::filesystem::create_directories(std::filesystem::path(Beside).parent_path(), Ignored);
    }
    // The station's own contact listener, journal and held-contact file;
    // its contacts are printed as they reach the station's consumers (after
    // the journal and the logbook's queue took them).
    Options.ContactsEnabled = !Cat.ContactsListen.empty() || !Cat.ContactsFiles.empty();
    Options.ContactsListen = Cat.ContactsListen;
    Options.ContactsLogFiles = Cat.ContactsFiles;
    TCatContacts Contacts([&Station] { return Station->ContactsReport(); }, std::cout, std::cerr);
    Contacts.setTrace(Cat.Trace);
    Station->AddContactConsumer(
        [&Contacts](const TContact& Contact, const std::string&) { Contacts.Contact(Contact); });
    Station->AddChangeConsumer([&Contacts] { Contacts.ListenerChange(); });
    Station->Apply(Options);
    if (const std::string& Refusal = Station->SharingRefusal(); !Refusal.empty()) {
      std::cerr << "velalog-cat: --rigctld: " << Refusal << "\n";
      Station.reset();
      std::error_code Ignored;
      std::filesystem::remove_all(PrivateDir, Ignored);
      return 2;
    }
    if (!Failure.empty())
      return Fail();
    ShowListeners();
    if (!Cat.ContactsListen.empty() && !Contacts.ShowListening()) {
      Station.reset();
      std::error_code Ignored;
      std::filesystem::remove_all(PrivateDir, Ignored);
      return 1;
    }
    Contacts.ShowFiles();

    if (Options.Logbook.Enabled) {
      if (Cat.ResendRefused)
        Station->ResendRefused(Cat.FixStationCallsign, [&Reporter](const std::string& Words) {
          Reporter.Note("# logbook resent: " + Words);
        });
      ShowLogbook = true;
      ShowListeners();
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
          if (Command == "tune")
            Station->TuneFromPage(Frequency, Mode, false, false);
          else if (Command == "tune-hz") {
            if (!HzOk || !Station->TuneHz(Hz))
              std::cerr << "velalog-cat: the radio cannot take " << Frequency << " Hz\n";
          } else if (Command == "tune-mode") {
            if (!Station->TuneMode(Frequency))
              std::cerr << "velalog-cat: the radio cannot take mode " << Frequency << "\n";
          } else if (Command == "reset")
            Station->ResetRadio();
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
    // A contact still waiting for its ADIF goes to the journal and the
    // logbook's queue, and is printed, while the printing consumers stand.
    Station->DeliverHeldContacts();
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
