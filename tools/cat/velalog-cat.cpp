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
#include "cat/untCATinterface.h"
#include "contacts/untContactMonitor.h"
#include "platform/untPaths.h"
#include "platform/untShutdownSignals.h"
#include "platform/untStrToInt.h"
#include "platform/untThread.h"
#include "settings/untVelaLogSettings.h"
#include "station/untStation.h"
#include "tools/cat/untCatOptions.h"
#include "tools/cat/untCatReporter.h"

using namespace vela;

namespace {

// --contacts or --contacts-file without a radio: the contact listener
// alone, until a signal.
int RunContacts(int argc, char** argv, const TCatOptions& Cat) {
  QCoreApplication App(argc, argv);
  TContactMonitor Contacts(std::cout, std::cerr);
  Contacts.setTrace(Cat.Trace);
  if (!Cat.ContactsListen.empty() && !Contacts.Start(Cat.ContactsListen))
    return 1;
  // What was taken from log files is kept beside the settings file.
  Contacts.FollowFiles(Cat.ContactsFiles,
                       std::filesystem::path(Cat.SettingsFile()).parent_path().string());
  TShutdownSignals Signals([](int) { QCoreApplication::quit(); });
  return App.exec();
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
    auto Driver = [&Station] { return Station->CAT(); };
    Station->AddRxConsumer([&](const TRadioValue& Value) { Reporter.RxData(*Driver(), Value); });
    // The worker tells its first states from the message loop, after this.
    Station->AddChangeConsumer([&] { Reporter.LinkChange(*Driver()); });
    if (Cat.Trace)
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
    TStationOptions& Options = Cat.Station;
    Station->Apply(Options);
    if (!Failure.empty())
      return Fail();
    if (Options.Sharing.Enabled)
      std::cout << "rigctld\t" << Options.Sharing.Address << '\t'
                << Station->Sharing().Server().Port() << std::endl;
    TContactMonitor Contacts(std::cout, std::cerr);
    Contacts.setTrace(Cat.Trace);
    if (!Cat.ContactsListen.empty() && !Contacts.Start(Cat.ContactsListen)) {
      Station.reset();
      std::error_code Ignored;
      std::filesystem::remove_all(PrivateDir, Ignored);
      return 1;
    }
    if (!Cat.ContactsFiles.empty())
      Contacts.FollowFiles(Cat.ContactsFiles, std::filesystem::path(Beside).parent_path().string());
    // The contacts of --contacts go to the logbook too, and the digital-mode
    // program's mode names a data mode there.
    Station->AddContactSource(Contacts.Listener());

    if (Options.Logbook.Enabled) {
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
      if (Cat.ResendRefused) {
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
