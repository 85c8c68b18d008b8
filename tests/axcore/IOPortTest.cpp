#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "axcore/Setup.h"

namespace {

TEST(OutputPortPins, MapPortsAndPinsBothWays) {
  const struct {
    const char* list;
    std::vector<std::pair<int, int>> pinOfPort;  // port -> pin
    std::vector<std::pair<int, int>> portOfPin;  // pin -> port
  } cases[] = {
      {"25,26,27,28", {{0, 25}, {3, 28}, {4, 0}, {-1, 0}}, {{25, 0}, {27, 2}, {28, 3}, {99, 0}}},
      // Blanks around an entry are allowed; "x" and "" are ports without a pin.
      {"25, x , 27,,25", {{1, 0}, {2, 27}, {3, 0}, {4, 25}}, {{25, 0}, {27, 2}, {0, 0}}},
      {"30,0", {{1, 0}}, {{0, 1}, {30, 0}}},  // pin 0 is a pin like any other
      {"-3,4,99999999999", {{0, 0}, {1, 4}, {2, 0}}, {{-3, 0}, {4, 1}}},
      {"", {{0, 0}}, {{25, 0}}},
  };
  for (const auto& c : cases) {
    CMC_Setup setup;
    setup.SetOption("OutputPortPins", c.list);
    for (const auto& [port, pin] : c.pinOfPort) EXPECT_EQ(setup.GetIOPinFromPort(port), pin) << c.list << " port " << port;
    for (const auto& [pin, port] : c.portOfPin) EXPECT_EQ(setup.GetIOPortFromPin(pin), port) << c.list << " pin " << pin;
  }
  CMC_Setup none;
  EXPECT_EQ(none.GetIOPinFromPort(0), 0) << "no option: no ports";
  EXPECT_EQ(none.GetIOPortFromPin(25), 0);
}

}  // namespace
