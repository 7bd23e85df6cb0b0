#include "logbook/untLogbookRadio.h"

#include "cat/radios/untRadioTable.h"
#include "cat/untCATinterface.h"
#include "logbook/untLogbookRules.h"

#include <algorithm>

namespace vela {

TDriverLogbookRadio::TDriverLogbookRadio(TDriverProvider AProvider,
                                         const TVelaLogSettings* ASettings)
    : FProvider(AProvider), FSettings(ASettings), FBackend(std::move(AProvider)) {}

bool TDriverLogbookRadio::Live() const {
  // The same rule as the sharing server's: the radio answers.
  return FBackend.LinkUp();
}

const TRadioModel* TDriverLogbookRadio::Model() const {
  const TCATInterface* Driver = FProvider ? FProvider() : nullptr;
  return Driver ? FindRadioModel(Driver->Radio()) : nullptr;
}

TDigiMode TDriverLogbookRadio::Digi() const {
  return FSettings ? FSettings->DigiMode() : dmRTTY;
}

std::pair<int, std::string> TuneLogbookRadio(TLogbookRadio& Radio, std::int64_t Hz,
                                             const std::string& TuneMode) {
  TRigBackend& Backend = Radio.Backend();
  std::string Native;
  if (!TuneMode.empty()) {
    Native = NativeModeForTune(TuneMode, Radio.Digi(), Radio.Model());
    if (Native.empty())
      return {400, "unknown mode " + TuneMode};
  }
  if (!Backend.Ready() || !Radio.Live())
    return {503, "the radio's link is not live"};
  // Keyed by anyone, a key on its way, or a release not yet written: a tune
  // now would move a transmitting radio.
  if (Backend.Transmitting())
    return {409, "transmitting"};
  const std::string HzText = std::to_string(Hz) + " Hz";
  if (const TRadioModel* Model = Radio.Model(); Hz && Model && !Model->Receives(Hz))
    return {400, std::string("the ") + Model->DisplayName + " cannot be tuned to " + HzText +
                     " (it takes " + std::to_string(Model->LowHz) + " to " +
                     std::to_string(Model->HighHz) + " Hz)"};
  if (!Native.empty()) {
    const std::vector<std::string> Modes = Backend.Facts().Modes;
    if (std::find(Modes.begin(), Modes.end(), Native) == Modes.end())
      return {400, "the radio cannot be set to " + Native};
  }
  if (Hz && !Backend.TuneHz(Hz))
    return {400, "the radio cannot be tuned to " + HzText};
  if (!Native.empty() && !Backend.TuneMode(Native))
    return {400, "the radio cannot be set to " + Native};
  return {200, "OK" + (Hz ? " " + std::to_string(Hz) : std::string()) +
                   (Native.empty() ? "" : " " + Native)};
}

} // namespace vela
