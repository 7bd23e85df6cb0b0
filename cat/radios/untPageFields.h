// The log page's entry form: its six fields by number, and the name each
// has in the form (matched without regard to ASCII case). The window writes
// the radio's texts and the clock by these numbers, the form queue a
// contact's texts by these names.
#pragma once

#include <cstdint>

namespace vela {

enum TPageField : std::uint8_t { pfDate, pfTime, pfCall, pfBand, pfFrequency, pfMode };
inline constexpr int PageFieldCount = 6;
inline constexpr const char* PageFieldNames[PageFieldCount] = {"log_date", "log_time", "call_rx",
                                                               "log_band", "log_freq", "log_mode"};

} // namespace vela
