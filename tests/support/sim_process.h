#pragma once
// A qm7410-sim process serving a pseudo-terminal behind a link in a temporary directory. Its command
// channel (stdin) reads the meter's memory. Asked to quit when done and killed if it does not, so a
// failing test never leaves one behind; Kill() ends it at once, as a crash or a pulled cable ends a
// meter. The test's target defines QM7410_SIM_PATH.
#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace qmtest {

class SimProcess {
 public:
  explicit SimProcess(const QStringList& args) {
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(QStringLiteral(QM7410_SIM_PATH), QStringList{"--link", Link()} + args);
    ready_ = proc_.waitForStarted(10000) && ReadLine() == "ready " + Link();
  }
  ~SimProcess() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.write("quit\n");
    if (!proc_.waitForFinished(3000)) Kill();
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Ready() const { return ready_; }
  QString Link() const { return dir_.filePath("meter"); }
  void Kill() {
    proc_.kill();
    proc_.waitForFinished(10000);
  }
  // The word at the meter's memory address `addr`, or -1 when the simulator does not answer.
  int Word(int addr) {
    const QString line = Command(QStringLiteral("get %1").arg(addr));
    return line.startsWith("ok ") ? line.mid(3).toInt() : -1;
  }
  // One line of the command channel ("fault silence:3", "@2 get 0x30E") and its answer.
  QString Command(const QString& command) {
    proc_.write((command + "\n").toUtf8());
    return ReadLine();
  }

 private:
  QString ReadLine() {
    const QDeadlineTimer deadline(10000);
    while (!proc_.canReadLine() && proc_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    }
    return QString::fromLocal8Bit(proc_.readLine()).trimmed();
  }

  QTemporaryDir dir_;
  QProcess proc_;
  bool ready_ = false;
};

}  // namespace qmtest
