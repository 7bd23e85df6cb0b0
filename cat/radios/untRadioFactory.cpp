#include "cat/radios/untRadioFactory.h"

#include "cat/radios/untRadioTable.h"

namespace vela {

std::unique_ptr<TCATInterface> CreateRadioDriver(TRadioType Radio, TComponent* AOwner,
                                                 TVelaLogSettings* ASettings) {
  const TRadioModel* Model = FindRadioModel(Radio);
  return Model ? Model->Create(AOwner, ASettings) : nullptr;
}

const char* RadioName(TRadioType Radio) {
  const TRadioModel* Model = FindRadioModel(Radio);
  return Model ? Model->Name : nullptr;
}

std::optional<TRadioType> RadioFromName(std::string_view Name) {
  const TRadioModel* Model = FindRadioModel(Name);
  return Model ? std::optional<TRadioType>(Model->Radio) : std::nullopt;
}

} // namespace vela
