// The poll cycle and the address scan in the window, against the simulated meter on virtual time.
#include <gtest/gtest.h>
#include <malloc.h>

#include <random>

#include "link/crc16.h"
#include "poll/measurements.h"
#include "tests/support/harness.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using qm::sim::Fault;
using qmtest::Harness;
using qmtest::Request;

constexpr int kPoll = CMonitorDlg::kPollTimer;
constexpr int kScan = CMonitorDlg::kScanTimer;
const QString kTemplateTitle = QStringLiteral("QM7410智能电力监测仪-------Korvath");
const QString kMeterTitle = QStringLiteral("VM7410智能电力监测仪------Velmora(1.2.03版)");

// Settings block byte k lives at 0x0300 + k in the simulated meter.
constexpr uint16_t Setting(int k) { return static_cast<uint16_t>(0x0300 + k); }

// Types the meter's address into edit 1061 and presses run, as a user starts polling.
void StartPolling(Harness& h) {
  h.dlg->SetDlgItemText(1061, "1");
  h.dlg->Click(1063);
}

TEST(PollCycle, FirstCycleIdentifiesWaitsItsTimesAndFillsThe33Boxes) {
  Harness h({0, 19200, 1}, {.baud = 19200, .pt = 100, .ct = 50, .powerScale = 0});
  h.meter.Freeze(true);
  const std::pair<int, uint16_t> words[] = {{0, 22000},   {2, 50000}, {28, 20000}, {29, 0xEC78}, {27, 46811},
                                            {33, 0x1234}, {34, 1},    {35, 0},     {36, 0}};
  for (auto [word, value] : words) h.meter.SetMeasurementWord(word, value);
  StartPolling(h);
  h.Tick(2);
  // Identification once; the meter reports analog selection 1, whose pair is at 0x03A0 and 0x0360.
  const auto settings = Request(1, 3, 0x0300, 26), first = Request(1, 3, 0x03A0, 1),
             second = Request(1, 3, 0x0360, 1), measurements = Request(1, 3, 0x0000, 41);
  EXPECT_EQ(h.Requests(), (std::vector{Request(1, 3, 0x03E0, 2), settings, first, second, measurements,
                                       settings, first, second, measurements}));
  std::vector<uint64_t> sentAt;
  for (const auto& s : h.device.Log()) sentAt.push_back(s.atMs);
  EXPECT_EQ(sentAt, (std::vector<uint64_t>{0, 150, 300, 450, 600, 850, 1000, 1150, 1300}));
  EXPECT_EQ(h.clock.NowMs(), 1550u);
  EXPECT_EQ(h.dlg->GetWindowText(), kMeterTitle);
  const std::pair<int, const char*> shown[] = {{1001, "22.00 KV"}, {1030, "250.000 A"}, {1033, "10.000 MW"},
                                               {1045, "-0.5000"},  {1049, "50.000 Hz"}, {1053, "350.980 MWh"},
                                               {1054, "-0.0 Wh"}};
  for (auto [id, text] : shown) EXPECT_EQ(h.Text(id), QString::fromUtf8(text)) << id;
  for (int id : qm::poll::MeasurementBoxOrder()) EXPECT_FALSE(h.Text(id).isEmpty()) << id;
}

// A line on which the settings reply from address 5 reports address 9, after which the meter answers
// at 9: as a meter whose address has just been changed.
class ReaddressingLine : public qm::sim::SimSerialDevice {
 public:
  using SimSerialDevice::SimSerialDevice;
  qm::sim::SimMeter* meter = nullptr;
  std::vector<uint8_t> ReadAll() override {
    std::vector<uint8_t> r = SimSerialDevice::ReadAll();
    if (r.size() == 57 && r[0] == 5 && r[2] == 52) {
      r[4] = 9;
      const uint16_t crc = qm::link::CalcCrc16(r.data(), 55);
      r[55] = static_cast<uint8_t>(crc >> 8);
      r[56] = static_cast<uint8_t>(crc);
      meter->SetByte(Setting(1), 9);
    }
    return r;
  }
};

