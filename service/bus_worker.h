#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/meter_link.h"
#include "cli/reading.h"
#include "link/clock.h"
#include "link/named_transport.h"
#include "link/transport.h"
#include "service/config.h"
#include "service/state.h"

namespace qm::service {

// A bus's line, made in one place: the serial device or the gateway its name says, the clock and
// the meters' link over them.
struct BusLink {
  std::unique_ptr<link::Transport> serial;
  std::unique_ptr<link::NamedTransport> transport;
  std::unique_ptr<link::SteadyClock> clock;
  std::unique_ptr<cli::MeterLink> link;
};

// Opens the bus's device (throws link::CommError naming it and the reason).
BusLink OpenBus(const BusConfig& bus, const Config& config);

// What a worker reports besides the shared state: every good reading and each change of a meter's
// availability (from any worker's thread).
struct BusEvents {
  std::function<void(const std::string& meter, std::chrono::system_clock::time_point,
                     const cli::MeterReading&)>
      reading;
  std::function<void(const std::string& meter, bool online)> availability;
};

// One thread per bus: its requests one after another with the configured pause between them, each
// meter when its schedule says. A device that cannot be opened or goes away is opened again, with
// back-off. Nothing but reads (function 0x03) is ever sent.
class BusWorker {
 public:
  // `meterIds` are the meters' indexes in `state`, in the bus's order.
  BusWorker(const BusConfig& bus, const Config& config, size_t busId, std::vector<size_t> meterIds,
            State& state, BusEvents events);
  ~BusWorker();
  BusWorker(const BusWorker&) = delete;
  BusWorker& operator=(const BusWorker&) = delete;

  void Start();
  void Stop();
  // Steady-clock milliseconds (from the clock's epoch) of the worker's last turn of its loop, for the
  // watchdog.
  uint64_t HeartbeatMs() const { return heartbeat_; }

 private:
  void Run();
  void Poll(BusLink& bus);
  // False when asked to stop meanwhile.
  bool SleepUntil(std::chrono::steady_clock::time_point when);
  uint64_t NowMs() const;
  static uint64_t EpochMs();

  BusConfig bus_;
  Config config_;
  size_t busId_;
  std::vector<size_t> meterIds_;
  State& state_;
  BusEvents events_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> heartbeat_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::vector<bool> online_;
  std::vector<bool> known_;  // availability said at least once
};

}  // namespace qm::service
