#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "cli/reading.h"
#include "service/config.h"

namespace qm::service {

struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
};

// "<prefix>/status": "online" while the service is connected, "offline" as its last will.
std::string StatusTopic(const MqttConfig& mqtt);
// "<prefix>/<meter>/availability": "online" or "offline", as the meter answers.
std::string AvailabilityTopic(const MqttConfig& mqtt, const std::string& meter);
// "<prefix>/<meter>/<value>": "Ua", "PFc", "EPimp", ...
std::string ValueTopic(const MqttConfig& mqtt, const std::string& meter, int word);
// "<prefix>/<meter>/reading": the whole reading as one JSON object.
std::string ReadingTopic(const MqttConfig& mqtt, const std::string& meter);

// One topic per value with the plain number in SI units, then the JSON of the whole reading.
std::vector<MqttMessage> ReadingMessages(const MqttConfig& mqtt, const std::string& meter,
                                         std::chrono::system_clock::time_point time,
                                         const cli::MeterReading& reading);

// Home Assistant's discovery messages for a meter's sensors (retained): device, unit, device and
// state classes, the energies as total_increasing, available only while both the service and the
// meter are.
std::vector<MqttMessage> DiscoveryMessages(const MqttConfig& mqtt, const std::string& meter, uint8_t address);

}  // namespace qm::service
