#include "station/untStation.h"

#include <filesystem>
#include <utility>

#include "cat/radios/untRadioFactory.h"
#include "cat/radios/untRadioTable.h"
#include "contacts/untContactJournal.h"
#include "contacts/untContactListener.h"
#include "logbook/untLogbookKeySource.h"
#include "logbook/untLogbookRadio.h"
#include "sharing/untSharingPortCheck.h"
#include "station/untStatusWords.h"

namespace vela {

TStationOptions TStationOptions::FromSettings(const TVelaLogSettings& Settings) {
  TStationOptions Options;
  Options.Radio = Settings.Radio();
  Options.ComPort = Settings.intCommPort();
  Options.ComPort2 = Settings.intCommPort2();
  Options.Com2Enable = Settings.blnComm2Enable();
  Options.BaudRate = Settings.BaudRate();
  Options.RigctldAddress = Settings.strRigctldAddress();
  Options.Sharing = TSharingOptions::FromSettings(Settings);
  Options.ContactsEnabled = Settings.blnContactsEnabled();
  Options.ContactsListen = Settings.strContactsListen();
  Options.ContactsInterface = Settings.strContactsInterface();
  Options.ContactsLogFiles = Settings.ContactsLogFiles();
  Options.ContactsJs8CallTcp = Settings.strContactsJs8CallTcp();
  Options.Logbook = TLogbookOptions::FromSettings(Settings);
  return Options;
}

std::string SharingRefusal(const TStationOptions& Options) {
  // Sharing on the rigctld radio's own port starts no server: it would fail
  // to listen, or the radio would poll the server.
  return Options.Sharing.Enabled
             ? SharingPortConflict(Options.Sharing.Port, Options.Radio, Options.RigctldAddress)
             : std::string();
}

namespace {

// Every type beyond the list gets the IC-7300's driver, which records its
// own type.
TRadioType ServedRadio(TRadioType Radio) {
  return FindRadioModel(Radio) ? Radio : rtIC7300;
}

} // namespace

TStation::TRadioPart TStation::RadioPartOf(const TStationOptions& Options) {
  TRadioPart Part;
  Part.Radio = ServedRadio(Options.Radio);
  Part.ComPort = Options.ComPort;
  Part.ComPort2 = Options.ComPort2;
  Part.Com2Enable = Options.Com2Enable;
  Part.BaudRate = Options.BaudRate;
  // Only the rigctld radio reads its daemon's address.
  if (Part.Radio == rtRigctld)
    Part.RigctldAddress = Options.RigctldAddress;
  return Part;
}

TStation::TContactsPart TStation::ContactsPartOf(const TStationOptions& Options) {
  TContactsPart Part;
  Part.Enabled = Options.ContactsEnabled;
  if (!Part.Enabled)
    return Part;
  Part.Listen = Options.ContactsListen;
  Part.Interface = Options.ContactsInterface;
  Part.Js8CallTcp = Options.ContactsJs8CallTcp;
  Part.LogFiles = Options.ContactsLogFiles;
  return Part;
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
  // The driver runs as the store says: that is what is applied so far.
  TStationOptions Stored;
  Stored.Radio = FCAT->Radio();
  Stored.ComPort = FSettings.intCommPort();
  Stored.ComPort2 = FSettings.intCommPort2();
  Stored.Com2Enable = FSettings.blnComm2Enable();
  Stored.BaudRate = FSettings.BaudRate();
  Stored.RigctldAddress = FSettings.strRigctldAddress();
  FAppliedRadio = RadioPartOf(Stored);

  FSharing = std::make_unique<TRadioSharing>([this] { return FCAT.get(); });
  FSharing->Server().setOnKeyedChange(MakeMethod(this, &TStation::KeyedChange));
  FSharing->setOnListening([this] { Changed(); });
  FLogbook = std::make_unique<TLogbookApi>(
      std::make_unique<TDriverLogbookRadio>([this] { return FCAT.get(); }, &FSettings),
      OutboxFileBeside(FBesideFile));
  FLogbook->setOnChange(MakeMethod(this, &TStation::LinkChange));
  FLogbook->setOnOutcome([this](const std::string& Call, const TApiReply& Reply) {
    LogbookWords(Call + " " + (Reply.Status ? std::to_string(Reply.Status) : std::string("-")) +
                 (Reply.Ok() ? "" : " " + ApiOutcomeWords(Reply)));
  });
  FLogbook->setOnTune([this](int Status, std::int64_t Hz, const std::string& Mode) {
    LogbookWords("tune " + std::to_string(Status) + " " + std::to_string(Hz) +
                 (Mode.empty() ? "" : " " + Mode));
  });
  FLogbook->Commands().setOnReport([this](const TCommandReport& Report) {
    LogbookWords("command " + std::to_string(Report.Id) + " " + Report.Status +
                 (Report.Why.empty() || Report.Status != "FAILED" ? "" : " " + Report.Why));
  });
  FLogbook->Outbox().setOnSetAside(
      [this](const std::string& Words) { LogbookWords("set aside: " + Words); });
  // What the logbook settled without a refusal ("DL1ABC was already in the log").
  FLogbook->Outbox().setOnNote([this](const std::string& Words) { LogbookWords(": " + Words); });
  FListener = std::make_unique<TContactListener>();
  FListener->setOnChange(MakeMethod(this, &TStation::LinkChange));
  AddContactSource(*FListener);
}

TStation::~TStation() {
  FConsumers.Clear();
  FKeySource = nullptr;
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
  FCAT = CreateRadioDriver(ServedRadio(Radio), this, &FSettings);
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

TStationRestarts TStation::Apply(const TStationOptions& Options) {
  TStationRestarts Restarts;
  Restarts.Radio = ApplyRadio(Options);
  Restarts.Sharing = ApplySharing(Options);
  Restarts.Contacts = ApplyContacts(Options);
  FWantedLogbook = Options.Logbook;
  Restarts.Logbook = ApplyLogbook();
  // Contacts a previous run held for their ADIF when it ended are taken
  // once the journal and the logbook's queue are there.
  if (FJournal)
    FListener->KeepHeldIn(TContactJournal::HeldPathBeside(FBesideFile));
  return Restarts;
}

bool TStation::ApplyRadio(const TStationOptions& Options) {
  const TRadioPart Wanted = RadioPartOf(Options);
  if (FCAT && Wanted == FAppliedRadio && !Options.RestartRadio) {
    // Options the driver reads at each command (transceive) take effect at
    // once, also while its worker idles on the driver's word.
    FCAT->OptionsChanged();
    return false;
  }
  const bool PortsChanged = !Wanted.SamePorts(FAppliedRadio);
  FAppliedRadio = Wanted;
  if (!FCAT || FCAT->Radio() != Wanted.Radio) {
    // The old driver's worker stops (releasing a keyed transmitter) before
    // the new one opens the port.
    FreeCAT();
    // Stored first, so that the new driver's worker starts on them: the old
    // port is not opened again (with its lines driven) only to be left.
    if (PortsChanged)
      StoreRadioPorts(FSettings, Wanted.ComPort, Wanted.ComPort2, Wanted.Com2Enable,
                      Wanted.BaudRate);
    CreateCAT(Wanted.Radio);
  } else if (PortsChanged) {
    // Restarts with the station options too.
    FCAT->ApplyPortSettings(Wanted.ComPort, Wanted.ComPort2, Wanted.Com2Enable, Wanted.BaudRate);
  } else {
    // An option read when the worker starts, or the daemon's address.
    FCAT->ResetCAT();
  }
  return true;
}

bool TStation::ApplySharing(const TStationOptions& Options) {
  TSharingOptions Sharing = Options.Sharing;
  FSharingRefusal = vela::SharingRefusal(Options);
  Sharing.Enabled = Sharing.Enabled && FSharingRefusal.empty();
  if (FAppliedSharing == Sharing)
    return false;
  FAppliedSharing.reset();
  if (!FSharing->Apply(Sharing)) {
    Failed(spSharing, FSharing->ErrorText());
    return true;
  }
  FAppliedSharing = Sharing;
  Changed();
  return true;
}

bool TStation::ApplyContacts(const TStationOptions& Options) {
  const TContactsPart Wanted = ContactsPartOf(Options);
  // A listener that could not listen is tried again.
  if (FAppliedContacts == Wanted && (!Wanted.Enabled || FListener->Listening()))
    return false;
  const bool Enabled = Wanted.Enabled;
  if (Enabled && !FJournal) {
    FJournal = std::make_unique<TContactJournal>(TContactJournal::PathBeside(FBesideFile));
    FJournal->setOnChange([this] { Changed(); });
    FJournal->Open();
  }
  // The interface is part of where it listens: a change restarts it.
  if (!FAppliedContacts || Enabled != FAppliedContacts->Enabled ||
      Wanted.Listen != FAppliedContacts->Listen ||
      Wanted.Interface != FAppliedContacts->Interface || (Enabled && !FListener->Listening())) {
    FContactsEnabled = Enabled;
    FListener->setInterface(Wanted.Interface);
    if (Enabled)
      FListener->Start(Wanted.Listen);
    else
      FListener->Stop();
  }
  // Log files are followed beside the socket, and on even where the port
  // cannot be had; what was taken from them is kept beside the settings.
  const std::string Folder = std::filesystem::path(FBesideFile).parent_path().string();
  FListener->FollowFiles(Wanted.LogFiles, Folder.empty() ? "." : Folder);
  FListener->ConnectApi(Wanted.Js8CallTcp);
  FAppliedContacts = Wanted;
  return true;
}

void TStation::setLogbookKeySource(TLogbookKeySource* Source) {
  FKeySource = Source;
  if (!Source)
    return;
  std::weak_ptr<int> Alive = FAlive;
  Source->ReadKey([this, Alive, Source] {
    // A source replaced (or a station gone) meanwhile is not asked.
    if (!Alive.expired() && FKeySource == Source)
      ApplyLogbook();
  });
}

bool TStation::ApplyLogbook() {
  if (!FWantedLogbook)
    return false;
  if (FKeySource && FKeySource->Known())
    FLogbookKey = FKeySource->Key();
  else if (!FAppliedLogbook)
    return false; // the API waits for its key
  TLogbookOptions Logbook = *FWantedLogbook;
  Logbook.Key = FLogbookKey;
  if (FAppliedLogbook == Logbook)
    return false;
  FAppliedLogbook.reset();
  if (FLogbook->Apply(Logbook))
    FAppliedLogbook = Logbook;
  else
    Failed(spLogbook, FLogbook->ErrorText());
  Changed();
  return true;
}

void TStation::TuneFromPage(const std::string& Frequency, const std::string& Mode,
                            bool FrequencyWrittenByProgram, bool ModeWrittenByProgram) {
  if (FrequencyWrittenByProgram)
    return;
  FCAT->TuneRadio(Frequency, ModeWrittenByProgram ? std::string() : Mode);
}

bool TStation::TuneHz(std::int64_t Hz) {
  return FCAT->TuneHz(Hz);
}

bool TStation::TuneMode(const std::string& Mode) {
  return FCAT->TuneNativeMode(Mode);
}

void TStation::ResetRadio() {
  FCAT->ResetCAT();
}

std::string TStation::LogbookStationCallsign() const {
  return FLogbook->StationCallsign();
}

void TStation::ResendRefused(bool AsStationCallsign, const TLogbookApi::TResendDone& Done) {
  FLogbook->ResendRefused(AsStationCallsign, Done);
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

std::string TStation::StatusText() const {
  std::string Text = LinkSummary(*FCAT, true);
  // A network program keying the transmitter leads the line.
  if (FSharing->Server().Keyed())
    Text = "TX (network) \u00b7 " + Text;
  auto Join = [&Text](const std::string& Part) {
    if (!Part.empty())
      Text += (Text.empty() ? "" : "   \u00b7   ") + Part;
  };
  if (!FSharingRefusal.empty())
    Join("not shared: " + FSharingRefusal);
  // A sharing address that is taken, while it is tried again.
  Join(FSharing->StatusText());
  Join(ContactsStatusText());
  Join(FLogbook->StatusText());
  return Text;
}

TStationLinks TStation::Links() const {
  TStationLinks Links;
  Links.Radio = FCAT->RadioLinkStatus();
  Links.Virtual = FCAT->VirtualLinkStatus();
  Links.RadioNote = FCAT->RadioNote();
  Links.FollowingReports = FCAT->FollowingReports();
  return Links;
}

std::optional<TListenAddress> TStation::SharingListening() const {
  const TRigctlServer& Server = FSharing->Server();
  if (!Server.Listening())
    return std::nullopt;
  return TListenAddress{FAppliedSharing ? FAppliedSharing->Address : std::string(), Server.Port()};
}

std::optional<TListenAddress> TStation::TuneListening() const {
  const TTuneListener& Tune = FLogbook->Listener();
  if (!Tune.Listening())
    return std::nullopt;
  return TListenAddress{Tune.Address(), Tune.Port()};
}

TServerState TStation::Server(TStationServer Which) const {
  TServerState State;
  switch (Which) {
  case TStationServer::Sharing: {
    const TRigctlServer& Server = FSharing->Server();
    State = {Server.Listening(), FAppliedSharing ? FAppliedSharing->Address : std::string(),
             Server.Port(), Server.ErrorText()};
    break;
  }
  case TStationServer::Tune: {
    const TTuneListener& Tune = FLogbook->Listener();
    State = {Tune.Listening(), Tune.Address(), Tune.Port(), Tune.ErrorText()};
    break;
  }
  case TStationServer::Live: {
    const TLiveChannel& Live = FLogbook->Live();
    State = {Live.Listening(), Live.Address(), Live.Port(), Live.ErrorText()};
    break;
  }
  }
  return State;
}

std::unique_ptr<TRadioProbe> TStation::ProbeRadio(const TRadioProbeSettings& Settings,
                                                  TRadioProbe::TDone Done) const {
  return std::make_unique<TRadioProbe>(FSettings, Settings, FCAT.get(), std::move(Done));
}

std::string TStation::WriteProblems() const {
  std::string Text;
  for (const std::string& Problem : {FJournal ? FJournal->ErrorText() : std::string(),
                                     FLogbook->Outbox().WriteProblem(), FListener->HeldProblem()})
    if (!Problem.empty())
      Text += (Text.empty() ? "" : " \u00b7 ") + Problem;
  return Text;
}

TContactListenerReport TStation::ContactsReport() const {
  return FListener->Report();
}

void TStation::DeliverHeldContacts() {
  FListener->DeliverHeld();
}

std::optional<TFormContact> TStation::NextFormContact() const {
  if (!FContactsEnabled || !FJournal || !FJournal->Next())
    return std::nullopt;
  return FormContact(*FJournal->Next(), FSettings.ContactFields());
}

void TStation::TakeFormContact() {
  if (FJournal)
    FJournal->IntoForm();
}

void TStation::FormContactLeft() {
  if (FJournal)
    FJournal->FormLeft();
}

std::size_t TStation::ContactsWaiting() const {
  return FJournal ? FJournal->Waiting() : 0;
}

std::string TStation::RadioLinkText() const {
  return vela::RadioLinkText(*FCAT);
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

void TStation::LogbookWords(const std::string& Text) {
  FConsumers.Call<TStationLogbookConsumer>(TLogbookWords{Text});
}

void TStation::Changed() {
  FConsumers.Call<TStationChangeConsumer>();
}

void TStation::Failed(TStationPart Part, const std::string& Reason) {
  FConsumers.Call<TStationFailureConsumer>(Part, Reason);
}

} // namespace vela
