#include "net/untCATRigBackend.h"

#include <cmath>

#include "cat/radios/untRadioTable.h"
#include "cat/untCATinterface.h"

namespace vela {

template <class T>
std::optional<T> TCATRigBackend::Pending(TRequest<T>& Request, const TCATInterface* Driver,
                                         const std::string& Queued, const T& Now) {
  if (!Request.Driver || Request.Driver != Driver)
    return std::nullopt;
  // A request that has not reached the radio within the hold (a line that
  // stalled) is no longer what the radio is about to be on.
  if (TClock::now() - Request.Since > RequestHold) {
    Request.Driver = nullptr;
    return std::nullopt;
  }
  if (!Request.Command.empty() && Queued == Request.Command)
    return Request.Value; // not yet sent
  // Sent: held until the radio reports a change.
  if (Now != Request.Before) {
    Request.Driver = nullptr;
    return std::nullopt;
  }
  return Request.Value;
}

bool TCATRigBackend::LinkUp() const {
  // Waiting (no answer yet), silent (none for seconds), lost, missing or
  // refused: the values are not the radio's, and a keyed transmitter is not
  // left to a line that does not answer.
  // The link's state is published once a cycle; a radio whose first reply
  // the driver has just read answers already.
  const TCATInterface* D = Driver();
  if (!D)
    return false;
  const TLinkState State = D->RadioLinkStatus().State;
  return State == TLinkState::lsLive || (State == TLinkState::lsWaiting && D->FrequencyHz() != 0);
}

std::int64_t TCATRigBackend::FrequencyHz() const {
  const TCATInterface* D = Driver();
  return D ? D->FrequencyHz() : 0;
}

std::string TCATRigBackend::Mode() const {
  const TCATInterface* D = Driver();
  return D ? D->NativeMode() : std::string();
}

std::optional<std::int64_t> TCATRigBackend::RequestedHz() const {
  const TCATInterface* D = Driver();
  return D ? Pending(FFrequency, D, D->FrequencyCommand(), D->FrequencyHz()) : std::nullopt;
}

std::optional<std::string> TCATRigBackend::RequestedMode() const {
  const TCATInterface* D = Driver();
  return D ? Pending(FMode, D, D->ModeCommand(), D->NativeMode()) : std::nullopt;
}

bool TCATRigBackend::TuneHz(std::int64_t Hz) {
  TCATInterface* D = Driver();
  if (!D || !D->TuneHz(Hz))
    return false;
  // Read back as the value the radio will then report.
  FFrequency = {D, D->FrequencyCommand(), D->TunedHz(Hz), D->FrequencyHz(), TClock::now()};
  return true;
}

bool TCATRigBackend::TuneMode(const std::string& AMode) {
  TCATInterface* D = Driver();
  if (!D)
    return false;
  // Setting the mode the radio is in (or was just asked for) would only reset
  // its filter.
  if (AMode == RequestedMode().value_or(D->NativeMode()) && D->ModeCommand().empty())
    return true;
  if (!D->TuneNativeMode(AMode))
    return false;
  FMode = {D, D->ModeCommand(), AMode, D->NativeMode(), TClock::now()};
  return true;
}

bool TCATRigBackend::SetPTT(bool On) {
  TCATInterface* D = Driver();
  return D && D->SetPTT(On);
}

bool TCATRigBackend::PTT() const {
  const TCATInterface* D = Driver();
  return D && D->PTT();
}

bool TCATRigBackend::PTTWritten() const {
  const TCATInterface* D = Driver();
  return D && D->PTTWritten();
}

bool TCATRigBackend::PTTUnwritten() const {
  const TCATInterface* D = Driver();
  return D && D->PTTUnwritten();
}

bool TCATRigBackend::HasDataMode() const {
  const TCATInterface* D = Driver();
  const TRadioModel* Model = D ? FindRadioModel(D->Radio()) : nullptr;
  return Model && Model->HasDataMode;
}

double TCATRigBackend::ResolutionHz() const {
  const TCATInterface* D = Driver();
  const TRadioModel* Model = D ? FindRadioModel(D->Radio()) : nullptr;
  return Model ? Model->ResolutionHz : 1;
}

TRigctlRadioFacts TCATRigBackend::Facts() const {
  TRigctlRadioFacts Facts;
  const TCATInterface* D = Driver();
  if (!D)
    return Facts;
  Facts.LowHz = 30000;
  Facts.HighHz = 470000000;
  if (const TRadioModel* Model = FindRadioModel(D->Radio())) {
    Facts.LowHz = Model->LowHz;
    Facts.HighHz = Model->HighHz;
    for (const char* Mode : Model->NativeModes)
      Facts.Modes.emplace_back(Mode);
  }
  Facts.StepHz = std::max<std::int64_t>(1, std::llround(ResolutionHz()));
  Facts.CanKey = D->CanKey();
  return Facts;
}

} // namespace vela
