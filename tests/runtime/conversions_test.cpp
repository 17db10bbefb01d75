#include "runtime/conversions.h"

#include <gtest/gtest.h>

#include "tests/runtime/print.h"

#include <cmath>

using namespace plimra::rt;

TEST(Conversions, StrPutsABlankWhereThePlusSignWouldBeAndValReadsItBack) {
  EXPECT_EQ(Str(int64_t{0}), " 0");
  EXPECT_EQ(Str(int64_t{2160}), " 2160");
  EXPECT_EQ(Str(int64_t{-1}), "-1");
  for (int64_t v : {int64_t{0}, int64_t{-1}, int64_t{2160}, int64_t{-32768}, int64_t{99999}})
    EXPECT_EQ(Val(Str(v)), static_cast<double>(v));
}

TEST(Conversions, ValTakesTheLeadingNumberAndIgnoresBlanks) {
  EXPECT_EQ(Val(" 2160"), 2160);
  EXPECT_EQ(Val("-1"), -1);
  EXPECT_EQ(Val("- 1"), -1);
  EXPECT_EQ(Val("1 2 3"), 123);
  EXPECT_EQ(Val("\t42\n"), 42);
  EXPECT_EQ(Val("12abc"), 12);
  EXPECT_EQ(Val("2.5"), 2.5);
  EXPECT_EQ(Val(".5x"), 0.5);
  EXPECT_EQ(Val("1e3"), 1000);
  EXPECT_EQ(Val("1e"), 1);  // an exponent without digits is not part of it
  EXPECT_EQ(Val("1.5.5"), 1.5);
  EXPECT_EQ(Val("+7"), 7);
  // No number at all.
  for (const char* t : {"", " ", "abc", "-", ".", "e5", "True", "&H"}) EXPECT_EQ(Val(t), 0) << t;
  // Hex and octal, 16-bit values wrapping like the classic literals.
  EXPECT_EQ(Val("&HFF"), 255);
  EXPECT_EQ(Val("&hffff"), -1);
  EXPECT_EQ(Val("&H10000"), 65536);
  EXPECT_EQ(Val("&O17"), 15);
  // Full-width digits are not numbers.
  EXPECT_EQ(Val(QStringLiteral("１２")), 0);
  // A huge exponent stays finite.
  EXPECT_TRUE(std::isfinite(Val("1e999")));
}

TEST(Conversions, BooleanFromWordsOrNumbers) {
  for (const char* t : {"True", "true", "TRUE", " tRuE ", "1", "-1", "2.5", "&H1"})
    EXPECT_EQ(CBool(t), std::optional<bool>(true)) << t;
  for (const char* t : {"False", "false", "FALSE", "0", " 0 ", "0.0"})
    EXPECT_EQ(CBool(t), std::optional<bool>(false)) << t;
  for (const char* t : {"", " ", "yes", "no", "1x", "Truex", "T", "- 1"})
    EXPECT_EQ(CBool(t), std::nullopt) << t;
  EXPECT_EQ(BoolText(true), "True");
  EXPECT_EQ(BoolText(false), "False");
}

TEST(Conversions, RoundingHalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(CInt(0.5), int16_t{0});
  EXPECT_EQ(CInt(1.5), int16_t{2});
  EXPECT_EQ(CInt(2.5), int16_t{2});
  EXPECT_EQ(CInt(3.5), int16_t{4});
  EXPECT_EQ(CInt(-2.5), int16_t{-2});
  EXPECT_EQ(CInt(-1.5), int16_t{-2});
  EXPECT_EQ(CInt(2.4999), int16_t{2});
  EXPECT_EQ(CInt(2.5001), int16_t{3});
  // 16-bit range, after rounding.
  EXPECT_EQ(CInt(32767.4), int16_t{32767});
  EXPECT_EQ(CInt(32767.5), std::nullopt);
  EXPECT_EQ(CInt(-32768.5), int16_t{-32768});
  EXPECT_EQ(CInt(-32769), std::nullopt);
  EXPECT_EQ(CInt(NAN), std::nullopt);
  EXPECT_EQ(CInt(INFINITY), std::nullopt);
  EXPECT_EQ(CLng(2147483647.4), int32_t{2147483647});
  EXPECT_EQ(CLng(2147483648.0), std::nullopt);
}
