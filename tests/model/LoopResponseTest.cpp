// The model's response to a logged reference, worked out by hand from a
// short step.
#include <gtest/gtest.h>

#include <vector>

#include "LoopResponse.h"

namespace {

TEST(ResponseToReference, SuperposesTheStepAtEachChangeOfTheReference) {
  SampledLoopResponse loop;
  loop.step = {0.0, 0.5, 1.0};  // then held at 1
  loop.period_s = 1e-3;
  const struct {
    std::vector<double> time_s, reference;
    double initial;
    std::vector<double> expected;
  } cases[] = {
      // +1 at 1 ms, +2 at 3 ms.
      {{0, 1e-3, 2e-3, 3e-3, 4e-3}, {0, 1, 1, 3, 3}, 0.0, {0, 0, 0.5, 1.0, 2.0}},
      // Settled at 2 with the reference at 2: only the change to 4 moves it.
      {{0, 1e-3, 2e-3}, {2, 4, 4}, 2.0, {2, 2, 3}},
      // Between the step's samples: read on the line joining them.
      {{0, 0.5e-3, 1.5e-3}, {1, 1, 1}, 0.0, {0, 0, 0}},
      {{0, 0.5e-3, 1.5e-3}, {0, 2, 2}, 0.0, {0, 0, 1.0}},
  };
  for (const auto& c : cases) {
    const std::vector<double> response = ResponseToReference(loop, c.time_s, c.reference, c.initial);
    ASSERT_EQ(response.size(), c.expected.size());
    for (std::size_t i = 0; i < response.size(); ++i) EXPECT_NEAR(response[i], c.expected[i], 1e-12) << i;
  }
  EXPECT_TRUE(ResponseToReference(SampledLoopResponse(), {0, 1}, {0, 1}, 0.0).empty());
}

}  // namespace
