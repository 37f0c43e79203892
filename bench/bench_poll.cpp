// bench-poll: runs the main window's poll cycle with the program's own serial port (QSerialPort) and
// wait (a nested event loop) against a qm7410-sim process over a pseudo-terminal, with real timer
// ticks, and prints how close the cycles come to their mandated waits, how much CPU polling costs
// and the peak memory.
//
//   bench-poll [--seconds N] [--sim PATH] [--bauds 9600,19200]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "framework/app.h"
#include "framework/dialog.h"
#include "link/event_loop_wait.h"
#include "link/link_settings.h"
#include "link/qt_serial_device.h"
#include "ui/monitor_dlg.h"

namespace {

// The window with a stopwatch around every poll tick.
class TimedMonitorDlg : public CMonitorDlg {
 public:
  TimedMonitorDlg(qm::link::Transport& device, qm::link::Clock& clock) : CMonitorDlg(device, clock) {
    watch_.start();
  }

  struct Cycle {
    qint64 startNs;
    qint64 endNs;
    bool identified;  // this tick also ran the identification
  };
  std::vector<Cycle> cycles;

  void OnTimer(int id) override {
    if (id != kPollTimer) {
      CMonitorDlg::OnTimer(id);
      return;
    }
    const bool identifies = !m_bIdentified;
    const qint64 start = watch_.nsecsElapsed();
    CMonitorDlg::OnTimer(id);
    cycles.push_back({start, watch_.nsecsElapsed(), identifies});
  }

