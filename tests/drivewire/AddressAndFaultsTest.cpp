// What --drive and axdrive's --faults accept, and the reasons they refuse.
#include <gtest/gtest.h>

#include "axdrive/Network.h"
#include "drivewire/Address.h"

namespace {

TEST(DriveAddress, ReadsTcpAndSerialAddressesAndRefusesWithAReason) {
  using T = drivewire::Address::Transport;
  struct Case {
    const char* spec;
    bool ok;
    T transport;
    const char* where;  // host or device
    unsigned portOrBaud;
    unsigned axis;
    const char* error;
  };
  const Case cases[] = {
      {"tcp:127.0.0.1:7001", true, T::Tcp, "127.0.0.1", 7001, 1, ""},
      {"tcp:drive-3.local:502/12", true, T::Tcp, "drive-3.local", 502, 12, ""},
      {"tcp:127.0.0.1:0", false, T::Tcp, "", 0, 0, "the port goes from 1 to 65535"},
      {"tcp:127.0.0.1:65536", false, T::Tcp, "", 0, 0, "the port goes from 1 to 65535"},
      {"tcp:127.0.0.1:7001/255", false, T::Tcp, "", 0, 0, "the axis ID goes from 1 to 254"},
      {"tcp:127.0.0.1:7001/0", false, T::Tcp, "", 0, 0, "the axis ID goes from 1 to 254"},
      {"tcp:7001", false, T::Tcp, "", 0, 0, "not tcp:HOST:PORT[/AXIS]"},
      {"serial:/dev/ttyUSB0", true, T::Serial, "/dev/ttyUSB0", 115200, 1, ""},
      {"serial:/dev/ttyUSB0:57600/3", true, T::Serial, "/dev/ttyUSB0", 57600, 3, ""},
      // No such file: the last "/DIGITS" is the axis.
      {"serial:/dev/ttyUSB0/7", true, T::Serial, "/dev/ttyUSB0", 115200, 7, ""},
      // An existing file that ends in "/DIGITS" is the device; after a baud
      // it is the axis.
      {"serial:/proc/1", true, T::Serial, "/proc/1", 115200, 1, ""},
      {"serial:/proc/1:9600/1", true, T::Serial, "/proc/1", 9600, 1, ""},
      {"serial:/dev/ttyS0:10", false, T::Serial, "", 0, 0, "the baud rate goes from 50 to 4000000"},
      {"serial:", false, T::Serial, "", 0, 0, "not serial:DEVICE[:BAUD][/AXIS]"},
      {"udp:1.2.3.4:5", false, T::Tcp, "", 0, 0, "not a wire (tcp:HOST:PORT[/AXIS] or serial:DEVICE[:BAUD][/AXIS])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    std::string error;
    const auto address = drivewire::ParseAddress(c.spec, error);
    ASSERT_EQ(address.has_value(), c.ok) << error;
    if (!c.ok) {
      EXPECT_EQ(error, c.error);
      continue;
    }
    EXPECT_EQ(address->transport, c.transport);
    EXPECT_EQ(c.transport == T::Tcp ? address->host : address->device, c.where);
    EXPECT_EQ(c.transport == T::Tcp ? address->port : address->baud, c.portOrBaud);
    EXPECT_EQ(address->axis, c.axis);
  }
}

TEST(LinkFaults, ReadsEachFaultWithItsUnitAndRefusesWithAReason) {
  std::string error;
  const auto all = axdrive::ParseFaults("drop=0.05,corrupt=0.01,delay=2ms,jitter=1ms,cut-after=4s", error);
  ASSERT_TRUE(all) << error;
  EXPECT_DOUBLE_EQ(all->drop, 0.05);
  EXPECT_DOUBLE_EQ(all->corrupt, 0.01);
  EXPECT_DOUBLE_EQ(all->delay_s, 0.002);
  EXPECT_DOUBLE_EQ(all->jitter_s, 0.001);
  EXPECT_DOUBLE_EQ(all->cutAfter_s.value_or(-1), 4.0);
  const auto none = axdrive::ParseFaults("", error);
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->cutAfter_s);
  const std::pair<const char*, const char*> refused[] = {
      {"drop=1.5", "drop takes a probability from 0 to 1, not \"1.5\""},
      {"corrupt=nan", "corrupt takes a probability from 0 to 1, not \"nan\""},
      {"delay=2", "delay takes a time such as 2ms or 4s, not \"2\""},
      {"cut-after=-1s", "cut-after takes a time such as 2ms or 4s, not \"-1s\""},
      {"loss=0.1", "unknown fault \"loss\" (drop, corrupt, delay, jitter, cut-after)"},
  };
  for (const auto& [text, why] : refused) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(axdrive::ParseFaults(text, error));
    EXPECT_EQ(error, why);
  }
}

}  // namespace
