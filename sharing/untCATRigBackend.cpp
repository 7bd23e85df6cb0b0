#include "sharing/untCATRigBackend.h"

#include <cmath>

#include "cat/radios/untRadioTable.h"
#include "cat/untCATinterface.h"

namespace vela {

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
  TCATInterface* D = Driver();
  return D ? D->PendingHz() : std::nullopt;
}

std::optional<std::string> TCATRigBackend::RequestedMode() const {
  TCATInterface* D = Driver();
  return D ? D->PendingNativeMode() : std::nullopt;
}

bool TCATRigBackend::TuneHz(std::int64_t Hz) {
  TCATInterface* D = Driver();
  return D && D->TuneHz(Hz);
}

bool TCATRigBackend::TuneMode(const std::string& AMode) {
  TCATInterface* D = Driver();
  if (!D)
    return false;
  // Setting the mode the radio is in (or was just asked for) would only reset
  // its filter.
  if (AMode == RequestedMode().value_or(D->NativeMode()) && D->ModeCommand().empty())
    return true;
  return D->TuneNativeMode(AMode);
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
    for (const char* Mode : Model->NativeModes())
      Facts.Modes.emplace_back(Mode);
  }
  Facts.StepHz = std::max<std::int64_t>(1, std::llround(ResolutionHz()));
  Facts.CanKey = D->CanKey();
  return Facts;
}

} // namespace vela
