// The poll cycle against the simulated meter: requests on the wire and texts in the window.
#include <gtest/gtest.h>

#include "poll/measurements.h"
#include "tests/poll/window_util.h"

namespace {

using polltest::AddressOf;
using polltest::QuantityOf;
using polltest::RegisterOf;
using polltest::Setting;
using polltest::StartPolling;
using qmtest::Harness;
using qmtest::Hex;
using qmtest::Request;

TEST(PollCycle, NothingIsSentBeforeAButton) {
  Harness h;
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer));
  EXPECT_EQ(h.dlg->GetWindowText(), QStringLiteral("QM7410智能电力监测仪-------Korvath"));
  EXPECT_EQ(h.Text(1001), QString());
}

TEST(PollCycle, FirstTickIdentifiesThenReadsInOrder) {
  Harness h;
  StartPolling(h);
  ASSERT_TRUE(h.Requests().empty()) << "the run button itself sends nothing";
  h.Tick();
  // The meter reports analog selection 1: its pair is at 0x03A0 and 0x0360.
  const std::vector<std::vector<uint8_t>> expected{Request(1, 3, 0x03E0, 2), Request(1, 3, 0x0300, 26),
                                                   Request(1, 3, 0x03A0, 1), Request(1, 3, 0x0360, 1),
                                                   Request(1, 3, 0x0000, 41)};
  const auto sent = h.Requests();
  ASSERT_EQ(sent.size(), expected.size());
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(Hex(sent[i]), Hex(expected[i])) << i;
  EXPECT_EQ(h.dlg->GetWindowText(), QStringLiteral("VM7410智能电力监测仪------Velmora(1.2.03版)"));

  h.ClearWire();
  h.Tick();
  const auto later = h.Requests();
  ASSERT_EQ(later.size(), 4u);
  EXPECT_EQ(RegisterOf(later[0]), 0x0300);
  EXPECT_EQ(RegisterOf(later[3]), 0x0000);
}

TEST(PollCycle, WaitsAreTheTimingSet) {
  Harness h({0, 19200, 1}, {.baud = 19200});
  StartPolling(h);
  EXPECT_EQ(h.dlg->TimerInterval(CMonitorDlg::kPollTimer), 500u);
  h.Tick();  // 150 for identification, then 150, 150, 150, 250
  const uint64_t start = h.clock.NowMs();
  h.Tick();
  EXPECT_EQ(h.clock.NowMs() - start, 700u);
  std::vector<uint64_t> at;
  for (const auto& s : h.device.Log()) at.push_back(s.atMs);
  ASSERT_EQ(at.size(), 9u);
  EXPECT_EQ(at[1] - at[0], 150u);
  EXPECT_EQ(at[5] - at[4], 250u);  // measurement wait of the first cycle
}

TEST(PollCycle, SilentMeterAtFirstTickNeverGetsItsTitle) {
  Harness h;
  StartPolling(h);
  h.meter.InjectFault(qm::sim::Fault::Silence, 1);
  h.Tick();
  EXPECT_EQ(h.dlg->GetWindowText(), QStringLiteral("QM7410智能电力监测仪-------Korvath"));
  EXPECT_NE(h.Text(1001), QString()) << "the rest of the cycle goes on";
  h.ClearWire();
  h.dlg->Click(1063);  // stop
  h.dlg->Click(1063);  // and start again: no second identification
  h.Tick(3);
  for (const auto& r : h.Requests()) EXPECT_NE(RegisterOf(r), 0x03E0);
  EXPECT_EQ(h.dlg->GetWindowText(), QStringLiteral("QM7410智能电力监测仪-------Korvath"));
}

