// Tells the logbook the radio's state: watches the radio's exact frequency
// and mode, and posts them through the client as the pacing rules say
// (changes at most once a second, the latest state winning, at least every
// five minutes, a growing pause after a failure, nothing while the radio's
// link is not live). Runs on the main thread's event loop and never waits
// for the server.
#pragma once

#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "logbook/untLogbookClient.h"
#include "logbook/untLogbookRadio.h"
#include "logbook/untLogbookRules.h"

namespace vela {

// Call ("radio" or "qso") and the answer, for whoever reports outcomes.
using TApiOutcomeHandler = std::function<void(const std::string&, const TApiReply&)>;

class TRadioPoster {
public:
  // How often the radio's values are looked at (the driver's own polling
  // sets how fresh they are).
  static constexpr int WatchMs = 100;

  TRadioPoster(TLogbookClient& AClient, TLogbookRadio& ARadio);

  // The radio's name in the logbook; empty: the radio table's display name.
  // A new name is posted at once while posting (the logbook offers the
  // radio by its name), not at the next keep-alive.
  void setRadioName(const std::string& Value);
  const std::string& RadioName() const { return FRadioName; }
  // The name posted: RadioName, else the radio table's display name.
  std::string PostedName() const;
  // Which logbook is told: it names the data modes.
  void setKind(TLogbookKind Value) { FKind = Value; }
  // The mode the digital-mode program last reported, and when; it names the
  // radio's data mode for a minute.
  void NoteDigitalMode(const std::string& Mode, std::chrono::steady_clock::time_point At);
  void setOnOutcome(const TApiOutcomeHandler& Value) { FOnOutcome = Value; }

  void Start();
  // Stops watching; a post on its way is abandoned.
  void Stop();
  bool Running() const { return FWatch.isActive(); }

  // What would be posted now; nullopt while the radio is not live or has
  // not reported a frequency yet.
  std::optional<TLogbookRadioState> CurrentState() const;
  // The last answer, if any.
  const std::optional<TApiReply>& LastReply() const { return FLastReply; }

  // Looks at the radio and posts when due; the timer calls it.
  void Watch();

private:
  static TMsTime Now();

  TLogbookClient& FClient;
  TLogbookRadio& FRadio;
  QTimer FWatch;
  TPostPacer FPacer;
  std::string FRadioName;
  TLogbookKind FKind = TLogbookKind::lkUnknown;
  // The last mode named: a state whose mode has no name keeps it, as the
  // logbook empties a field a post leaves out.
  mutable std::string FLastMode;
  std::string FDigitalMode;
  std::chrono::steady_clock::time_point FDigitalModeAt{};
  TApiOutcomeHandler FOnOutcome;
  std::optional<TApiReply> FLastReply;
  // Tells a late answer of a stopped run from the current one.
  unsigned FRun = 0;
};

} // namespace vela
