#include "logbook/untRadioPoster.h"

#include "cat/radios/untRadioTable.h"

namespace vela {

TRadioPoster::TRadioPoster(TLogbookClient& AClient, TLogbookRadio& ARadio)
    : FClient(AClient), FRadio(ARadio) {
  FWatch.setInterval(WatchMs);
  QObject::connect(&FWatch, &QTimer::timeout, [this] { Watch(); });
}

TMsTime TRadioPoster::Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TRadioPoster::NoteDigitalMode(const std::string& Mode,
                                   std::chrono::steady_clock::time_point At) {
  FDigitalMode = Mode;
  FDigitalModeAt = At;
}

void TRadioPoster::Start() {
  if (FWatch.isActive())
    return;
  FPacer = TPostPacer();
  FLastReply.reset();
  ++FRun;
  FWatch.start();
  Watch();
}

void TRadioPoster::Stop() {
  FWatch.stop();
  ++FRun;
}

std::optional<TLogbookRadioState> TRadioPoster::CurrentState() const {
  TRigBackend& Backend = FRadio.Backend();
  if (!Backend.Ready() || !FRadio.Live() || Backend.FrequencyHz() <= 0)
    return std::nullopt;
  const bool Recent = !FDigitalMode.empty() && std::chrono::steady_clock::now() - FDigitalModeAt <=
                                                   std::chrono::milliseconds(DigitalModeValidMs);
  std::string Mode = LogbookModeForNative(Backend.Mode(), Recent ? FDigitalMode : "", FKind);
  if (Mode.empty())
    Mode = FLastMode;
  FLastMode = Mode;
  return TLogbookRadioState{Backend.FrequencyHz(), Mode};
}

void TRadioPoster::setRadioName(const std::string& Value) {
  const std::string Before = PostedName();
  FRadioName = Value;
  if (FWatch.isActive() && PostedName() != Before) {
    // A post on its way under the old name is left unanswered.
    ++FRun;
    FPacer = TPostPacer();
    Watch();
  }
}

std::string TRadioPoster::PostedName() const {
  const TRadioModel* Model = FRadio.Model();
  return !FRadioName.empty() ? FRadioName : Model ? Model->DisplayName : "VELA Log";
}

void TRadioPoster::Watch() {
  FPacer.Observe(CurrentState());
  const std::optional<TMsTime> Due = FPacer.NextDue();
  const TMsTime At = Now();
  if (!Due || *Due > At)
    return;
  const TLogbookRadioState State = FPacer.Begin(At);
  const unsigned Run = FRun;
  FClient.PostRadio(PostedName(), State, [this, Run](const TApiReply& Reply) {
    if (Run != FRun)
      return;
    FPacer.Finished(Reply.Ok(), Now());
    FLastReply = Reply;
    if (FOnOutcome)
      FOnOutcome("radio", Reply);
  });
}

} // namespace vela
