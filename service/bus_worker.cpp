#include "service/bus_worker.h"

#include <algorithm>
#include <cstdio>

#include "link/posix_serial_device.h"
#include "service/schedule.h"

namespace qm::service {

BusLink OpenBus(const BusConfig& bus, const Config& config) {
  BusLink out;
  out.serial = std::make_unique<link::PosixSerialDevice>();
  out.transport = std::make_unique<link::NamedTransport>(*out.serial, link::Wording::English);
  out.transport->Open(bus.endpoint.kind == Endpoint::Kind::Serial ? bus.endpoint.path : bus.device,
                      {bus.baud, bus.parity, 8, 1});
  out.clock = std::make_unique<link::SteadyClock>();
  cli::LinkOptions options;
  options.baud = bus.baud;
  options.parity = bus.parity;
  options.timeoutMs = config.timeoutMs;
  options.retries = config.retries;
  out.link = std::make_unique<cli::MeterLink>(*out.transport, *out.clock, options);
  return out;
}

BusWorker::BusWorker(const BusConfig& bus, const Config& config, size_t busId, std::vector<size_t> meterIds,
                     State& state, BusEvents events)
    : bus_(bus),
      config_(config),
      busId_(busId),
      meterIds_(std::move(meterIds)),
      state_(state),
      events_(std::move(events)),
      online_(bus_.meters.size(), false),
      known_(bus_.meters.size(), false) {}

BusWorker::~BusWorker() { Stop(); }

void BusWorker::Start() {
  heartbeat_ = EpochMs();
  thread_ = std::thread([this] { Run(); });
}

void BusWorker::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint64_t BusWorker::NowMs() const {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_)
          .count());
}

uint64_t BusWorker::EpochMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool BusWorker::SleepUntil(std::chrono::steady_clock::time_point when) {
  std::unique_lock lock(mutex_);
  // In steps of a second at most, so the watchdog sees the worker alive through long intervals.
  while (!stop_ && std::chrono::steady_clock::now() < when) {
    wake_.wait_until(lock, std::min(when, std::chrono::steady_clock::now() + std::chrono::seconds(1)));
    heartbeat_ = EpochMs();
  }
  return !stop_;
}

void BusWorker::Run() {
  std::string lastProblem;
  double backoffS = 1;
  while (!stop_) {
    heartbeat_ = EpochMs();
    try {
      BusLink bus = OpenBus(bus_, config_);
      if (!lastProblem.empty()) std::fprintf(stderr, "qm7410d: bus %s open again\n", bus_.device.c_str());
      lastProblem.clear();
      backoffS = 1;
      Poll(bus);
    } catch (const link::CommError& e) {
      state_.CountError(busId_, "port");
      if (lastProblem != e.what()) std::fprintf(stderr, "qm7410d: %s; trying again\n", e.what());
      lastProblem = e.what();
      for (size_t i = 0; i < bus_.meters.size(); ++i) {
        state_.Failure(meterIds_[i]);
        if (online_[i] || !known_[i]) events_.availability(bus_.meters[i].name, false);
        online_[i] = false;
        known_[i] = true;
      }
      SleepUntil(std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(static_cast<int64_t>(backoffS * 1000)));
      backoffS = std::min(backoffS * 2, config_.maxBackoffS);
    }
  }
}

void BusWorker::Poll(BusLink& bus) {
  std::vector<double> intervals;
  for (const MeterConfig& m : bus_.meters) intervals.push_back(m.intervalS);
  Schedule schedule(intervals, config_.maxBackoffS, NowMs());
  std::vector<int32_t> multipliers(bus_.meters.size(), 1);
  const auto pause = std::chrono::milliseconds(config_.pauseMs);
  std::chrono::steady_clock::time_point lastRequestEnd{};
  // Every request keeps its distance from the one before it on the line.
  auto spaced = [&](auto request) {
    if (!SleepUntil(lastRequestEnd + pause)) return false;
    const bool ok = request();
    lastRequestEnd = std::chrono::steady_clock::now();
    return ok;
  };
  while (!stop_) {
    uint64_t due = 0;
    const size_t i = schedule.Next(due);
    if (!SleepUntil(started_ + std::chrono::milliseconds(due))) return;
    heartbeat_ = EpochMs();
    const MeterConfig& meter = bus_.meters[i];
    // A meter that failed is asked once per step; its retries would only hold up the others.
    bus.link->SetRetries(schedule.Failures(i) ? 0 : config_.retries);
    cli::MeterReading reading;
    reading.address = meter.address;
    std::string error;
    auto counted = [&](bool ok) {
      state_.CountRequest(busId_);
      if (!ok) state_.CountError(busId_, ErrorKind(error));
      return ok;
    };
    bool ok = spaced([&] { return counted(cli::ReadSettings(*bus.link, reading, multipliers[i], error)); });
    if (stop_) return;
    ok = ok && spaced([&] { return counted(cli::ReadMeasurements(*bus.link, reading, error)); });
    if (stop_) return;
    // The port or the gateway's connection went away: open it again, with back-off.
    if (!bus.transport->IsOpen()) throw link::CommError(error);
    const auto time = std::chrono::system_clock::now();
    schedule.Done(i, ok, NowMs());
    if (ok) {
      multipliers[i] = reading.settings.energyMultiplier;
      state_.Success(meterIds_[i], time, reading);
      if (!online_[i] && known_[i])
        std::fprintf(stderr, "qm7410d: bus %s meter %s (address %d) answers again\n", bus_.device.c_str(),
                     meter.name.c_str(), meter.address);
      if (!online_[i] || !known_[i]) events_.availability(meter.name, true);
      events_.reading(meter.name, time, reading);
    } else {
      state_.Failure(meterIds_[i]);
      if (online_[i] || !known_[i])
        std::fprintf(stderr, "qm7410d: bus %s meter %s (address %d) offline: %s\n", bus_.device.c_str(),
                     meter.name.c_str(), meter.address, error.c_str());
      if (online_[i] || !known_[i]) events_.availability(meter.name, false);
    }
    online_[i] = ok;
    known_[i] = true;
  }
}

}  // namespace qm::service
