#include "service/config.h"

#include <toml++/toml.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "link/gateway.h"
#include "meter/codes.h"
#include "text/word_text.h"

namespace qm::service {
namespace {

bool ParsePort(const std::string& text, uint16_t& port) {
  const std::optional<long> value = text::ReadInteger(text, 1, 65535, text::Radix::Decimal);
  if (value) port = static_cast<uint16_t>(*value);
  return value.has_value();
}

// Whatever the file holds, a message stays one line: control characters are shown escaped.
std::string OneLine(const std::string& text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

const char* TypeName(toml::node_type type) {
  switch (type) {
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a floating-point number";
    case toml::node_type::boolean:
      return "a boolean";
    default:
      return "a date or time";
  }
}

// Reads one file's tables, each problem a line naming the file, the line and the key's path.
class Reader {
 public:
  Reader(std::string file, std::vector<std::string>& errors) : file_(std::move(file)), errors_(errors) {}

  void Fail(const toml::source_region& where, const std::string& key, const std::string& reason) {
    errors_.push_back(OneLine(file_ + ":" + std::to_string(where.begin.line) + ": " + key + ": " + reason));
  }

  // Every key of `table` must be one of `known`.
  void Keys(const toml::table& table, const std::string& path, std::initializer_list<const char*> known) {
    for (auto&& [key, node] : table) {
      const std::string name(key.str());
      bool found = false;
      for (const char* k : known) found = found || name == k;
      if (!found) Fail(key.source(), Join(path, name), "unknown key");
    }
  }

  static std::string Join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  template <typename T>
  const toml::value<T>* Typed(const toml::table& table, const std::string& path, const char* key,
                              const char* expected) {
    const toml::node* node = table.get(key);
    if (!node) return nullptr;
    if (const auto* v = node->as<T>()) return v;
    Fail(node->source(), Join(path, key),
         std::string("expected ") + expected + ", found " + TypeName(node->type()));
    return nullptr;
  }

  bool String(const toml::table& t, const std::string& path, const char* key, std::string& out) {
    const auto* v = Typed<std::string>(t, path, key, "a string");
    if (v) out = v->get();
    return v != nullptr;
  }

  bool Bool(const toml::table& t, const std::string& path, const char* key, bool& out) {
    const auto* v = Typed<bool>(t, path, key, "true or false");
    if (v) out = v->get();
    return v != nullptr;
  }

  // An integer within lo..hi.
  bool Integer(const toml::table& t, const std::string& path, const char* key, int64_t lo, int64_t hi,
               int64_t& out) {
    const auto* v = Typed<int64_t>(t, path, key, "an integer");
    if (!v) return false;
    if (v->get() < lo || v->get() > hi) {
      Fail(v->source(), Join(path, key),
           std::to_string(v->get()) + " is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
      return false;
    }
    out = v->get();
    return true;
  }

  // Seconds: an integer or a floating-point number within lo..hi.
  bool Seconds(const toml::table& t, const std::string& path, const char* key, double lo, double hi,
               double& out) {
    const toml::node* node = t.get(key);
    if (!node) return false;
    double value = 0;
    if (const auto* i = node->as_integer()) {
      value = static_cast<double>(i->get());
    } else if (const auto* f = node->as_floating_point()) {
      value = f->get();
    } else {
      Fail(node->source(), Join(path, key),
           std::string("expected a number of seconds, found ") + TypeName(node->type()));
      return false;
    }
    if (!(value >= lo && value <= hi)) {
      std::ostringstream s;
      s << value << " s is out of range " << lo << ".." << hi << " s";
      Fail(node->source(), Join(path, key), s.str());
      return false;
    }
    out = value;
    return true;
  }

  // The tables of an array of tables ([[bus]]); anything else in it is reported.
  std::vector<const toml::table*> Tables(const toml::table& t, const std::string& path, const char* key) {
    std::vector<const toml::table*> out;
    const toml::node* node = t.get(key);
    if (!node) return out;
    const toml::array* array = node->as_array();
    if (!array) {
      Fail(node->source(), Join(path, key),
           std::string("expected an array of tables ([[") + Join(path, key) + "]]), found " +
               TypeName(node->type()));
      return out;
    }
    for (const toml::node& item : *array) {
      if (const auto* table = item.as_table())
        out.push_back(table);
      else
        Fail(item.source(), Join(path, key), std::string("expected a table, found ") + TypeName(item.type()));
    }
    return out;
  }

  const std::string& File() const { return file_; }

 private:
  std::string file_;
  std::vector<std::string>& errors_;
};

void ReadService(Reader& r, const toml::table& t, Config& out) {
  const std::string path = "service";
  r.Keys(t, path, {"listen", "pause_ms", "timeout_ms", "retries", "max_backoff", "basic_auth"});
  std::string listen;
  if (r.String(t, path, "listen", listen)) {
    std::string where, error;
    if (ParseListen(listen, where, error))
      out.listen = where;
    else
      r.Fail(t.get("listen")->source(), "service.listen", error);
  }
  std::string auth;
  if (r.String(t, path, "basic_auth", auth)) {
    // The message never repeats the value: it holds a password.
    const size_t colon = auth.find(':');
    bool control = false;
    for (unsigned char c : auth) control = control || c < 0x20 || c == 0x7f;
    if (colon == std::string::npos || colon == 0 || colon + 1 == auth.size())
      r.Fail(t.get("basic_auth")->source(), "service.basic_auth", "expected USER:PASSWORD, both not empty");
    else if (control)
      r.Fail(t.get("basic_auth")->source(), "service.basic_auth", "control characters are not allowed");
    else
      out.basicAuth = auth;
  }
  int64_t n = 0;
  if (r.Integer(t, path, "pause_ms", 0, 10000, n)) out.pauseMs = static_cast<uint32_t>(n);
  if (r.Integer(t, path, "timeout_ms", 10, 60000, n)) out.timeoutMs = static_cast<uint32_t>(n);
  if (r.Integer(t, path, "retries", 0, 10, n)) out.retries = static_cast<int>(n);
  r.Seconds(t, path, "max_backoff", 1, 86400, out.maxBackoffS);
}

void ReadMqtt(Reader& r, const toml::table& t, MqttConfig& m) {
  const std::string path = "mqtt";
  r.Keys(t, path,
         {"url", "username", "password", "password_file", "ca_file", "cert_file", "key_file", "tls_insecure",
          "client_id", "topic_prefix", "discovery_prefix", "discovery", "queue"});
  std::string url;
  if (r.String(t, path, "url", url)) {
    std::string error;
    if (ParseMqttUrl(url, m, error))
      m.enabled = true;
    else
      r.Fail(t.get("url")->source(), "mqtt.url", error);
  } else if (!t.get("url")) {
    r.Fail(t.source(), "mqtt.url", "missing: the broker, e.g. url = \"mqtt://127.0.0.1:1883\"");
  }
  r.String(t, path, "username", m.username);
  r.String(t, path, "password", m.password);
  r.String(t, path, "password_file", m.passwordFile);
  r.String(t, path, "ca_file", m.caFile);
  r.String(t, path, "cert_file", m.certFile);
  r.String(t, path, "key_file", m.keyFile);
  r.Bool(t, path, "tls_insecure", m.tlsInsecure);
  if (r.String(t, path, "client_id", m.clientId) && (m.clientId.empty() || m.clientId.size() > 23))
    r.Fail(t.get("client_id")->source(), "mqtt.client_id", "must be 1 to 23 characters");
  for (const char* key : {"topic_prefix", "discovery_prefix"}) {
    std::string prefix;
    if (!r.String(t, path, key, prefix)) continue;
    const bool bad = prefix.empty() || prefix.find_first_of("#+") != std::string::npos ||
                     prefix.front() == '/' || prefix.back() == '/';
    if (bad)
      r.Fail(t.get(key)->source(), Reader::Join(path, key), "not a topic prefix: \"" + prefix + "\"");
    else
      (std::string(key) == "topic_prefix" ? m.topicPrefix : m.discoveryPrefix) = prefix;
  }
  r.Bool(t, path, "discovery", m.discovery);
  int64_t n = 0;
  if (r.Integer(t, path, "queue", 0, 1000000, n)) m.queueReadings = static_cast<size_t>(n);
}

void ReadBus(Reader& r, const toml::table& t, const std::string& path, BusConfig& bus,
             std::map<std::string, int>& names) {
  r.Keys(t, path, {"device", "baud", "parity", "interval", "meter"});
  if (r.String(t, path, "device", bus.device)) {
    std::string error;
    if (!ParseEndpoint(bus.device, bus.endpoint, error))
      r.Fail(t.get("device")->source(), path + ".device", error);
  } else if (!t.get("device")) {
    r.Fail(t.source(), path + ".device", "missing: the serial device or gateway of this bus");
  }
  int64_t n = 0;
  if (const auto* v = r.Typed<int64_t>(t, path, "baud", "an integer")) {
    bool known = false;
    for (int32_t rate : meter::kBaudRates) known = known || rate == v->get();
    if (known)
      bus.baud = static_cast<int32_t>(v->get());
    else
      r.Fail(v->source(), path + ".baud", std::to_string(v->get()) + " is not a rate the meter runs at");
  }
  std::string parity;
  if (r.String(t, path, "parity", parity)) {
    if (parity == "N" || parity == "O" || parity == "E")
      bus.parity = *link::ParityOfLetter(parity[0]);
    else
      r.Fail(t.get("parity")->source(), path + ".parity", "\"" + parity + "\" is not N, O or E");
  }
  double busInterval = 10;
  r.Seconds(t, path, "interval", 0.1, 86400, busInterval);
  std::set<int64_t> addresses;
  const auto meters = r.Tables(t, path, "meter");
  if (meters.empty() && !t.get("meter"))
    r.Fail(t.source(), path + ".meter", "missing: a bus needs at least one [[bus.meter]]");
  for (size_t i = 0; i < meters.size(); ++i) {
    const toml::table& mt = *meters[i];
    const std::string mpath = path + ".meter[" + std::to_string(i) + "]";
    r.Keys(mt, mpath, {"address", "name", "interval"});
    MeterConfig m;
    m.line = static_cast<int>(mt.source().begin.line);
    m.intervalS = busInterval;
    if (r.Integer(mt, mpath, "address", 0, 255, n)) {
      m.address = static_cast<uint8_t>(n);
      if (!addresses.insert(n).second)
        r.Fail(mt.get("address")->source(), mpath + ".address",
               "address " + std::to_string(n) + " is already used on this bus");
    } else if (!mt.get("address")) {
      r.Fail(mt.source(), mpath + ".address", "missing: the meter's slave address");
    }
    if (r.String(mt, mpath, "name", m.name)) {
      const toml::source_region where = mt.get("name")->source();
      if (!ValidMeterName(m.name)) {
        r.Fail(where, mpath + ".name",
               "\"" + m.name + "\" is not a name of 1 to 64 letters, digits, '_' or '-'");
      } else if (const auto seen = names.find(m.name); seen != names.end()) {
        r.Fail(where, mpath + ".name",
               "\"" + m.name + "\" is already the name of the meter at line " + std::to_string(seen->second));
      } else {
        names[m.name] = static_cast<int>(where.begin.line);
      }
    } else if (!mt.get("name")) {
      r.Fail(mt.source(), mpath + ".name", "missing: the meter's name in topics and metrics");
    }
    r.Seconds(mt, mpath, "interval", 0.1, 86400, m.intervalS);
    bus.meters.push_back(m);
  }
}

}  // namespace

bool ValidMeterName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'))
      return false;
  return true;
}

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, std::string& error) {
  size_t colon = std::string::npos;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "\"" + text + "\" is not [IPV6]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
      error = "\"" + text + "\" is not HOST:PORT";
      return false;
    }
    host = text.substr(0, colon);
  }
  if (!ParsePort(text.substr(colon + 1), port)) {
    error = "\"" + text.substr(colon + 1) + "\" is not a port number 1..65535";
    return false;
  }
  if (host.empty() || host.find_first_of(" /") != std::string::npos) {
    error = "\"" + text + "\" is not HOST:PORT";
    return false;
  }
  return true;
}

