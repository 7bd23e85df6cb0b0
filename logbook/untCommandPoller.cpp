#include "logbook/untCommandPoller.h"

#include "platform/untDurableFile.h"
#include "platform/untStrToInt.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vela {

namespace {

constexpr const char* Completed = "COMPLETED";
constexpr const char* FailedStatus = "FAILED";

TMsTime NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Upper(std::string Text) {
  for (char& C : Text)
    C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return Text;
}

// One line of the file holds no line break and no tab but the separators.
std::string OneLine(const std::string& Text) {
  std::string Line = PlainWords(Text, 300);
  std::replace(Line.begin(), Line.end(), '\t', ' ');
  return Line;
}

} // namespace

TCommandPoller::TCommandPoller(TLogbookClient& AClient, TLogbookRadio& ARadio,
                               std::string AFileName)
    : FClient(AClient), FRadio(ARadio), FFileName(std::move(AFileName)) {
  FPollTimer.setSingleShot(true);
  FReportTimer.setSingleShot(true);
  QObject::connect(&FPollTimer, &QTimer::timeout, [this] { Poll(); });
  QObject::connect(&FReportTimer, &QTimer::timeout, [this] { Report(); });
}

void TCommandPoller::Start() {
  if (FRunning)
    return;
  FRunning = true;
  ++FRun;
  FPolling = FReporting = false;
  FPollBackoff.Reset();
  FReportBackoff.Reset();
  FProblem.clear();
  FSeen.clear();
  FPolledOnce = false;
  FCarried[0] = FCarried[1] = 0;
  Load();
  Report();
  Poll();
}

void TCommandPoller::Stop() {
  FRunning = false;
  ++FRun;
  FPolling = FReporting = false;
  FPollTimer.stop();
  FReportTimer.stop();
}

std::size_t TCommandPoller::Unreported() const {
  return static_cast<std::size_t>(std::count_if(FDecisions.begin(), FDecisions.end(),
                                                [](const TDecision& D) { return !D.Reported; }));
}

std::string TCommandPoller::StatusWords() const {
  if (!FRunning)
    return {};
  if (!FProblem.empty())
    return "click-to-tune queue: " + FProblem;
  if (!FLastFailure.empty())
    return "click-to-tune queue: " + FLastFailure;
  return {};
}

void TCommandPoller::Poll() {
  if (!FRunning || FPolling)
    return;
  const std::string Name = FRadioName ? FRadioName() : std::string();
  if (Name.empty()) {
    FPollTimer.start(PollMs);
    return;
  }
  FPolling = true;
  const unsigned Run = FRun;
  const TMsTime Started = NowMs();
  FClient.PendingCommands(
      Name, PollTimeoutMs,
      [this, Life = std::weak_ptr<int>(FLife), Run, Started](const TApiReply& Reply) {
        if (Life.expired() || Run != FRun)
          return;
        FPolling = false;
        Polled(Reply);
        if (FOnChange)
          FOnChange();
        if (!FRunning || FPollTimer.isActive())
          return;
        // About once a second, counted from the start of this poll.
        FPollTimer.start(
            static_cast<int>(std::clamp<TMsTime>(Started + PollMs - NowMs(), 0, PollMs)));
      });
}

void TCommandPoller::Failed(const TApiReply& Reply) {
  FProblem = Reply.Ok() ? PlainWords(Reply.Reason, 200) : ApiOutcomeWords(Reply);
  if (Reply.Outcome == TApiOutcome::aoNotApi && Reply.Reason != "answer larger than 1 MB")
    FProblem = "HTTP " + std::to_string(Reply.Status) + " is not the logbook's API — retrying";
  FPollTimer.start(static_cast<int>(FPollBackoff.Fail()));
  if (FOnOutcome)
    FOnOutcome("commands", Reply);
}

void TCommandPoller::Polled(const TApiReply& Reply) {
  std::string Error;
  const std::vector<TRadioCommand> Commands =
      Reply.Ok() ? ReadRadioCommands(Reply.Json, &Error) : std::vector<TRadioCommand>{};
  if (!Reply.Ok() || !Error.empty()) {
    TApiReply Why = Reply;
    if (Reply.Ok())
      Why.Reason = Error;
    Failed(Why);
    return;
  }
  FPollBackoff.Reset();
  FProblem.clear();
  // The server's clock judges expiry where it gives one, so that the
  // computer's own clock being off does not matter.
  const std::int64_t Now =
      Reply.ServerTime > 0 ? Reply.ServerTime : QDateTime::currentSecsSinceEpoch();
  Handle(Commands, Now);
}

