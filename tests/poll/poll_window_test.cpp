// The poll cycle and the address scan in the window, against the simulated meter on virtual time.
#include <gtest/gtest.h>

#include <array>

#include "link/crc16.h"
#include "sim/sim_commands.h"
#include "tests/support/harness.h"

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

// After start the window shows five status lines and sends nothing before a button is pressed.
TEST(PollCycle, RunStopStartsAndStopsPollingBothWaysAndIdentifiesOnce) {
  Harness h;
  EXPECT_EQ(h.Text(1057).split("\r\n"),
            (QStringList{QString("串行口: 1 "), "", QString("波特率:9600 "), "", QString("校验位:无校验")}));
  EXPECT_EQ(h.Text(1061), "0");
  EXPECT_TRUE(h.Requests().empty());
  StartPolling(h);
  EXPECT_EQ(h.Text(1063), QString("停止"));
  h.Tick(2);
  // The meter reports analog selection 1, whose pair is at 0x03A0 and 0x0360.
  const auto settings = Request(1, 3, 0x0300, 26), first = Request(1, 3, 0x03A0, 1),
             second = Request(1, 3, 0x0360, 1), measurements = Request(1, 3, 0x0000, 41);
  EXPECT_EQ(h.Requests(), (std::vector{Request(1, 3, 0x03E0, 2), settings, first, second, measurements,
                                       settings, first, second, measurements}));

  h.dlg->Click(1063);
  EXPECT_EQ(h.Text(1063), QString("运行"));
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  h.ClearWire();
  h.Tick();
  EXPECT_TRUE(h.Requests().empty()) << "stopped polling sends nothing";

  h.dlg->Click(1063);  // on again: no second identification
  EXPECT_EQ(h.Text(1063), QString("停止"));
  h.Tick();
  EXPECT_EQ(h.Requests(), (std::vector{settings, first, second, measurements}));
}

// Each baud rate has its own poll interval, short wait (every read but the measurements) and long
// wait, and every reply arrives within its wait even with a parity bit on each character.
TEST(PollCycle, EveryBaudRateHasItsOwnIntervalAndWaits) {
  const std::array<std::array<uint32_t, 4>, 5> rates{{
      // baud, poll interval, short wait, long wait
      {1200, 2500, 900, 1500},
      {2400, 1500, 400, 1000},
      {4800, 1000, 300, 600},
      {9600, 700, 200, 400},
      {19200, 500, 150, 250},
  }};
  for (const auto& [baud, interval, shortWait, longWait] : rates) {
    Harness h({qm::link::Parity::Even, static_cast<int32_t>(baud), 1},
              {.baud = static_cast<int32_t>(baud), .parity = qm::link::Parity::Even});
    StartPolling(h);
    EXPECT_EQ(h.dlg->TimerInterval(kPoll), interval) << baud;
    const uint64_t start = h.clock.NowMs();
    h.Tick();
    std::vector<uint64_t> sentAt;
    for (const auto& s : h.device.Log()) sentAt.push_back(s.atMs - start);
    const uint64_t s = shortWait;
    EXPECT_EQ(sentAt, (std::vector<uint64_t>{0, s, 2 * s, 3 * s, 4 * s})) << baud;
    EXPECT_EQ(h.clock.NowMs() - start, 4 * s + longWait) << baud;
    EXPECT_EQ(h.dlg->GetWindowText(), kMeterTitle) << baud;
    EXPECT_FALSE(h.Text(1023).isEmpty()) << baud;
    EXPECT_FALSE(h.Text(1001).isEmpty()) << baud;
  }
}

