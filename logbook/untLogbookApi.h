// Serving a web logbook through its API, as one object the program and
// velalog-cat each own: the radio's state posted to the logbook, its pages'
// click-to-tune requests served, and contacts queued and posted. Off until
// Apply turns it on; everything runs on the main thread's event loop and
// nothing waits for the server.
//
// The contact listener feeds it: Enqueue with each contact's ADIF record,
// NoteDigitalMode with the mode the digital-mode program reports.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "logbook/untContactOutbox.h"
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
  // The one host whose self-signed certificate is accepted.
  std::string SelfSignedHost;

  // All but the key, which the key store keeps.
  static TLogbookOptions FromSettings(const TVelaLogSettings& Settings);
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
  // click-to-tune listener cannot listen as asked; the rest runs all the same.
  bool Apply(const TLogbookOptions& Options);
  const std::string& ErrorText() const { return FErrorText; }
  bool Enabled() const { return FOptions.Enabled; }

  // One contact's ADIF record, without a header. False (not queued) while
  // the API is off, or for a record the queue refuses.
  bool Enqueue(const std::string& Record);
  // Puts the contacts set aside back in the queue; how many went back.
  std::size_t ResendRefused(std::string* Error = nullptr);
  // The mode the digital-mode program last reported (FT8), and when.
  void NoteDigitalMode(const std::string& Mode,
                       std::chrono::steady_clock::time_point At = std::chrono::steady_clock::now());

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
  TContactOutbox& Outbox() { return FOutbox; }

private:
  void Outcome(const std::string& Call, const TApiReply& Reply);
  void Changed();

  std::unique_ptr<TLogbookRadio> FRadio;
  TLogbookClient FClient;
  TRadioPoster FPoster;
  TTuneListener FListener;
  TContactOutbox FOutbox;
  TLogbookOptions FOptions;
  std::string FListening; // the listener's address as last asked for
  std::string FErrorText;
  std::string FLastStatus;
  TLogbookChangeEvent FOnChange;
  TApiOutcomeHandler FOnOutcome;
  TTuneListener::TTuneHandler FOnTune;
};

} // namespace vela
