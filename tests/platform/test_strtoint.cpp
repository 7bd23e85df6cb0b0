#include "platform/untStrToInt.h"

#include <gtest/gtest.h>

#include <string>

using namespace vela;

namespace {

struct TGood {
  const char* Text;
  std::int32_t Value;
};

struct TStrToIntGood : testing::TestWithParam<TGood> {};

TEST_P(TStrToIntGood, Converts) {
  std::int32_t V = 12345;
  ASSERT_TRUE(TryStrToInt(GetParam().Text, V)) << GetParam().Text;
  EXPECT_EQ(V, GetParam().Value) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(Decimal, TStrToIntGood,
                         testing::Values(TGood{"0", 0}, TGood{"42", 42}, TGood{"+42", 42},
                                         TGood{"-42", -42}, TGood{"   7", 7}, TGood{"\t 7", 7},
                                         TGood{"  -7", -7}, TGood{"0010", 10},
                                         TGood{"2147483647", 2147483647},
                                         TGood{"-2147483648", INT32_MIN},
                                         TGood{"000000000000000000002147483647", 2147483647}));

INSTANTIATE_TEST_SUITE_P(Hexadecimal, TStrToIntGood,
                         testing::Values(TGood{"$0A", 10}, TGood{"0x0A", 10}, TGood{"0X0a", 10},
                                         TGood{"x1f", 31}, TGood{"X1F", 31},
                                         TGood{"$7FFFFFFF", 2147483647},
                                         // Eight digits are a 32-bit pattern, not a magnitude.
                                         TGood{"$FFFFFFFF", -1}, TGood{"0x80000000", INT32_MIN},
                                         TGood{"-$10", -16}, TGood{"+0x10", 16},
                                         TGood{"-$80000000", INT32_MIN}, TGood{"  $00000001", 1}));

struct TStrToIntBad : testing::TestWithParam<const char*> {};

TEST_P(TStrToIntBad, FailsAndLeavesValue) {
  std::int32_t V = 12345;
  EXPECT_FALSE(TryStrToInt(GetParam(), V)) << '"' << GetParam() << '"';
  EXPECT_EQ(V, 12345);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, TStrToIntBad,
    testing::Values("", "   ", "+", "-", "abc", "yes", "12a", "1 ", "1\r", " 1 2", "--1", "+-1",
                    "1.5", "1e3", "٣", "0x", "$", "x", "-$", "$G", "0x1g", "$-1", "$ 1",
                    "2147483648", "-2147483649", "99999999999999999999999",
                    // Nine hexadecimal digits are too many even when the leading one is 0.
                    "$123456789", "0x000000001", "\v1", "\n1"));

TEST(TStrToInt, EmbeddedZeroByteEndsNothing) {
  std::int32_t V = 0;
  EXPECT_FALSE(TryStrToInt(std::string("12\0"
                                       "3",
                                       4),
                           V));
  EXPECT_TRUE(TryStrToInt(std::string_view("123", 2), V));
  EXPECT_EQ(V, 12);
}

} // namespace
