#include "cat/radios/untRadioModel.h"

namespace vela {

bool ValidCIVAddress(std::int32_t Address) {
  return Address >= 0x01 && Address <= 0xDF && Address != CIVControllerAddress;
}

std::uint8_t CIVAddressFor(const TRadioModel& Model, std::int32_t Stored) {
  return ValidCIVAddress(Stored) ? static_cast<std::uint8_t>(Stored) : Model.DefaultCIVAddress;
}

} // namespace vela
