// qm7410-sim: a simulated QM7410 meter on a pseudo-terminal or a real serial port, so the monitor
// (or any Modbus RTU master) can be run and tested without the hardware; also over TCP, as behind a
// serial-to-Ethernet gateway.
#include <signal.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "sim/options.h"
#include "sim/server.h"
#include "sim/tty.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  qm::sim::Options options;
  bool help = false;
  std::string error;
  if (!qm::sim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, help, error)) {
    std::fprintf(stderr, "qm7410-sim: %s (see qm7410-sim --help)\n", error.c_str());
    return 2;
  }
  if (help) {
    std::fputs(qm::sim::kUsage, stdout);
    return 0;
  }

  // Signals are held back except while waiting, so a stop request is never missed between checks.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t block, waitMask;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGHUP);
  sigprocmask(SIG_BLOCK, &block, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);

  qm::sim::Line line;
  if ((!options.link.empty() || !options.device.empty()) &&
      !qm::sim::OpenLine(options.link, options.device, options.meter.baud, options.meter.parity, line,
                         error)) {
    std::fprintf(stderr, "qm7410-sim: %s\n", error.c_str());
    qm::sim::CloseLine(line);
    return 1;
  }
  if (line.pty && options.meter.parity != qm::link::Parity::None)
    std::fprintf(stderr,
                 "qm7410-sim: note: a pseudo-terminal keeps no parity setting, so the meter checks only the "
                 "line's speed\n");

  qm::sim::Server server(options);
  if (line.fd >= 0) server.AddLine(line.fd, line.pty, line.name, line.slaveName);
  std::vector<std::string> ready;
  if (line.fd >= 0) ready.push_back(line.name);
  const std::pair<qm::sim::Wire, const qm::sim::Endpoint*> listeners[] = {
      {qm::sim::Wire::Rtu, &options.listenRtu}, {qm::sim::Wire::Tcp, &options.listenTcp}};
  for (const auto& listener : listeners) {
    if (listener.second->empty()) continue;
    std::string bound;
    if (!server.Listen(listener.first, *listener.second, bound, error)) {
      std::fprintf(stderr, "qm7410-sim: %s\n", error.c_str());
      qm::sim::CloseLine(line);
      return 1;
    }
    ready.push_back((listener.first == qm::sim::Wire::Rtu ? "rtu " : "tcp ") + bound);
  }
  for (const std::string& what : ready) std::printf("ready %s\n", what.c_str());
  std::fflush(stdout);
  if (options.log)
    std::fprintf(stderr, "qm7410-sim: meter at address %d, %d baud, parity %c%s%s%s\n", options.meter.address,
                 options.meter.baud, qm::link::ParityLetter(options.meter.parity),
                 line.name.empty() ? "" : (" on " + line.name).c_str(),
                 line.slaveName.empty() ? "" : (" -> " + line.slaveName).c_str(), "");

  const int rc = server.Run(waitMask, g_stop);
  qm::sim::CloseLine(line);
  return rc;
}
