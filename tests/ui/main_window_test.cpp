// The main window against the simulated meter: what it shows after start, what it sends (nothing),
// how the slave address box validates, how it closes, and a port that cannot be opened.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QWidget>
#include <cstdlib>

#include "tests/support/harness.h"
#include "ui/templates.h"

namespace {

using qmtest::Harness;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

constexpr int kPoll = CMonitorDlg::kPollTimer;

struct StartCase {
  qm::LinkSettings link;
  const char* status;
  const char* settings;
  qm::TimingSet timing;
};

class StartUp : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartUp, StatusEditTimingAndPortFollowTheLinkSettings) {
  const StartCase& c = GetParam();
  qm::sim::MeterConfig meter;
  meter.baud = c.link.baud;
  Harness h(c.link, meter);

  EXPECT_EQ(h.Text(1057), Q(c.status));
  EXPECT_EQ(h.dlg->m_nPollInterval, c.timing.pollInterval);
  EXPECT_EQ(h.dlg->m_nShortWait, c.timing.shortWait);
  EXPECT_EQ(h.dlg->m_nLongWait, c.timing.longWait);
  EXPECT_TRUE(h.device.IsOpen());
  EXPECT_EQ(h.dlg->m_comm.GetSettings(), c.settings);
  EXPECT_EQ(h.device.Path(), qm::DevicePathForPort(c.link.port));
  EXPECT_EQ(h.dlg->m_comm.GetInputLen(), 0);
  EXPECT_TRUE(h.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(LinkSettings, StartUp,
                         ::testing::Values(StartCase{{0, 9600, 1},
                                                     "串行口: 1 \r\n\r\n波特率:9600 \r\n\r\n校验位:无校验",
                                                     "9600,N,8,1",
                                                     {700, 200, 400}},
                                           StartCase{{2, 19200, 3},
                                                     "串行口: 3 \r\n\r\n波特率:19200 \r\n\r\n校验位:偶校验",
                                                     "19200,E,8,1",
                                                     {500, 150, 250}},
                                           StartCase{{1, 1200, 12},
                                                     "串行口: 12 \r\n\r\n波特率:1200 \r\n\r\n校验位:奇校验",
                                                     "1200,O,8,1",
                                                     {2500, 900, 1500}}),
                         [](const ::testing::TestParamInfo<StartCase>& info) {
                           return std::to_string(info.param.link.baud) + "NOE"[info.param.link.parity] +
                                  "Port" + std::to_string(info.param.link.port);
                         });

TEST(MainWindow, StatusEditShowsItsFiveLines) {
  Harness h;
  const QStringList lines = h.Text(1057).split(Q("\r\n"));
  ASSERT_EQ(lines.size(), 5) << h.Text(1057).toStdString();
  EXPECT_EQ(lines[0], Q("串行口: 1 "));
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], Q("波特率:9600 "));
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], Q("校验位:无校验"));
}

TEST(MainWindow, IsIdleAfterStartWithEmptyBoxesAndTheUnitListDisabled) {
  Harness h;
  EXPECT_TRUE(h.Requests().empty()) << "nothing may reach the meter before a button is pressed";
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kPollTimer));
  EXPECT_FALSE(h.dlg->IsTimerRunning(CMonitorDlg::kScanTimer));
  EXPECT_EQ(h.Text(1061), "0");
  EXPECT_EQ(h.Text(1022), "");
  EXPECT_EQ(h.Text(1023), "");
  for (const fw::ControlTemplate& c : MainWindowTemplate().controls) {
    if (c.kind == fw::Kind::Edit && c.style & fw::kReadOnly && c.id != 1057) {
      EXPECT_EQ(h.Text(c.id), "") << "box " << c.id;
    }
  }

  EXPECT_EQ(h.dlg->m_cbAnalogSel.GetCurSel(), 0);
  EXPECT_EQ(h.Text(1088), Q("无"));
  EXPECT_EQ(h.dlg->m_cbUnit.GetCurSel(), 0);
  EXPECT_FALSE(h.dlg->m_cbUnit.IsWindowEnabled());
  EXPECT_TRUE(h.dlg->m_cbAnalogSel.IsWindowEnabled());
  EXPECT_EQ(h.dlg->m_btnRun.GetWindowText(), Q("运行"));
  EXPECT_EQ(h.dlg->windowTitle(), Q("QM7410智能电力监测仪-------Korvath"));

  EXPECT_EQ(h.dlg->m_nPT, 1u);
  EXPECT_EQ(h.dlg->m_nCT, 1u);
  EXPECT_EQ(h.dlg->m_nNextProbeAddr, 1);
  EXPECT_EQ(h.dlg->m_bRun, 0);
  EXPECT_EQ(h.dlg->m_bIdentified, 0);
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 0);
  EXPECT_EQ(h.dlg->focusWidget(), h.dlg->GetDlgItem(fw::IDCANCEL)) << "focus starts on the exit button";
}

