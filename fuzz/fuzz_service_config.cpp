// The service's config reader: any bytes as a TOML file. A file is either taken, and then every
// value is one the service can run with, or refused with one line per mistake naming the file and
// a line.
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "service/config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qm::service::Config config;
  std::vector<std::string> errors;
  const bool ok = qm::service::ParseConfig(text, "fuzz.toml", config, errors);
  FUZZ_CHECK(ok == errors.empty(), "ok %d with %zu errors", ok, errors.size());
  for (const std::string& e : errors) {
    FUZZ_CHECK(e.rfind("fuzz.toml:", 0) == 0, "%s", e.c_str());
    FUZZ_CHECK(e.find('\n') == std::string::npos, "%s", e.c_str());
    // "fuzz.toml:LINE: ...", the line a number from 1.
    const size_t colon = e.find(':', 10);
    FUZZ_CHECK(colon != std::string::npos && colon > 10 && e[10] >= '1' && e[10] <= '9', "%s", e.c_str());
  }
  if (!ok) return 0;
  FUZZ_CHECK(!config.buses.empty());
  std::set<std::string> names;
  for (const auto& bus : config.buses) {
    FUZZ_CHECK(!bus.device.empty());
    FUZZ_CHECK(bus.parity == qm::link::Parity::None || bus.parity == qm::link::Parity::Odd ||
               bus.parity == qm::link::Parity::Even);
    FUZZ_CHECK(bus.baud == 1200 || bus.baud == 2400 || bus.baud == 4800 || bus.baud == 9600 ||
               bus.baud == 19200);
    FUZZ_CHECK(!bus.meters.empty());
    std::set<int> addresses;
    for (const auto& m : bus.meters) {
      FUZZ_CHECK(qm::service::ValidMeterName(m.name), "%s", m.name.c_str());
      FUZZ_CHECK(names.insert(m.name).second, "%s twice", m.name.c_str());
      FUZZ_CHECK(addresses.insert(m.address).second, "address %d twice", m.address);
      FUZZ_CHECK(m.intervalS >= 0.1 && m.intervalS <= 86400, "%g", m.intervalS);
    }
  }
  FUZZ_CHECK(config.maxBackoffS >= 1);
  FUZZ_CHECK(!config.mqtt.enabled || !config.mqtt.host.empty());
  return 0;
}
