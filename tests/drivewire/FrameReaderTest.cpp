// The frame codec and reader, and the drive's server, against damaged
// bytes: a seeded run of random and mutated frames, every bad frame refused
// and counted, every good one delivered as it was sent.
#include <gtest/gtest.h>

#include <random>

#include "axdrive/DriveServer.h"
#include "drivewire/Frame.h"
#include "drivewire/Messages.h"
#include "virtualdrive/PlantFile.h"

namespace {

using drivewire::Frame;
using drivewire::FrameReader;

std::vector<std::uint8_t> Bytes(const char* text) {
  return std::vector<std::uint8_t>(text, text + std::char_traits<char>::length(text));
}

bool Same(const Frame& a, const Frame& b) {
  return a.axis == b.axis && a.kind == b.kind && a.sequence == b.sequence && a.code == b.code &&
         a.payload == b.payload;
}

TEST(FrameCodec, CrcIsTheStandardCrc32) {
  // The published check value of CRC-32 (ISO-HDLC) over "123456789".
  EXPECT_EQ(drivewire::Crc32(Bytes("123456789")), 0xCBF43926u);
  EXPECT_EQ(drivewire::Crc32({}), 0u);
}

TEST(FrameCodec, RefusesEachKindOfDamageAndFindsTheFrameAfterIt) {
  Frame good{3, drivewire::Kind::Answer, 0x1234, 0x0019, {1, 2, 3, 4, 5}};
  const std::vector<std::uint8_t> bytes = drivewire::Encode(good);
  // Header layout as the protocol document gives it, worked by hand.
  ASSERT_EQ(bytes.size(), 10u + 5u + 4u);
  EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 10)),
            (std::vector<std::uint8_t>{0xA5, 0x5A, 5, 0, 3, 1, 0x34, 0x12, 0x19, 0x00}));
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::uint64_t drivewire::ReaderCounts::*counter;
  };
  const Case cases[] = {
      {"a payload bit flipped", [](auto& b) { b[11] ^= 0x10; }, &drivewire::ReaderCounts::badCrc},
      {"the CRC damaged", [](auto& b) { b.back() ^= 0x80; }, &drivewire::ReaderCounts::badCrc},
      {"a length beyond the bound", [](auto& b) { b[2] = 0x01, b[3] = 0x10; }, &drivewire::ReaderCounts::tooLong},
      {"an unknown kind", [](auto& b) { b[5] = 7; }, &drivewire::ReaderCounts::badKind},
      {"a shorter length", [](auto& b) { b[2] = 2; }, &drivewire::ReaderCounts::badCrc},
      {"cut short", [](auto& b) { b.resize(12); }, &drivewire::ReaderCounts::badCrc},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> stream = bytes;
    c.damage(stream);
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    FrameReader reader;
    // Byte by byte, as a serial line delivers them.
    for (std::uint8_t b : stream) reader.Feed(std::span<const std::uint8_t>(&b, 1));
    Frame frame;
    ASSERT_TRUE(reader.Next(frame));
    EXPECT_TRUE(Same(frame, good));
    EXPECT_FALSE(reader.Next(frame));
    EXPECT_GE(reader.Counts().*c.counter, 1u);
  }
}

