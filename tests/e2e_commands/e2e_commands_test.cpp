// The configuration commands end to end: CMonitorDlg on QSerialPort and real waits and timers, over a
// pseudo-terminal to a qm7410-sim process. Modal dialogs are answered by queued scripts.
#include <gtest/gtest.h>

#include <QTest>

#include "link/event_loop_clock.h"
#include "link/qt_serial_device.h"
#include "tests/support/qt_env.h"
#include "tests/support/sim_process.h"
#include "ui/monitor_dlg.h"

namespace {

// The number a voltage box shows, in volts ("22.01 KV" is 22010).
double Volts(const QString& text) {
  const QStringList parts = text.split(' ', Qt::SkipEmptyParts);
  if (parts.size() != 2) return -1;
  return parts[0].toDouble() * (parts[1].startsWith('K') ? 1000 : 1);
}

// The next dialog gets `texts` in its boxes 1000, 1001, ... and OK.
void Answer(const QStringList& texts) {
  qmtest::QueueModal([texts](fw::CDialog& d) {
    for (int i = 0; i < texts.size(); ++i) d.SetDlgItemText(1000 + i, texts[i]);
    d.Click(fw::IDOK);
    return d.Result();
  });
}

TEST(CommandsEndToEnd, ScanAddressChangeAndRatiosOnTheRealStack) {
  fw::CDialog::SetManualTimers(false);
  qmtest::SimProcess sim({"--address", "1", "--seed", "7"});
  ASSERT_TRUE(sim.Ready());
  qputenv("QM7410_COM1", sim.Link().toLocal8Bit());
  qm::link::QtSerialDevice device;
  qm::link::EventLoopClock clock;
  CMonitorDlg dlg(device, clock);
  dlg.Create();
  ASSERT_TRUE(dlg.m_comm.GetPortOpen());

  // The window starts at address 0: the scan finds the meter with its first probe, at 1. A probe
  // that misses on a busy machine sends the scan once round all 255 addresses (three minutes).
  dlg.Click(1062);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg.IsTimerRunning(CMonitorDlg::kScanTimer); }, 300000));
  EXPECT_EQ(dlg.m_bySlaveAddr, 1);

  // Address 3, then PT 100 and CT 5: three confirmed writes, no message; polling reads them back.
  Answer({"3"});
  dlg.Click(1007);
  EXPECT_EQ(sim.Word(0x0300) & 0xFF, 3) << "the meter did not take its new address";
  Answer({"100", "5"});
  dlg.Click(1006);
  EXPECT_TRUE(qmtest::Messages().empty()) << qmtest::Messages().front().toStdString();
  EXPECT_EQ(sim.Word(0x030E), 100);
  EXPECT_EQ(sim.Word(0x0312), 5);
  // An earlier reading, taken before the ratios were known, may still show for a cycle.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return dlg.m_nCT == 5 && Volts(dlg.GetDlgItemText(1001)) > 10000; }, 60000))
      << "PT " << dlg.m_nPT << ", Ua \"" << dlg.GetDlgItemText(1001).toStdString() << "\"";
  EXPECT_NEAR(Volts(dlg.GetDlgItemText(1001)), 22000, 22000 * 0.03);
  EXPECT_EQ(dlg.m_nPT, 100u);
  EXPECT_EQ(dlg.m_bySlaveAddr, 3);
  dlg.DestroyWindow();
  fw::CDialog::SetManualTimers(true);
}

}  // namespace
