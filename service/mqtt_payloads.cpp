#include "service/mqtt_payloads.h"

#include "cli/writers.h"
#include "meter/quantities.h"
#include "poll/measurements.h"

namespace qm::service {
namespace {

struct SensorClass {
  const char* deviceClass;  // empty: Home Assistant has none for it
  const char* stateClass;
};

SensorClass ClassOf(meter::Quantity q) {
  using meter::Quantity;
  switch (q) {
    case Quantity::Voltage:
      return {"voltage", "measurement"};
    case Quantity::Current:
      return {"current", "measurement"};
    case Quantity::Frequency:
      return {"frequency", "measurement"};
    case Quantity::ActivePower:
      return {"power", "measurement"};
    case Quantity::PowerFactor:
      return {"power_factor", "measurement"};
    case Quantity::ReactivePower:
      return {"reactive_power", "measurement"};
    case Quantity::ApparentPower:
      return {"apparent_power", "measurement"};
    case Quantity::ImportActiveEnergy:
    case Quantity::ExportActiveEnergy:
      return {"energy", "total_increasing"};
    case Quantity::ImportReactiveEnergy:
    case Quantity::ExportReactiveEnergy:
      return {"", "total_increasing"};
  }
  return {"", "measurement"};
}

}  // namespace

std::string StatusTopic(const MqttConfig& mqtt) { return mqtt.topicPrefix + "/status"; }

std::string AvailabilityTopic(const MqttConfig& mqtt, const std::string& meter) {
  return mqtt.topicPrefix + "/" + meter + "/availability";
}

std::string ValueTopic(const MqttConfig& mqtt, const std::string& meter, int word) {
  return mqtt.topicPrefix + "/" + meter + "/" + poll::MeasurementName(word);
}

std::string ReadingTopic(const MqttConfig& mqtt, const std::string& meter) {
  return mqtt.topicPrefix + "/" + meter + "/reading";
}

std::vector<MqttMessage> ReadingMessages(const MqttConfig& mqtt, const std::string& meter,
                                         std::chrono::system_clock::time_point time,
                                         const cli::MeterReading& reading) {
  std::vector<MqttMessage> out;
  for (const poll::Measurement& v : reading.values)
    out.push_back({ValueTopic(mqtt, meter, v.slot.word), cli::PlainNumber(v.value), false});
  // The command line's JSON line, with the meter's name in front.
  std::string row = cli::LogRow(cli::Format::Jsonl, time, reading);
  while (!row.empty() && row.back() == '\n') row.pop_back();
  std::string json = "{\"meter\": ";
  json += cli::JsonString(meter);
  json += ", ";
  json += row.substr(1);
  out.push_back({ReadingTopic(mqtt, meter), json, false});
  return out;
}

std::vector<MqttMessage> DiscoveryMessages(const MqttConfig& mqtt, const std::string& meter,
                                           uint8_t address) {
  std::vector<MqttMessage> out;
  const std::string id = "qm7410_" + meter;
  std::string device = "{\"identifiers\": [";
  device += cli::JsonString(id);
  device += "], \"name\": ";
  device += cli::JsonString(meter);
  device += ", \"model\": \"QM7410\", \"hw_version\": ";
  device += cli::JsonString("address " + std::to_string(address));
  device += "}";
  std::string availability = "[{\"topic\": ";
  availability += cli::JsonString(StatusTopic(mqtt));
  availability += "}, {\"topic\": ";
  availability += cli::JsonString(AvailabilityTopic(mqtt, meter));
  availability += "}], \"availability_mode\": \"all\"";
  for (const poll::MeasurementSlot& slot : poll::MeasurementSlots()) {
    const auto quantity = meter::WordQuantity(slot.word);
    if (!quantity) continue;
    const std::string name = poll::MeasurementName(slot.word);
    const SensorClass c = ClassOf(*quantity);
    const std::string unit = meter::SiUnit(*quantity);
    std::string p = "{\"name\": ";
    p += cli::JsonString(name);
    p += ", \"unique_id\": ";
    p += cli::JsonString(id + "_" + name);
    p += ", \"object_id\": ";
    p += cli::JsonString(id + "_" + name);
    p += ", \"state_topic\": ";
    p += cli::JsonString(ValueTopic(mqtt, meter, slot.word));
    if (!unit.empty()) {
      p += ", \"unit_of_measurement\": ";
      p += cli::JsonString(unit);
    }
    if (*c.deviceClass) {
      p += ", \"device_class\": ";
      p += cli::JsonString(c.deviceClass);
    }
    p += ", \"state_class\": ";
    p += cli::JsonString(c.stateClass);
    p += ", \"availability\": ";
    p += availability;
    p += ", \"device\": ";
    p += device;
    p += "}";
    out.push_back({mqtt.discoveryPrefix + "/sensor/" + id + "/" + name + "/config", p, true});
  }
  return out;
}

}  // namespace qm::service
