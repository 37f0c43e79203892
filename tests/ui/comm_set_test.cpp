// "通讯设置" against the simulated meter: the dialog, the baud write, the reopening of the port and
// the restart of polling.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/harness.h"

namespace {

using qmtest::Harness;
using qmtest::Hex;
using qmtest::Request;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

constexpr int kPoll = CMonitorDlg::kPollTimer;
constexpr int kCommSet = 1004;

std::vector<int> Checked(const fw::CDialog& d) {
  std::vector<int> ids;
  for (int id = 1009; id <= 1016; ++id)
    if (d.IsDlgButtonChecked(id)) ids.push_back(id);
  return ids;
}

// A window at 9600, no parity, port 1, talking to the meter at address 1, with polling running.
struct CommSet : ::testing::Test {
  Harness h;
  void SetUp() override {
    ::unsetenv("QM7410_COM1");
    ::unsetenv("QM7410_COM2");
    h.dlg->m_bySlaveAddr = 1;
    h.dlg->SetTimer(kPoll, h.dlg->m_nPollInterval);
    h.ClearWire();
  }
  // Runs the command with a dialog that clicks `clicks`, optionally types a port, then presses
  // `button`.
  void Run(std::vector<int> clicks, const char* port = nullptr, int button = fw::IDOK) {
    h.OnNextModal([=, this](fw::CDialog& d) {
      EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll)) << "polling must stop before the dialog opens";
      for (int id : clicks) d.Click(id);
      if (port) d.SetDlgItemText(1000, port);
      d.Click(button);
      EXPECT_TRUE(d.IsEnded());
      return d.Result();
    });
    h.dlg->Click(kCommSet);
  }
  void ExpectStatus(const char* text) { EXPECT_EQ(h.Text(1057), Q(text)); }
  void ExpectTiming(qm::TimingSet t) {
    EXPECT_EQ(h.dlg->m_nPollInterval, t.pollInterval);
    EXPECT_EQ(h.dlg->m_nShortWait, t.shortWait);
    EXPECT_EQ(h.dlg->m_nLongWait, t.longWait);
    EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
    EXPECT_EQ(h.dlg->TimerInterval(kPoll), t.pollInterval);
  }
};

TEST_F(CommSet, DialogShowsTheCurrentSettingsAndKeepsEachGroupExclusive) {
  h.dlg->m_nPort = 7;  // as after an earlier change whose reopening failed
  h.OnNextModal([](fw::CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), Q("通讯设置"));
    EXPECT_EQ(d.GetDlgItemText(1000), "7");
    EXPECT_EQ(Checked(d), (std::vector<int>{1012, 1014}));
    d.Click(1013);
    d.Click(1009);
    d.Click(1015);
    EXPECT_EQ(Checked(d), (std::vector<int>{1009, 1015})) << "a click keeps its own group exclusive only";
    d.Click(1016);
    EXPECT_EQ(Checked(d), (std::vector<int>{1009, 1016}));
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  h.dlg->Click(kCommSet);
  EXPECT_TRUE(h.Requests().empty());
}

TEST_F(CommSet, BaudChangeWithAnAnsweringMeter) {
  Run({1013});
  const std::vector<std::vector<uint8_t>> expected{Request(1, 0x06, 0x0308, 0x0004)};
  ASSERT_EQ(h.Requests(), expected) << Hex(h.Requests().at(0));
  EXPECT_EQ(h.device.Log()[0].line.baud, 9600) << "the request goes out at the old speed";
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("改变波特率成功")}));
  EXPECT_EQ(h.dlg->m_nBaud, 19200);
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), "19200,N,8,1");
  EXPECT_EQ(h.device.Line().baud, 19200);
  EXPECT_TRUE(h.device.IsOpen());
  ExpectTiming({500, 150, 250});
  ExpectStatus("串行口:1 \r\n\r\n波特率: 19200 \r\n\r\n校验位:无校验");
  EXPECT_EQ(h.meter.Baud(), 19200);

  // The next poll tick talks to the meter at its new speed.
  h.ClearWire();
  const int handled = h.meter.FramesHandled();
  h.Tick();
  ASSERT_FALSE(h.Requests().empty());
  EXPECT_EQ(h.device.Log()[0].line.baud, 19200);
  EXPECT_GT(h.meter.FramesHandled(), handled);
}

