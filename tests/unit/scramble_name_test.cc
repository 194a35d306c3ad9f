#include "scramble/scramble_name.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace vendrel {
namespace {

std::string Encode(std::string_view name) {
  ScrambleGenerator generator;
  return ScrambleName(name, 'E', generator);
}

std::string Decode(std::string_view stored) {
  ScrambleGenerator unused;
  return ScrambleName(stored, 'D', unused);
}

TEST(ScrambleNameTest, TheWorkedExamples) {
  EXPECT_EQ(Encode("abc"), "HofejnE5iQ0");
  EXPECT_EQ(Encode("Zz9"), "HoAc4nE5iQ0");
  EXPECT_EQ(Encode("a_b"), "Hof_inE5iQ0");
  EXPECT_EQ(Encode(""), "HorM6eI3");
}

TEST(ScrambleNameTest, GeneratorAndFillers) {
  ScrambleGenerator generator;
  EXPECT_EQ(RandomDraw(generator, kFillerRange), 0u);
  EXPECT_EQ(RandomDraw(generator, kFillerRange), 31379u);
  EXPECT_EQ(FillerText(0), "A");
  EXPECT_EQ(FillerText(31379), "D1dH9");
  EXPECT_EQ(FillerText(999999), "J9jJ9j");
  // A second name in the same run continues the sequence.
  ScrambleGenerator run;
  Encode("x");
  std::string first = ScrambleName("x", 'E', run);
  EXPECT_NE(ScrambleName("x", 'E', run), first);
}

TEST(ScrambleNameTest, LengthLimits) {
  std::string name247(247, '.');
  std::string stored = Encode(name247);
  ASSERT_EQ(stored.size(), 255u);
  EXPECT_EQ(Decode(stored), name247);  // both separators and fillers fit
  EXPECT_EQ(Encode(std::string(248, '.')).size(), 255u);
  EXPECT_EQ(Decode(Encode(std::string(252, '.'))), std::string(252, '.'));
  EXPECT_EQ(Encode(std::string(255, '.')).size(), 255u);
}

// The shift text computed the way the format was first defined: the
// extended-precision quotient k / 0.7 or k / 0.13, printed in fixed notation
// to 18 significant digits.
int IndependentShift(int k, int n) {
  const long double divisor = (n % 2 == 1) ? 0.7L : 0.13L;
  const long double quotient = static_cast<long double>(k) / divisor;
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.17Le", quotient);
  int exponent = std::atoi(std::strchr(digits, 'e') + 1);
  char text[64];
  std::snprintf(text, sizeof text, "%.*Lf", 17 - exponent, quotient);
  const int position = n == 0 ? 1 : n;
  const char c = text[position - 1];
  return (c >= '0' && c <= '9') ? c - '0' : 4;
}

TEST(ScrambleNameTest, ShiftsMatchTheExtendedPrecisionQuotientForEveryPosition) {
  for (int k = 1; k <= 255; ++k) {
    for (int n = 0; n <= 8; ++n) {
      ASSERT_EQ(ShiftDigit(k, n), IndependentShift(k, n)) << "k=" << k << " n=" << n;
    }
  }
}

TEST(ScrambleNameTest, TheTableOfShiftsForTheFirstTwelvePositions) {
  const int digit[] = {7, 1, 5, 7, 5, 4, 0, 4, 1, 7, 1, 4};
  const int upper[] = {7, 2, 1, 9, 4, 4, 1, 5, 0, 9, 8, 1};
  const int lower[] = {7, 2, 5, 3, 7, 1, 5, 1, 5, 7, 1, 4};
  const int digit_selector[] = {3, 7, 0, 5};
  const int upper_selector[] = {4, 8, 1, 7, 6};
  const int lower_selector[] = {5, 8, 1};
  for (int k = 1; k <= 12; ++k) {
    EXPECT_EQ(ShiftDigit(k, digit_selector[k % 4]), digit[k - 1]) << k;
    EXPECT_EQ(ShiftDigit(k, upper_selector[k % 5]), upper[k - 1]) << k;
    EXPECT_EQ(ShiftDigit(k, lower_selector[k % 3]), lower[k - 1]) << k;
  }
}

TEST(ScrambleNameTest, EveryNameReadsBack) {
  std::mt19937 random(20261208);
  std::uniform_int_distribution<int> length(1, 247);
  std::uniform_int_distribution<int> byte(1, 255);
  for (int round = 0; round < 3000; ++round) {
    std::string name(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : name) c = static_cast<char>(byte(random));
    ASSERT_EQ(Decode(Encode(name)), name);
  }
  EXPECT_EQ(Decode(Encode("mmm")), "mmm");
}

}  // namespace
}  // namespace vendrel
