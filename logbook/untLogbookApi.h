// Serving a web logbook through its API, as one object the program and
// velalog-cat each own: the radio's state posted to the logbook, its pages'
// click-to-tune requests served, and contacts queued and posted. Off until
// Apply turns it on; everything runs on the main thread's event loop and
// nothing waits for the server.
//
// Which logbook answers is found out once per address (or taken from the
// options): for Cloudlog, click-to-tune also runs by its command queue
// (TCommandPoller), and the radio's data modes are named as it shows them.
//
// The contact listener feeds it: Enqueue with each contact's ADIF record,
// NoteDigitalMode with the mode the digital-mode program reports.
//
// While it is on, the live radio channel (TLiveChannel) serves the
// logbook's pages the radio's state as it changes; RadioChanged tells it
// the driver reported a change.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QTimer>

#include "logbook/untCommandPoller.h"
#include "logbook/untContactOutbox.h"
#include "logbook/untLiveChannel.h"
#include "logbook/untLogbookClient.h"
#include "logbook/untLogbookRadio.h"
#include "logbook/untRadioPoster.h"
#include "logbook/untTuneListener.h"
#include "platform/untEvents.h"
#include "platform/untObject.h"

namespace vela {

class TVelaLogSettings;

struct TLogbookOptions {
  bool Enabled = false;
  std::string Url;
  std::string Key;
  // The logbook's station for contacts; 0: the key owner's active one.
  std::int64_t StationId = 0;
  // The radio's name in the logbook; empty: the radio table's display name.
  std::string RadioName;
  // "[HOST:]PORT" of the click-to-tune listener; empty or "off": none.
  std::string TuneListen = DefaultLogbookTuneListen;
  // Web origins beside the logbook's own whose pages may tune, separated by
  // blanks ("https://cluster.example.org").
  std::string TuneOrigins;
  // "[HOST:]PORT" of the live radio channel for the logbook's pages; empty
  // or "off": none.
  std::string LiveListen = DefaultLogbookLiveListen;
  // The one host whose self-signed certificate is accepted.
  std::string SelfSignedHost;
  // Which logbook it is; lkUnknown: asked of the logbook.
  TLogbookKind Kind = TLogbookKind::lkUnknown;

  // All but the key, which the key store keeps.
  static TLogbookOptions FromSettings(const TVelaLogSettings& Settings);
  bool operator==(const TLogbookOptions&) const = default;
};

// The contact queue's file beside a settings file.
std::string OutboxFileBeside(const std::string& SettingsFile);

// Sender (the API object): its status words changed.
using TLogbookChangeEvent = TMethod<TObject*>;

class TLogbookApi : public TObject {
public:
  TLogbookApi(std::unique_ptr<TLogbookRadio> ARadio, const std::string& OutboxFile);
  ~TLogbookApi() override;

  // Starts, changes or stops. False, with ErrorText() set, when the
  // click-to-tune listener or the live channel can never listen as asked;
  // the rest runs all the same. An address that is taken is no failure:
  // it is tried again, and the status words say so meanwhile.
  bool Apply(const TLogbookOptions& Options);
  const std::string& ErrorText() const { return FErrorText; }
  bool Enabled() const { return FOptions.Enabled; }
  // Which logbook answers: as the options say, else as found out (lkUnknown
  // until then).
  TLogbookKind Kind() const { return FKind; }
  // "Cloudlog at http://log.example.org/ · station Boston".
  std::string IdentityWords() const;

  // One contact's ADIF record, without a header. False (not queued) while
  // the API is off, or for a record the queue refuses (said in StatusText).
  // A record the queue's file refuses is queued in memory, and StatusText
  // names the file and the reason until it is written.
  bool Enqueue(const std::string& Record);
  // Puts the contacts set aside back in the queue; how many went back.
  std::size_t ResendRefused(std::string* Error = nullptr);
  // The logbook station's callsign as station_info reports it (the station
  // chosen, else the key owner's active one); empty until known.
  const std::string& StationCallsign() const { return FStationCallsign; }
  // Sends the contacts set aside again and hands Done the words for the
  // operator: as they are (those known to carry another station callsign
  // than the logbook's stay, with what they need), or with AsStationCallsign
  // under the logbook station's callsign, asked of the logbook first when
  // not known yet (Done says so when it cannot be had). Done may run before
  // this returns.
  using TResendDone = std::function<void(const std::string& Words)>;
  void ResendRefused(bool AsStationCallsign, const TResendDone& Done);
  // The mode the digital-mode program last reported (FT8), and when.
  void NoteDigitalMode(const std::string& Mode,
                       std::chrono::steady_clock::time_point At = std::chrono::steady_clock::now());
  // The driver reported a change of the radio's value.
  void RadioChanged() { FLive.RadioChanged(); }

  // "logbook: connected · 2 contacts waiting — wrong station callsign";
  // empty while off.
  std::string StatusText() const;
  TLogbookChangeEvent OnChange() const { return FOnChange; }
  void setOnChange(const TLogbookChangeEvent& Value) { FOnChange = Value; }
  // Every answer of the logbook ("radio" or "qso"), and every tune request.
  void setOnOutcome(const TApiOutcomeHandler& Value) { FOnOutcome = Value; }
  void setOnTune(const TTuneListener::TTuneHandler& Value) { FOnTune = Value; }

  TLogbookClient& Client() { return FClient; }
  TRadioPoster& Poster() { return FPoster; }
  TTuneListener& Listener() { return FListener; }
  TLiveChannel& Live() { return FLive; }
  TContactOutbox& Outbox() { return FOutbox; }
  TCommandPoller& Commands() { return FCommands; }

private:
  void Outcome(const std::string& Call, const TApiReply& Reply);
  void Changed();
  // Asks the logbook which it is (and the station's name), then starts
  // what depends on it.
  void Identify();
  void KindKnown();
  void StationFound(const TApiReply& Reply);
  // Listens as Text ("[HOST:]PORT", empty or "off": not at all) asks, when
  // that changed or it does not listen; false with the reason in FErrorText.
  template <class TServer>
  bool ApplyListen(TServer& Server, const std::string& Text, std::string& Listening,
                   const char* Name);

  std::unique_ptr<TLogbookRadio> FRadio;
  TLogbookClient FClient;
  TRadioPoster FPoster;
  TTuneListener FListener;
  TLiveChannel FLive;
  TContactOutbox FOutbox;
  TCommandPoller FCommands;
  TLogbookOptions FOptions;
  TLogbookKind FKind = TLogbookKind::lkUnknown;
  std::string FKindUrl; // the address FKind was found for
  std::string FStationName;
  std::string FStationCallsign;
  bool FIdentifying = false;
  unsigned FIdentifyRun = 0;
  QTimer FIdentifyRetry;
  TBackoff FIdentifyBackoff{2000, 60000};
  std::string FListening; // the listener's address as last asked for
  std::string FLiveListening;
  std::string FErrorText;
  std::string FEnqueueProblem;
  std::string FLastStatus;
  TLogbookChangeEvent FOnChange;
  TApiOutcomeHandler FOnOutcome;
  TTuneListener::TTuneHandler FOnTune;
};

} // namespace vela
