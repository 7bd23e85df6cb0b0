// Small text rules shared by every reader of operator- or peer-typed text.
#pragma once

#include <string>
#include <string_view>

namespace vela {

// The blanks most readers ignore around a word: space and tab.
inline constexpr std::string_view SpaceAndTab = " \t";

// Text without the leading and trailing characters found in Blanks.
std::string_view Trim(std::string_view Text, std::string_view Blanks = SpaceAndTab);

// Text with the ASCII capitals A to Z made small; every other byte (UTF-8
// included) stays as it is. For names matched without regard to case.
std::string AsciiLower(std::string_view Text);

} // namespace vela