// The seeded run: frames of random fields, a third of them damaged (bits
// flipped, cut short, a wrong length, a broken sync, garbage between),
// fed in random pieces.
TEST(FrameCodec, ASeededRunOfMutatedFramesDeliversExactlyTheGoodOnes) {
  std::mt19937_64 random(20240624);
  auto uniform = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  constexpr int kFrames = 100000;
  FrameReader reader;
  std::vector<Frame> sent;
  std::size_t good = 0, damagedWithSync = 0, delivered = 0;
  std::vector<std::uint8_t> stream;
  auto drain = [&] {
    Frame frame;
    while (reader.Next(frame)) {
      ASSERT_LT(delivered, sent.size());
      ASSERT_TRUE(Same(frame, sent[delivered])) << "frame " << delivered;
      ++delivered;
    }
  };
  for (int k = 0; k < kFrames; ++k) {
    Frame frame;
    frame.axis = static_cast<std::uint8_t>(uniform(256));
    frame.kind = static_cast<drivewire::Kind>(uniform(3));
    frame.sequence = static_cast<std::uint16_t>(uniform(65536));
    frame.code = static_cast<std::uint16_t>(uniform(65536));
    frame.payload.resize(uniform(8) == 0 ? uniform(drivewire::kMaxPayload + 1) : uniform(40));
    for (auto& b : frame.payload) b = static_cast<std::uint8_t>(uniform(256));
    const std::vector<std::uint8_t> original = drivewire::Encode(frame);
    std::vector<std::uint8_t> bytes = original;
    int mutation = uniform(3) == 0 ? static_cast<int>(uniform(5)) : -1;
    switch (mutation) {
      case 0:  // bits flipped past the sync
        for (std::size_t n = 1 + uniform(3); n > 0; --n) bytes[2 + uniform(bytes.size() - 2)] ^= 1u << uniform(8);
        break;
      case 1:  // cut short: the sender stopped and the line went quiet
        bytes.resize(2 + uniform(bytes.size() - 2));
        break;
      case 2:  // another length
        bytes[2] = static_cast<std::uint8_t>(uniform(256));
        bytes[3] = static_cast<std::uint8_t>(uniform(256));
        if (bytes[2] == (frame.payload.size() & 0xFF) && bytes[3] == (frame.payload.size() >> 8)) bytes[3] ^= 0x40;
        break;
      case 3:  // the sync broken: the frame is never seen
        bytes[uniform(2)] ^= 0x01;
        break;
      case 4:  // garbage in front (the frame itself intact)
        bytes.insert(bytes.begin(), uniform(20), static_cast<std::uint8_t>(uniform(256)));
        break;
    }
    // Two flips of one bit undo each other.
    if (mutation == 0 && bytes == original) mutation = -1;
    if (mutation < 0 || mutation == 4) {
      sent.push_back(frame);
      ++good;
    } else if (mutation != 3) {
      ++damagedWithSync;
    }
    stream.insert(stream.end(), bytes.begin(), bytes.end());
    // Pieces of random size; now and then the line goes quiet.
    // (What a cut frame lacks would otherwise be made up by the bytes of
    // the next.)
    const bool quiet = mutation == 1 || k + 1 == kFrames || uniform(32) == 0;
    if (quiet || uniform(4) == 0) {
      std::size_t at = 0;
      while (at < stream.size()) {
        const std::size_t n = std::min(stream.size() - at, 1 + uniform(600));
        reader.Feed(std::span<const std::uint8_t>(stream.data() + at, n));
        at += n;
        drain();
      }
      stream.clear();
      if (quiet)
        while (reader.Partial()) reader.Expire();
      drain();
    }
  }
  EXPECT_EQ(delivered, good);
  EXPECT_EQ(reader.Counts().frames, good);
  EXPECT_GE(reader.Counts().Refused(), damagedWithSync);
  EXPECT_GT(reader.Counts().skippedBytes, 0u);
}

// The server takes any frame a reader lets through: random codes and
// fields, requests from hosts that never greeted, axes that do not exist.
// Every answer parses and carries a status.
TEST(DriveServerFuzz, AnswersEveryFrameItIsGivenWithAStatus) {
  std::vector<axdrive::AxisPlant> axes(2);
  axes[0].axis = 1;
  axes[1].axis = 2;
  for (auto& axis : axes) {
    axis.plant = virtualdrive::ExamplePlant();
    axis.plantText = std::string(virtualdrive::ExamplePlantText());
  }
  axdrive::DriveServer server(axes, drivewire::ClockMode::Lockstep, 1.0);
  std::mt19937_64 random(7);
  auto uniform = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  const std::uint16_t codes[] = {0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16,
                                 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x30, 0x31, 0x32, 0x80, 0x7777};
  const char* names[] = {"MER", "KPI", "VDC_Detection_Test", "R_L_Test", "STARTED", "APOS_MT", ""};
  double time_s = 0.0;
  std::size_t answers = 0, ok = 0;
  for (int k = 0; k < 20000; ++k) {
    drivewire::PayloadWriter fields;
    // The host's time moves as a host moves it; a drive in lockstep
    // simulates whatever time it is asked to.
    time_s += 0.001 * static_cast<double>(uniform(20));
    fields.F64(time_s);
    if (uniform(4) == 0) fields.U16(drivewire::kProtocolVersion).Str("fuzz");
    for (std::size_t n = uniform(5); n > 0; --n) {
      switch (uniform(4)) {
        case 0: fields.Str(names[uniform(std::size(names))]); break;
        case 1: fields.F64(static_cast<double>(uniform(2000)) - 1000.0); break;
        case 2: fields.U8(static_cast<std::uint8_t>(uniform(256))); break;
        default: fields.U32(static_cast<std::uint32_t>(uniform(3000))); break;
      }
    }
    Frame request;
    request.axis = static_cast<std::uint8_t>(uniform(4));
    request.kind = uniform(10) == 0 ? drivewire::Kind::Answer : drivewire::Kind::Request;
    request.sequence = static_cast<std::uint16_t>(uniform(8));
    request.code = codes[uniform(std::size(codes))];
    request.payload = std::move(fields.Payload());
    std::vector<Frame> out;
    server.Handle(static_cast<int>(uniform(2)), request, out);
    if (uniform(500) == 0) server.Disconnected(static_cast<int>(uniform(2)));
    for (const Frame& f : out) {
      if (f.kind != drivewire::Kind::Answer) continue;
      ++answers;
      drivewire::PayloadReader reader(f.payload);
      const std::uint8_t status = reader.U8();
      reader.F64();
      ASSERT_TRUE(reader.Ok());
      ASSERT_LE(status, 6u);
      ASSERT_LE(drivewire::Encode(f).size(), drivewire::kMaxFrame);
      if (status == 0) ++ok;
    }
  }
  EXPECT_GT(answers, 15000u);
  EXPECT_GT(ok, 100u);
  server.StopAll();
}

}  // namespace
