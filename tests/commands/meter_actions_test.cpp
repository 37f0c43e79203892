// Energy reset, power reversal, accuracy class toggle and factory initialisation.
#include "commands/meter_writes.h"
#include "tests/commands/window_test_util.h"

namespace {

using cmdtest::Frames;
using cmdtest::Q;
using cmdtest::Write;
using qm::sim::Fault;
using qmtest::Harness;

constexpr int kPoll = CMonitorDlg::kPollTimer;

// Every command of this kind leaves polling running with the poll interval, also when it was off.
void ExpectPollingRestarted(const Harness& h, unsigned interval = 700) {
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.dlg->TimerInterval(kPoll), interval);
}

// Buttons 1009 and 1092 are hidden, so no click reaches them: their handlers are run the way a
// message would run them.
void FactoryInitCmd(Harness& h) { h.dlg->RunHandler([&] { h.dlg->OnFactoryInit(); }); }

struct MeterActions : ::testing::Test {
  Harness h;
  void Precision() { h.dlg->RunHandler([this] { h.dlg->OnChangePrecision(); }); }
  void SetUp() override {
    cmdtest::UseAddress(h, 1);
    h.ClearWire();
  }
};

TEST_F(MeterActions, EnergyResetWritesFourTimes300MsApartAndClearsTheCounters) {
  h.meter.Freeze(true);
  for (int c = 0; c < 4; ++c) ASSERT_NE(h.meter.Energy(c), 0u) << c;
  h.dlg->Click(1071);
  const std::vector<cmdtest::Frame> expected{Write(1, 0x0004, 1), Write(1, 0x001A, 0), Write(1, 0x001C, 0),
                                             Write(1, 0x0004, 0)};
  EXPECT_EQ(h.Requests(), expected) << Frames(h.Requests());
  EXPECT_EQ(cmdtest::Gaps(h), (std::vector<uint64_t>{300, 300, 300}));
  EXPECT_EQ(h.clock.NowMs() - h.device.Log().front().atMs, 1200u);
  EXPECT_TRUE(h.messages.empty());
  cmdtest::Settle(h);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(h.meter.Energy(c), 0u) << c;
  EXPECT_EQ(h.meter.Word(0x0304), 0);
  ExpectPollingRestarted(h);
}

TEST_F(MeterActions, EnergyResetShowsNothingEvenWithASilentMeter) {
  h.meter.InjectFault(Fault::Silence, 4);
  h.dlg->Click(1071);
  EXPECT_EQ(h.Requests().size(), 4u);
  EXPECT_TRUE(h.messages.empty());
  ExpectPollingRestarted(h);
}

TEST_F(MeterActions, PowerReversalBeforeAnyPollSendsOne) {
  h.dlg->SetTimer(kPoll, 700);
  cmdtest::MessageProbe probe([this](const QString&) { EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll)); });
  // Nothing read from the meter yet: the flag starts at 0 (normal), so the reversal asks for 1.
  h.dlg->Click(1010);
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0026, 1)})) << Frames(h.Requests());
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("功率反相成功")}));
  EXPECT_EQ(h.meter.Byte(0x0327), 1);
  EXPECT_EQ(h.dlg->m_nPowerDir, 0) << "the flag follows the meter at the next poll, not here";
  ExpectPollingRestarted(h);
}

TEST_F(MeterActions, PowerReversalFromReversedSendsZero) {
  h.meter.SetByte(0x0327, 1);
  h.dlg->m_nPowerDir = 1;
  h.dlg->Click(1010);
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0026, 0)}));
  EXPECT_EQ(h.meter.Byte(0x0327), 0);
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("功率反相成功")}));
}

TEST_F(MeterActions, PowerReversalWithoutAnEchoFails) {
  for (Fault f : {Fault::Silence, Fault::BadCrc, Fault::Late, Fault::Exception}) {
    h.messages.clear();
    h.meter.InjectFault(f, 1);
    h.dlg->Click(1010);
    EXPECT_EQ(h.messages, (std::vector<QString>{Q("功率反相不成功")})) << static_cast<int>(f);
  }
  ExpectPollingRestarted(h);
}

TEST_F(MeterActions, AccuracyToggleConfirmedFlipsTheCodeAndCaption) {
  Precision();
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0022, 1)}));
  EXPECT_EQ(h.dlg->m_byAccuracy, 1);
  EXPECT_EQ(h.Text(1009), Q("0.2级"));
  EXPECT_EQ(h.meter.Byte(0x0323), 1);
  EXPECT_TRUE(h.messages.empty());
  ExpectPollingRestarted(h);

  h.ClearWire();
  Precision();
  EXPECT_EQ(h.Requests(), (std::vector<cmdtest::Frame>{Write(1, 0x0022, 0)}));
  EXPECT_EQ(h.dlg->m_byAccuracy, 0);
  EXPECT_EQ(h.Text(1009), Q("0.5级"));
  EXPECT_EQ(h.meter.Byte(0x0323), 0);
}