 private:
  QElapsedTimer watch_;
};

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

rusage Usage(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return u;
}

struct Result {
  int baud = 0;
  bool ok = false;
  std::string error;
  size_t cycles = 0;
  double waitsMs = 0;         // mandated waits of a normal cycle
  double meanCycleMs = 0;     // wall time of a normal cycle, tick to end
  double meanOverheadMs = 0;  // of a normal cycle
  double maxOverheadMs = 0;
  double overheadPercent = 0;  // all cycles: wall beyond their waits, relative to the waits
  double periodMs = 0;         // start to start of consecutive cycles
  double cpuPercent = 0;       // of one core, over the polling span
  double spanS = 0;
  uint32_t goodSettings = 0;
  bool measurementsShown = false;
};

Result RunAt(int baud, int seconds, const QString& simExe) {
  Result res;
  res.baud = baud;

  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("com1"));
  QProcess sim;
  sim.setProgram(simExe);
  sim.setArguments({"--link", link, "--baud", QString::number(baud)});
  sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim.start();
  if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000) ||
      !QString::fromLocal8Bit(sim.readLine()).startsWith(QStringLiteral("ready "))) {
    res.error = "qm7410-sim did not start: " + simExe.toStdString();
    return res;
  }
  qputenv("QM7410_COM1", link.toLocal8Bit());

  {
    qm::link::QtSerialDevice device;
    qm::link::EventLoopWait wait;
    TimedMonitorDlg dlg(device, wait);
    dlg.m_nBaud = baud;
    dlg.m_nPort = 1;
    dlg.m_nParity = qm::link::Parity::None;
    dlg.Create();
    dlg.show();
    if (!dlg.m_comm.GetPortOpen()) {
      res.error = "the window could not open " + link.toStdString();
    } else {
      const qm::link::TimingSet t = qm::link::TimingForBaud(baud);
      res.waitsMs = 3.0 * t.shortWait + t.longWait;

      dlg.SetDlgItemText(1061, QStringLiteral("1"));
      QElapsedTimer span;
      const rusage before = Usage();
      span.start();
      dlg.Click(1063);  // run: the poll timer ticks from now on
      QEventLoop loop;
      QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
      loop.exec();
      dlg.Click(1063);  // stop
      const double spanS = static_cast<double>(span.nsecsElapsed()) / 1e9;
      const rusage after = Usage();

      res.spanS = spanS;
      res.cpuPercent = 100.0 * (CpuSeconds(after) - CpuSeconds(before)) / spanS;
      res.cycles = dlg.cycles.size();
      res.goodSettings = dlg.m_nGoodSettings;
      res.measurementsShown = !dlg.GetDlgItemText(1001).isEmpty();

      double allWall = 0, allWaits = 0, normalWall = 0, normalOver = 0;
      size_t normal = 0;
      for (const auto& c : dlg.cycles) {
        const double wall = static_cast<double>(c.endNs - c.startNs) / 1e6;
        const double waits = res.waitsMs + (c.identified ? t.shortWait : 0);
        allWall += wall;
        allWaits += waits;
        if (!c.identified) {
          ++normal;
          normalWall += wall;
          normalOver += wall - waits;
          res.maxOverheadMs = std::max(res.maxOverheadMs, wall - waits);
        }
      }
      if (normal) {
        res.meanCycleMs = normalWall / static_cast<double>(normal);
        res.meanOverheadMs = normalOver / static_cast<double>(normal);
      }
      if (allWaits > 0) res.overheadPercent = 100.0 * (allWall - allWaits) / allWaits;
      if (dlg.cycles.size() > 2) {
        // From the second cycle on (the first also identifies): start to start.
        const auto& a = dlg.cycles[1];
        const auto& b = dlg.cycles.back();
        res.periodMs =
            static_cast<double>(b.startNs - a.startNs) / 1e6 / static_cast<double>(dlg.cycles.size() - 2);
      }
      res.ok = true;
    }
  }

  sim.write("quit\n");
  if (!sim.waitForFinished(3000)) {
    sim.terminate();
    if (!sim.waitForFinished(3000)) sim.kill();
  }
  return res;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int seconds = 30;
  QString simExe = QStringLiteral(QM_SIM_EXE);
  std::vector<int> bauds{9600, 19200};
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      seconds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--sim" && i + 1 < argc) {
      simExe = QString::fromLocal8Bit(argv[++i]);
    } else if (a == "--bauds" && i + 1 < argc) {
      bauds.clear();
      for (const QString& b : QString::fromLocal8Bit(argv[++i]).split(',', Qt::SkipEmptyParts))
        bauds.push_back(b.toInt());
    } else {
      std::fprintf(stderr, "usage: bench-poll [--seconds N] [--sim PATH] [--bauds 9600,19200]\n");
      return 2;
    }
  }

  QApplication app(argc, argv);
  fw::SetAfxAppName(QStringLiteral("bench-poll"));
  // A message box would wait for a click nobody gives: print it instead.
  fw::SetMessageBoxHook([](const QString& text) {
    std::fprintf(stderr, "message box: %s\n", text.toLocal8Bit().constData());
    return fw::IDOK;
  });

  std::printf(
      "bench-poll: CMonitorDlg on QSerialPort + EventLoopWait, real timer ticks, qm7410-sim over a\n"
      "pseudo-terminal, platform %s, %d s of polling per baud rate\n\n",
      qgetenv("QT_QPA_PLATFORM").constData(), seconds);
  // How late the wait alone wakes up: the floor under every exchange's overhead.
  {
    qm::link::EventLoopWait wait;
    QElapsedTimer w;
    double lateMs = 0;
    constexpr int kSleeps = 10;
    for (int i = 0; i < kSleeps; ++i) {
      w.start();
      wait.Sleep(150);
      lateMs += static_cast<double>(w.nsecsElapsed()) / 1e6 - 150.0;
    }
    std::printf("a bare 150 ms wait of the program ends %.2f ms late on average\n\n", lateMs / kSleeps);
  }
  std::printf("%6s %7s %9s %10s %10s %10s %9s %10s %9s %12s\n", "baud", "cycles", "waits/cy", "wall/cy",
              "over/cy", "over max", "over %", "period", "CPU %", "settings ok");
  bool allOk = true;
  for (int baud : bauds) {
    const Result r = RunAt(baud, seconds, simExe);
    if (!r.ok) {
      std::printf("%6d  failed: %s\n", baud, r.error.c_str());
      allOk = false;
      continue;
    }
    std::printf("%6d %7zu %7.0f ms %7.2f ms %7.2f ms %7.2f ms %8.3f%% %7.2f ms %8.3f%% %7u/%zu%s\n", r.baud,
                r.cycles, r.waitsMs, r.meanCycleMs, r.meanOverheadMs, r.maxOverheadMs, r.overheadPercent,
                r.periodMs, r.cpuPercent, r.goodSettings, r.cycles,
                r.measurementsShown ? "" : " (no measurements shown)");
    allOk = allOk && r.goodSettings == r.cycles && r.measurementsShown;
  }
  const rusage self = Usage();
  const rusage children = Usage(RUSAGE_CHILDREN);
  std::printf("\npeak memory (ru_maxrss): %.1f MiB; qm7410-sim processes used %.2f s of CPU in all\n",
              static_cast<double>(self.ru_maxrss) / 1024.0, CpuSeconds(children));
  std::printf("targets: overhead under 2%% of the waits, CPU under 1%% of a core\n");
  return allOk ? 0 : 1;
}