TEST(PollCycle, AddressInTheSettingsReplyRedirectsTheRestOfTheCycle) {
  qm::sim::VirtualClock clock;
  qm::sim::SimMeter meter({.address = 5});
  ReaddressingLine line(meter, clock);
  line.meter = &meter;
  CMonitorDlg dlg(line, clock);
  dlg.Create();
  dlg.SetDlgItemText(1061, "5");
  dlg.Click(1063);
  dlg.DeliverTimer(kPoll);
  std::vector<int> addresses;
  for (const auto& s : line.Log()) addresses.push_back(s.bytes[0]);
  EXPECT_EQ(addresses, (std::vector<int>{5, 5, 9, 9, 9}));
  EXPECT_FALSE(dlg.GetDlgItemText(1001).isEmpty()) << "the measurements from 9 are taken";
}

TEST(PollCycle, SelectionOrUnitOutsideTheListsSelectsNothing) {
  Harness h;
  StartPolling(h);
  // Power factor (6) asks for unit item 8 of eight; 36 and up are past the selection list.
  const struct {
    uint8_t code;
    int selection, unit;
  } cases[] = {{6, 6, -1}, {36, -1, 0}, {255, -1, 0}};
  for (const auto& c : cases) {
    h.meter.SetByte(Setting(49), c.code);
    h.Tick();
    EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), c.selection) << int(c.code);
    EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), c.unit) << int(c.code);
    EXPECT_EQ(h.Text(1022).isEmpty(), c.selection < 0) << int(c.code);
  }
}

// The parameter is a Fault: every one the simulator can commit.
class FaultedCycle : public ::testing::TestWithParam<int> {};

TEST_P(FaultedCycle, ShowsNothingFromABadFrameAndRecovers) {
  const Fault fault = static_cast<Fault>(GetParam());
  const bool survives = fault == Fault::Noise;  // noise before a reply does not hide it
  Harness h;
  h.meter.Freeze(true);
  h.meter.SetMeasurementWord(0, 22000);
  StartPolling(h);
  h.meter.InjectFault(fault, 1);  // the identification reply
  h.Tick();
  EXPECT_EQ(h.dlg->GetWindowText(), survives ? kMeterTitle : kTemplateTitle);
  EXPECT_EQ(h.Text(1001), "220.00 V") << "the rest of the cycle goes on";

  h.meter.SetMeasurementWord(0, 23000);
  h.meter.SetWord(Setting(14), 10);  // PT 10
  h.clock.Advance(3000);
  h.meter.InjectFault(fault, 4);  // the whole next cycle
  h.Tick();
  EXPECT_EQ(h.Text(1001), survives ? "2.30 KV" : "220.00 V");
  EXPECT_EQ(h.dlg->m_nPT, survives ? 10u : 1u);
  EXPECT_EQ(h.Text(1022).isEmpty(), !survives) << "a lost analog reply empties the row";
  EXPECT_TRUE(h.messages.empty()) << "the poll cycle reports nothing";

  h.clock.Advance(3000);  // whatever was late has landed and is dropped by the next exchange
  h.Tick();
  EXPECT_EQ(h.Text(1001), "2.30 KV");
  EXPECT_EQ(h.dlg->m_nPT, 10u);
}

const char* const kFaultNames[] = {"None",         "Silence",   "Late",      "Noise", "BadCrc",
                                   "WrongAddress", "Exception", "Truncated", "Flood"};

INSTANTIATE_TEST_SUITE_P(Faults, FaultedCycle, ::testing::Range(1, 9),
                         [](const auto& info) { return kFaultNames[info.param]; });

// The shared test environment's capture of message boxes, put back after a test replaced it.
int Capture(const QString& text) {
  qmtest::Messages().push_back(text);
  if (Harness* h = qmtest::CurrentHarness()) h->messages.push_back(text);
  return fw::IDOK;
}

