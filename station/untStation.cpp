#include "station/untStation.h"

#include <filesystem>
#include <utility>

#include "cat/radios/untRadioFactory.h"
#include "cat/radios/untRadioTable.h"
#include "contacts/untContactJournal.h"
#include "contacts/untContactListener.h"
#include "logbook/untLogbookRadio.h"
#include "net/untSharingPortCheck.h"

namespace vela {

TStationOptions TStationOptions::FromSettings(const TVelaLogSettings& Settings) {
  TStationOptions Options;
  Options.Radio = Settings.Radio();
  Options.ComPort = Settings.intCommPort();
  Options.ComPort2 = Settings.intCommPort2();
  Options.Com2Enable = Settings.blnComm2Enable();
  Options.BaudRate = Settings.BaudRate();
  Options.Sharing = TSharingOptions::FromSettings(Settings);
  Options.ContactsEnabled = Settings.blnContactsEnabled();
  Options.ContactsListen = Settings.strContactsListen();
  Options.ContactsInterface = Settings.strContactsInterface();
  Options.ContactsLogFiles = Settings.ContactsLogFiles();
  Options.ContactsJs8CallTcp = Settings.strContactsJs8CallTcp();
  Options.Logbook = TLogbookOptions::FromSettings(Settings);
  return Options;
}

TStation::TStation(TVelaLogSettings& ASettings, const std::string& BesideFile)
    : FSettings(ASettings), FBesideFile(BesideFile) {
  try {
    CreateCAT(FSettings.Radio());
  } catch (...) {
    if (!FCAT)
      throw;
    FCreateError = std::current_exception();
  }
  FSharing = std::make_unique<TRadioSharing>([this] { return CAT(); });
  FSharing->Server().setOnKeyedChange(MakeMethod(this, &TStation::KeyedChange));
  FSharing->setOnListening([this] { Changed(); });
  FLogbook = std::make_unique<TLogbookApi>(
      std::make_unique<TDriverLogbookRadio>([this] { return CAT(); }, &FSettings),
      OutboxFileBeside(FBesideFile));
  FLogbook->setOnChange(MakeMethod(this, &TStation::LinkChange));
  FListener = std::make_unique<TContactListener>();
  FListener->setOnChange(MakeMethod(this, &TStation::LinkChange));
  AddContactSource(*FListener);
}

TStation::~TStation() {
  FConsumers.Clear();
  // A contact still waiting for its ADIF is the journal's and the logbook's
  // now: the program is ending.
  FListener->DeliverHeld();
  FListener->setOnChange(TListenerChangeEvent());
  FListener->Stop();
  // Before the driver goes: a transmitter keyed by a network client is
  // released through it.
  FSharing->Server().setOnKeyedChange(TKeyedEvent());
  FSharing.reset();
  FLogbook->setOnChange(TLogbookChangeEvent());
  FLogbook.reset();
  FreeCAT();
}

std::exception_ptr TStation::TakeCreateError() {
  return std::exchange(FCreateError, nullptr);
}

void TStation::CreateCAT(TRadioType Radio) {
  // Every type beyond the list gets the IC-7300's driver, which records its
  // own type.
  if (!FindRadioModel(Radio))
    Radio = rtIC7300;
  FCAT = CreateRadioDriver(Radio, this, &FSettings);
  FCAT->setOnRxData(MakeMethod(this, &TStation::RxData));
  FCAT->setOnLinkChange(MakeMethod(this, &TStation::LinkChange));
  if (FOnTrace.Assigned())
    FCAT->setOnTrace(FOnTrace);
  // The driver stands even when the store refused its radio type; the
  // failure still reaches the operator.
  if (std::exception_ptr Failure = FCAT->TakeCreateError())
    std::rethrow_exception(Failure);
}

void TStation::FreeCAT() {
  if (!FCAT)
    return;
  FCAT->setOnRxData(TRxDataEvent());
  FCAT->setOnLinkChange(TLinkChangeEvent());
  // The trace stays: the release written while the worker stops shows too.
  FCAT.reset(); // stops the driver's worker, releasing a keyed transmitter
}

void TStation::setOnTrace(const TTraceEvent& Value) {
  FOnTrace = Value;
  if (FCAT)
    FCAT->setOnTrace(Value);
}

void TStation::Apply(const TStationOptions& Options) {
  ApplyRadio(Options);
  ApplySharing(Options);
  ApplyContacts(Options);
  ApplyLogbook(Options);
  // Contacts a previous run held for their ADIF when it ended are taken
  // once the journal and the logbook's queue are there.
  if (FJournal)
    FListener->KeepHeldIn(TContactJournal::HeldPathBeside(FBesideFile));
}

void TStation::ApplyRadio(const TStationOptions& Options) {
  const TRadioType Radio = FindRadioModel(Options.Radio) ? Options.Radio : rtIC7300;
  const bool PortsChanged =
      Options.ComPort != FSettings.intCommPort() || Options.ComPort2 != FSettings.intCommPort2() ||
      Options.Com2Enable != FSettings.blnComm2Enable() || Options.BaudRate != FSettings.BaudRate();
  if (!FCAT || FCAT->Radio() != Radio) {
    // The old driver's worker stops (releasing a keyed transmitter) before
    // the new one opens the port.
    FreeCAT();
    // Stored first, so that the new driver's worker starts on them: the old
    // port is not opened again (with its lines driven) only to be left.
    if (PortsChanged) {
      FSettings.setIntCommPort(Options.ComPort);
      FSettings.setIntCommPort2(Options.ComPort2);
      FSettings.setBlnComm2Enable(Options.Com2Enable);
      FSettings.setBaudRate(Options.BaudRate);
    }
    CreateCAT(Radio);
  } else if (PortsChanged) {
    // Restarts with the station options too.
    FCAT->ApplyPortSettings(Options.ComPort, Options.ComPort2, Options.Com2Enable,
                            Options.BaudRate);
  } else if (Options.RestartRadio) {
    FCAT->ResetCAT();
  } else {
    // Options the driver reads at each command (transceive) take effect at
    // once, also while its worker idles on the driver's word.
    FCAT->OptionsChanged();
  }
}

void TStation::ApplySharing(const TStationOptions& Options) {
  // Sharing on the rigctld radio's own port starts no server: it would fail
  // to listen, or the radio would poll the server.
  TSharingOptions Sharing = Options.Sharing;
  const std::string Conflict =
      Sharing.Enabled
          ? SharingPortConflict(Sharing.Port, FSettings.Radio(), FSettings.strRigctldAddress())
          : std::string();
  Sharing.Enabled = Sharing.Enabled && Conflict.empty();
  if (FSharing->Apply(Sharing) && Conflict.empty())
    return;
  Failed(spSharing, Conflict.empty() ? FSharing->ErrorText() : Conflict);
}

void TStation::ApplyContacts(const TStationOptions& Options) {
  const bool Enabled = Options.ContactsEnabled;
  // The interface is part of where it listens: a change restarts it.
  const std::string Listen = Options.ContactsListen + "\n" + Options.ContactsInterface;
  if (Enabled && !FJournal) {
    FJournal = std::make_unique<TContactJournal>(TContactJournal::PathBeside(FBesideFile));
    FJournal->setOnChange([this] { Changed(); });
    FJournal->Open();
  }
  if (Enabled != FContactsEnabled || Listen != FContactsListening ||
      (Enabled && !FListener->Listening())) {
    FContactsEnabled = Enabled;
    FContactsListening = Listen;
    FListener->setInterface(Options.ContactsInterface);
    if (Enabled)
      FListener->Start(Options.ContactsListen);
    else
      FListener->Stop();
  }
  // Log files are followed beside the socket, and on even where the port
  // cannot be had; what was taken from them is kept beside the settings.
  const std::string Folder = std::filesystem::path(FBesideFile).parent_path().string();
  FListener->FollowFiles(Enabled ? Options.ContactsLogFiles : std::vector<std::string>(),
                         Folder.empty() ? "." : Folder);
  FListener->ConnectApi(Enabled ? Options.ContactsJs8CallTcp : std::string());
}

void TStation::setLogbookKey(const std::string& Key) {
  FLogbookKey = Key;
  FLogbookKeyKnown = true;
}

void TStation::ApplyLogbook(const TStationOptions& Options) {
  if (!Options.LogbookKeyKnown && !FLogbookKeyKnown)
    return;
  TLogbookOptions Logbook = Options.Logbook;
  if (!Options.LogbookKeyKnown)
    Logbook.Key = FLogbookKey;
  if (!FLogbook->Apply(Logbook))
    Failed(spLogbook, FLogbook->ErrorText());
  Changed();
}

void TStation::AddContactSource(TContactListener& Source) {
  Source.AddContactConsumer([this](const TContact& Contact, const std::string& Record) {
    ContactReceived(Contact, Record);
  });
  // The digital-mode program's mode names the radio's data mode in the logbook.
  Source.AddStatusConsumer(
      [this](const TStatusReport& Status) { FLogbook->NoteDigitalMode(Status.Mode); });
}

void TStation::ContactReceived(const TContact& Contact, const std::string& Record) {
  // The form queue first: a contact the logbook takes is still the form's.
  if (FJournal)
    FJournal->Add(Contact);
  FLogbook->Enqueue(Record);
  FConsumers.Call<TStationContactConsumer>(Contact, Record);
  Changed();
}

std::string TStation::ContactsStatusText() const {
  if (!FContactsEnabled)
    return {};
  std::string Text = "contacts ";
  Text += FListener->Listening() ? FListener->Address() : FListener->ErrorText();
  if (const std::size_t Files = FListener->Followers().size(); Files > 0)
    Text += " \u00b7 " + std::to_string(Files) + " log file" + (Files == 1 ? "" : "s");
  if (const std::string Problem = FListener->FilesProblem(); !Problem.empty())
    Text += " \u00b7 " + Problem;
  if (FJournal && FJournal->Waiting() > 0)
    Text += " \u00b7 " + std::to_string(FJournal->Waiting()) + " waiting";
  if (FJournal && FJournal->NotKept() > 0)
    Text += " \u00b7 " + std::to_string(FJournal->NotKept()) + " not kept";
  if (FListener->Unreadable() > 0)
    Text += " \u00b7 " + std::to_string(FListener->Unreadable()) +
            " unreadable (last: " + FListener->Problem() + ")";
  if (FListener->Counts().Dropped > 0)
    Text += " \u00b7 " + std::to_string(FListener->Counts().Dropped) +
            " datagrams dropped by the system (a burst beyond the socket's buffer)";
  if (FListener->Counts().Refused > 0)
    Text += " \u00b7 " + std::to_string(FListener->Counts().Refused) +
            " refused (last: " + FListener->RefusedWhy() + ")";
  if (FJournal && !FJournal->ErrorText().empty())
    Text += " \u00b7 " + FJournal->ErrorText();
  if (!FListener->HeldProblem().empty())
    Text += " \u00b7 " + FListener->HeldProblem();
  return Text;
}

void TStation::RxData(TObject*, const TRadioValue& Value) {
  // The logbook's pages follow the radio as it reports.
  FLogbook->RadioChanged();
  FConsumers.Call<TStationRxConsumer>(Value);
}

void TStation::LinkChange(TObject*) {
  Changed();
}

void TStation::KeyedChange(TObject*, bool) {
  Changed();
}

void TStation::Changed() {
  FConsumers.Call<TStationChangeConsumer>();
}

void TStation::Failed(TStationPart Part, const std::string& Reason) {
  FConsumers.Call<TStationFailureConsumer>(Part, Reason);
}

} // namespace vela