bool TCommandPoller::Known(std::int64_t Id) const {
  return std::any_of(FDecisions.begin(), FDecisions.end(),
                     [Id](const TDecision& D) { return D.Id == Id; });
}

void TCommandPoller::Decide(std::int64_t Id, bool Done, const std::string& Why) {
  FDecisions.push_back({Id, Done ? Completed : FailedStatus, Why, false});
  if (Done)
    FLastFailure.clear();
  else if (!Why.starts_with("superseded"))
    FLastFailure = "command " + std::to_string(Id) + " failed: " + Why;
}

void TCommandPoller::Handle(const std::vector<TRadioCommand>& Commands, std::int64_t NowUtc) {
  const std::size_t Before = FDecisions.size();
  // The newest of each kind is carried out; the commands come oldest first.
  const TRadioCommand* Newest[2] = {nullptr, nullptr}; // SET_FREQ, SET_MODE
  std::vector<const TRadioCommand*> Fresh;
  const TMsTime Now = NowMs();
  std::map<std::int64_t, TSeen> Seen;
  for (const TRadioCommand& Command : Commands) {
    const std::string Status = Upper(Command.Status);
    if (Known(Command.Id) || (!Status.empty() && Status != "PENDING"))
      continue;
    const std::string Type = Upper(Command.Type);
    const auto Found = FSeen.find(Command.Id);
    const TSeen First = Found != FSeen.end() ? Found->second : TSeen{Now, !FPolledOnce};
    Seen[Command.Id] = First;
    const bool Expired = (First.Backlog && CommandExpired(Command, NowUtc)) ||
                         Now - First.At > CommandLifetimeSeconds(Command) * 1000;
    if (Expired) {
      Decide(Command.Id, false, "expired before it could be carried out");
    } else if (Type != "SET_FREQ" && Type != "SET_MODE") {
      Decide(Command.Id, false, "unknown command type " + PlainWords(Command.Type, 40));
    } else {
      const int Kind = Type == "SET_MODE" ? 1 : 0;
      const TRadioCommand*& Slot = Newest[Kind];
      if (Command.Id < FCarried[Kind]) {
        // Older than one already carried out (listed late, or beyond what
        // one answer holds).
        Decide(Command.Id, false, "superseded by command " + std::to_string(FCarried[Kind]));
        continue;
      }
      if (Slot)
        Decide(Slot->Id, false, "superseded by command " + std::to_string(Command.Id));
      Slot = &Command;
    }
  }
  FPolledOnce = true;
  for (const TRadioCommand* Command : Newest)
    if (Command)
      Fresh.push_back(Command);
  std::sort(Fresh.begin(), Fresh.end(),
            [](const TRadioCommand* A, const TRadioCommand* B) { return A->Id < B->Id; });
  for (const TRadioCommand* Command : Fresh) {
    const bool SetFreq = Upper(Command->Type) == "SET_FREQ";
    std::int64_t Hz = 0;
    if (SetFreq && (!TryDigitsToInt(Command->Frequency, 11, Hz) || Hz <= 0)) {
      Decide(Command->Id, false,
             "the frequency \"" + PlainWords(Command->Frequency, 40) + "\" is not in whole hertz");
      continue;
    }
    std::string Mode = TuneModeForCommand(Command->Mode, Hz ? Hz : FRadio.Backend().FrequencyHz());
    // A frequency's mode goes along where it is one the radio knows; a
    // mode alone must be one.
    if (SetFreq && NativeModeForTune(Mode, FRadio.Digi(), FRadio.Model()).empty())
      Mode.clear();
    if (!SetFreq && Mode.empty()) {
      Decide(Command->Id, false, "no mode given");
      continue;
    }
    const auto [Status, Words] = TuneLogbookRadio(FRadio, Hz, Mode);
    // Not live: it waits in the logbook's queue until the radio answers,
    // or its time is up.
    if (Status == 503)
      continue;
    FCarried[SetFreq ? 0 : 1] = std::max(FCarried[SetFreq ? 0 : 1], Command->Id);
    Decide(Command->Id, Status == 200, Words);
  }
  // Only what is still listed and undecided is remembered.
  for (std::size_t I = Before; I < FDecisions.size(); ++I)
    Seen.erase(FDecisions[I].Id);
  FSeen = std::move(Seen);
  if (FDecisions.size() == Before)
    return;
  Save();
  Report();
}