// A distinct value in every word of the block, and the scaling the same cycle read from the
// settings: PT 2, CT 3, power scale 4 (byte 11 = 1), energy decade 1 (x10).
TEST(PollCycle, EveryBoxShowsItsOwnWordScaledByTheSettings) {
  Harness h({}, {.pt = 2, .ct = 3, .powerScale = 1, .energyDecade = 1});
  h.meter.Freeze(true);
  // Word, raw value, box (0: the word is not shown) and its text.
  // clang-format off
  const struct { int word, raw, box; const char* text; } rows[] = {
      // Phase A: U x PT/100, line U, I x CT/10000, F, P x PT x CT x 4/10, PF /10000, Q like P, S x PT x CT/5.
      {0, 11005, 1001, "220.10 V"},  {1, 19005, 1026, "380.10 V"}, {2, 5000, 1030, "1.500 A"},
      {3, 1111, 0, ""},              {4, 100, 1034, "240.0 W"},    {5, 9100, 1046, "0.9100"},
      {6, 10, 1038, "24.0 Var"},     {7, 250, 1042, "300.0 VA"},
      // Phase B.
      {8, 11010, 1002, "220.20 V"},  {9, 19010, 1027, "380.20 V"}, {10, 6000, 1031, "1.800 A"},
      {11, 2222, 0, ""},             {12, 200, 1035, "480.0 W"},   {13, 9200, 1047, "0.9200"},
      {14, 20, 1039, "48.0 Var"},    {15, 500, 1043, "600.0 VA"},
      // Phase C, with a negative active power and power factor.
      {16, 11015, 1003, "220.30 V"}, {17, 19015, 1028, "380.30 V"}, {18, 7000, 1032, "2.100 A"},
      {19, 3333, 0, ""},             {20, -300, 1036, "-720.0 W"},  {21, -9300, 1048, "-0.9300"},
      {22, 30, 1040, "72.0 Var"},    {23, 750, 1044, "900.0 VA"},
      // Combined, with the only frequency shown.
      {24, 11020, 1000, "220.40 V"}, {25, 19020, 1025, "380.40 V"}, {26, 8000, 1029, "2.400 A"},
      {27, 46811, 1049, "50.000 Hz"}, {28, 1000, 1033, "2.400 KW"},  {29, 9400, 1045, "0.9400"},
      {30, -50, 1037, "-120.0 Var"}, {31, 2500, 1041, "3.000 KVA"}, {32, 4444, 0, ""},
      // Energies: count = second word x 65536 + first word, x10 x PT x CT Wh; exports carry a minus.
      // 100000 x 60 Wh, 1500 x 60 Wh, 131083 x 60 varh, 196615 x 60 varh.
      {33, 34464, 1053, "6.000 MWh"}, {34, 1, 0, ""}, {35, 1500, 1054, "-90.000 KWh"}, {36, 0, 0, ""},
      {37, 11, 1055, "7.865 MVarh"}, {38, 2, 0, ""}, {39, 7, 1056, "-11.797 MVarh"}, {40, 3, 0, ""},
  };
  // clang-format on
  for (const auto& r : rows) h.meter.SetMeasurementWord(r.word, static_cast<uint16_t>(r.raw));
  StartPolling(h);
  h.Tick();
  int shown = 0;
  for (const auto& r : rows) {
    if (r.box == 0) continue;
    ++shown;
    EXPECT_EQ(h.Text(r.box), QString(r.text)) << "word " << r.word << ", box " << r.box;
  }
  EXPECT_EQ(shown, 33);
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
  const std::tuple<uint8_t, int, int> cases[] = {{6, 6, -1}, {36, -1, 0}, {255, -1, 0}};
  for (const auto& [code, selection, unit] : cases) {
    h.meter.SetByte(Setting(49), code);
    h.Tick();
    EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), selection) << int(code);
    EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), unit) << int(code);
    EXPECT_EQ(h.Text(1022).isEmpty(), selection < 0) << int(code);
  }
}

