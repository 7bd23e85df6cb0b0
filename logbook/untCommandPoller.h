// Click-to-tune by the logbook's command queue. A logbook without a
// click-to-tune address keeps the spots clicked on its pages as commands
// (SET_FREQ, SET_MODE) for a radio by name; this polls that queue about
// once a second, carries out what it finds through the same tune rules as
// the click-to-tune listener (TuneLogbookRadio), and reports each command
// COMPLETED or FAILED, with the reason, exactly once.
//
// Once: each decision is kept in a small file beside the contact queue
// before it is reported, and marked there once the logbook took the
// report, so a restart reports what is still unreported and carries out
// nothing twice. Of the commands waiting at once, only the newest of each
// kind is carried out (the last request wins); the older ones are reported
// FAILED as superseded. A command that has expired (one waiting when polling
// starts by its expiry time and the server's clock; one that appears later,
// or waits for the radio, by how long it has been seen: so a logbook that
// writes its times in another zone cannot make fresh commands look old), or of a kind the radio
// cannot do, is reported FAILED without touching the radio. While the
// radio's link is not live, commands wait in the logbook's queue.
//
// Asynchronous on the calling thread's event loop; a failed poll is tried
// again after a growing pause, and the status words say why.
#pragma once

#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "logbook/untLogbookAnswer.h"
#include "logbook/untLogbookClient.h"
#include "logbook/untLogbookRadio.h"
#include "logbook/untRadioPoster.h"

namespace vela {

// A command's end as reported: its id, COMPLETED or FAILED, why it failed,
// and the logbook's answer to the report (0: none yet).
struct TCommandReport {
  std::int64_t Id = 0;
  std::string Status;
  std::string Why;
  int AnswerStatus = 0;
};

class TCommandPoller {
public:
  static constexpr int PollMs = 1000;
  static constexpr int PollTimeoutMs = 5000;
  static constexpr TMsTime FirstRetryMs = 2000;
  static constexpr TMsTime MaxRetryMs = 60000;
  // How many reported ids the file keeps (the newest).
  static constexpr std::size_t MaxKept = 2000;
  static constexpr const char* FileLeaf = "LogbookCommands.txt";

  // FileName: where decisions are kept (beside the contact queue).
  TCommandPoller(TLogbookClient& AClient, TLogbookRadio& ARadio, std::string AFileName);

  // The radio's name in the logbook, asked for at every poll.
  void setRadioName(std::function<std::string()> Value) { FRadioName = std::move(Value); }
  // After each report the logbook took (or refused for good).
  void setOnReport(std::function<void(const TCommandReport&)> Value) {
    FOnReport = std::move(Value);
  }
  // Every answer that is not as it should be ("commands" or "command").
  void setOnOutcome(const TApiOutcomeHandler& Value) { FOnOutcome = Value; }
  // After every poll and report: the status words may have changed.
  void setOnChange(std::function<void()> Value) { FOnChange = std::move(Value); }

  // Starts polling the logbook the client names (reading what the file
  // kept for it), or stops; a call on its way is abandoned.
  void Start();
  void Stop();
  bool Running() const { return FRunning; }

  // "click-to-tune queue: server error 500 — retrying"; empty when all is
  // well.
  std::string StatusWords() const;
  const std::string& FileName() const { return FFileName; }
  // Decisions not yet taken by the logbook.
  std::size_t Unreported() const;

  // Polls now (the timer calls it).
  void Poll();

private:
  struct TDecision {
    std::int64_t Id = 0;
    std::string Status; // COMPLETED, FAILED
    std::string Why;
    bool Reported = false;
  };
  void Polled(const TApiReply& Reply);
  void Handle(const std::vector<TRadioCommand>& Commands, std::int64_t NowUtc);
  void Decide(std::int64_t Id, bool Done, const std::string& Why);
  bool Known(std::int64_t Id) const;
  void Report();
  void Reported(const TApiReply& Reply);
  void Load();
  void Save();
  void Failed(const TApiReply& Reply);

  TLogbookClient& FClient;
  TLogbookRadio& FRadio;
  std::string FFileName;
  std::function<std::string()> FRadioName;
  std::function<void(const TCommandReport&)> FOnReport;
  TApiOutcomeHandler FOnOutcome;
  std::function<void()> FOnChange;
  std::deque<TDecision> FDecisions;
  // Commands listed but not decided: when first seen, and whether they
  // were waiting already at the first poll.
  struct TSeen {
    TMsTime At = 0;
    bool Backlog = false;
  };
  std::map<std::int64_t, TSeen> FSeen;
  // The newest SET_FREQ and SET_MODE carried out: older ones are superseded.
  std::int64_t FCarried[2] = {0, 0};
  bool FPolledOnce = false;
  QTimer FPollTimer;
  QTimer FReportTimer;
  TBackoff FPollBackoff{FirstRetryMs, MaxRetryMs};
  TBackoff FReportBackoff{FirstRetryMs, MaxRetryMs};
  bool FRunning = false;
  bool FPolling = false;
  bool FReporting = false;
  unsigned FRun = 0;
  // Held only here: an answer to a call that outlives the poller (the client
  // is shared and may still deliver it) finds it gone and does nothing.
  std::shared_ptr<int> FLife = std::make_shared<int>(0);
  std::string FProblem;
  std::string FLastFailure;
};

} // namespace vela
