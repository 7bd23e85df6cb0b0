// The station: everything the program runs beside its window, composed in
// one place. It owns the radio driver's life (created for the chosen radio,
// replaced when another radio is applied, freed last), the sharing of the
// radio with network programs, the contact listener with its fan-out (the
// form queue, the web logbook's queue, the digital-mode program's mode) and
// the web logbook's API with its key. The window, the settings dialog and
// velalog-cat are shells over it: they build TStationOptions, call Apply and
// the other commands, ask its questions and show its events.
//
// Apply compares the options with the ones it last applied and restarts only
// the parts that changed; the rules of what may run (sharing on the rigctld
// radio's own port is refused, the page tunes only with what it brought) and
// the status words are the station's.
//
// Threads: every member is used on the main thread only, and every event is
// raised there. The driver's port worker reaches the driver through its own
// synchronised calls; nothing here is shared with it.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cat/transport/untListenAddress.h"
#include "cat/untCATinterface.h"
#include "cat/untLinkState.h"
#include "logbook/untLogbookApi.h"
#include "platform/untComponent.h"
#include "platform/untConsumers.h"
#include "settings/untVelaLogSettings.h"
#include "sharing/untRadioSharing.h"
#include "station/untFormContact.h"
#include "station/untRadioProbe.h"

namespace vela {

class TContactJournal;
class TContactListener;
struct TContactListenerReport;
class TLogbookKeySource;
struct TContact;

// What the station runs, as the settings (or velalog-cat's options) say.
struct TStationOptions {
  // The radio and its ports. The driver reads its other options (Digi, CI-V
  // address, control lines, transceive) from the settings store.
  TRadioType Radio = rtFlex;
  std::int32_t ComPort = 0;
  std::int32_t ComPort2 = 0;
  bool Com2Enable = false;
  TBaudRate BaudRate = br4800;
  // host:port of the rigctld radio's daemon (the driver reads it from the
  // store; a change restarts that radio).
  std::string RigctldAddress = DefaultRigctldAddress;
  // An option the driver reads when its worker starts changed: the same
  // radio restarts its worker.
  bool RestartRadio = false;

  TSharingOptions Sharing;

  // The station's own contact listener, its journal and form queue.
  bool ContactsEnabled = false;
  std::string ContactsListen;
  std::string ContactsInterface;
  // ADIF log files followed beside the socket, and JS8Call's TCP API
  // (host:port; empty: none).
  std::vector<std::string> ContactsLogFiles;
  std::string ContactsJs8CallTcp;

  // The web logbook's API. Its key is not taken from here: the station
  // reads it from its key source (setLogbookKeySource).
  TLogbookOptions Logbook;

  // All but the key, from the store.
  static TStationOptions FromSettings(const TVelaLogSettings& Settings);
};

// The parts of the station: what Apply restarts, what a failure belongs to.
enum TStationPart : int { spRadio, spSharing, spContacts, spLogbook };

// The parts one Apply started, restarted or stopped.
struct TStationRestarts {
  bool Radio = false;
  bool Sharing = false;
  bool Contacts = false;
  bool Logbook = false;
  bool operator==(const TStationRestarts&) const = default;
};

// The reason sharing on Options' port is refused (it is the rigctld radio's
// own port on this computer); empty when it may run.
std::string SharingRefusal(const TStationOptions& Options);

using TStationFailureConsumer = std::function<void(TStationPart Part, const std::string& Reason)>;
using TStationContactConsumer = std::function<void(const TContact&, const std::string&)>;
using TStationChangeConsumer = std::function<void()>;
using TStationRxConsumer = std::function<void(const TRadioValue& Value)>;
// One outcome of the web logbook's API in words: "radio 200", "qso 400 the
// key was refused", "tune 200 14074000 USB", "command 12 DONE", "set aside:
// ..." (velalog-cat prints them).
struct TLogbookWords {
  std::string Text;
};
using TStationLogbookConsumer = std::function<void(const TLogbookWords& Outcome)>;

// The servers the station runs beside the radio.
enum class TStationServer { Sharing, Tune, Live };
struct TServerState {
  bool Listening = false;
  std::string Host;
  std::uint16_t Port = 0;
  // Why it does not listen (empty when it was not asked to).
  std::string Why;
};

// The radio's links as the station sees them.
struct TStationLinks {
  TLinkStatus Radio;
  TLinkStatus Virtual;
  // What the driver did or refused on its own ("released a transmitter
  // left keyed"); empty for nothing.
  std::string RadioNote;
  // Whether the driver follows the radio's own reports (else it polls).
  bool FollowingReports = false;
};

class TStation : public TComponent {
public:
  // Settings: the store the driver reads and writes, not owned. BesideFile:
  // the settings file beside which the contact journal and the logbook's
  // queue lie. The driver for the store's radio is created at once; a
  // failure of the store to take its radio type is kept for TakeCreateError.
  TStation(TVelaLogSettings& ASettings, const std::string& BesideFile);
  // Stops sharing and serving first (a keyed transmitter is released through
  // the driver), then frees the driver.
  ~TStation() override;

