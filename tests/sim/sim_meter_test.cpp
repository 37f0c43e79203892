#include "sim/sim_meter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "link/crc16.h"
#include "link/find_response.h"
#include "link/frame.h"
#include "sim/sim_commands.h"
#include "sim/sim_serial_device.h"

namespace {

using qm::LineSettings;
using qm::sim::Fault;
using qm::sim::MeterConfig;
using qm::sim::SimMeter;
using Bytes = std::vector<uint8_t>;

const LineSettings k9600{9600, 'N', 8, 1};

Bytes Request(uint8_t address, uint8_t function, uint16_t reg, uint16_t word) {
  qm::RequestFrame f;
  qm::BuildRequest(f, address, function, reg, word);
  return Bytes(f.begin(), f.end());
}

bool CrcOk(const Bytes& b) {
  if (b.size() < 3) return false;
  const uint16_t crc = qm::CalcCrc16(b.data(), static_cast<int16_t>(b.size() - 2));
  return b[b.size() - 2] == (crc >> 8) && b[b.size() - 1] == (crc & 0xFF);
}

Bytes Read(SimMeter& m, uint16_t reg, uint16_t quantity, uint8_t address = 1) {
  return m.Handle(Request(address, 0x03, reg, quantity), k9600).bytes;
}
Bytes Write(SimMeter& m, uint16_t reg, uint16_t value, uint8_t address = 1) {
  return m.Handle(Request(address, 0x06, reg, value), k9600).bytes;
}
int16_t Signed(uint16_t w) { return static_cast<int16_t>(w); }

// ---- memory map ----

TEST(SimMeterMap, ReadReturnsTheAddressedBytes) {
  SimMeter m;
  for (uint16_t a = 0; a < 0x400; ++a) m.SetByte(a, static_cast<uint8_t>(a * 7 + 3));
  m.SetByte(0x0301, 1);  // keep it talking: address 1 at 9600 baud
  m.SetByte(0x0309, 3);
  struct Case {
    uint16_t reg, quantity;
  };
  for (const Case c : {Case{0x0000, 41},
                       {0x0300, 26},
                       {0x03E0, 2},
                       {0x03A8, 1},
                       {0x0001, 1},
                       {0x0000, 125},
                       {0x03FE, 1},
                       {0x0335, 3}}) {
    const Bytes r = Read(m, c.reg, c.quantity);
    ASSERT_EQ(r.size(), 5u + 2 * c.quantity) << c.reg;
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(r[1], 0x03);
    EXPECT_EQ(r[2], 2 * c.quantity);
    EXPECT_TRUE(CrcOk(r));
    for (int k = 0; k < 2 * c.quantity; ++k)
      ASSERT_EQ(r[3 + static_cast<size_t>(k)], m.Byte(static_cast<uint16_t>(c.reg + k))) << c.reg << "+" << k;
  }
}

TEST(SimMeterMap, DefaultsWhereTheProgramLooks) {
  MeterConfig config;
  config.address = 0x21;
  config.baud = 4800;
  config.pt = 0x1234;
  config.ct = 400;
  config.wiring = 3;
  SimMeter m(config);
  const Bytes id = m.Handle(Request(0x21, 0x03, 0x03E0, 2), {4800, 'N', 8, 1}).bytes;
  ASSERT_EQ(id.size(), 9u);
  EXPECT_EQ(id[3] << 8 | id[4], 7410);
  EXPECT_EQ(id[5] << 8 | id[6], 1203);
  EXPECT_EQ(m.Byte(0x0301), 0x21);
  EXPECT_EQ(m.Byte(0x0303), 3);
  EXPECT_EQ(m.Byte(0x0309), 2);  // baud code of 4800
  EXPECT_EQ(m.Word(0x030E), 0x1234);
  EXPECT_EQ(m.Word(0x0312), 400);
  EXPECT_EQ(m.Byte(0x030B), 1);  // power scale selector
  EXPECT_LE(m.Byte(0x030D), 6);  // energy decade
  EXPECT_EQ(m.Baud(), 4800);
  EXPECT_EQ(m.Address(), 0x21);
}

TEST(SimMeterMap, UnsupportedRequestsGetExceptions) {
  SimMeter m;
  struct Case {
    const char* what;
    Bytes request;
    uint8_t function, code;
  };
  Bytes writeMultiple{1, 0x10, 0x03, 0x00, 0x00, 0x01, 0x02, 0x00, 0x05};
  const uint16_t crc = qm::CalcCrc16(writeMultiple.data(), 9);
  writeMultiple.push_back(static_cast<uint8_t>(crc >> 8));
  writeMultiple.push_back(static_cast<uint8_t>(crc & 0xFF));
  const Case cases[] = {
      {"read input registers", Request(1, 0x04, 0, 1), 0x84, 0x01},
      {"write multiple", writeMultiple, 0x90, 0x01},
      {"quantity 0", Request(1, 0x03, 0, 0), 0x83, 0x02},
      {"quantity 126", Request(1, 0x03, 0, 126), 0x83, 0x02},
      {"read past the end", Request(1, 0x03, 0x03FE, 2), 0x83, 0x02},
      {"read far outside", Request(1, 0x03, 0x8000, 1), 0x83, 0x02},
      {"write outside", Request(1, 0x06, 0x0400, 1), 0x86, 0x02},
      {"write half outside", Request(1, 0x06, 0x03FF, 1), 0x86, 0x02},
      {"baud code 5", Request(1, 0x06, 0x0008, 5), 0x86, 0x03},
      {"baud code 0x0103", Request(1, 0x06, 0x0308, 0x0103), 0x86, 0x03},
  };
  for (const Case& c : cases) {
    const Bytes r = m.Handle(c.request, k9600).bytes;
    ASSERT_EQ(r.size(), 5u) << c.what;
    EXPECT_EQ(r[0], 1) << c.what;
    EXPECT_EQ(r[1], c.function) << c.what;
    EXPECT_EQ(r[2], c.code) << c.what;
    EXPECT_TRUE(CrcOk(r)) << c.what;
  }
  EXPECT_EQ(m.Baud(), 9600);
}

TEST(SimMeterMap, SilentForOtherAddressesBadCrcAndOtherLines) {
  SimMeter m;
  Bytes bad = Request(1, 0x03, 0x0300, 26);
  bad[7] ^= 1;
  EXPECT_TRUE(m.Handle(bad, k9600).bytes.empty());
  EXPECT_STREQ(m.LastRefusal(), "crc");
  EXPECT_TRUE(Read(m, 0x0300, 26, 2).empty());
  EXPECT_TRUE(Read(m, 0x0300, 26, 0).empty());  // address 0 is an address like any other
  EXPECT_TRUE(m.Handle(Bytes{1, 3, 0}, k9600).bytes.empty());
  EXPECT_TRUE(m.Handle(Request(1, 3, 0x0300, 26), {19200, 'N', 8, 1}).bytes.empty());
  EXPECT_TRUE(m.Handle(Request(1, 3, 0x0300, 26), {9600, 'E', 8, 1}).bytes.empty());
  EXPECT_STREQ(m.LastRefusal(), "line");
  EXPECT_EQ(m.Handle(Request(1, 3, 0x0300, 26), {9600, 'N', 8, 2}).bytes.size(),
            57u);  // stop bits do not matter

  MeterConfig zero;
  zero.address = 0;
  SimMeter m0(zero);
  EXPECT_EQ(Read(m0, 0x0300, 1, 0).size(), 7u);
  EXPECT_TRUE(Read(m0, 0x0300, 1, 1).empty());
}

// ---- writes ----

TEST(SimMeterWrites, EachRegisterTheProgramWritesLandsInItsPlace) {
  struct Case {
    const char* what;
    uint16_t reg, value, lands;
  };
  const Case cases[] = {
      {"wiring", 0x0002, 4, 0x0302},
      {"PT", 0x030E, 64000, 0x030E},
      {"PT by short address", 0x000E, 7, 0x030E},
      {"CT", 0x0312, 200, 0x0312},
      {"CT by short address", 0x0012, 1, 0x0312},
      {"accuracy", 0x0022, 1, 0x0322},
      {"power direction", 0x0026, 1, 0x0326},
      {"analog selection", 0x0030, 33, 0x0330},
      {"fixed value", 0x0032, 1234, 0x0332},
      {"right limit", 0x0034, 0xFFFB, 0x0334},
      {"left limit", 0x0336, 300, 0x0336},
      {"right value of Ua", 0x0060, 22000, 0x0360},
      {"right value of S", 0x009E, 30000, 0x039E},
      {"left value of Ua", 0x03A0, 0, 0x03A0},
      {"left value of F", 0x03A6, 42129, 0x03A6},
      {"left value of S", 0x03DE, 5, 0x03DE},
      {"reset switch", 0x0004, 1, 0x0304},
  };
  for (const Case& c : cases) {
    SimMeter m;
    m.SetWord(c.lands, 0xA5A5);
    const Bytes request = Request(1, 0x06, c.reg, c.value);
    EXPECT_EQ(m.Handle(request, k9600).bytes, request) << c.what;
    EXPECT_EQ(m.Word(c.lands), c.value) << c.what;
    // The poll reads it back where it looks for it.
    const Bytes back = Read(m, c.lands, 1);
    ASSERT_EQ(back.size(), 7u);
    EXPECT_EQ(back[3] << 8 | back[4], c.value) << c.what;
  }
}

TEST(SimMeterWrites, SettingsBlockShowsWrittenSettingsAtTheirDataBytes) {
  SimMeter m;
  Write(m, 0x000E, 100);
  Write(m, 0x0012, 50);
  Write(m, 0x0002, 5);
  Write(m, 0x0022, 1);
  Write(m, 0x0026, 1);
  Write(m, 0x0030, 35);
  const Bytes r = Read(m, 0x0300, 26);
  ASSERT_EQ(r.size(), 57u);
  const uint8_t* data = r.data() + 3;
  EXPECT_EQ(data[1], 1);
  EXPECT_EQ(data[3], 5);
  EXPECT_EQ(data[9], 3);
  EXPECT_EQ(data[14] << 8 | data[15], 100);
  EXPECT_EQ(data[18] << 8 | data[19], 50);
  EXPECT_EQ(data[35], 1);
  EXPECT_EQ(data[39], 1);
  EXPECT_EQ(data[49], 35);
}

TEST(SimMeterWrites, AddressChangesAfterTheEcho) {
  SimMeter m;
  const Bytes request = Request(1, 0x06, 0x0000, 5);
  const Bytes echo = Write(m, 0x0000, 5);
  EXPECT_EQ(echo, request);  // still from the old address
  EXPECT_EQ(m.Address(), 5);
  EXPECT_TRUE(Read(m, 0x0300, 1, 1).empty());
  EXPECT_EQ(Read(m, 0x0300, 1, 5).size(), 7u);
}

TEST(SimMeterWrites, BaudChangesAfterTheReplyLeaves) {
  qm::sim::VirtualClock clock;
  SimMeter m;
  qm::sim::SimSerialDevice device(m, clock);
  device.Open("/dev/ttyS0", k9600);
  device.Write(Request(1, 0x06, 0x0308, 4));
  clock.Advance(300);
  EXPECT_EQ(device.ReadAll(), Request(1, 0x06, 0x0308, 4));  // answered at 9600
  EXPECT_EQ(m.Baud(), 19200);
  device.Write(Request(1, 0x03, 0x0300, 26));
  clock.Advance(300);
  EXPECT_TRUE(device.ReadAll().empty());  // the old rate is no longer heard
  device.Apply({19200, 'N', 8, 1});
  device.Write(Request(1, 0x03, 0x0300, 26));
  clock.Advance(150);
  EXPECT_EQ(device.ReadAll().size(), 57u);
}

TEST(SimMeterWrites, EnergyResetNeedsTheSwitch) {
  struct Case {
    const char* what;
    std::vector<std::pair<uint16_t, uint16_t>> writes;
    bool activeCleared, reactiveCleared;
  };
  const Case cases[] = {
      {"no switch", {{0x001A, 0}, {0x001C, 0}}, false, false},
      {"full reset", {{0x0004, 1}, {0x001A, 0}, {0x001C, 0}, {0x0004, 0}}, true, true},
      {"active only", {{0x0004, 1}, {0x001A, 0}, {0x0004, 0}}, true, false},
      {"reactive by long address", {{0x0304, 1}, {0x031C, 0}}, false, true},
      {"nonzero value", {{0x0004, 1}, {0x001A, 1}, {0x001C, 7}}, false, false},
      {"switch at 2", {{0x0004, 2}, {0x001A, 0}}, false, false},
      {"switched off again", {{0x0004, 1}, {0x0004, 0}, {0x001A, 0}}, false, false},
  };
  for (const Case& c : cases) {
    SimMeter m;
    m.Freeze(true);
    for (int k = 0; k < 4; ++k) ASSERT_GT(m.Energy(k), 0u);
    for (const auto& [reg, value] : c.writes) ASSERT_EQ(Write(m, reg, value).size(), 8u) << c.what;
    EXPECT_EQ(m.Energy(0) == 0 && m.Energy(1) == 0, c.activeCleared) << c.what;
    EXPECT_EQ(m.Energy(2) == 0 && m.Energy(3) == 0, c.reactiveCleared) << c.what;
    EXPECT_EQ(m.Energy(0) != 0 && m.Energy(1) != 0, !c.activeCleared) << c.what;
  }
}

TEST(SimMeterWrites, FactorySequenceLeavesAConsistentMeter) {
  qm::sim::VirtualClock clock;
  MeterConfig config;
  config.address = 7;
  config.baud = 19200;
  config.pt = 100;
  config.ct = 40;
  config.wiring = 3;
  SimMeter m(config);
  qm::sim::SimSerialDevice device(m, clock);
  device.Open("/dev/ttyS0", {19200, 'N', 8, 1});
  const std::pair<uint16_t, uint16_t> writes[] = {{0x22, 1}, {0x0E, 1}, {0x12, 1}, {0x02, 0},
                                                  {0x04, 1}, {0x1A, 0}, {0x1C, 0}, {0x00, 1}};
  for (const auto& [reg, value] : writes) {
    device.Write(Request(7, 0x06, reg, value));
    clock.Advance(150);
    EXPECT_EQ(device.ReadAll().size(), 8u) << reg;
  }
  device.Write(Request(1, 0x06, 0x0008, 3));
  clock.Advance(150);
  EXPECT_EQ(device.ReadAll().size(), 8u);
  EXPECT_EQ(m.Address(), 1);
  EXPECT_EQ(m.Baud(), 9600);
  EXPECT_EQ(m.Word(0x030E), 1);
  EXPECT_EQ(m.Word(0x0312), 1);
  EXPECT_EQ(m.Byte(0x0303), 0);
  EXPECT_EQ(m.Byte(0x0323), 1);
  EXPECT_EQ(m.Word(0x0304), 1);
  for (int k = 0; k < 4; ++k) EXPECT_LT(m.Energy(k), 5u) << k;  // cleared a moment ago
  // The program then talks 9600,N,8,2 to address 1.
  device.Apply({9600, 'N', 8, 2});
  device.Write(Request(1, 0x03, 0x0300, 26));
  clock.Advance(200);
  const Bytes r = device.ReadAll();
  ASSERT_EQ(r.size(), 57u);
  EXPECT_EQ(r[3 + 1], 1);
  EXPECT_EQ(r[3 + 9], 3);
}

// ---- measurements ----

TEST(SimMeterLoad, LooksLikeAThreePhaseLoad) {
  SimMeter m;
  for (uint64_t t : {0ULL, 12345ULL, 600000ULL}) {
    m.AdvanceTo(t);
    for (int phase = 0; phase < 3; ++phase) {
      const int g = 8 * phase;
      SCOPED_TRACE("phase " + std::to_string(phase) + " at " + std::to_string(t));
      const double v = m.Word(2 * g) / 100.0, ul = m.Word(2 * (g + 1)) / 100.0,
                   i = m.Word(2 * (g + 2)) / 10000.0;
      EXPECT_NEAR(v, 220, 5);
      EXPECT_NEAR(ul, 381, 9);
      EXPECT_GE(i, 3.0);
      EXPECT_LE(i, 5.0);
      EXPECT_NEAR(m.Word(2 * (g + 3)) * 0.00106813, 50.0, 0.1);
      const double p = Signed(m.Word(2 * (g + 4))) * 4 / 10.0, q = Signed(m.Word(2 * (g + 6))) * 4 / 10.0;
      const double s = m.Word(2 * (g + 7)) / 5.0, pf = Signed(m.Word(2 * (g + 5))) / 10000.0;
      EXPECT_NEAR(s, v * i, v * i * 0.01);
      EXPECT_NEAR(std::hypot(p, q), s, s * 0.01);
      EXPECT_NEAR(pf, p / s, 0.01);
      EXPECT_GT(pf, 0.8);
    }
    const auto word = [&m](int n) { return m.Word(static_cast<uint16_t>(2 * n)); };
    EXPECT_NEAR(Signed(word(28)), Signed(word(4)) + Signed(word(12)) + Signed(word(20)), 3);
    EXPECT_NEAR(word(31), word(7) + word(15) + word(23), 3);
    EXPECT_NEAR(word(24), (word(0) + word(8) + word(16)) / 3.0, 2);
    EXPECT_EQ(word(27), word(3));
    EXPECT_EQ(word(32), 0);
  }
}

TEST(SimMeterLoad, MovesDeterministicallyWithTheSeed) {
  MeterConfig a, b;
  a.seed = b.seed = 42;
  SimMeter m1(a), m2(b);
  MeterConfig c;
  c.seed = 43;
  SimMeter m3(c);
  bool moved = false, differs = false;
  const uint16_t v0 = m1.Word(0), i0 = m1.Word(4);
  for (uint64_t t = 1000; t <= 30000; t += 1000) {
    m1.AdvanceTo(t);
    m2.AdvanceTo(t);
    m3.AdvanceTo(t);
    for (uint16_t a2 = 0; a2 < 82; a2 += 2) ASSERT_EQ(m1.Word(a2), m2.Word(a2)) << a2 << " at " << t;
    moved |= m1.Word(0) != v0 || m1.Word(4) != i0;
    differs |= m1.Word(0) != m3.Word(0);
  }
  EXPECT_TRUE(moved);
  EXPECT_TRUE(differs);
}

TEST(SimMeterLoad, FreezeHoldsExactWords) {
  SimMeter m;
  m.Freeze(true);
  m.SetMeasurementWord(0, 50001);
  m.SetMeasurementWord(4, static_cast<uint16_t>(-15000));
  const uint32_t e0 = m.Energy(0);
  m.AdvanceTo(3600000);
  EXPECT_EQ(m.Word(0), 50001);
  EXPECT_EQ(Signed(m.Word(8)), -15000);
  EXPECT_EQ(m.Energy(0), e0);
  const Bytes r = Read(m, 0x0000, 41);
  EXPECT_EQ(r[3] << 8 | r[4], 50001);
  m.Freeze(false);
  m.AdvanceTo(3601000);
  EXPECT_NE(m.Word(0), 50001);
}

TEST(SimMeterLoad, EnergyGrowsWithThePowerAndTheDecade) {
  struct Case {
    uint8_t decade, direction;
    int grows, still;  // counters
  };
  for (const Case c : {Case{0, 0, 0, 1}, {2, 0, 0, 1}, {0, 1, 1, 0}}) {
    MeterConfig config;
    config.energyDecade = c.decade;
    config.direction = c.direction;
    SimMeter m(config);
    const uint32_t start = m.Energy(c.grows), other = m.Energy(c.still);
    const uint32_t reactiveStart = m.Energy(c.direction ? 3 : 2);
    double expectWh = 0;
    for (uint64_t t = 1000; t <= 3600000; t += 1000) {
      m.AdvanceTo(t);
      expectWh += std::abs(Signed(m.Word(56))) * 4 / 10.0 / 3600.0;
    }
    const double grown = m.Energy(c.grows) - start;
    EXPECT_NEAR(grown, expectWh / std::pow(10, c.decade), expectWh / std::pow(10, c.decade) * 0.01 + 1)
        << int{c.decade} << "," << int{c.direction};
    EXPECT_GT(grown, 0);
    EXPECT_EQ(m.Energy(c.still), other);
    EXPECT_GT(m.Energy(c.direction ? 3 : 2), reactiveStart);
    if (c.direction) {
      EXPECT_LT(Signed(m.Word(56)), 0);
    }
  }
}

TEST(SimMeterLoad, PowerScaleSelectorScalesThePowerWords) {
  MeterConfig four, one;
  one.powerScale = 0;
  SimMeter m4(four), m1(one);
  EXPECT_NEAR(Signed(m1.Word(8)), 4.0 * Signed(m4.Word(8)), 4);
  EXPECT_EQ(m1.Word(14), m4.Word(14));  // apparent power has no scale
}

// ---- faults ----

TEST(SimMeterFaults, ApplyToTheNextRepliesOnly) {
  SimMeter m;
  m.InjectFault(Fault::Silence, 2);
  EXPECT_TRUE(Read(m, 0x0300, 1, 9).empty());  // not for this meter: no fault used up
  EXPECT_EQ(m.PendingFaults(), 2u);
  EXPECT_TRUE(Read(m, 0x0300, 1).empty());
  EXPECT_TRUE(Read(m, 0x0300, 1).empty());
  EXPECT_EQ(Read(m, 0x0300, 1).size(), 7u);
}

TEST(SimMeterFaults, EachFaultShape) {
  const Bytes clean = [] {
    SimMeter m;
    m.Freeze(true);
    return Read(m, 0x03E0, 2);
  }();
  struct Case {
    Fault fault;
    size_t size;
    uint32_t delay;
  };
  const Case cases[] = {{Fault::Silence, 0, 0},      {Fault::Late, 9, qm::sim::kLateReplyMs},
                        {Fault::Noise, 12, 5},       {Fault::BadCrc, 9, 5},
                        {Fault::WrongAddress, 9, 5}, {Fault::Exception, 5, 5},
                        {Fault::Truncated, 6, 5},    {Fault::Flood, 459, 5}};
  for (const Case& c : cases) {
    SimMeter m;
    m.Freeze(true);
    m.InjectFault(c.fault);
    const SimMeter::Reply r = m.Handle(Request(1, 0x03, 0x03E0, 2), k9600);
    EXPECT_EQ(r.bytes.size(), c.size) << qm::sim::FaultName(c.fault);
    if (!r.bytes.empty()) {
      EXPECT_EQ(r.delayMs, c.delay) << qm::sim::FaultName(c.fault);
    }
    EXPECT_EQ(m.LastFault(), c.fault);
    const int16_t found = qm::FindResponse(
        r.bytes.data(), static_cast<int16_t>(std::min<size_t>(r.bytes.size(), 400)), 0x03, 1, 9);
    const bool findable = c.fault == Fault::Late || c.fault == Fault::Noise;
    EXPECT_EQ(found >= 0, findable) << qm::sim::FaultName(c.fault);
    if (c.fault == Fault::Noise) {
      EXPECT_EQ(found, qm::sim::kNoiseBytes);
    }
  }
  EXPECT_EQ(clean.size(), 9u);
}

}  // namespace
