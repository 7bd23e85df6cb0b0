#include "logbook/untLogbookRadio.h"

#include "cat/radios/untRadioTable.h"
#include "cat/untCATinterface.h"

namespace vela {

TDriverLogbookRadio::TDriverLogbookRadio(TDriverProvider AProvider,
                                         const TVelaLogSettings* ASettings)
    : FProvider(AProvider), FSettings(ASettings), FBackend(std::move(AProvider)) {}

bool TDriverLogbookRadio::Live() const {
  const TCATInterface* Driver = FProvider ? FProvider() : nullptr;
  return Driver && Driver->RadioLinkStatus().State == TLinkState::lsLive;
}

const TRadioModel* TDriverLogbookRadio::Model() const {
  const TCATInterface* Driver = FProvider ? FProvider() : nullptr;
  return Driver ? FindRadioModel(Driver->Radio()) : nullptr;
}

TDigiMode TDriverLogbookRadio::Digi() const {
  return FSettings ? FSettings->DigiMode() : dmRTTY;
}

} // namespace vela
