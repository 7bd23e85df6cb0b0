// The radios the program drives, in one list: each driver describes its own
// radio (its RadioModel, untRadioModel.h); the factory, the settings dialog,
// the tools and the demo find them here.
#pragma once

#include <span>
#include <string_view>

#include "cat/radios/untRadioModel.h"

namespace vela {

// The radios, in the order of their settings numbers: six on a serial line,
// then any radio served by rigctld over TCP.
std::span<const TRadioModel* const> RadioModels();
// The row of a radio type or of a command-line name (exact, lower case);
// nullptr for anything else.
const TRadioModel* FindRadioModel(TRadioType Radio);
const TRadioModel* FindRadioModel(std::string_view Name);

} // namespace vela
