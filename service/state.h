#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/reading.h"

namespace qm::service {

// The ways a request on a bus can fail, as the metrics count them.
inline constexpr const char* kErrorKinds[] = {"no_reply", "bad_reply", "exception", "port"};

// The kind of a failed read from its reason ("measurement block: no reply").
const char* ErrorKind(const std::string& reason);

// Where the phase label of a shown word comes from: its group (a, b, c, combined) or, for the line
// voltages, the pair of phases ("ab"); empty for the energies, which have none.
std::string PhaseOf(int word);
bool IsLineVoltage(int word);

struct MeterState {
  std::string name;
  std::string bus;
  uint8_t address = 0;
  bool up = false;
  bool read = false;        // at least one reading so far
  double lastSuccessS = 0;  // Unix time of the last good reading
  double downSinceS = 0;    // Unix time of the first failure since it was last up; 0 while up
  uint64_t readings = 0;
  uint64_t failures = 0;
  std::vector<poll::Measurement> values;  // of the last good reading
  poll::SettingsValues settings;          // of the last good reading: PT, CT, wiring
};

struct BusState {
  std::string device;
  uint64_t requests = 0;
  std::map<std::string, uint64_t> errors;  // by kind, every kind present
};

struct Snapshot {
  std::vector<MeterState> meters;
  std::vector<BusState> buses;
  bool mqttEnabled = false;
  bool mqttConnected = false;
  uint64_t mqttQueued = 0;
  uint64_t mqttDropped = 0;
};

// What the workers found, shared with the metrics page. Every call locks; none blocks for long.
class State {
 public:
  // Registers a bus and its meters; returns the bus's index.
  size_t AddBus(const std::string& device);
  size_t AddMeter(size_t bus, const std::string& name, uint8_t address);

  void CountRequest(size_t bus);
  void CountError(size_t bus, const char* kind);
  void Success(size_t meter, std::chrono::system_clock::time_point time, const cli::MeterReading& reading);
  void Failure(size_t meter, std::chrono::system_clock::time_point time = std::chrono::system_clock::now());
  void Mqtt(bool connected, uint64_t queued, uint64_t dropped);
  void EnableMqtt();

  Snapshot Copy() const;

 private:
  mutable std::mutex mutex_;
  Snapshot s_;
};

// The Prometheus text exposition of a snapshot.
std::string RenderMetrics(const Snapshot& s);

}  // namespace qm::service