void TCommandPoller::Report() {
  if (!FRunning || FReporting || FReportTimer.isActive())
    return;
  const auto Next = std::find_if(FDecisions.begin(), FDecisions.end(),
                                 [](const TDecision& D) { return !D.Reported; });
  if (Next == FDecisions.end())
    return;
  FReporting = true;
  const unsigned Run = FRun;
  const std::string Why = Next->Status == FailedStatus ? Next->Why : std::string();
  FClient.UpdateCommandStatus(
      Next->Id, Next->Status, Why,
      [this, Life = std::weak_ptr<int>(FLife), Run](const TApiReply& Reply) {
        if (Life.expired() || Run != FRun)
          return;
        FReporting = false;
        Reported(Reply);
      });
}

void TCommandPoller::Reported(const TApiReply& Reply) {
  const auto Next = std::find_if(FDecisions.begin(), FDecisions.end(),
                                 [](const TDecision& D) { return !D.Reported; });
  if (Next == FDecisions.end())
    return;
  // A 4xx for the report itself (a command the logbook no longer has) is
  // not mended by sending it again; a refused key or a fault is.
  const bool Final = Reply.Ok() || (Reply.Outcome == TApiOutcome::aoRejected &&
                                    Reply.Status != 408 && Reply.Status != 429);
  if (!Final) {
    FProblem = "reporting command " + std::to_string(Next->Id) + ": " + ApiOutcomeWords(Reply);
    FReportTimer.start(static_cast<int>(
        Reply.Outcome == TApiOutcome::aoKeyRefused ? MaxRetryMs : FReportBackoff.Fail()));
    if (FOnOutcome)
      FOnOutcome("command", Reply);
    return;
  }
  Next->Reported = true;
  FReportBackoff.Reset();
  if (FProblem.starts_with("reporting"))
    FProblem.clear();
  const TCommandReport Done{Next->Id, Next->Status,
                            Reply.Ok() ? Next->Why
                                       : Next->Why + " (the logbook refused the report: " +
                                             PlainWords(Reply.Reason, 200) + ")",
                            Reply.Status};
  // The oldest reported ones go once the file holds more than it keeps.
  while (FDecisions.size() > MaxKept && FDecisions.front().Reported)
    FDecisions.pop_front();
  Save();
  if (FOnReport)
    FOnReport(Done);
  if (FOnChange)
    FOnChange();
  Report();
}

void TCommandPoller::Load() {
  FDecisions.clear();
  std::ifstream File(FFileName);
  std::string Line;
  // The first line names the logbook: ids of another one mean nothing here.
  if (!std::getline(File, Line) || Line != "logbook\t" + FClient.BaseUrl())
    return;
  while (std::getline(File, Line) && FDecisions.size() < MaxKept * 2) {
    std::istringstream Fields(Line);
    TDecision Decision;
    std::string Id, Reported;
    if (!std::getline(Fields, Id, '\t') || !std::getline(Fields, Decision.Status, '\t') ||
        !std::getline(Fields, Reported, '\t') || !TryDigitsToInt(Id, 18, Decision.Id) ||
        (Decision.Status != Completed && Decision.Status != FailedStatus))
      continue;
    std::getline(Fields, Decision.Why);
    Decision.Reported = Reported == "reported";
    if (!Known(Decision.Id))
      FDecisions.push_back(std::move(Decision));
  }
}

void TCommandPoller::Save() {
  std::string Text = "logbook\t" + FClient.BaseUrl() + "\n";
  for (const TDecision& D : FDecisions)
    Text += std::to_string(D.Id) + "\t" + D.Status + "\t" +
            (D.Reported ? "reported" : "to-report") + "\t" + OneLine(D.Why) + "\n";
  if (!ReplaceDurably(FFileName, Text, 0600))
    FProblem = "cannot keep what was done in " + FFileName + ": " + std::strerror(errno) +
               " (a restart may report a command again)";
}

} // namespace vela
