#include "cat/radios/untRadioTable.h"

#include "cat/radios/untFT100DCATinterface.h"
#include "cat/radios/untFT897DCATinterface.h"
#include "cat/radios/untFT950CATinterface.h"
#include "cat/radios/untFlexCATinterface.h"
#include "cat/radios/untIC7000CATinterface.h"
#include "cat/radios/untIC7300CATinterface.h"
#include "cat/radios/untRigctldCATinterface.h"

namespace vela {

namespace {

constexpr const TRadioModel* Models[] = {
    &TFlexCATInterface::RadioModel,   &TFT100DCATInterface::RadioModel,
    &TFT897DCATInterface::RadioModel, &TFT950CATInterface::RadioModel,
    &TIC7000CATInterface::RadioModel, &TIC7300CATInterface::RadioModel,
    &TRigctldCATInterface::RadioModel};

} // namespace

std::span<const TRadioModel* const> RadioModels() {
  return Models;
}

const TRadioModel* FindRadioModel(TRadioType Radio) {
  for (const TRadioModel* Model : Models)
    if (Model->Radio == Radio)
      return Model;
  return nullptr;
}

const TRadioModel* FindRadioModel(std::string_view Name) {
  for (const TRadioModel* Model : Models)
    if (Name == Model->Name)
      return Model;
  return nullptr;
}

} // namespace vela
