// The configuration commands end to end: CMonitorDlg on QSerialPort and real waits and timers, over a
// pseudo-terminal to a qm7410-sim process. Modal dialogs are answered through the framework's hook.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <deque>

#include "framework/app.h"
#include "framework/dialog.h"
#include "link/event_loop_clock.h"
#include "link/qt_serial_device.h"
#include "ui/monitor_dlg.h"

namespace {

// One qm7410-sim process serving a pseudo-terminal behind a link in a temporary directory; its
// command channel reads the meter's memory. Asked to quit when done, killed if it does not (the
// QProcess destructor kills it too, whatever path the test leaves by).
class SimProcess {
 public:
  SimProcess() {
    proc_.start(QStringLiteral(QM_SIM_EXE), {"--link", Link(), "--address", "1", "--seed", "7"});
    ready_ = proc_.waitForStarted(5000) && ReadLine() == "ready " + Link();
  }
  ~SimProcess() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.write("quit\n");
    if (!proc_.waitForFinished(3000)) proc_.kill();
    proc_.waitForFinished(3000);
  }
  bool Ready() const { return ready_; }
  QString Link() const { return dir_.filePath("com1"); }
  std::string Errors() { return proc_.readAllStandardError().toStdString(); }
  // The word at the meter's memory address `addr`, or -1 when the sim does not answer.
  int Word(int addr) {
    proc_.write(QStringLiteral("get %1\n").arg(addr).toLatin1());
    const QString line = ReadLine();
    return line.startsWith("ok ") ? line.mid(3).toInt() : -1;
  }

 private:
  QString ReadLine() {
    QDeadlineTimer deadline(5000);
    while (!proc_.canReadLine() && proc_.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
      continue;
    return QString::fromLocal8Bit(proc_.readLine()).trimmed();
  }

  QTemporaryDir dir_;
  QProcess proc_;
  bool ready_ = false;
};

// The number a voltage box shows, in volts ("22.01 KV" is 22010).
double Volts(const QString& text) {
  const QStringList parts = text.split(' ', Qt::SkipEmptyParts);
  if (parts.size() != 2) return -1;
  return parts[0].toDouble() * (parts[1].startsWith('K') ? 1000 : 1);
}

TEST(CommandsEndToEnd, AddressChangeScanAndRatiosOnTheRealStack) {
  int argc = 1;
  char name[] = "qm7410-monitor";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  fw::SetAfxAppName("qm7410-monitor");
  static std::vector<QString> messages;
  static std::deque<QStringList> answers;  // for boxes 1000, 1001, ... of the next dialogs, then OK
  fw::SetMessageBoxHook([](const QString& text) {
    messages.push_back(text);
    return fw::IDOK;
  });
  fw::CDialog::SetModalHook([](fw::CDialog& d) {
    EXPECT_FALSE(answers.empty()) << "unexpected dialog " << d.GetWindowText().toStdString();
    if (answers.empty()) return fw::IDCANCEL;
    for (int i = 0; i < answers.front().size(); ++i) d.SetDlgItemText(1000 + i, answers.front()[i]);
    answers.pop_front();
    d.Click(fw::IDOK);
    return d.Result();
  });

  SimProcess sim;
  ASSERT_TRUE(sim.Ready()) << sim.Errors();
  qputenv("QM7410_COM1", sim.Link().toLocal8Bit());
  qm::link::QtSerialDevice device;
  qm::link::EventLoopClock clock;
  CMonitorDlg dlg(device, clock);
  dlg.Create();
  ASSERT_TRUE(dlg.m_comm.GetPortOpen()) << (messages.empty() ? "" : messages[0].toStdString());
  const auto scan = [&] {
    dlg.Click(1062);
    return QTest::qWaitFor([&] { return !dlg.IsTimerRunning(CMonitorDlg::kScanTimer); }, 15000);
  };

  // The window starts at address 0: the scan finds the meter at 1. Then give it address 3.
  ASSERT_TRUE(scan());
  EXPECT_EQ(dlg.m_bySlaveAddr, 1);
  answers.push_back({"3"});
  dlg.Click(1007);
  EXPECT_EQ(sim.Word(0x0300) & 0xFF, 3) << "the meter did not take its new address";

  // Lose it (as after a restart with the address unknown) and find it again: probes 1, 2, 3.
  dlg.KillTimer(CMonitorDlg::kPollTimer);
  dlg.m_bySlaveAddr = 0;
  dlg.SetDlgItemText(1061, "0");
  ASSERT_TRUE(scan());
  EXPECT_EQ(dlg.GetDlgItemText(1061), "3");

  // PT 100 and CT 5: three confirmed writes, no message; polling reads them back and scales Ua.
  answers.push_back({"100", "5"});
  dlg.Click(1006);
  EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
  EXPECT_EQ(sim.Word(0x030E), 100);
  EXPECT_EQ(sim.Word(0x0312), 5);
  // An earlier reading, taken before the ratios were known, may still show for a cycle.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return dlg.m_nCT == 5 && Volts(dlg.GetDlgItemText(1001)) > 10000; }, 20000))
      << "PT " << dlg.m_nPT << ", Ua \"" << dlg.GetDlgItemText(1001).toStdString() << "\"";
  EXPECT_NEAR(Volts(dlg.GetDlgItemText(1001)), 22000, 22000 * 0.03);
  EXPECT_EQ(dlg.m_nPT, 100u);
  dlg.DestroyWindow();
}

}  // namespace
