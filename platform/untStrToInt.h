// Text-to-integer conversion shared by the INI reader, the port boxes of the
// settings dialog and the Icom frequency encoding.
#pragma once

#include <cstdint>
#include <string_view>

namespace vela {

// Accepts optional leading blanks (spaces and tabs), an optional "+" or "-",
// then either decimal digits that fit a signed 32-bit integer, or one to eight
// hexadecimal digits after "$", "x", "X", "0x" or "0X", taken as a 32-bit
// pattern (so "$FFFFFFFF" is -1). A sign before a hexadecimal value negates the
// pattern. Nothing may follow the digits. On failure Value is left unchanged
// and false is returned; each caller decides what a failure means.
bool TryStrToInt(std::string_view Text, std::int32_t& Value);

} // namespace vela
