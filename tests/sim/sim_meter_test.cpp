// What the simulated meter must get right for the other tests to mean anything; replies, faults and
// the poll's view of the meter are exercised by the link, poll and command tests.
#include "sim/sim_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "link/find_response.h"
#include "link/frame.h"
#include "sim/sim_serial_device.h"

namespace {

using qm::sim::MeterConfig;
using qm::sim::SimMeter;
using Bytes = std::vector<uint8_t>;

const qm::LineSettings k9600{9600, 'N', 8, 1};

Bytes Request(uint8_t address, uint8_t function, uint16_t reg, uint16_t word) {
  qm::RequestFrame f;
  qm::BuildRequest(f, address, function, reg, word);
  return Bytes(f.begin(), f.end());
}
Bytes Read(SimMeter& m, uint16_t reg, uint16_t quantity, uint8_t address = 1) {
  return m.Handle(Request(address, 0x03, reg, quantity), k9600).bytes;
}
Bytes Write(SimMeter& m, uint16_t reg, uint16_t value) {
  return m.Handle(Request(1, 0x06, reg, value), k9600).bytes;
}

TEST(SimMeterMap, ReadReturnsTheAddressedBytes) {
  SimMeter m;
  for (uint16_t a = 0; a < 0x400; ++a) m.SetByte(a, static_cast<uint8_t>(a * 7 + 3));
  m.SetByte(0x0301, 1);  // keep it talking: address 1 at 9600 baud
  m.SetByte(0x0309, 3);
  for (const auto& [reg, quantity] :
       {std::pair<uint16_t, uint16_t>{0x0000, 41}, {0x0300, 26}, {0x03E0, 2}, {0x0001, 1}, {0x03FE, 1}}) {
    const Bytes r = Read(m, reg, quantity);
    const auto size = static_cast<int16_t>(5 + 2 * quantity);
    ASSERT_EQ(qm::FindResponse(r.data(), static_cast<int16_t>(r.size()), 0x03, 1, size), 0) << reg;
    ASSERT_EQ(r.size(), static_cast<size_t>(size)) << reg;
    for (size_t k = 0; k < 2u * quantity; ++k)
      EXPECT_EQ(r[3 + k], m.Byte(static_cast<uint16_t>(reg + k))) << reg << "+" << k;
  }
  EXPECT_EQ(Read(m, 0x03FE, 2).at(1), 0x83);  // past the end: an exception, never bytes from elsewhere
}

// A write below 0x0100 lands in the settings at 0x0300 + its address, others at their own address.
TEST(SimMeterMap, WritesLandWhereThePollReadsThem) {
  const std::tuple<uint16_t, uint16_t, uint16_t> cases[] = {
      {0x000E, 100, 0x030E}, {0x0012, 50, 0x0312}, {0x0022, 1, 0x0322},   {0x0060, 22000, 0x0360},
      {0x009E, 7, 0x039E},   {0x030E, 9, 0x030E},  {0x0336, 300, 0x0336}, {0x03A6, 42129, 0x03A6}};
  for (const auto& [reg, value, lands] : cases) {
    SimMeter m;
    EXPECT_EQ(Write(m, reg, value), Request(1, 0x06, reg, value)) << reg;
    const Bytes back = Read(m, lands, 1);
    ASSERT_EQ(back.size(), 7u) << reg;
    EXPECT_EQ(back[3] << 8 | back[4], value) << reg;
  }
}

// Faults apply in the order asked, one reply each; a huge count (the command channel takes up to a
// million) is a count, not a million entries.
TEST(SimMeterFaults, ApplyInOrderOnePerReply) {
  SimMeter m;
  m.InjectFault(qm::sim::Fault::BadCrc, 2);
  m.InjectFault(qm::sim::Fault::Silence);
  m.InjectFault(qm::sim::Fault::Noise, 1000000);
  m.InjectFault(qm::sim::Fault::Noise, 1000000);
  EXPECT_EQ(m.PendingFaults(), 2000003u);
  for (auto fault :
       {qm::sim::Fault::BadCrc, qm::sim::Fault::BadCrc, qm::sim::Fault::Silence, qm::sim::Fault::Noise}) {
    Read(m, 0x0300, 1);
    EXPECT_EQ(m.LastFault(), fault);
  }
  EXPECT_EQ(m.PendingFaults(), 1999999u);
  m.ClearFaults();
  EXPECT_EQ(Read(m, 0x0300, 1).size(), 7u);
  EXPECT_EQ(m.LastFault(), qm::sim::Fault::None);
}

// A new address or baud code takes effect only once its echo has gone out.
TEST(SimMeterLine, ChangesAfterTheReply) {
  qm::sim::VirtualClock clock;
  SimMeter m;
  qm::sim::SimSerialDevice device(m, clock);
  device.Open("/dev/ttyS0", k9600);
  device.Write(Request(1, 0x06, 0x0308, 4));
  clock.Advance(300);
  EXPECT_EQ(device.ReadAll(), Request(1, 0x06, 0x0308, 4));  // answered at 9600
  device.Write(Request(1, 0x03, 0x0300, 26));
  clock.Advance(300);
  EXPECT_TRUE(device.ReadAll().empty());  // the old rate is no longer heard
  device.Apply({19200, 'N', 8, 1});
  device.Write(Request(1, 0x06, 0x0000, 5));
  clock.Advance(150);
  EXPECT_EQ(device.ReadAll(), Request(1, 0x06, 0x0000, 5));  // from the old address
  EXPECT_TRUE(m.Handle(Request(1, 0x03, 0x0300, 1), {19200, 'N', 8, 1}).bytes.empty());
  EXPECT_EQ(m.Handle(Request(5, 0x03, 0x0300, 1), {19200, 'N', 8, 1}).bytes.size(), 7u);
}

TEST(SimMeterEnergy, ResetNeedsTheSwitch) {
  using Writes = std::vector<std::pair<uint16_t, uint16_t>>;
  // writes, active counters cleared, reactive counters cleared
  const std::tuple<Writes, bool, bool> cases[] = {
      {{{0x001A, 0}, {0x001C, 0}}, false, false},
      {{{0x0004, 1}, {0x001A, 0}, {0x001C, 0}, {0x0004, 0}}, true, true},
      {{{0x0004, 1}, {0x001A, 0}, {0x0004, 0}}, true, false},
      {{{0x0304, 1}, {0x031C, 0}}, false, true},
      {{{0x0004, 1}, {0x001A, 1}, {0x001C, 7}}, false, false},
      {{{0x0004, 2}, {0x001A, 0}}, false, false},
      {{{0x0004, 1}, {0x0004, 0}, {0x001A, 0}}, false, false},
  };
  for (const auto& [writes, active, reactive] : cases) {
    SimMeter m;
    m.Freeze(true);
    for (const auto& [reg, value] : writes) ASSERT_EQ(Write(m, reg, value).size(), 8u);
    for (int k = 0; k < 4; ++k)
      EXPECT_EQ(m.Energy(k) == 0, k < 2 ? active : reactive)
          << k << " after " << testing::PrintToString(writes);
  }
}

TEST(SimMeterLoad, MovesDeterministicallyWithTheSeed) {
  SimMeter m1({.seed = 42}), m2({.seed = 42}), m3({.seed = 43});
  bool moved = false, differs = false;
  const uint16_t v0 = m1.Word(0);
  for (uint64_t t = 1000; t <= 30000; t += 1000) {
    for (SimMeter* m : {&m1, &m2, &m3}) m->AdvanceTo(t);
    for (uint16_t a = 0; a < 82; a += 2) ASSERT_EQ(m1.Word(a), m2.Word(a)) << a << " at " << t;
    moved |= m1.Word(0) != v0;
    differs |= m1.Word(0) != m3.Word(0);
  }
  EXPECT_TRUE(moved);
  EXPECT_TRUE(differs);
}

// The counters grow by the energy of the total active power over time, in units of 10^decade Wh,
// on the import or export counter by the sign of the power.
TEST(SimMeterLoad, EnergyGrowsWithThePowerAndTheDecade) {
  for (const auto& [decade, direction] : {std::pair<uint8_t, uint8_t>{0, 0}, {2, 0}, {0, 1}}) {
    SimMeter m({.energyDecade = decade, .direction = direction});
    const int grows = direction, still = 1 - direction;
    const uint32_t start = m.Energy(grows), other = m.Energy(still);
    double wh = 0;
    for (uint64_t t = 1000; t <= 3600000; t += 1000) {
      m.AdvanceTo(t);
      wh += std::abs(static_cast<int16_t>(m.Word(56))) * 0.4 / 3600.0;  // total P, 0.4 W units
    }
    const double expected = wh / std::pow(10, decade);
    EXPECT_NEAR(m.Energy(grows) - start, expected, expected * 0.01 + 1)
        << int{decade} << "," << int{direction};
    EXPECT_GT(m.Energy(grows), start);
    EXPECT_EQ(m.Energy(still), other);
  }
}

}  // namespace
