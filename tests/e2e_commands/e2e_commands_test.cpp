// The configuration commands end to end: CMonitorDlg on QSerialPort and real waits, talking over a
// pseudo-terminal to a qm7410-sim process. Modal dialogs are answered through the framework's modal
// hook; timers are real.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>

#include "framework/app.h"
#include "framework/dialog.h"
#include "link/event_loop_clock.h"
#include "link/qt_serial_device.h"
#include "ui/monitor_dlg.h"

namespace {

constexpr int kPoll = CMonitorDlg::kPollTimer;
constexpr int kScan = CMonitorDlg::kScanTimer;

std::vector<QString> g_messages;
std::deque<std::function<int(fw::CDialog&)>> g_scripts;

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "qm7410-monitor";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    fw::SetAfxAppName("qm7410-monitor");
    fw::SetMessageBoxHook([](const QString& text) {
      g_messages.push_back(text);
      return fw::IDOK;
    });
    fw::CDialog::SetModalHook([](fw::CDialog& d) {
      if (g_scripts.empty()) {
        ADD_FAILURE() << "unexpected dialog " << d.GetWindowText().toStdString();
        return fw::IDCANCEL;
      }
      auto script = std::move(g_scripts.front());
      g_scripts.pop_front();
      return script(d);
    });
  }
  void TearDown() override {
    fw::CDialog::SetModalHook({});
    fw::SetMessageBoxHook({});
    app_.reset();
  }

 private:
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const bool g_registered = [] {
  ::testing::AddGlobalTestEnvironment(new QtEnvironment);
  return true;
}();

// One qm7410-sim process serving a pseudo-terminal behind a link in a temporary directory; its
// command channel reads the meter's memory. Ended (and waited for) on destruction.
class SimProcess {
 public:
  explicit SimProcess(const QStringList& options) {
    link_ = dir_.filePath("com1");
    proc_.setProgram(QStringLiteral(QM_SIM_EXE));
    proc_.setArguments(QStringList{"--link", link_} + options);
    proc_.setProcessChannelMode(QProcess::SeparateChannels);
    proc_.start();
    if (!proc_.waitForStarted(5000)) return;
    const QString line = ReadLine(5000);
    ready_ = line == "ready " + link_;
  }
  ~SimProcess() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.write("quit\n");
    if (!proc_.waitForFinished(3000)) {
      proc_.terminate();
      if (!proc_.waitForFinished(3000)) {
        proc_.kill();
        proc_.waitForFinished(3000);
      }
    }
  }
  bool Ready() const { return ready_; }
  QString Link() const { return link_; }
  QString Errors() { return QString::fromLocal8Bit(proc_.readAllStandardError()); }

  // The word at the meter's memory address `addr`, or -1 when the sim does not answer.
  int Word(int addr) {
    proc_.write(QStringLiteral("get %1\n").arg(addr).toLatin1());
    const QString line = ReadLine(3000);
    if (!line.startsWith("ok ")) return -1;
    bool ok = false;
    const int value = line.mid(3).toInt(&ok);
    return ok ? value : -1;
  }

 private:
  QString ReadLine(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!proc_.canReadLine() && !deadline.hasExpired())
      if (!proc_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) break;
    return QString::fromLocal8Bit(proc_.readLine()).trimmed();
  }

  QTemporaryDir dir_;
  QString link_;
  QProcess proc_;
  bool ready_ = false;
};

// The number a measurement box shows, in the base unit ("22.01 KV" is 22010).
double BoxValue(const QString& text) {
  const QStringList parts = text.split(' ', Qt::SkipEmptyParts);
  if (parts.size() != 2) return -1;
  const double v = parts[0].toDouble();
  if (parts[1].startsWith('K')) return v * 1000;
  if (parts[1].startsWith('M')) return v * 1000000;
  return v;
}

TEST(CommandsEndToEnd, AddressChangeScanAndRatiosOnTheRealStack) {
  SimProcess sim({"--address", "1", "--seed", "7"});
  ASSERT_TRUE(sim.Ready()) << sim.Errors().toStdString();
  qputenv("QM7410_COM1", sim.Link().toLocal8Bit());
  g_messages.clear();

  qm::QtSerialDevice device;
  qm::EventLoopClock clock;
  auto dlg = std::make_unique<CMonitorDlg>(device, clock);
  dlg->m_nParity = 0;
  dlg->m_nBaud = 9600;
  dlg->m_nPort = 1;
  dlg->Create();
  ASSERT_TRUE(dlg->m_comm.GetPortOpen()) << (g_messages.empty() ? "" : g_messages[0].toStdString());

  // The window starts at address 0: find the meter with the scan.
  dlg->Click(1062);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->IsTimerRunning(kScan); }, 10000)) << "scan found nothing";
  EXPECT_EQ(dlg->m_bySlaveAddr, 1);

  // Give it address 3, through the dialog.
  g_scripts.push_back([](fw::CDialog& d) {
    d.SetDlgItemText(1000, "3");
    d.Click(fw::IDOK);
    return d.Result();
  });
  dlg->Click(1007);
  EXPECT_EQ(dlg->m_bySlaveAddr, 3);
  EXPECT_EQ(dlg->GetDlgItemText(1061), "3");
  EXPECT_EQ(sim.Word(0x0300) & 0xFF, 3) << "the meter did not take its new address";
  EXPECT_TRUE(dlg->IsTimerRunning(kPoll));

  // Lose it (as after a restart with the address unknown) and find it again: probes 1, 2, 3.
  dlg->KillTimer(kPoll);
  dlg->SetDlgItemText(1061, "0");
  dlg->m_bySlaveAddr = 0;
  dlg->Click(1062);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->IsTimerRunning(kScan); }, 15000)) << "scan found nothing";
  EXPECT_EQ(dlg->m_bySlaveAddr, 3);
  EXPECT_EQ(dlg->GetDlgItemText(1061), "3");

  // PT 100 and CT 5: three confirmed writes, no message.
  g_scripts.push_back([](fw::CDialog& d) {
    d.SetDlgItemText(1000, "100");
    d.SetDlgItemText(1001, "5");
    d.Click(fw::IDOK);
    return d.Result();
  });
  dlg->Click(1006);
  EXPECT_TRUE(g_messages.empty()) << g_messages.front().toStdString();
  EXPECT_EQ(sim.Word(0x030E), 100);
  EXPECT_EQ(sim.Word(0x0312), 5);
  ASSERT_TRUE(dlg->IsTimerRunning(kPoll)) << "the command did not restart polling";

  // Polling reads the ratios back and scales the display: about 220 V on the secondary side.
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->m_nPT == 100 && !dlg->GetDlgItemText(1001).isEmpty(); }, 15000))
      << "PT " << dlg->m_nPT << ", Ua box \"" << dlg->GetDlgItemText(1001).toStdString() << "\"";
  EXPECT_EQ(dlg->m_nCT, 5u);
  // The box may still show a reading taken before the ratios were known: wait one more cycle.
  ASSERT_TRUE(QTest::qWaitFor([&] { return BoxValue(dlg->GetDlgItemText(1001)) > 10000; }, 5000))
      << dlg->GetDlgItemText(1001).toStdString();
  const double ua = BoxValue(dlg->GetDlgItemText(1001));
  EXPECT_NEAR(ua, 22000, 22000 * 0.03) << dlg->GetDlgItemText(1001).toStdString();

  dlg->KillTimer(kPoll);
  dlg->DestroyWindow();
  dlg.reset();
  EXPECT_TRUE(g_scripts.empty());
}

}  // namespace