TEST_F(CommSet, BaudChangeWithASilentMeterKeepsTheOldSpeed) {
  h.dlg->m_bySlaveAddr = 9;  // nobody answers there
  Run({1013, 1016}, "2");
  ASSERT_EQ(h.Requests().size(), 1u);
  EXPECT_EQ(h.Requests()[0], Request(9, 0x06, 0x0308, 0x0004));
  EXPECT_EQ(h.messages, (std::vector<QString>{Q("改变波特率不成功")}));
  EXPECT_EQ(h.dlg->m_nBaud, 9600);
  // Port and parity are taken over all the same.
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), "9600,E,8,1");
  EXPECT_EQ(h.device.Path(), "/dev/ttyS1");
  EXPECT_EQ(h.device.Line().parity, 'E');
  ExpectTiming({700, 200, 400});
  ExpectStatus("串行口:2 \r\n\r\n波特率: 9600 \r\n\r\n校验位:偶校验");
}

// Every reply the exchange must not accept as the meter's confirmation, and one it must.
struct ReplyCase {
  qm::sim::Fault fault;
  bool confirmed;
};

std::string FaultName(const ::testing::TestParamInfo<ReplyCase>& info) {
  static const char* const kNames[] = {"None",         "Silence",   "Late",      "Noise", "BadCrc",
                                       "WrongAddress", "Exception", "Truncated", "Flood"};
  return kNames[static_cast<int>(info.param.fault)];
}

class BaudReply : public CommSet, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(BaudReply, OnlyAnIntactEchoWithinTheWaitConfirms) {
  h.meter.InjectFault(GetParam().fault);
  Run({1011});
  ASSERT_EQ(h.Requests().size(), 1u);
  EXPECT_EQ(h.Requests()[0], Request(1, 0x06, 0x0308, 0x0002));
  const char* message = GetParam().confirmed ? "改变波特率成功" : "改变波特率不成功";
  EXPECT_EQ(h.messages, (std::vector<QString>{Q(message)}));
  EXPECT_EQ(h.dlg->m_nBaud, GetParam().confirmed ? 4800 : 9600);
  EXPECT_EQ(h.device.Line().baud, h.dlg->m_nBaud);
  ExpectTiming(qm::TimingForBaud(h.dlg->m_nBaud));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BaudReply,
    ::testing::Values(ReplyCase{qm::sim::Fault::None, true}, ReplyCase{qm::sim::Fault::Noise, true},
                      ReplyCase{qm::sim::Fault::Silence, false}, ReplyCase{qm::sim::Fault::Late, false},
                      ReplyCase{qm::sim::Fault::BadCrc, false},
                      ReplyCase{qm::sim::Fault::WrongAddress, false},
                      ReplyCase{qm::sim::Fault::Exception, false},
                      ReplyCase{qm::sim::Fault::Truncated, false}, ReplyCase{qm::sim::Fault::Flood, false}),
    FaultName);

TEST_F(CommSet, CancelSendsNothingAndRestartsPolling) {
  h.dlg->KillTimer(kPoll);  // polling switched off before: the command starts it all the same
  const int opens = h.device.OpenCount();
  const QString status = h.Text(1057);
  Run({1013, 1016}, "5", fw::IDCANCEL);
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_TRUE(h.messages.empty());
  EXPECT_EQ(h.device.OpenCount(), opens);
  EXPECT_EQ(h.Text(1057), status);
  EXPECT_EQ(h.dlg->m_nBaud, 9600);
  EXPECT_EQ(h.dlg->m_nParity, 0);
  EXPECT_EQ(h.dlg->m_nPort, 1);
  ExpectTiming({700, 200, 400});
}

TEST_F(CommSet, ParityAloneChangesOnlyThePcSide) {
  const int opens = h.device.OpenCount();
  Run({1015});
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_TRUE(h.messages.empty());
  EXPECT_EQ(h.device.OpenCount(), opens + 1);
  EXPECT_EQ(h.device.Line().parity, 'O');
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), "9600,O,8,1");
  EXPECT_EQ(h.meter.Parity(), 'N');
  ExpectStatus("串行口:1 \r\n\r\n波特率: 9600 \r\n\r\n校验位:奇校验");
  ExpectTiming({700, 200, 400});
}

