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
  // Ua, near 220 V on the line, shows as about 22 KV once the ratios are read back (an earlier
  // reading may still show for a cycle).
  const auto kv = [&] {
    const QString t = dlg.GetDlgItemText(1001);
    return t.endsWith(" KV") ? t.chopped(3).toDouble() : 0.0;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.m_nCT == 5 && dlg.m_nPT == 100 && kv() > 20; }, 60000))
      << "Ua \"" << dlg.GetDlgItemText(1001).toStdString() << "\"";
  EXPECT_LT(kv(), 24);
  EXPECT_EQ(dlg.m_bySlaveAddr, 3);
  dlg.DestroyWindow();
  fw::CDialog::SetManualTimers(true);
}

}  // namespace