// When the first value's read fails, the row keeps the value last read for the same entry; for an
// entry the meter has just switched to it shows 0, never the other entry's value under this unit.
TEST(PollCycle, AnalogRowWithoutItsFirstValue) {
  Harness h;  // the meter reports selection 1 (Ua): pair at 0x03A0 and 0x0360
  h.meter.SetWord(0x03A0, 22000);
  h.meter.SetWord(0x0360, 40000);
  h.meter.SetWord(0x03A4, 12345);  // selection 3 (Ia): pair at 0x03A4 and 0x0364
  h.meter.SetWord(0x0364, 50000);
  StartPolling(h);
  h.Tick();
  EXPECT_EQ(h.Text(1022), "220");
  EXPECT_EQ(h.Text(1023), "400");
  const auto tickLosingTheFirstValue = [&h] {
    h.meter.InjectFault(Fault::None, 1);  // the settings reply
    h.meter.InjectFault(Fault::Silence, 1);
    h.Tick();
  };
  h.meter.SetWord(0x0360, 41000);
  tickLosingTheFirstValue();
  EXPECT_EQ(h.Text(1022), "220");
  EXPECT_EQ(h.Text(1023), "410");
  h.meter.SetByte(Setting(49), 3);
  tickLosingTheFirstValue();
  EXPECT_EQ(h.Text(1022), "0.000");
  EXPECT_EQ(h.Text(1023), "5.000");
  EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), 2) << "A";
}

// Every fault the simulator can commit, on the identification reply and then on a whole cycle.
TEST(PollCycle, ShowsNothingFromABadFrameAndRecovers) {
  for (int f = 1; f <= 8; ++f) {
    const Fault fault = static_cast<Fault>(f);
    SCOPED_TRACE(qm::sim::FaultName(fault));
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

    // Whatever was late has landed by now and must be dropped by the next exchange: the values
    // change meanwhile, so a stale reply taken for a fresh one shows the old ones.
    h.clock.Advance(3000);
    h.meter.SetMeasurementWord(0, 24000);
    h.meter.SetWord(Setting(14), 1);
    h.Tick();
    EXPECT_EQ(h.Text(1001), "240.00 V");
    EXPECT_EQ(h.dlg->m_nPT, 1u);
  }
}

// The test environment's capture of message boxes, put back after a test replaced it.
int Capture(const QString& text) {
  qmtest::Messages().push_back(text);
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

// Each probe takes the address the one before it showed; pressed again, the scan starts from 1, and
// 运行 ends it and polls the last shown address.
TEST(AddressScan, ProbesOneTo254ThenZeroThenOneAgainNever255) {
  Harness h({}, {.address = 255});  // a meter the scan can never reach
  h.dlg->Click(1062);
  h.ScanTick(256);
  std::vector<std::vector<uint8_t>> expected;
  for (int a = 1; a <= 254; ++a) expected.push_back(Request(static_cast<uint8_t>(a), 3, 0x0300, 1));
  expected.push_back(Request(0, 3, 0x0300, 1));
  expected.push_back(Request(1, 3, 0x0300, 1));
  EXPECT_EQ(h.Requests(), expected);
  EXPECT_TRUE(h.dlg->IsTimerRunning(kScan)) << "no answer: the scan goes on";
  h.dlg->Click(1062);
  h.ScanTick(5);
  EXPECT_EQ(h.Requests()[256], Request(1, 3, 0x0300, 1));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 4);
  h.dlg->Click(1063);
  EXPECT_FALSE(h.dlg->IsTimerRunning(kScan));
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 5);
}

// Started while polling, the scan stops the poll; its hit stops the scan, and polling stays off.
TEST(AddressScan, HitAt17FromARunningPollLeavesBothStoppedAndTheRunButtonAsItWas) {
  Harness h({}, {.address = 17});
  h.dlg->SetDlgItemText(1061, "17");
  h.dlg->Click(1063);
  h.Tick();
  h.dlg->Click(1062);
  h.ClearWire();
  h.Tick();
  EXPECT_TRUE(h.Requests().empty()) << "the poll timer still ticks";
  h.ScanTick(17);
  EXPECT_EQ(h.Requests().back(), Request(17, 3, 0x0300, 1));
  EXPECT_EQ(h.Text(1061), "17");
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 17);
  EXPECT_FALSE(h.dlg->IsTimerRunning(kScan));
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.Text(1063), QString("停止"));
  EXPECT_EQ(h.Text(1057), QString("串行口:1\r\n\r\n波特率: 9600\r\n\r\n校验位:无校验"));
}

}  // namespace
