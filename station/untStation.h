// The station: everything the program runs beside its window, composed in
// one place. It owns the radio driver's life (created for the chosen radio,
// replaced when another radio is applied, freed last), the sharing of the
// radio with network programs, the contact listener with its fan-out (the
// form queue, the web logbook's queue, the digital-mode program's mode) and
// the web logbook's API. The window, the settings dialog and velalog-cat
// are shells over it: they build TStationOptions, call Apply, and show the
// events.
//
// Threads: every member is used on the main thread only, and every event is
// raised there. The driver's port worker reaches the driver through its own
// synchronised calls; nothing here is shared with it.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cat/untCATinterface.h"
#include "logbook/untLogbookApi.h"
#include "net/untRadioSharing.h"
#include "platform/untComponent.h"
#include "platform/untConsumers.h"
#include "settings/untVelaLogSettings.h"

namespace vela {

class TContactJournal;
class TContactListener;
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

  // The web logbook's API is applied only once its key is known: given here
  // (LogbookKeyKnown), or earlier through setLogbookKey.
  TLogbookOptions Logbook;
  bool LogbookKeyKnown = false;

  // All but the key, from the store.
  static TStationOptions FromSettings(const TVelaLogSettings& Settings);
};

// The part of the station a failure belongs to.
enum TStationPart : int { spSharing, spLogbook };

using TStationFailureConsumer = std::function<void(TStationPart Part, const std::string& Reason)>;
using TStationContactConsumer = std::function<void(const TContact&, const std::string&)>;
using TStationChangeConsumer = std::function<void()>;
using TStationRxConsumer = std::function<void(const TRadioValue& Value)>;

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

  // Applies Options: the radio (another radio: the old driver is freed,
  // releasing a keyed transmitter, before the new one is made on the new
  // ports; the same radio: new ports or a restart of its worker), the
  // sharing, the contacts and, when its key is known, the logbook's API.
  // What could not be applied is reported through the failure consumers;
  // a store write the driver failed is thrown.
  void Apply(const TStationOptions& Options);

  // The current driver; exactly one exists for the station's whole life.
  TCATInterface* CAT() const { return FCAT.get(); }
  std::exception_ptr TakeCreateError();
  TRadioSharing& Sharing() { return *FSharing; }
  TLogbookApi& Logbook() { return *FLogbook; }
  TContactListener& ContactListener() { return *FListener; }
  // Null until contacts were first switched on.
  TContactJournal* Journal() const { return FJournal.get(); }
  bool ContactsEnabled() const { return FContactsEnabled; }

  // Sends the contacts the logbook set aside again, as they are or under
  // the logbook station's callsign, and hands Done the words for the
  // operator (TLogbookApi::ResendRefused).
  void ResendRefused(bool AsStationCallsign, const TLogbookApi::TResendDone& Done) {
    FLogbook->ResendRefused(AsStationCallsign, Done);
  }

  // Only the logbook's API, as Options say (once the key is read).
  void ApplyLogbook(const TStationOptions& Options);

  // The logbook's key, once read from where it is kept; later Applies
  // without a key of their own use it.
  void setLogbookKey(const std::string& Key);
  bool LogbookKeyKnown() const { return FLogbookKeyKnown; }

  // Connects one more source of contacts (a listener of its own): its
  // contacts take the same way as the station's own listener's.
  void AddContactSource(TContactListener& Source);

  // The contacts' part of the status line: where they are heard, how many
  // wait, what went wrong; empty when switched off.
  std::string ContactsStatusText() const;

  // Consumers, called in the order added; the number returned removes one.
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
  void RemoveConsumer(int Id) { FConsumers.Remove(Id); }

  // Every block written to and read from the radio port, with the port
  // worker as Sender (on the worker's thread for writes); its target must
  // outlive the station.
  void setOnTrace(const TTraceEvent& Value);

private:
  void CreateCAT(TRadioType Radio);
  void FreeCAT();
  void ApplyRadio(const TStationOptions& Options);
  void ApplySharing(const TStationOptions& Options);
  void ApplyContacts(const TStationOptions& Options);
  void ContactReceived(const TContact& Contact, const std::string& Record);
  void RxData(TObject* Sender, const TRadioValue& Value);
  void LinkChange(TObject* Sender);
  void KeyedChange(TObject* Sender, bool Keyed);
  void Changed();
  void Failed(TStationPart Part, const std::string& Reason);

  TVelaLogSettings& FSettings;
  std::string FBesideFile;
  std::unique_ptr<TCATInterface> FCAT;
  std::exception_ptr FCreateError;
  TTraceEvent FOnTrace;
  std::unique_ptr<TRadioSharing> FSharing;
  std::unique_ptr<TLogbookApi> FLogbook;
  std::unique_ptr<TContactListener> FListener;
  std::unique_ptr<TContactJournal> FJournal;
  std::string FLogbookKey;
  bool FLogbookKeyKnown = false;
  bool FContactsEnabled = false;
  std::string FContactsListening; // the address and interface last applied
  TConsumers<TStationRxConsumer, TStationChangeConsumer, TStationContactConsumer,
             TStationFailureConsumer>
      FConsumers;
};

} // namespace vela
