#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/parity.h"

namespace qm::service {

// How a bus reaches its meters: a serial device path, or a gateway by host and port.
struct Endpoint {
  enum class Kind { Serial, ModbusTcp, RtuOverTcp };
  Kind kind = Kind::Serial;
  std::string path;  // the serial device
  std::string host;
  uint16_t port = 0;
};

// "tcp://HOST:PORT", "rtuovertcp://HOST:PORT" or a device path; false with the reason otherwise.
bool ParseEndpoint(const std::string& text, Endpoint& out, std::string& error);

struct MeterConfig {
  uint8_t address = 1;
  std::string name;
  double intervalS = 10;
  int line = 0;  // where the meter's table starts in the config file, for later messages
};

struct BusConfig {
  std::string device;  // as written: the name in every message about the bus
  Endpoint endpoint;
  int32_t baud = 9600;
  link::Parity parity = link::Parity::None;
  std::vector<MeterConfig> meters;
};

struct MqttConfig {
  bool enabled = false;
  std::string host = "127.0.0.1";
  uint16_t port = 1883;
  bool tls = false;
  std::string username;
  std::string password;      // never printed
  std::string passwordFile;  // read at start instead: a systemd credential, a file only root reads
  std::string caFile, certFile, keyFile;
  bool tlsInsecure = false;  // accept a certificate for another host name
  std::string clientId = "qm7410d";
  std::string topicPrefix = "qm7410";
  std::string discoveryPrefix = "homeassistant";
  bool discovery = true;
  size_t queueReadings = 1000;  // readings kept while the broker is away; beyond, the oldest go
};

struct Config {
  std::vector<BusConfig> buses;
  MqttConfig mqtt;
  std::optional<std::string> listen;  // HOST:PORT of the metrics page; none: no listener
  std::string basicAuth;              // "USER:PASSWORD" the listener asks for but at /healthz; never printed
  uint32_t pauseMs = 20;              // between two requests on one bus
  std::optional<uint32_t> timeoutMs;  // per request; by default the reply wait at the bus's rate
  int retries = 1;                    // for a meter that answered last time; none while it backs off
  double maxBackoffS = 60;
};

// "mqtt://[USER[:PASSWORD]@]HOST[:PORT]" or "mqtts://..." into `mqtt`.
bool ParseMqttUrl(const std::string& text, MqttConfig& mqtt, std::string& error);

// "HOST:PORT" with a numeric port; "[::1]:PORT" for IPv6.
bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, std::string& error);

// Where the metrics page listens: "HOST:PORT", or a port alone for loopback ("9741" is
// "127.0.0.1:9741"); `out` is the HOST:PORT form.
bool ParseListen(const std::string& text, std::string& out, std::string& error);

// Reads a TOML config. Each problem is one line in `errors`: "FILE:LINE: KEY: reason".
bool ParseConfig(const std::string& text, const std::string& file, Config& out,
                 std::vector<std::string>& errors);
bool LoadConfig(const std::string& file, Config& out, std::vector<std::string>& errors);

// Takes the broker's password from mqtt.passwordFile, when one is named (its first line).
bool ReadPasswordFile(MqttConfig& mqtt, std::string& error);

// A meter name as topics and labels carry it: letters, digits, '_' and '-'.
bool ValidMeterName(const std::string& name);

}  // namespace qm::service