TEST(PollCycle, RunStopTogglesTimerAndCaption) {
  Harness h;
  EXPECT_EQ(h.Text(1063), QStringLiteral("运行"));
  h.dlg->Click(1063);
  EXPECT_TRUE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer));
  EXPECT_EQ(h.dlg->TimerInterval(CMonitorDlg::kPollTimer), 700u);
  EXPECT_EQ(h.Text(1063), QStringLiteral("停止"));
  EXPECT_EQ(h.dlg->m_bRun, 1);
  h.dlg->Click(1063);
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer));
  EXPECT_EQ(h.Text(1063), QStringLiteral("运行"));
  EXPECT_EQ(h.dlg->m_bRun, 0);
}

TEST(PollCycle, ShowsScaledMeasurements) {
  Harness h({}, {.pt = 100, .ct = 50, .powerScale = 0});
  h.meter.Freeze(true);
  h.meter.SetMeasurementWord(0, 22000);
  h.meter.SetMeasurementWord(2, 50000);
  h.meter.SetMeasurementWord(28, 20000);
  h.meter.SetMeasurementWord(29, static_cast<uint16_t>(-5000));
  h.meter.SetMeasurementWord(27, 46811);
  h.meter.SetMeasurementWord(33, 0x1234);
  h.meter.SetMeasurementWord(34, 0x0001);
  h.meter.SetMeasurementWord(35, 0);
  h.meter.SetMeasurementWord(36, 0);
  StartPolling(h);
  h.Tick();
  EXPECT_EQ(h.dlg->m_nPT, 100u);
  EXPECT_EQ(h.dlg->m_nCT, 50u);
  EXPECT_EQ(h.Text(1001), QStringLiteral("22.00 KV"));
  EXPECT_EQ(h.Text(1030), QStringLiteral("250.000 A"));
  EXPECT_EQ(h.Text(1033), QStringLiteral("10.000 MW"));
  EXPECT_EQ(h.Text(1045), QStringLiteral("-0.5000"));
  EXPECT_EQ(h.Text(1049), QStringLiteral("50.000 Hz"));
  EXPECT_EQ(h.Text(1053), QStringLiteral("350.980 MWh"));  // 70196 * 100 * 50
  EXPECT_EQ(h.Text(1054), QStringLiteral("-0.0 Wh"));
  // Every one of the 33 boxes got its text.
  for (int id : qm::poll::MeasurementBoxOrder()) EXPECT_FALSE(h.Text(id).isEmpty()) << id;
}

TEST(PollCycle, SettingsDiagnosticsAndAccuracyCaption) {
  Harness h({},
            {.pt = 300, .wiring = 4, .powerScale = 1, .accuracy = 1, .direction = 1, .analogSelection = 7});
  StartPolling(h);
  h.Tick();
  EXPECT_EQ(h.Text(1079), QStringLiteral("1,1"));
  EXPECT_EQ(h.Text(1021), QStringLiteral("300,4,7,1,1"));
  EXPECT_EQ(h.Text(1009), QStringLiteral("0.2级"));
  EXPECT_EQ(h.dlg->m_byWiring, 4);
  EXPECT_EQ(h.dlg->m_nPowerScale, 4);
  EXPECT_EQ(h.dlg->m_nPowerDir, 1);
  h.meter.SetByte(Setting(35), 0);
  h.meter.SetByte(Setting(11), 2);
  h.Tick();
  EXPECT_EQ(h.Text(1079), QStringLiteral("2,1"));
  EXPECT_EQ(h.Text(1009), QStringLiteral("0.5级"));
  EXPECT_EQ(h.dlg->m_nPowerScale, 1);
  h.meter.SetByte(Setting(35), 7);
  h.Tick();
  EXPECT_EQ(h.Text(1009), QString()) << "unknown accuracy code: empty caption";
}

