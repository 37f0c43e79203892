#include "service/state.h"

#include <charconv>
#include <cmath>

#include "meter/quantities.h"

namespace qm::service {
namespace {

// Prometheus numbers: the shortest text that reads back the same.
std::string Number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char buf[64];
  // Plain digits up to where doubles stop being exact integers, as a reader expects of timestamps.
  const auto [end, ec] = std::abs(value) < 1e15
                             ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                             : std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : "NaN";
}

std::string LabelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"')
      out += '\\', out += c;
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

struct Family {
  const char* name;
  const char* type;
  const char* help;
};

// The metric family of a shown word.
Family FamilyOf(int word, meter::Quantity q) {
  using meter::Quantity;
  switch (q) {
    case Quantity::Voltage:
      return IsLineVoltage(word) ? Family{"qm7410_line_voltage_volts", "gauge",
                                          "Voltage between two phases (combined: their mean)."}
                                 : Family{"qm7410_voltage_volts", "gauge",
                                          "Phase to neutral voltage (combined: their mean)."};
    case Quantity::Current:
      return {"qm7410_current_amperes", "gauge", "Phase current (combined: as the meter shows it)."};
    case Quantity::Frequency:
      return {"qm7410_frequency_hertz", "gauge", "Line frequency."};
    case Quantity::ActivePower:
      return {"qm7410_active_power_watts", "gauge", "Active power per phase and combined."};
    case Quantity::PowerFactor:
      return {"qm7410_power_factor_ratio", "gauge", "Power factor per phase and combined."};
    case Quantity::ReactivePower:
      return {"qm7410_reactive_power_vars", "gauge", "Reactive power in var per phase and combined."};
    case Quantity::ApparentPower:
      return {"qm7410_apparent_power_voltamperes", "gauge", "Apparent power per phase and combined."};
    case Quantity::ImportActiveEnergy:
      return {"qm7410_active_energy_imported_watthours_total", "counter", "Imported active energy in Wh."};
    case Quantity::ExportActiveEnergy:
      return {"qm7410_active_energy_exported_watthours_total", "counter", "Exported active energy in Wh."};
    case Quantity::ImportReactiveEnergy:
      return {"qm7410_reactive_energy_imported_varhours_total", "counter",
              "Imported reactive energy in varh."};
    case Quantity::ExportReactiveEnergy:
      return {"qm7410_reactive_energy_exported_varhours_total", "counter",
              "Exported reactive energy in varh."};
  }
  return {"qm7410_unknown", "gauge", ""};
}

void Header(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const std::string& name, const std::string& labels, const std::string& value) {
  out += name;
  out += '{';
  out += labels;
  out += "} ";
  out += value;
  out += '\n';
}

}  // namespace

const char* ErrorKind(const std::string& reason) {
  if (reason.find("exception") != std::string::npos) return "exception";
  if (reason.find("no valid reply") != std::string::npos) return "bad_reply";
  if (reason.find("no reply") != std::string::npos) return "no_reply";
  return "port";
}

bool IsLineVoltage(int word) { return word < 32 && word % 8 == 1; }

std::string PhaseOf(int word) {
  if (word >= 32) return {};
  static const char* const kGroups[] = {"a", "b", "c", "combined"};
  static const char* const kPairs[] = {"ca", "ab", "bc", "combined"};  // the meter's own order
  return IsLineVoltage(word) ? kPairs[word / 8] : kGroups[word / 8];
}

size_t State::AddBus(const std::string& device) {
  std::lock_guard lock(mutex_);
  BusState b;
  b.device = device;
  for (const char* kind : kErrorKinds) b.errors[kind] = 0;
  s_.buses.push_back(b);
  return s_.buses.size() - 1;
}

size_t State::AddMeter(size_t bus, const std::string& name, uint8_t address) {
  std::lock_guard lock(mutex_);
  MeterState m;
  m.name = name;
  m.bus = s_.buses[bus].device;
  m.address = address;
  s_.meters.push_back(m);
  return s_.meters.size() - 1;
}

void State::CountRequest(size_t bus) {
  std::lock_guard lock(mutex_);
  ++s_.buses[bus].requests;
}

void State::CountError(size_t bus, const char* kind) {
  std::lock_guard lock(mutex_);
  ++s_.buses[bus].errors[kind];
}

void State::Success(size_t meter, std::chrono::system_clock::time_point time,
                    const cli::MeterReading& reading) {
  std::lock_guard lock(mutex_);
  MeterState& m = s_.meters[meter];
  m.up = m.read = true;
  m.lastSuccessS = std::chrono::duration<double>(time.time_since_epoch()).count();
  m.downSinceS = 0;
  ++m.readings;
  m.values = reading.values;
  m.settings = reading.settings;
}