  // --- Commands.

  // Applies Options, restarting only the parts whose options differ from
  // the ones last applied: the radio (another radio: the old driver is
  // freed, releasing a keyed transmitter, before the new one is made on the
  // new ports; the same radio: new ports or a restart of its worker), the
  // sharing, the contacts and, once its key is known, the logbook's API
  // (a key changed in its source since counts as a change). A part that
  // could not start is tried again by the next Apply. What could not be
  // applied is reported through the failure consumers; a store write the
  // driver failed is thrown.
  TStationRestarts Apply(const TStationOptions& Options);

  // Where the logbook's key is read, not owned (null: none, the API stays
  // off). The key is read at once; when it is known, the logbook starts as
  // last applied. Each Apply takes the source's current key.
  void setLogbookKeySource(TLogbookKeySource* Source);

  // The page's frequency and mode (the texts of the page's form) tune the
  // radio, but only with what the page brought: a field the program wrote
  // itself (the radio's own report, a contact) is no request, and without
  // the page's frequency its mode is not tuned either.
  void TuneFromPage(const std::string& Frequency, const std::string& Mode,
                    bool FrequencyWrittenByProgram, bool ModeWrittenByProgram);
  // Tunes in hertz, or to one of the radio's modes (a Hamlib mode name);
  // false when the radio cannot take it.
  bool TuneHz(std::int64_t Hz);
  bool TuneMode(const std::string& Mode);
  // Restarts the radio's link.
  void ResetRadio();
  // Puts the contacts the logbook set aside back in its queue, as they are
  // or under the logbook station's callsign (asked of the logbook first when
  // not known yet), and hands Done the words for the operator.
  void ResendRefused(bool AsStationCallsign, const TLogbookApi::TResendDone& Done);
  // The logbook station's callsign as the logbook reported it; empty while
  // not known.
  std::string LogbookStationCallsign() const;

  // Connects one more source of contacts (a listener of its own): its
  // contacts take the same way as the station's own listener's.
  void AddContactSource(TContactListener& Source);

  // Every block written to and read from the radio port, with the port
  // worker as Sender (on the worker's thread for writes); its target must
  // outlive the station.
  void setOnTrace(const TTraceEvent& Value);

  // --- Questions.

  // A failure met while the station was created (the settings file refused
  // the driver's radio type); the station is complete. Empties it.
  std::exception_ptr TakeCreateError();
  // The radio the current driver serves.
  TRadioType Radio() const { return FCAT->Radio(); }
  // The COM port the radio's driver uses.
  std::int32_t RadioComPort() const { return FCAT->ComPort(); }
  // Asks a radio once with settings not applied yet (the dialog's Test
  // radio); the station's own driver answers for its own port. Done follows
  // from the event loop, once, while the probe lives.
  std::unique_ptr<TRadioProbe> ProbeRadio(const TRadioProbeSettings& Settings,
                                          TRadioProbe::TDone Done) const;
  // The radio's and the Virtual CAT port's links, and what the driver did.
  TStationLinks Links() const;
  // Where the sharing server and the logbook's click-to-tune listener
  // listen; empty while they do not.
  std::optional<TListenAddress> SharingListening() const;
  std::optional<TListenAddress> TuneListening() const;
  // One of the station's servers as it stands: listening where, or why not
  // (a port that is taken says so while it is tried again).
  TServerState Server(TStationServer Which) const;

  // The files that refuse writes (the journal, the logbook's queue, the
  // held-contact file), each with its file and reason; empty when all write.
  std::string WriteProblems() const;
  // What the contact listener has to say: where it listens, its files,
  // counts and problems.
  TContactListenerReport ContactsReport() const;
  // Delivers the contacts still held for their ADIF now (the program ends).
  void DeliverHeldContacts();

  // The form queue: the contact a fresh form takes next, in the form's
  // words (empty while contacts are off or none waits); TakeFormContact
  // once the page confirmed it, so it waits no more; FormContactLeft once
  // the form it is in was saved or left (until then a restart offers it
  // again, first).
  std::optional<TFormContact> NextFormContact() const;
  void TakeFormContact();
  void FormContactLeft();
  std::size_t ContactsWaiting() const;

