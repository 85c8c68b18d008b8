#include <gtest/gtest.h>

#include <string>
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

namespace {

// Every output port with a pin can drive the motor brake; its stage and
// whether the drive inverts it come from the drive's options.
TEST(BrakeOutputs, PortsTheirStageAndInversion) {
  const struct {
    const char* pins;
    const char* types;
    const char* inverted;
    int count;
    std::vector<std::pair<int, int>> enable;    // port -> IsBrakePortEnable
    std::vector<std::pair<int, bool>> invert;   // port -> IsIOMC3PortInverted
  } cases[] = {
      {"25,26,27,28", "", "", 4, {{0, 0x21}, {3, 0x21}, {4, 0}, {-1, 0}}, {{0, false}, {1, false}}},
      {"25,26", "npn, PNP", "1", 2, {{0, 0x21}, {1, 0x11}}, {{0, false}, {1, true}}},
      {"25,,27", "PNP,PNP,PNP", " 2 ,10", 2, {{0, 0x11}, {1, 0}, {2, 0x11}}, {{2, true}, {10, true}, {1, false}}},
      {"", "PNP", "0", 0, {{0, 0}}, {{0, true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pins) + " / " + c.types + " / " + c.inverted);
    CMC_Setup setup;
    setup.SetOption("OutputPortPins", c.pins);
    setup.SetOption("OutputPortTypes", c.types);
    setup.SetOption("InvertedOutputPorts", c.inverted);
    EXPECT_EQ(setup.GetNumberOfBrakeOutputs(), c.count);
    for (const auto& [port, flags] : c.enable) EXPECT_EQ(setup.IsBrakePortEnable(port), flags) << port;
    for (const auto& [port, inverted] : c.invert) EXPECT_EQ(setup.IsIOMC3PortInverted(port), inverted) << port;
  }
}

}  // namespace
