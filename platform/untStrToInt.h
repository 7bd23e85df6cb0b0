// Text-to-integer conversion: the INI reader's and the settings dialog's rule
// (TryStrToInt), its decimal half for text that must never read as
// hexadecimal (TryDecimalToInt), plain digit runs (TryDigitsToInt,
// TryHexDigitsToInt), and
// hertz with a fraction (ParseHertz).
#pragma once

#include <cstddef>
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

// TryStrToInt without the hexadecimal forms: optional leading blanks, an
// optional sign, decimal digits within 32 bits, nothing after them. Radio
// commands are built from page text with it, so a hexadecimal prefix or
// trailing junk never turns into radio digits.
bool TryDecimalToInt(std::string_view Text, std::int32_t& Value);

// True when Text is nothing but the digits 0 to 9 (also when it is empty).
bool AllDecimalDigits(std::string_view Text);

// One to MaxDigits (at most 18) decimal digits and nothing else: no sign, no
// blanks. For fixed-width fields of replies and for port numbers.
bool TryDigitsToInt(std::string_view Text, std::size_t MaxDigits, std::int64_t& Value);
// The same for hexadecimal digits (either case), at most 15 of them.
bool TryHexDigitsToInt(std::string_view Text, std::size_t MaxDigits, std::int64_t& Value);

// A frequency in hertz written as decimal digits with an optional fraction
// ("14074000", "7074000.000000", ".5"), rounded to the nearest hertz (a half
// rounds up). False for anything else (a sign, a blank, an exponent), for no
// digit at all, and above Limit.
bool ParseHertz(std::string_view Text, std::int64_t Limit, std::int64_t& Hz);

} // namespace vela
