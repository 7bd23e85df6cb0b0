#include "logbook/untLogbookRadio.h"

#include "cat/radios/untRadioTable.h"
#include "cat/untCATinterface.h"

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

} // namespace vela