void State::Failure(size_t meter, std::chrono::system_clock::time_point time) {
  std::lock_guard lock(mutex_);
  MeterState& m = s_.meters[meter];
  if (m.up || m.downSinceS == 0)
    m.downSinceS = std::chrono::duration<double>(time.time_since_epoch()).count();
  m.up = false;
  ++m.failures;
}

void State::EnableMqtt() {
  std::lock_guard lock(mutex_);
  s_.mqttEnabled = true;
}

void State::Mqtt(bool connected, uint64_t queued, uint64_t dropped) {
  std::lock_guard lock(mutex_);
  s_.mqttConnected = connected;
  s_.mqttQueued = queued;
  s_.mqttDropped = dropped;
}

Snapshot State::Copy() const {
  std::lock_guard lock(mutex_);
  return s_;
}

std::string RenderMetrics(const Snapshot& s) {
  std::string out;
  // One family at a time, as the format wants every sample of a family together.
  std::vector<std::string> order;
  std::map<std::string, std::pair<Family, std::string>> families;
  for (const MeterState& m : s.meters) {
    for (const poll::Measurement& v : m.values) {
      const Family f = FamilyOf(v.slot.word, v.quantity);
      std::string labels = "meter=\"" + LabelValue(m.name) + "\"";
      const std::string phase = PhaseOf(v.slot.word);
      if (!phase.empty() && v.quantity != meter::Quantity::Frequency) labels += ",phase=\"" + phase + "\"";
      auto [it, added] = families.try_emplace(f.name, f, std::string());
      if (added) order.push_back(f.name);
      Sample(it->second.second, f.name, labels, Number(v.value));
    }
  }
  for (const std::string& name : order) {
    const auto& [f, samples] = families.at(name);
    Header(out, f.name, f.type, f.help);
    out += samples;
  }

  Header(out, "qm7410_meter_up", "gauge", "1 when the meter's last read succeeded, else 0.");
  for (const MeterState& m : s.meters)
    Sample(out, "qm7410_meter_up",
           "meter=\"" + LabelValue(m.name) + "\",bus=\"" + LabelValue(m.bus) + "\",address=\"" +
               std::to_string(m.address) + "\"",
           m.up ? "1" : "0");
  Header(out, "qm7410_meter_last_success_timestamp_seconds", "gauge",
         "Unix time of the meter's last good reading; 0 before the first.");
  for (const MeterState& m : s.meters)
    Sample(out, "qm7410_meter_last_success_timestamp_seconds", "meter=\"" + LabelValue(m.name) + "\"",
           Number(m.lastSuccessS));
  Header(out, "qm7410_meter_readings_total", "counter", "Good readings of the meter.");
  for (const MeterState& m : s.meters)
    Sample(out, "qm7410_meter_readings_total", "meter=\"" + LabelValue(m.name) + "\"",
           std::to_string(m.readings));
  Header(out, "qm7410_meter_failures_total", "counter", "Failed readings of the meter.");
  for (const MeterState& m : s.meters)
    Sample(out, "qm7410_meter_failures_total", "meter=\"" + LabelValue(m.name) + "\"",
           std::to_string(m.failures));

  Header(out, "qm7410_bus_requests_total", "counter",
         "Requests sent on the bus (a retried request counts once).");
  for (const BusState& b : s.buses)
    Sample(out, "qm7410_bus_requests_total", "bus=\"" + LabelValue(b.device) + "\"",
           std::to_string(b.requests));
  Header(out, "qm7410_bus_errors_total", "counter", "Failed requests on the bus by kind.");
  for (const BusState& b : s.buses)
    for (const auto& [kind, count] : b.errors)
      Sample(out, "qm7410_bus_errors_total", "bus=\"" + LabelValue(b.device) + "\",kind=\"" + kind + "\"",
             std::to_string(count));

  if (s.mqttEnabled) {
    Header(out, "qm7410_mqtt_connected", "gauge", "1 while the MQTT broker is connected.");
    out += std::string("qm7410_mqtt_connected ") + (s.mqttConnected ? "1" : "0") + "\n";
    Header(out, "qm7410_mqtt_queued_readings", "gauge", "Readings waiting for the broker.");
    out += "qm7410_mqtt_queued_readings " + std::to_string(s.mqttQueued) + "\n";
    Header(out, "qm7410_mqtt_dropped_readings_total", "counter",
           "Readings dropped, oldest first, because the queue was full while the broker was away.");
    out += "qm7410_mqtt_dropped_readings_total " + std::to_string(s.mqttDropped) + "\n";
  }
  return out;
}

}  // namespace qm::service
