// Creates the driver for a radio type and names the radio types: thin
// wrappers over the radio table (untRadioTable.h).
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "cat/untCATinterface.h"

namespace vela {

// The driver for Radio, or nullptr for a type outside the list. The driver
// starts its port worker and records its type in the settings store.
std::unique_ptr<TCATInterface> CreateRadioDriver(TRadioType Radio, TComponent* AOwner,
                                                 TVelaLogSettings* ASettings);

// "flex", "ft100d", "ft897d", "ft950", "ic7000", "ic7300" or "rigctld"; nullptr for a
// type outside the list.
const char* RadioName(TRadioType Radio);

// The type of one of the names above (exact, lower case); empty otherwise.
std::optional<TRadioType> RadioFromName(std::string_view Name);

} // namespace vela