TEST(PollCycle, EnergyDecadePastTheTableKeepsTheMultiplier) {
  Harness h({}, {.energyDecade = 2});
  h.meter.Freeze(true);
  h.meter.SetMeasurementWord(33, 5);
  h.meter.SetMeasurementWord(34, 0);
  StartPolling(h);
  h.Tick();
  EXPECT_EQ(h.dlg->m_nEnergyMul, 100);
  EXPECT_EQ(h.Text(1053), QStringLiteral("500.0 Wh"));
  for (int decade : {7, 9, 255}) {
    h.meter.SetByte(Setting(13), static_cast<uint8_t>(decade));
    h.Tick();
    EXPECT_EQ(h.dlg->m_nEnergyMul, 100) << decade;
    EXPECT_EQ(h.Text(1053), QStringLiteral("500.0 Wh")) << decade;
    EXPECT_EQ(h.Text(1021).section(',', 0, 0), QStringLiteral("1")) << "the rest of the block still applies";
  }
  h.meter.SetByte(Setting(13), 6);
  h.Tick();
  EXPECT_EQ(h.Text(1053), QStringLiteral("5.000 MWh"));
}

struct PairCase {
  uint8_t selection;
  uint16_t first;
  uint16_t second;
};

TEST(PollCycle, AnalogPairAddressesFollowTheSelection) {
  const PairCase cases[] = {{0, 0x0300, 0x035E},  {1, 0x03A0, 0x0360},  {5, 0x03A8, 0x0368},
                            {32, 0x03DE, 0x039E}, {33, 0x0336, 0x0334}, {34, 0x0336, 0x0334},
                            {35, 0x0300, 0x0332}, {36, 0x03E6, 0x03A6}, {200, 0x032E, 0x03EE},
                            {255, 0x039C, 0x035C}};
  Harness h;
  StartPolling(h);
  h.Tick();
  for (const PairCase& c : cases) {
    h.meter.SetByte(Setting(49), c.selection);
    h.ClearWire();
    h.Tick();
    const auto sent = h.Requests();
    ASSERT_EQ(sent.size(), 4u) << int(c.selection);
    EXPECT_EQ(RegisterOf(sent[1]), c.first) << int(c.selection);
    EXPECT_EQ(RegisterOf(sent[2]), c.second) << int(c.selection);
    EXPECT_EQ(QuantityOf(sent[1]), 1);
    EXPECT_EQ(QuantityOf(sent[2]), 1);
    for (const auto& r : sent) EXPECT_EQ(r[1], 0x03) << "polling never writes";
  }
}

TEST(PollCycle, AnalogRowShowsTheSelectedEntry) {
  Harness h;
  h.meter.SetByte(Setting(49), 1);
  h.meter.SetWord(0x03A0, 10000);
  h.meter.SetWord(0x0360, 40000);
  StartPolling(h);
  h.Tick();
  EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), 1);
  EXPECT_EQ(h.Text(1022), QStringLiteral("100"));
  EXPECT_EQ(h.Text(1023), QStringLiteral("400"));
  EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), 1);

  // Power factor entry: unit index 8 is not in the list of eight units.
  h.meter.SetByte(Setting(49), 6);
  h.meter.SetWord(0x03AA, static_cast<uint16_t>(-5000));
  h.meter.SetWord(0x036A, 10000);
  h.Tick();
  EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), 6);
  EXPECT_EQ(h.Text(1022), QStringLiteral("-0.500"));
  EXPECT_EQ(h.Text(1023), QStringLiteral("1.000"));
  EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), -1);

  // Fixed value: "  / " on the left.
  h.meter.SetByte(Setting(49), 35);
  h.meter.SetWord(0x0332, 500);
  h.Tick();
  EXPECT_EQ(h.Text(1022), QStringLiteral("  / "));
  EXPECT_EQ(h.Text(1023), QStringLiteral("500"));
  EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), 0);

  // Upper limit: raw values.
  h.meter.SetByte(Setting(49), 33);
  h.meter.SetWord(0x0336, 1200);
  h.meter.SetWord(0x0334, 800);
  h.Tick();
  EXPECT_EQ(h.Text(1022), QStringLiteral("1200"));
  EXPECT_EQ(h.Text(1023), QStringLiteral("800"));

  // None: an empty row with unit item 0.
  h.meter.SetByte(Setting(49), 0);
  h.Tick();
  EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), 0);
  EXPECT_EQ(h.Text(1022), QString());
  EXPECT_EQ(h.Text(1023), QString());
  EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), 0);
}

