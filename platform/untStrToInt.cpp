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

// Skips the blanks and the sign before a number; I ends at the first
// character after them.
bool SkipBlanksAndSign(std::string_view Text, std::size_t& I, bool& Negative) {
  I = 0;
  while (I < Text.size() && (Text[I] == ' ' || Text[I] == '\t'))
    ++I;
  Negative = false;
  if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
    Negative = Text[I] == '-';
    ++I;
  }
  return I < Text.size();
}

// Decimal digits (at least one) within 32 bits, negated when Negative.
bool DecimalToInt(std::string_view Digits, bool Negative, std::int32_t& Value) {
  if (Digits.empty())
    return false;
  // Accumulate the magnitude in 64 bits; any digit run long enough to overflow
  // that has already passed the 32-bit limit and is rejected on the way.
  const std::uint64_t Limit = Negative ? 2147483648ull : 2147483647ull;
  std::uint64_t Magnitude = 0;
  for (const char C : Digits) {
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

} // namespace

bool AllDecimalDigits(std::string_view Text) {
  return Text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool TryStrToInt(std::string_view Text, std::int32_t& Value) {
  std::size_t I = 0;
  bool Negative = false;
  if (!SkipBlanksAndSign(Text, I, Negative))
    return false;
  const std::size_t N = Text.size();
  bool Hex = false;
  if (Text[I] == '$' || Text[I] == 'x' || Text[I] == 'X') {
    Hex = true;
    ++I;
  } else if (Text[I] == '0' && I + 1 < N && (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
    Hex = true;
    I += 2;
  }
  if (!Hex)
    return DecimalToInt(Text.substr(I), Negative, Value);
  if (I >= N || N - I > 8)
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

bool TryDecimalToInt(std::string_view Text, std::int32_t& Value) {
  std::size_t I = 0;
  bool Negative = false;
  return SkipBlanksAndSign(Text, I, Negative) && DecimalToInt(Text.substr(I), Negative, Value);
}

bool TryDigitsToInt(std::string_view Text, std::size_t MaxDigits, std::int64_t& Value) {
  if (Text.empty() || Text.size() > MaxDigits || MaxDigits > 18)
    return false;
  std::int64_t Result = 0;
  for (const char C : Text) {
    if (C < '0' || C > '9')
      return false;
    Result = Result * 10 + (C - '0');
  }
  Value = Result;
  return true;
}

bool TryHexDigitsToInt(std::string_view Text, std::size_t MaxDigits, std::int64_t& Value) {
  if (Text.empty() || Text.size() > MaxDigits || MaxDigits > 15)
    return false;
  std::int64_t Result = 0;
  for (const char C : Text) {
    const int D = HexDigit(C);
    if (D < 0)
      return false;
    Result = Result * 16 + D;
  }
  Value = Result;
  return true;
}

bool ParseHertz(std::string_view Text, std::int64_t Limit, std::int64_t& Hz) {
  const std::size_t Dot = Text.find('.');
  const std::string_view Whole = Text.substr(0, Dot);
  const std::string_view Fraction =
      Dot == std::string_view::npos ? std::string_view() : Text.substr(Dot + 1);
  if ((Whole.empty() && Fraction.empty()) || !AllDecimalDigits(Whole) ||
      !AllDecimalDigits(Fraction))
    return false;
  std::int64_t Value = 0;
  for (const char C : Whole) {
    Value = Value * 10 + (C - '0');
    if (Value > Limit)
      return false;
  }
  // Rounded to the nearest hertz, not truncated: a client that asks for
  // "14074000.6" means the hertz nearest to it, 14074001, and a frequency
  // that was read back as a fraction and is written again must not creep down
  // by a hertz each time.
  if (!Fraction.empty() && Fraction.front() >= '5')
    ++Value;
  if (Value > Limit)
    return false;
  Hz = Value;
  return true;
}

} // namespace vela