TEST_F(MeterActions, AccuracyToggleWithSilentMeterKeepsTheOldClass) {
  h.meter.InjectFault(Fault::Silence, 1);
  Precision();
  EXPECT_EQ(h.Requests().size(), 1u);
  EXPECT_EQ(h.dlg->m_byAccuracy, 0);
  EXPECT_EQ(h.Text(1009), Q("0.5级"));
  EXPECT_TRUE(h.messages.empty());
  ExpectPollingRestarted(h);
}

// Factory initialisation from a meter at address 7 with settings of its own.
struct FactoryInit : ::testing::Test {
  Harness h{{.parity = 2, .baud = 9600, .port = 3},
            {.address = 7, .parity = 'E', .pt = 100, .ct = 50, .wiring = 3, .accuracy = 0}};
  void SetUp() override {
    h.meter.Freeze(true);
    cmdtest::UseAddress(h, 7);
    h.ClearWire();
  }
};

TEST_F(FactoryInit, NineWritesEightToTheOldAddressTheLastToAddressOne) {
  cmdtest::MessageProbe probe([this](const QString&) { EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll)); });
  FactoryInitCmd(h);
  const std::vector<cmdtest::Frame> expected{
      Write(7, 0x0022, 1), Write(7, 0x000E, 1), Write(7, 0x0012, 1), Write(7, 0x0002, 0), Write(7, 0x0004, 1),
      Write(7, 0x001A, 0), Write(7, 0x001C, 0), Write(7, 0x0000, 1), Write(1, 0x0008, 3)};
  EXPECT_EQ(h.Requests(), expected) << Frames(h.Requests());
  EXPECT_EQ(cmdtest::Gaps(h), std::vector<uint64_t>(8, 200));

  EXPECT_EQ(h.messages, (std::vector<QString>{Q("仪表初始设置成功!")}));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
  EXPECT_EQ(h.Text(1061), "1");
  // The records follow the port as it now runs: the same port 3, 9600 baud, no parity.
  EXPECT_EQ(h.dlg->m_nPort, 3);
  EXPECT_EQ(h.dlg->m_nBaud, 9600);
  EXPECT_EQ(h.dlg->m_nParity, 0);
  EXPECT_EQ(h.Text(1057), Q("串行口: 3 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验"));
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), "9600,N,8,2");
  EXPECT_EQ(h.dlg->m_comm.GetCommPort(), 3);
  EXPECT_TRUE(h.dlg->m_comm.GetPortOpen());
  EXPECT_EQ(h.device.Line(), (qm::LineSettings{9600, 'N', 8, 2}));
  ExpectPollingRestarted(h);

  // The meter now holds the factory settings.
  EXPECT_EQ(h.meter.Byte(0x0323), 1);   // accuracy class 0.2
  EXPECT_EQ(h.meter.Word(0x030E), 1);   // PT
  EXPECT_EQ(h.meter.Word(0x0312), 1);   // CT
  EXPECT_EQ(h.meter.Byte(0x0303), 0);   // wiring
  EXPECT_EQ(h.meter.Address(), 1);
  EXPECT_EQ(h.meter.Baud(), 9600);
  EXPECT_EQ(h.meter.Word(0x0304), 1);   // reset switch left at 1
  for (int c = 0; c < 4; ++c) EXPECT_EQ(h.meter.Energy(c), 0u) << c;
}

TEST_F(FactoryInit, SilentMeterStillMovesTheWindowToAddressOneAndThePortTo9600N82) {
  h.meter.InjectFault(Fault::Silence, 9);
  const QString statusBefore = h.Text(1057);
  FactoryInitCmd(h);
  EXPECT_EQ(h.Requests().size(), 9u);
  EXPECT_EQ(h.Requests()[8][0], 0x01);
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("仪表初始设置不成功!")}));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 1);
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), "9600,N,8,2");
  EXPECT_EQ(h.device.Line(), (qm::LineSettings{9600, 'N', 8, 2}));
  // The records of the link stay as they were.
  EXPECT_EQ(h.dlg->m_nParity, 2);
  EXPECT_EQ(h.dlg->m_nPort, 3);
  EXPECT_EQ(h.Text(1057), statusBefore);
  ExpectPollingRestarted(h);

  h.ClearWire();
  h.Tick();
  ASSERT_FALSE(h.Requests().empty());
  for (const auto& f : h.Requests()) EXPECT_EQ(f[0], 0x01) << cmdtest::Frames({f});
}

TEST(FactoryInitTiming, WaitsTheShortWaitOfTheStartAndKeepsTheTimingSet) {
  Harness h({.parity = 0, .baud = 19200, .port = 1}, {.baud = 19200});
  cmdtest::UseAddress(h, 1);
  h.ClearWire();
  FactoryInitCmd(h);
  EXPECT_EQ(cmdtest::Gaps(h), std::vector<uint64_t>(8, 150));
  // The meter took baud code 3 and answered at its old speed: the port follows to 9600.
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("仪表初始设置成功!")}));
  EXPECT_EQ(h.dlg->m_nBaud, 9600);
  EXPECT_EQ(h.meter.Baud(), 9600);
  EXPECT_EQ(h.device.Line().baud, 9600);
  EXPECT_EQ(h.dlg->m_nShortWait, 150u);
  ExpectPollingRestarted(h, 500);
}

}  // namespace
