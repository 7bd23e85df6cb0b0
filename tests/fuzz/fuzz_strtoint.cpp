// Fuzzes the text-to-integer conversion against an independent reading of
// its rules: leading blanks, an optional sign, then decimal digits that fit
// 32 bits signed or one to eight hexadecimal digits after "$", "x", "X", "0x"
// or "0X" (a 32-bit pattern, negated modulo 2^32 after a "-"); its decimal
// half and the hertz reader against it and their bounds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/untStrToInt.h"

namespace {

std::optional<std::int32_t> Reference(std::string_view T) {
  const std::size_t Start = T.find_first_not_of(" \t");
  if (Start == std::string_view::npos)
    return std::nullopt;
  T.remove_prefix(Start);
  bool Negative = false;
  if (T.front() == '+' || T.front() == '-') {
    Negative = T.front() == '-';
    T.remove_prefix(1);
  }
  int Base = 10;
  if (T.starts_with("0x") || T.starts_with("0X")) {
    Base = 16;
    T.remove_prefix(2);
  } else if (!T.empty() && (T.front() == '$' || T.front() == 'x' || T.front() == 'X')) {
    Base = 16;
    T.remove_prefix(1);
  }
  if (T.empty())
    return std::nullopt;
  const std::string_view Digits = Base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  if (T.find_first_not_of(Digits) != std::string_view::npos)
    return std::nullopt;
  if (Base == 16) {
    if (T.size() > 8)
      return std::nullopt;
    const std::uint32_t Pattern =
        static_cast<std::uint32_t>(std::strtoul(std::string(T).c_str(), nullptr, 16));
    return static_cast<std::int32_t>(Negative ? 0u - Pattern : Pattern);
  }
  // Decimal: strip leading zeros, then compare lengths before converting.
  const std::size_t NonZero = T.find_first_not_of('0');
  if (NonZero == std::string_view::npos)
    return 0;
  T.remove_prefix(NonZero);
  if (T.size() > 10)
    return std::nullopt;
  const long long Magnitude = std::strtoll(std::string(T).c_str(), nullptr, 10);
  const long long V = Negative ? -Magnitude : Magnitude;
  if (V < INT32_MIN || V > INT32_MAX)
    return std::nullopt;
  return static_cast<std::int32_t>(V);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Bytes, std::size_t Size) {
  const std::string_view Text(reinterpret_cast<const char*>(Bytes), Size);
  std::int32_t Value = 0x5A5A5A5A;
  const bool Ok = vela::TryStrToInt(Text, Value);
  const std::optional<std::int32_t> Expected = Reference(Text);
  if (Ok != Expected.has_value() || (Ok && Value != *Expected) || (!Ok && Value != 0x5A5A5A5A)) {
    std::fprintf(stderr, "TryStrToInt(\"%.*s\"): got %s %d, expected %s %d\n",
                 static_cast<int>(Size), Text.data(), Ok ? "ok" : "fail", Value,
                 Expected ? "ok" : "fail", Expected.value_or(0));
    std::abort();
  }
  // The decimal half agrees with the whole rule wherever no hexadecimal
  // marker stands, and fails wherever one does.
  std::int32_t Decimal = 0;
  const bool DecimalOk = vela::TryDecimalToInt(Text, Decimal);
  const bool Hex = Text.find_first_of("$xX") != std::string_view::npos;
  if (DecimalOk != (Ok && !Hex) || (DecimalOk && Decimal != Value)) {
    std::fprintf(stderr, "TryDecimalToInt(\"%.*s\") disagrees\n", static_cast<int>(Size),
                 Text.data());
    std::abort();
  }
  std::int64_t Hz = -1;
  if (vela::ParseHertz(Text, 1'000'000'000'000, Hz) && (Hz < 0 || Hz > 1'000'000'000'000))
    std::abort();
  return 0;
}
