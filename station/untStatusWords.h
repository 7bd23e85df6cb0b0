// The words the status lines show of the radio and its links: the radio's
// name for the operator, its link with the driver's note, and the summary
// that leads the main window's strip. The link states' own words come from
// cat/untLinkState; these only put them together.
#pragma once

#include <string>

#include "settings/untVelaLogSettings.h"

namespace vela {

class TCATInterface;

// The radio's name for the operator ("FT950").
std::string RadioDisplayName(TRadioType Radio);
// The radio link's state with the driver's note ("COM1 → /dev/ttyUSB0 · live").
std::string RadioLinkText(const TCATInterface& CAT);
// "FT950 · COM3 → /dev/ttyUSB0 · live"; with WithVirtual and Virtual CAT
// on, "   |   Virtual CAT · COM5 → /dev/pts/4 · live" follows.
std::string LinkSummary(const TCATInterface& CAT, bool WithVirtual);

} // namespace vela
