#include "service/options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "meter/codes.h"
#include "text/word_text.h"

namespace qm::service {

std::string Usage() {
  return "Usage: qm7410d --config FILE [--check]\n"
         "       qm7410d --port DEVICE [--address A[,B...]] [--baud B] [--parity N|O|E] [--interval S]\n"
         "               [--mqtt URL] [--listen [HOST:]PORT]\n"
         "Watches QM7410 meters and publishes their readings to MQTT and a Prometheus page.\n"
         "  --config FILE       buses, meters, broker and listener in a TOML file (see qm7410d(8))\n"
         "  --check             check the configuration and exit\n"
         "  --port DEVICE       one bus: a serial device, tcp://HOST:PORT or rtuovertcp://HOST:PORT\n"
         "  --address A[,B..]   its meters' slave addresses, 0..255 (default 1); named meter<A>\n"
         "  --baud B            1200, 2400, 4800, 9600 or 19200 (default 9600)\n"
         "  --parity N|O|E      (default N)\n"
         "  --interval S        seconds between readings of a meter (default 10)\n"
         "  --mqtt URL          mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://...\n"
         "  --listen [HOST:]PORT  serve the live page, /metrics and /healthz; HOST defaults to 127.0.0.1\n"
         "  --help, --version\n";
}

bool ParseOptions(const std::vector<std::string>& args, Options& options, Config& config,
                  std::string& error) {
  BusConfig bus;
  std::vector<long> addresses{1};
  double interval = 10;
  bool quickStart = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    auto take = [&]() {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "--check") {
      options.check = true;
    } else if (name == "--config") {
      if (!take()) return false;
      options.configFile = value;
    } else if (name == "--port") {
      if (!take()) return false;
      bus.device = value;
      if (!ParseEndpoint(value, bus.endpoint, error)) {
        error = "--port: " + error;
        return false;
      }
      quickStart = true;
    } else if (name == "--address") {
      if (!take()) return false;
      const std::optional<std::vector<long>> list =
          text::ReadIntegerList(value, 0, 255, ',', text::Radix::Decimal);
      if (!list) {
        error = "--address must be slave addresses 0..255, not '" + value + "'";
        return false;
      }
      addresses.clear();
      for (const long a : *list) {
        if (std::find(addresses.begin(), addresses.end(), a) != addresses.end()) {
          error = "--address names meter " + std::to_string(a) + " twice";
          return false;
        }
        addresses.push_back(a);
      }
      quickStart = true;
    } else if (name == "--baud") {
      if (!take()) return false;
      long b = 0;
      bool known = text::ReadInteger(value, 1, 1000000, b, text::Radix::Decimal);
      known = known &&
              std::find(meter::kBaudRates.begin(), meter::kBaudRates.end(), b) != meter::kBaudRates.end();
      if (!known) {
        error = "--baud must be 1200, 2400, 4800, 9600 or 19200, not '" + value + "'";
        return false;
      }
      bus.baud = static_cast<int32_t>(b);
      quickStart = true;
    } else if (name == "--parity") {
      if (!take()) return false;
      if (value != "N" && value != "O" && value != "E") {
        error = "--parity must be N, O or E, not '" + value + "'";
        return false;
      }
      bus.parity = *link::ParityOfLetter(value[0]);
      quickStart = true;
    } else if (name == "--interval") {
      if (!take()) return false;
      const char* begin = value.c_str();
      char* end = nullptr;
      interval = std::strtod(begin, &end);
      if (value.empty() || *end || !(interval >= 0.1 && interval <= 86400)) {
        error = "--interval must be seconds, 0.1..86400, not '" + value + "'";
        return false;
      }
      quickStart = true;
    } else if (name == "--mqtt") {
      if (!take()) return false;
      if (!ParseMqttUrl(value, config.mqtt, error)) {
        error = "--mqtt: " + error;
        return false;
      }
      config.mqtt.enabled = true;
    } else if (name == "--listen") {
      if (!take()) return false;
      std::string where;
      if (!ParseListen(value, where, error)) {
        error = "--listen: " + error;
        return false;
      }
      config.listen = where;
    } else {
      error = "unknown option '" + args[i] + "' (qm7410d --help lists them)";
      return false;
    }
  }
  if (options.help || options.version) return true;
  if (!options.configFile.empty()) {
    if (quickStart || config.mqtt.enabled || config.listen) {
      error = "--config takes everything from the file; --port, --address, --mqtt, ... go without it";
      return false;
    }
    return true;
  }
  if (bus.device.empty()) {
    error = "no meters to watch: give --config FILE or --port DEVICE (qm7410d --help)";
    return false;
  }
  for (long a : addresses) {
    MeterConfig m;
    m.address = static_cast<uint8_t>(a);
    m.name = "meter" + std::to_string(a);
    m.intervalS = interval;
    bus.meters.push_back(m);
  }
  config.buses = {bus};
  return true;
}

}  // namespace qm::service
