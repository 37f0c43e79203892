// qm7410-cli: the QM7410 meter from scripts. The work is done in the command-line core; this file
// gives it the real serial port, the real clocks and Ctrl-C.
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cli/run.h"
#include "link/qt_serial_device.h"

namespace {

std::atomic<bool> g_stop{false};

// The first Ctrl-C lets the log finish its row; a second one ends the program at once.
void OnSignal(int sig) {
  if (g_stop.exchange(true)) {
    signal(sig, SIG_DFL);
    raise(sig);
  }
}

class RealLogClock : public qm::cli::LogClock {
 public:
  RealLogClock() { started_.start(); }
  uint64_t NowMs() override { return static_cast<uint64_t>(started_.elapsed()); }
  void SleepUntil(uint64_t ms, const std::atomic<bool>& stop) override {
    // In short steps, so Ctrl-C ends a long interval without delay.
    for (uint64_t now = NowMs(); now < ms && !stop; now = NowMs())
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint64_t>(ms - now, 50)));
  }
  std::chrono::system_clock::time_point WallNow() override { return std::chrono::system_clock::now(); }

 private:
  QElapsedTimer started_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the serial port wants one; no event loop runs
  std::vector<std::string> args(argv + 1, argv + argc);

  // Only the log stops gracefully; any other command ends at Ctrl-C as programs do.
  const qm::cli::ParseResult parsed = qm::cli::ParseArguments(args);
  if (parsed.error.empty() && parsed.options.command == qm::cli::Command::Log) {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }

  qm::link::QtSerialDevice device;
  qm::link::QtInputWait wait(device);
  RealLogClock clock;
  qm::cli::Environment env{device, wait, clock, stdout, stderr, g_stop};
  return qm::cli::Run(args, env);
}
