#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "axcore/HostFunctions.h"
#include "support/TestSetup.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(TG_FRound, RoundsHalvesAwayFromZeroAndSaturates) {
  const struct {
    double in;
    std::int32_t out;
  } cases[] = {
      {2.5, 3},          {-2.5, -3},        {2.4999999, 2},         {-0.5, -1},           {0.0, 0},
      {32766.5, 32767},  {1e10, kMax},      {-1e10, kMin},          {2147483647.4, kMax}, {2147483646.5, kMax},
      {-2147483648.4, kMin}, {std::nan(""), 0}, {std::numeric_limits<double>::infinity(), kMax},
      {-std::numeric_limits<double>::infinity(), kMin},
  };
  for (const auto& c : cases) EXPECT_EQ(TG_FRound(c.in), c.out) << "input " << c.in;
}

TEST(TG_Round, RoundsFloatsLikeDoubles) {
  const struct {
    float in;
    std::int32_t out;
  } cases[] = {{2.5f, 3}, {-2.5f, -3}, {1.49f, 1}, {3e9f, kMax}, {-3e9f, kMin}, {std::nanf(""), 0}};
  for (const auto& c : cases) EXPECT_EQ(TG_Round(c.in), c.out) << "input " << c.in;
}

TEST(RoundDecimalValue, RoundsToDecimalsHalvesAwayFromZero) {
  const struct {
    double in;
    int decimals;
    double out;
  } cases[] = {
      {1.25, 1, 1.3},   {-1.25, 1, -1.3}, {2.5, 0, 3.0},        {-2.5, 0, -3.0},  {0.125, 2, 0.13},
      {1234.5, -2, 1200.0}, {1250.0, -2, 1300.0}, {3.14159, 3, 3.142}, {1e300, 2, 1e300}, {7.0, 0, 7.0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(RoundDecimalValue(c.in, c.decimals), c.out) << c.in << " to " << c.decimals;
  EXPECT_TRUE(std::isnan(RoundDecimalValue(std::nan(""), 2)));
}

TEST(Compute_ADCMaxValue, LeftAlignsTheConverterFullScale) {
  const struct {
    double bits;
    std::uint32_t out;
  } cases[] = {
      {10, 65472},  // (1023) << 6
      {12, 65520},  // (4095) << 4
      {16, 65535}, {1, 32768}, {3.7, 57344},  // truncated to 3: 7 << 13
      {0, 32768},   // limited to 1
      {-4, 32768},  {20, 65535},  // limited to 16
      {1e300, 65535},
  };
  for (const auto& c : cases) {
    auto setup = testing_support::MakeSetup({{"ADCbits", c.bits}});
    EXPECT_EQ(Compute_ADCMaxValue(setup.get()), c.out) << "ADCbits " << c.bits;
  }
  auto without = testing_support::MakeSetup({});
  EXPECT_EQ(Compute_ADCMaxValue(without.get()), 65472u);
  EXPECT_EQ(Compute_ADCMaxValue(nullptr), 65472u);
}

}  // namespace
