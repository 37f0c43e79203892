#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/reading.h"
#include "service/config.h"
#include "service/mqtt_payloads.h"
#include "service/state.h"

struct mosquitto;

namespace qm::service {

// The service's one connection to the broker, served by a thread of its own. Its last will marks the
// service offline; each meter's availability is a retained topic of its own. While the broker is
// away readings wait in a queue of `queueReadings`; when it is full the oldest reading is dropped
// and counted. On every (re)connection the status, discovery and availability go out again, then
// the queue in order. A reading leaves the queue only once the broker has acknowledged all its
// messages (QoS 1); those in flight when the connection drops go again, so a reading may arrive twice
// but none is lost within the queue's bound.
class MqttPublisher {
 public:
  struct Meter {
    std::string name;
    uint8_t address;
  };
  MqttPublisher(const MqttConfig& config, std::vector<Meter> meters, State& state);
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // Starts connecting in the background; false only when the client cannot be set up at all (TLS
  // files that cannot be read, ...), with the reason.
  bool Start(std::string& error);
  // Says "offline" for the service and disconnects.
  void Stop();

  void Reading(const std::string& meter, std::chrono::system_clock::time_point time,
               const cli::MeterReading& reading);
  void Availability(const std::string& meter, bool online);

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  void Acknowledged(int mid);
  void Loop();
  void Unreachable(int rc);
  void Connected(int rc);
  void Disconnected(int rc);
  // With mutex_ held.
  void Drain();
  bool Send(const MqttMessage& m, int* mid = nullptr);
  void Report();
  std::string Broker() const;

  MqttConfig config_;
  std::vector<Meter> meters_;
  State& state_;
  mosquitto* mosq_ = nullptr;
  std::mutex mutex_;
  bool connected_ = false;
  bool everConnected_ = false;
  bool connectedOnce_ = false;  // since the last loss: the next retry waits 1 s again
  std::atomic<bool> stop_{false};
  std::condition_variable wake_;
  std::thread thread_;
  std::string lastProblem_;  // logged once until it changes
  struct Queued {
    std::vector<MqttMessage> messages;
    int unacknowledged = 0;
  };
  std::deque<Queued> queue_;
  std::map<uint64_t, Queued> inFlight_;  // by sequence number, sent and waiting for the broker
  std::map<int, uint64_t> messageIds_;   // libmosquitto's message id to the reading's sequence
  uint64_t sequence_ = 0;
  uint64_t dropped_ = 0;
  std::map<std::string, bool> availability_;
};

}  // namespace qm::service