TEST(PollCycle, TickInsideAValidationMessageStartsNoSecondCycleOrProbe) {
  Harness h;
  StartPolling(h);
  h.Tick();
  h.dlg->SetDlgItemText(1061, "300");  // refused by the data exchange at the end of the cycle
  h.ClearWire();
  size_t sentBeforeBox = 0, sentAfterTicks = 0;
  fw::SetMessageBoxHook([&](const QString& text) {
    if (sentBeforeBox) return Capture(text);
    sentBeforeBox = h.Requests().size();
    h.dlg->DeliverTimer(kPoll);  // the timer falls due while the box is up
    h.dlg->OnTimer(kPoll);       // even straight into the handlers
    h.dlg->OnTimer(kScan);
    sentAfterTicks = h.Requests().size();
    return Capture(text);
  });
  h.Tick();
  fw::SetMessageBoxHook(&Capture);
  EXPECT_EQ(sentBeforeBox, 4u) << "the box comes after the cycle's four reads";
  EXPECT_EQ(sentAfterTicks, sentBeforeBox) << "no exchange started inside the box";
  // Afterwards polling goes on at the address that stood.
  h.dlg->SetDlgItemText(1061, "1");
  h.Tick();
  EXPECT_EQ(h.Requests().size(), 8u);
}

// Live heap bytes: the allocator's own count under ASan, glibc's otherwise.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

TEST(PollCycle, LongRunWithFaultsKeepsMemoryFlat) {
#if defined(__SANITIZE_ADDRESS__)
  // Text layout dominates a cycle; 40000 cycles keep this near ten seconds under the sanitizers.
  constexpr int kCycles = 40000;
#else
  constexpr int kCycles = 100000;
#endif
  Harness h;
  StartPolling(h);
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> fault(1, 8), count(1, 4);
  size_t afterWarmUp = 0;
  for (int i = 0; i < kCycles; ++i) {
    if (i % 5 == 0) h.meter.InjectFault(static_cast<Fault>(fault(rng)), count(rng));
    if (i % 97 == 0) h.meter.SetByte(Setting(49), static_cast<uint8_t>(i % 40));
    h.Tick();
    if (i % 1000 == 0) h.ClearWire();  // the simulator's wire log is test bookkeeping
    if (i == 2000) afterWarmUp = HeapInUse();
  }
  h.ClearWire();
  EXPECT_LT(HeapInUse(), afterWarmUp + 256 * 1024) << "heap grew from " << afterWarmUp;
  // A clean cycle after all that shows exactly what the meter holds.
  h.meter.ClearFaults();
  h.meter.Freeze(true);
  h.meter.SetMeasurementWord(0, 22000);
  h.clock.Advance(3000);
  h.Tick();
  EXPECT_EQ(h.Text(1001), "220.00 V");
}

TEST(AddressScan, ProbesOneTo254ThenZeroThenOneAgainNever255) {
  Harness h({}, {.address = 255});  // a meter the scan can never reach
  h.dlg->Click(1062);
  h.ScanTick(256);
  const auto sent = h.Requests();
  ASSERT_EQ(sent.size(), 256u);
  for (size_t i = 0; i < sent.size(); ++i) {
    const int address = i < 254 ? static_cast<int>(i) + 1 : (i == 254 ? 0 : 1);
    ASSERT_EQ(sent[i], Request(static_cast<uint8_t>(address), 3, 0x0300, 1)) << i;
  }
  EXPECT_TRUE(h.dlg->IsTimerRunning(kScan)) << "no answer: the scan goes on";
}

TEST(AddressScan, HitAt17StopsTheScanWithoutStartingPolling) {
  Harness h({}, {.address = 17});
  h.dlg->Click(1062);
  h.ScanTick(17);
  EXPECT_EQ(h.Text(1061), "17");
  EXPECT_FALSE(h.dlg->IsTimerRunning(kScan));
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 17);
  EXPECT_EQ(h.Text(1057), QStringLiteral("串行口:1\r\n\r\n波特率: 9600\r\n\r\n校验位:无校验"));
}

TEST(AddressScan, RunStopEndsTheScanAndPollsTheLastShownAddress) {
  Harness h({}, {.address = 200});
  h.dlg->Click(1062);
  h.ScanTick(5);
  h.dlg->Click(1063);
  EXPECT_FALSE(h.dlg->IsTimerRunning(kScan));
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 5);
}

}  // namespace
