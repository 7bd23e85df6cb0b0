#include "platform/untText.h"

namespace vela {

std::string_view Trim(std::string_view Text, std::string_view Blanks) {
  const std::size_t First = Text.find_first_not_of(Blanks);
  if (First == std::string_view::npos)
    return {};
  return Text.substr(First, Text.find_last_not_of(Blanks) - First + 1);
}

std::string AsciiLower(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result)
    if (C >= 'A' && C <= 'Z')
      C = static_cast<char>(C - 'A' + 'a');
  return Result;
}

} // namespace vela