bool ParseListen(const std::string& text, std::string& out, std::string& error) {
  const bool portOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  out = portOnly ? "127.0.0.1:" + text : text;
  std::string host;
  uint16_t port = 0;
  return ParseHostPort(out, host, port, error);
}

bool ParseEndpoint(const std::string& text, Endpoint& out, std::string& error) {
  // The same rule the transport opens gateways by.
  link::GatewayAddress gateway;
  if (link::ParseGatewayAddress(text, gateway, error)) {
    out = {};
    out.kind =
        gateway.kind == link::GatewayKind::ModbusTcp ? Endpoint::Kind::ModbusTcp : Endpoint::Kind::RtuOverTcp;
    out.host = gateway.host;
    out.port = gateway.port;
    return true;
  }
  if (text.rfind("tcp://", 0) == 0 || text.rfind("rtuovertcp://", 0) == 0) return false;
  if (text.find("://") != std::string::npos) {
    error = "\"" + text + "\" is neither a device path nor tcp://HOST:PORT or rtuovertcp://HOST:PORT";
    return false;
  }
  if (text.empty() || text.front() != '/') {
    error = "\"" + text + "\" is not an absolute device path";
    return false;
  }
  out = {};
  out.path = text;
  return true;
}

bool ParseMqttUrl(const std::string& text, MqttConfig& mqtt, std::string& error) {
  std::string rest;
  if (text.rfind("mqtt://", 0) == 0) {
    mqtt.tls = false;
    rest = text.substr(7);
  } else if (text.rfind("mqtts://", 0) == 0) {
    mqtt.tls = true;
    rest = text.substr(8);
  } else {
    error = "not an mqtt:// or mqtts:// URL";
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (const size_t at = rest.rfind('@'); at != std::string::npos) {
    const std::string user = rest.substr(0, at);
    const size_t colon = user.find(':');
    mqtt.username = user.substr(0, colon);
    if (colon != std::string::npos) mqtt.password = user.substr(colon + 1);
    rest = rest.substr(at + 1);
  }
  const bool hasPort = !rest.empty() && (rest.back() != ']') && rest.find(':') != std::string::npos &&
                       (rest.front() != '[' || rest.find("]:") != std::string::npos);
  if (!hasPort) {
    mqtt.host = rest.size() > 2 && rest.front() == '[' ? rest.substr(1, rest.size() - 2) : rest;
    mqtt.port = mqtt.tls ? 8883 : 1883;
    if (mqtt.host.empty()) {
      error = "the URL names no broker host";
      return false;
    }
    return true;
  }
  std::string hostPortError;
  if (!ParseHostPort(rest, mqtt.host, mqtt.port, hostPortError)) {
    error = hostPortError;
    return false;
  }
  return true;
}

bool ParseConfig(const std::string& text, const std::string& file, Config& out,
                 std::vector<std::string>& errors) {
  const size_t before = errors.size();
  toml::table root;
  try {
    root = toml::parse(text, file);
  } catch (const toml::parse_error& e) {
    errors.push_back(
        OneLine(file + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description())));
    return false;
  }
  Reader r(file, errors);
  r.Keys(root, "", {"service", "mqtt", "bus"});
  if (const toml::node* node = root.get("service")) {
    if (const auto* t = node->as_table())
      ReadService(r, *t, out);
    else
      r.Fail(node->source(), "service", std::string("expected a table, found ") + TypeName(node->type()));
  }
  if (const toml::node* node = root.get("mqtt")) {
    if (const auto* t = node->as_table())
      ReadMqtt(r, *t, out.mqtt);
    else
      r.Fail(node->source(), "mqtt", std::string("expected a table, found ") + TypeName(node->type()));
  }
  std::map<std::string, int> names;
  const auto buses = r.Tables(root, "", "bus");
  for (size_t i = 0; i < buses.size(); ++i) {
    BusConfig bus;
    ReadBus(r, *buses[i], "bus[" + std::to_string(i) + "]", bus, names);
    out.buses.push_back(std::move(bus));
  }
  if (buses.empty() && !root.get("bus")) errors.push_back(file + ":1: bus: missing: no [[bus]] to watch");
  return errors.size() == before;
}

bool ReadPasswordFile(MqttConfig& mqtt, std::string& error) {
  if (mqtt.passwordFile.empty()) return true;
  std::ifstream in(mqtt.passwordFile, std::ios::binary);
  if (!in) {
    error = mqtt.passwordFile + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  std::getline(in, mqtt.password);
  if (!mqtt.password.empty() && mqtt.password.back() == '\r') mqtt.password.pop_back();
  return true;
}

bool LoadConfig(const std::string& file, Config& out, std::vector<std::string>& errors) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    errors.push_back(file + ": cannot be read: " + std::strerror(errno));
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.good() && !in.eof()) {
    errors.push_back(file + ": cannot be read");
    return false;
  }
  return ParseConfig(text.str(), file, out, errors);
}

}  // namespace qm::service