TEST(MainWindow, CombosHoldTheirListsAndHiddenTargetsTakeTexts) {
  Harness h;
  auto* sel = qobject_cast<QComboBox*>(h.dlg->GetDlgItem(1088));
  auto* unit = qobject_cast<QComboBox*>(h.dlg->GetDlgItem(1113));
  ASSERT_TRUE(sel && unit);
  ASSERT_EQ(sel->count(), 36);
  EXPECT_EQ(sel->itemText(2), "Uca");
  EXPECT_EQ(sel->itemText(20), "F");
  EXPECT_EQ(sel->itemText(33), Q("上限"));
  EXPECT_EQ(sel->itemText(35), Q("定值"));
  ASSERT_EQ(unit->count(), 8);
  EXPECT_EQ(unit->itemText(5), "Var");
  EXPECT_EQ(unit->itemText(7), "mA");
  EXPECT_TRUE(sel->isEditable()) << "drop-down with an edit field, not a drop-down list";

  // Hidden controls the poll cycle writes must exist and keep what it writes.
  for (int id : {1009, 1021, 1079}) {
    ASSERT_NE(h.dlg->GetDlgItem(id), nullptr) << id;
    EXPECT_TRUE(h.dlg->GetDlgItem(id)->isHidden()) << id;
    h.dlg->SetDlgItemText(id, "x1");
    EXPECT_EQ(h.Text(id), "x1") << id;
  }
  // Buttons and the measurement boxes carry readable names for assistive tools.
  EXPECT_EQ(h.dlg->GetDlgItem(1001)->accessibleName(), Q("相 电 压 A相/CA线"));
  EXPECT_EQ(h.dlg->GetDlgItem(1044)->accessibleName(), Q("视在功率 C相/BC线"));
  EXPECT_EQ(h.dlg->GetDlgItem(1056)->accessibleName(), Q("负向无功电能"));
}

TEST(MainWindow, EnterWithAnAddressOutOfRangeKeepsTheWindowOpen) {
  Harness h;
  h.dlg->SetDlgItemText(1061, "300");
  h.dlg->GetDlgItem(1061)->setFocus();
  h.dlg->PressEnter();

  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_TRUE(h.messages[0].contains("255")) << h.messages[0].toStdString();
  EXPECT_FALSE(h.dlg->IsEnded());
  EXPECT_EQ(h.dlg->focusWidget(), h.dlg->GetDlgItem(1061));
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 0);
  EXPECT_TRUE(h.device.IsOpen());

  // Corrected, the same key closes the window and takes the address over.
  h.dlg->SetDlgItemText(1061, "255");
  h.dlg->PressEnter();
  EXPECT_TRUE(h.dlg->IsEnded());
  EXPECT_EQ(h.dlg->Result(), fw::IDOK);
  EXPECT_EQ(h.dlg->m_bySlaveAddr, 255);
  EXPECT_FALSE(h.device.IsOpen());
  EXPECT_TRUE(h.Requests().empty());
}

// Records, when the port closes, whether the poll timer was still running.
class CloseProbe : public qm::sim::SimSerialDevice {
 public:
  using SimSerialDevice::SimSerialDevice;
  CMonitorDlg* dlg = nullptr;
  int closes = 0;
  bool timerRunningAtClose = false;
  void Close() override {
    ++closes;
    timerRunningAtClose = dlg && dlg->IsTimerRunning(CMonitorDlg::kPollTimer);
    SimSerialDevice::Close();
  }
};

TEST(MainWindow, ClosingStopsThePollTimerBeforeThePortCloses) {
  for (int closeId : {fw::IDCANCEL, fw::IDOK}) {
    SCOPED_TRACE(closeId);
    qm::sim::VirtualClock clock;
    qm::sim::SimMeter meter;
    CloseProbe device(meter, clock);
    CMonitorDlg dlg(device, clock);
    device.dlg = &dlg;
    dlg.Create();
    dlg.m_bySlaveAddr = 1;
    dlg.Click(1063);  // polling on
    ASSERT_TRUE(dlg.IsTimerRunning(kPoll));
    dlg.DeliverTimer(kPoll);
    const size_t sent = device.Log().size();
    EXPECT_GT(sent, 0u);

    dlg.Click(closeId);
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(device.closes, 1);
    EXPECT_FALSE(device.timerRunningAtClose);
    EXPECT_FALSE(device.IsOpen());
    dlg.DeliverTimer(kPoll);
    EXPECT_EQ(device.Log().size(), sent) << "nothing may be sent after closing";
  }
}

TEST(MainWindow, APortThatCannotBeOpenedLeavesTheWindowOpenWithThePortClosed) {
  Harness h({}, {}, [](Harness& hh) { hh.device.FailOpen("/dev/ttyS0", "No such file or directory"); });

  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_TRUE(h.messages[0].contains("/dev/ttyS0")) << h.messages[0].toStdString();
  EXPECT_TRUE(h.messages[0].contains("No such file or directory")) << h.messages[0].toStdString();
  EXPECT_FALSE(h.device.IsOpen());
  EXPECT_FALSE(h.dlg->IsEnded());
  EXPECT_EQ(h.Text(1057), "");
  EXPECT_TRUE(h.dlg->m_cbUnit.IsWindowEnabled());
  EXPECT_EQ(h.dlg->m_nPollInterval, 700u) << "the timing set comes before the port";

  // A poll tick on the closed port sends nothing and reports nothing.
  h.dlg->m_bySlaveAddr = 1;
  h.dlg->Click(1063);
  h.Tick();
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_EQ(h.messages.size(), 1u);
}

TEST(MainWindow, PortNumberMapsToItsDevicePath) {
  ::setenv("QM7410_COM4", "/tmp/qm7410-test-com4", 1);
  {
    Harness h({0, 9600, 4});
    EXPECT_EQ(h.device.Path(), "/tmp/qm7410-test-com4");
  }
  ::unsetenv("QM7410_COM4");
  Harness h({0, 9600, 4});
  EXPECT_EQ(h.device.Path(), "/dev/ttyS3");
}

}  // namespace
