#include "sim/request_framer.h"

#include <gtest/gtest.h>

#include "link/crc16.h"
#include "link/frame.h"
#include "sim/sim_commands.h"

namespace {

using qm::sim::RequestFramer;
using Bytes = std::vector<uint8_t>;

Bytes Request(uint8_t address, uint8_t function, uint16_t reg, uint16_t word) {
  qm::RequestFrame f;
  qm::BuildRequest(f, address, function, reg, word);
  return Bytes(f.begin(), f.end());
}

TEST(RequestFramer, FrameSplitAtEveryOffsetIsReassembled) {
  const Bytes frame = Request(1, 0x03, 0x0300, 26);
  for (size_t cut = 0; cut <= frame.size(); ++cut) {
    RequestFramer framer(20);
    auto first = framer.Feed(frame.data(), cut, 100.0);
    auto second = framer.Feed(frame.data() + cut, frame.size() - cut, 105.0);
    first.insert(first.end(), second.begin(), second.end());
    ASSERT_EQ(first.size(), 1u) << cut;
    EXPECT_EQ(first[0], frame);
    EXPECT_EQ(framer.Pending(), 0u);
  }
}

TEST(RequestFramer, GarbageIsDroppedByteByByte) {
  RequestFramer framer;
  const Bytes frame = Request(7, 0x06, 0x0008, 3);
  Bytes stream{0x00, 0x07, 0x06, 0xFF};
  stream.insert(stream.end(), frame.begin(), frame.end());
  stream.insert(stream.end(), frame.begin(), frame.end());
  const auto frames = framer.Feed(stream, 0);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], frame);
  EXPECT_EQ(frames[1], frame);
  EXPECT_EQ(framer.Dropped(), 4u);
}

TEST(RequestFramer, SilenceForgetsAHalfFrame) {
  RequestFramer framer(20);
  const Bytes frame = Request(1, 0x03, 0x0000, 41);
  EXPECT_TRUE(framer.Feed(frame.data(), 5, 0).empty());
  // The rest of that frame never comes; after a pause a whole new frame does.
  const auto frames = framer.Feed(frame, 50);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], frame);
  EXPECT_EQ(framer.Dropped(), 5u);
  framer.Feed(frame.data(), 3, 60);
  framer.Expire(70);
  EXPECT_EQ(framer.Pending(), 3u);
  framer.Expire(81);
  EXPECT_EQ(framer.Pending(), 0u);
}

TEST(RequestFramer, MultipleRegisterWriteIsTakenWhole) {
  Bytes frame{1, 0x10, 0x03, 0x00, 0x00, 0x02, 0x04, 0, 1, 0, 2};
  const uint16_t crc = qm::CalcCrc16(frame.data(), static_cast<int16_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  RequestFramer framer;
  EXPECT_TRUE(framer.Feed(frame.data(), 9, 0).empty());
  const auto frames = framer.Feed(frame.data() + 9, frame.size() - 9, 1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], frame);
}

TEST(RequestFramer, RandomBytesNeverMakeAFrame) {
  RequestFramer framer;
  uint32_t seed = 99;
  Bytes noise(5000);
  for (auto& b : noise) b = static_cast<uint8_t>((seed = seed * 1664525 + 1013904223) >> 24);
  size_t frames = 0;
  for (const auto& f : framer.Feed(noise, 0)) {
    const uint16_t crc = qm::CalcCrc16(f.data(), static_cast<int16_t>(f.size() - 2));
    EXPECT_EQ(f[f.size() - 2] << 8 | f[f.size() - 1], crc);  // only CRC-correct frames come out
    ++frames;
  }
  EXPECT_LE(frames, 1u);
}

TEST(InterFrameSilence, ThreeAndAHalfCharactersWithAFloor) {
  EXPECT_NEAR(qm::sim::InterFrameSilenceMs(1200, false, 1, 0), 3.5 * 10 * 1000 / 1200.0, 1e-9);
  EXPECT_NEAR(qm::sim::InterFrameSilenceMs(1200, true, 1, 0), 3.5 * 11 * 1000 / 1200.0, 1e-9);
  EXPECT_EQ(qm::sim::InterFrameSilenceMs(19200, false, 1, 20), 20);
}

// ---- the command channel of qm7410-sim ----

TEST(SimCommands, FaultNames) {
  struct Case {
    const char* text;
    bool ok;
    qm::sim::Fault fault;
    int count;
  };
  using qm::sim::Fault;
  const Case cases[] = {
      {"silence", true, Fault::Silence, 1},
      {"late:3", true, Fault::Late, 3},
      {"NOISE", true, Fault::Noise, 1},
      {"badcrc", true, Fault::BadCrc, 1},
      {"bad-crc:2", true, Fault::BadCrc, 2},
      {"wrongaddress", true, Fault::WrongAddress, 1},
      {"exception", true, Fault::Exception, 1},
      {"truncated", true, Fault::Truncated, 1},
      {"flood:1", true, Fault::Flood, 1},
      {"flood:0", false, Fault::None, 0},
      {"noise:", false, Fault::None, 0},
      {"noise:x", false, Fault::None, 0},
      {"noise:-1", false, Fault::None, 0},
      {"fire", false, Fault::None, 0},
      {"", false, Fault::None, 0},
  };
  for (const Case& c : cases) {
    Fault fault = Fault::None;
    int count = 0;
    EXPECT_EQ(qm::sim::ParseFault(c.text, fault, count), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(fault, c.fault) << c.text;
      EXPECT_EQ(count, c.count) << c.text;
    }
  }
}

TEST(SimCommands, ChangeTheMeter) {
  qm::sim::SimMeter meter;
  bool quit = false;
  auto run = [&](const std::string& line) { return qm::sim::RunCommand(meter, line, quit); };
  EXPECT_EQ(run("fault noise 2"), "ok fault noise 2");
  EXPECT_EQ(run("fault late:3"), "ok fault late 3");
  EXPECT_EQ(meter.PendingFaults(), 5u);
  EXPECT_EQ(run("clear"), "ok clear");
  EXPECT_EQ(meter.PendingFaults(), 0u);
  EXPECT_EQ(run("freeze"), "ok freeze");
  EXPECT_TRUE(meter.Frozen());
  EXPECT_EQ(run("set 0x0000 50001"), "ok set 0 50001");
  EXPECT_EQ(meter.Word(0), 50001);
  EXPECT_EQ(run("measure 4 -15000"), "ok measure 4 50536");
  EXPECT_EQ(meter.Word(8), 50536);
  EXPECT_EQ(run("get 8"), "ok 50536");
  EXPECT_EQ(run("  "), "ok");
  for (const char* bad : {"set 0x400 1", "set 0 70000", "measure 41 1", "fault", "fault fire", "get", "jump"})
    EXPECT_EQ(run(bad).rfind("error:", 0), 0u) << bad;
  EXPECT_EQ(run("unfreeze"), "ok unfreeze");
  EXPECT_FALSE(meter.Frozen());
  EXPECT_FALSE(quit);
  EXPECT_EQ(run("quit"), "ok quit");
  EXPECT_TRUE(quit);
}

}  // namespace