  // The strip's words: the radio and its link (the Virtual CAT port's
  // when on), a network program keying, the contacts, the logbook.
  std::string StatusText() const;
  // The radio link's state with the driver's note ("COM1 → /dev/ttyUSB0 · live").
  std::string RadioLinkText() const;
  // The contacts' part of the status line: where they are heard, how many
  // wait, what went wrong; empty when switched off.
  std::string ContactsStatusText() const;
  // Why sharing did not start at the last Apply that asked for it (its port
  // is the rigctld radio's own); empty otherwise.
  const std::string& SharingRefusal() const { return FSharingRefusal; }

  // --- Events: consumers, called in the order added; the number returned
  // removes one.

  // The radio's value changed as the page shows it (the page's texts are
  // made from it where they are written: PageTexts).
  int AddRxConsumer(TStationRxConsumer Consumer) { return FConsumers.Add(std::move(Consumer)); }
  // Links, keying, contacts or the logbook changed: the status may read anew.
  int AddChangeConsumer(TStationChangeConsumer Consumer) {
    return FConsumers.Add(std::move(Consumer));
  }
  // A contact arrived (after the journal and the logbook's queue took it).
  int AddContactConsumer(TStationContactConsumer Consumer) {
    return FConsumers.Add(std::move(Consumer));
  }
  // Something asked for could not be done (a port to share on, a listener
  // for click-to-tune): the part and the reason, for the shell to word.
  int AddFailureConsumer(TStationFailureConsumer Consumer) {
    return FConsumers.Add(std::move(Consumer));
  }
  // Each answer of the web logbook, tune request, command and set-aside.
  int AddLogbookConsumer(TStationLogbookConsumer Consumer) {
    return FConsumers.Add(std::move(Consumer));
  }
  void RemoveConsumer(int Id) { FConsumers.Remove(Id); }

private:
  // Tests look inside through it; only they define it.
  friend struct TStationInspector;

  // The radio's part of the options, as last applied.
  struct TRadioPart {
    TRadioType Radio = rtFlex;
    std::int32_t ComPort = 0, ComPort2 = 0;
    bool Com2Enable = false;
    TBaudRate BaudRate = br4800;
    std::string RigctldAddress;
    bool SamePorts(const TRadioPart& Other) const {
      return ComPort == Other.ComPort && ComPort2 == Other.ComPort2 &&
             Com2Enable == Other.Com2Enable && BaudRate == Other.BaudRate;
    }
    bool operator==(const TRadioPart&) const = default;
  };
  // The contacts' part, as last applied.
  struct TContactsPart {
    bool Enabled = false;
    std::string Listen, Interface, Js8CallTcp;
    std::vector<std::string> LogFiles;
    bool operator==(const TContactsPart&) const = default;
  };
  static TRadioPart RadioPartOf(const TStationOptions& Options);
  static TContactsPart ContactsPartOf(const TStationOptions& Options);

  void CreateCAT(TRadioType Radio);
  void FreeCAT();
  bool ApplyRadio(const TStationOptions& Options);
  bool ApplySharing(const TStationOptions& Options);
  bool ApplyContacts(const TStationOptions& Options);
  bool ApplyLogbook();
  void ContactReceived(const TContact& Contact, const std::string& Record);
  void RxData(TObject* Sender, const TRadioValue& Value);
  void LinkChange(TObject* Sender);
  void KeyedChange(TObject* Sender, bool Keyed);
  void Changed();
  void Failed(TStationPart Part, const std::string& Reason);
  void LogbookWords(const std::string& Text);

  TVelaLogSettings& FSettings;
  std::string FBesideFile;
  std::unique_ptr<TCATInterface> FCAT;
  std::exception_ptr FCreateError;
  TTraceEvent FOnTrace;
  std::unique_ptr<TRadioSharing> FSharing;
  std::unique_ptr<TLogbookApi> FLogbook;
  std::unique_ptr<TContactListener> FListener;
  std::unique_ptr<TContactJournal> FJournal;
  TLogbookKeySource* FKeySource = nullptr;
  std::string FLogbookKey; // as last read from the source
  bool FContactsEnabled = false;
  std::string FSharingRefusal;
  // What was last applied, part by part; empty: not (or not successfully)
  // applied, so the next Apply starts it.
  TRadioPart FAppliedRadio;
  std::optional<TSharingOptions> FAppliedSharing;
  std::optional<TContactsPart> FAppliedContacts;
  std::optional<TLogbookOptions> FAppliedLogbook;
  // The logbook's options of the last Apply, its key still to be added.
  std::optional<TLogbookOptions> FWantedLogbook;
  TConsumers<TStationRxConsumer, TStationChangeConsumer, TStationContactConsumer,
             TStationFailureConsumer, TStationLogbookConsumer>
      FConsumers;
  // Ends the key source's callbacks once the station is gone.
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

} // namespace vela
