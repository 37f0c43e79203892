// qm7410-cli: the QM7410 meter from scripts. The work is done in the command-line core; this file
// gives it the real serial port, the real clocks and Ctrl-C. No Qt: a script may start the program
// once per reading, so it starts in a few milliseconds.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cli/run.h"
#include "link/named_transport.h"
#include "link/posix_serial_device.h"

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
  uint64_t NowMs() override {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_)
            .count());
  }
  void SleepUntil(uint64_t ms, const std::atomic<bool>& stop) override {
    // In short steps, so Ctrl-C ends a long interval without delay.
    for (uint64_t now = NowMs(); now < ms && !stop; now = NowMs())
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint64_t>(ms - now, 50)));
  }
  std::chrono::system_clock::time_point WallNow() override { return std::chrono::system_clock::now(); }

 private:
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv) {
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

  // --port names a serial device or a gateway (tcp://HOST:PORT, rtuovertcp://HOST:PORT).
  qm::link::PosixSerialDevice serial;
  qm::link::NamedTransport device(serial, qm::link::Wording::English);
  qm::link::SteadyClock wait;
  RealLogClock clock;
  qm::cli::Environment env{device, wait, clock, stdout, stderr, g_stop};
  return qm::cli::Run(args, env);
}
