// Small text rules shared by every reader of operator- or peer-typed text.
#pragma once

#include <string_view>

namespace vela {

// The blanks most readers ignore around a word: space and tab.
inline constexpr std::string_view SpaceAndTab = " \t";

// Text without the leading and trailing characters found in Blanks.
std::string_view Trim(std::string_view Text, std::string_view Blanks = SpaceAndTab);

} // namespace vela
