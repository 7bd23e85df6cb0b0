#include "platform/untStrToInt.h"

namespace vela {

namespace {

int HexDigit(char C) {
  if (C >= '0' && C <= '9')
    return C - '0';
  if (C >= 'a' && C <= 'f')
    return C - 'a' + 10;
  if (C >= 'A' && C <= 'F')
    return C - 'A' + 10;
  return -1;
}

} // namespace

bool TryStrToInt(std::string_view Text, std::int32_t& Value) {
  std::size_t I = 0;
  const std::size_t N = Text.size();
  while (I < N && (Text[I] == ' ' || Text[I] == '\t'))
    ++I;
  bool Negative = false;
  if (I < N && (Text[I] == '+' || Text[I] == '-')) {
    Negative = Text[I] == '-';
    ++I;
  }
  if (I >= N)
    return false;

  bool Hex = false;
  if (Text[I] == '$' || Text[I] == 'x' || Text[I] == 'X') {
    Hex = true;
    ++I;
  } else if (Text[I] == '0' && I + 1 < N && (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
    Hex = true;
    I += 2;
  }
  if (I >= N)
    return false;

  if (Hex) {
    if (N - I > 8)
      return false;
    std::uint32_t Pattern = 0;
    for (; I < N; ++I) {
      const int D = HexDigit(Text[I]);
      if (D < 0)
        return false;
      Pattern = (Pattern << 4) | static_cast<std::uint32_t>(D);
    }
    // Negation works on the pattern modulo 2^32, as the 32-bit register would.
    if (Negative)
      Pattern = 0u - Pattern;
    Value = static_cast<std::int32_t>(Pattern);
    return true;
  }

  // Accumulate the magnitude in 64 bits; any digit run long enough to overflow
  // that has already passed the 32-bit limit and is rejected on the way.
  const std::uint64_t Limit = Negative ? 2147483648ull : 2147483647ull;
  std::uint64_t Magnitude = 0;
  for (; I < N; ++I) {
    const char C = Text[I];
    if (C < '0' || C > '9')
      return false;
    Magnitude = Magnitude * 10 + static_cast<std::uint64_t>(C - '0');
    if (Magnitude > Limit)
      return false;
  }
  Value = Negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(Magnitude))
                   : static_cast<std::int32_t>(Magnitude);
  return true;
}

} // namespace vela