TEST_F(CommSet, AnotherPortNumberOpensItsDevice) {
  ::setenv("QM7410_COM2", "/tmp/qm7410-test-com2", 1);
  Run({}, "2");
  ::unsetenv("QM7410_COM2");
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_EQ(h.device.Path(), "/tmp/qm7410-test-com2");
  EXPECT_TRUE(h.device.IsOpen());
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), "9600,N,8,1");
  ExpectStatus("串行口:2 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
}

TEST_F(CommSet, APortThatCannotBeOpenedEndsTheCommandWithPollingStopped) {
  h.device.FailOpen("/dev/ttyS4", "Permission denied");
  const QString status = h.Text(1057);
  Run({}, "5");
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_TRUE(h.messages[0].contains("/dev/ttyS4")) << h.messages[0].toStdString();
  EXPECT_TRUE(h.messages[0].contains("Permission denied")) << h.messages[0].toStdString();
  EXPECT_FALSE(h.device.IsOpen());
  EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll));
  EXPECT_EQ(h.Text(1057), status);
  EXPECT_EQ(h.dlg->m_nPort, 5);

  // The next run of the command opens a good port again.
  Run({}, "1");
  EXPECT_TRUE(h.device.IsOpen());
  EXPECT_EQ(h.device.Path(), "/dev/ttyS0");
  EXPECT_TRUE(h.dlg->IsTimerRunning(kPoll));
}

TEST_F(CommSet, APortNumberThatIsNotANumberKeepsTheDialogOpen) {
  h.OnNextModal([this](fw::CDialog& d) {
    d.SetDlgItemText(1000, "COM3");
    d.Click(fw::IDOK);
    EXPECT_FALSE(d.IsEnded());
    EXPECT_EQ(h.messages.size(), 1u);
    EXPECT_EQ(d.focusWidget(), d.GetDlgItem(1000));
    d.SetDlgItemText(1000, "3");
    d.Click(fw::IDOK);
    EXPECT_TRUE(d.IsEnded());
    return d.Result();
  });
  h.dlg->Click(kCommSet);
  EXPECT_EQ(h.dlg->m_nPort, 3);
  EXPECT_EQ(h.device.Path(), "/dev/ttyS2");
  ExpectStatus("串行口:3 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
}

TEST_F(CommSet, WriteSingleRegisterAddressesTheCurrentSlaveInEveryMode) {
  h.dlg->m_bySlaveAddr = 1;
  EXPECT_TRUE(h.dlg->WriteSingleRegister(0x030E, 250, 200, qm::ReplyMode::Check));
  EXPECT_FALSE(h.dlg->WriteSingleRegister(0x030E, 251, 200, qm::ReplyMode::Drain));
  EXPECT_FALSE(h.dlg->WriteSingleRegister(0x030E, 252, 200, qm::ReplyMode::None));
  h.dlg->m_bySlaveAddr = 2;
  EXPECT_FALSE(h.dlg->WriteSingleRegister(0x030E, 253, 200, qm::ReplyMode::Check));
  const std::vector<std::vector<uint8_t>> expected{Request(1, 6, 0x030E, 250), Request(1, 6, 0x030E, 251),
                                                   Request(1, 6, 0x030E, 252), Request(2, 6, 0x030E, 253)};
  EXPECT_EQ(h.Requests(), expected);
  EXPECT_EQ(h.meter.Word(0x030E), 252);
  // Drain reads the echo without judging it; None leaves it on the line for the next exchange.
  EXPECT_EQ(h.dlg->WriteRegister(0x030E, 254, 200, qm::ReplyMode::Drain).received, 0)
      << "address 2 is silent";
  h.dlg->m_bySlaveAddr = 1;
  EXPECT_EQ(h.dlg->WriteRegister(0x030E, 255, 200, qm::ReplyMode::Drain).received, 8);
  EXPECT_EQ(h.dlg->WriteRegister(0x030E, 256, 200, qm::ReplyMode::None).received, 0);
}

}  // namespace