TEST(PollCycle, SelectionPastTheListSelectsNothing) {
  Harness h;
  StartPolling(h);
  for (int s : {36, 100, 255}) {
    h.meter.SetByte(Setting(49), static_cast<uint8_t>(s));
    h.Tick();
    EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), -1) << s;
    EXPECT_EQ(h.Text(1022), QString()) << s;
    EXPECT_EQ(h.Text(1023), QString()) << s;
    EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), 0) << s;
    EXPECT_FALSE(h.Text(1001).isEmpty());
  }
}

TEST(PollCycle, MissingFirstValueReusesTheLastOneOfTheSameEntry) {
  Harness h;
  h.meter.SetByte(Setting(49), 1);
  h.meter.SetWord(0x03A0, 10000);
  h.meter.SetWord(0x0360, 40000);
  StartPolling(h);
  h.Tick();
  ASSERT_EQ(h.Text(1022), QStringLiteral("100"));
  h.meter.SetWord(0x0360, 30000);
  h.meter.InjectFault(qm::sim::Fault::None, 1);
  h.meter.InjectFault(qm::sim::Fault::BadCrc, 1);  // the first value's reply
  h.Tick();
  EXPECT_EQ(h.Text(1022), QStringLiteral("100"));
  EXPECT_EQ(h.Text(1023), QStringLiteral("300"));

  // Another entry: nothing of the old one is carried over.
  h.meter.SetByte(Setting(49), 33);
  h.meter.SetWord(0x0334, 800);
  h.meter.InjectFault(qm::sim::Fault::None, 1);
  h.meter.InjectFault(qm::sim::Fault::BadCrc, 1);
  h.Tick();
  EXPECT_EQ(h.Text(1022), QStringLiteral("0"));
  EXPECT_EQ(h.Text(1023), QStringLiteral("800"));
}

TEST(PollCycle, OnlyTheMeasurementReplyUpdatesTheBoxesAndEmptiesTheRow) {
  Harness h({}, {.pt = 1});
  h.meter.Freeze(true);
  h.meter.SetMeasurementWord(0, 22000);
  StartPolling(h);
  h.Tick();
  h.meter.SetWord(Setting(14), 100);  // a PT the cycle must not see
  h.meter.SetMeasurementWord(0, 23000);
  h.meter.InjectFault(qm::sim::Fault::Silence, 3);
  h.Tick();
  EXPECT_EQ(h.Text(1001), QStringLiteral("230.00 V"));
  EXPECT_EQ(h.Text(1022), QString());
  EXPECT_EQ(h.Text(1023), QString());
  EXPECT_EQ(h.dlg->m_nGoodSettings, 1u);
}

TEST(PollCycle, TypedAddressTakesEffectThroughTheDisplay) {
  Harness h;
  StartPolling(h);
  h.Tick();
  // The user types another address while polling; ShowMeasurements takes it in.
  h.dlg->SetDlgItemText(1061, QStringLiteral("9"));
  h.Tick();
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 9);
  h.ClearWire();
  h.Tick();
  const auto sent = h.Requests();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(AddressOf(sent[0]), 9);
}

TEST(PollCycle, ClosedPortSendsNothingAndShowsNothing) {
  Harness h({}, {}, [](Harness& hh) { hh.device.FailOpen(hh.dlg->m_comm.DevicePath(), "busy"); });
  ASSERT_FALSE(h.dlg->m_comm.GetPortOpen());
  StartPolling(h);
  h.Tick(3);
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_EQ(h.Text(1001), QString());
  EXPECT_EQ(h.Text(1022), QString());
}

}  // namespace
