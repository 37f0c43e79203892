#include "cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "cli/reading.h"
#include "link/link_settings.h"
#include "link/mscomm.h"
#include "meter/codes.h"
#include "text/word_text.h"

namespace qm::cli {
namespace {

struct OptionDef {
  const char* name;
  char shortName;  // 0: long form only
  bool takesValue;
};

constexpr OptionDef kOptions[] = {
    {"help", 'h', false},   {"version", 'V', false}, {"verbose", 'v', false}, {"port", 'p', true},
    {"baud", 'b', true},    {"parity", 'P', true},   {"address", 'a', true},  {"timeout", 't', true},
    {"retries", 'r', true}, {"format", 'f', true},   {"interval", 'i', true}, {"count", 'n', true},
    {"output", 'o', true},  {"from", 0, true},       {"to", 0, true},         {"echo", 0, false},
    {"trace", 0, false},    {"quick", 0, false},     {"all", 0, false},
};

struct CommandSpec {
  const char* name;
  Command command;
};

constexpr CommandSpec kCommands[] = {
    {"read", Command::Read}, {"log", Command::Log},       {"identify", Command::Identify},
    {"scan", Command::Scan}, {"set", Command::Set},       {"energy-reset", Command::EnergyReset},
    {"raw", Command::Raw},   {"doctor", Command::Doctor},
};

bool ParseSeconds(const std::string& text, double& value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || end == text.c_str() || !std::isfinite(v) || v > 86400.0 * 365)
    return false;
  value = v;
  return true;
}

class Parser {
 public:
  explicit Parser(ParseResult& result) : r_(result), o_(result.options) {}

  // False once an error has been recorded.
  bool Apply(const OptionDef& def, const std::string& value) {
    const std::string name = def.name;
    long n = 0;
    if (name == "help") {
      o_.help = true;
    } else if (name == "version") {
      o_.version = true;
    } else if (name == "verbose") {
      o_.verbose = true;
    } else if (name == "echo") {
      o_.echo = true;
    } else if (name == "trace") {
      o_.trace = true;
    } else if (name == "quick") {
      o_.quick = true;
    } else if (name == "all") {
      o_.all = true;
    } else if (name == "port") {
      if (value.empty()) return Fail("--port wants a port number, a device path or a gateway's address");
      if (value.find_first_not_of('0') == std::string::npos) return Fail("port numbers start at 1");
      o_.port = value;
    } else if (name == "baud") {
      if (!text::ReadInteger(value, 1, 10000000, n) || meter::BaudCode(static_cast<int32_t>(n)) < 0)
        return Fail("--baud must be " + BaudRateList() + ", not '" + value + "'");
      o_.baud = static_cast<int32_t>(n);
      o_.baudGiven = true;
    } else if (name == "parity") {
      const std::string p = text::Lower(value);
      if (p == "n" || p == "none")
        o_.parity = link::Parity::None;
      else if (p == "o" || p == "odd")
        o_.parity = link::Parity::Odd;
      else if (p == "e" || p == "even")
        o_.parity = link::Parity::Even;
      else
        return Fail("--parity must be N, O or E, not '" + value + "'");
      o_.parityGiven = true;
    } else if (name == "address") {
      if (!ParseAddresses(value)) return false;
    } else if (name == "timeout") {
      if (!text::ReadInteger(value, 1, 60000, n))
        return Fail("--timeout must be 1..60000 ms, not '" + value + "'");
      o_.timeoutMs = static_cast<uint32_t>(n);
    } else if (name == "retries") {
      if (!text::ReadInteger(value, 0, 100, n)) return Fail("--retries must be 0..100, not '" + value + "'");
      o_.retries = static_cast<int>(n);
    } else if (name == "format") {
      const std::string f = text::Lower(value);
      if (f == "table")
        o_.format = Format::Table;
      else if (f == "json")
        o_.format = Format::Json;
      else if (f == "csv")
        o_.format = Format::Csv;
      else if (f == "jsonl")
        o_.format = Format::Jsonl;
      else
        return Fail("--format must be table, json, csv or jsonl, not '" + value + "'");
    } else if (name == "interval") {
      double s = 0;
      if (!ParseSeconds(value, s)) return Fail("--interval must be a number of seconds, not '" + value + "'");
      o_.intervalS = s;
    } else if (name == "count") {
      if (!text::ReadInteger(value, 1, 1000000000, n))
        return Fail("--count must be a whole number from 1, not '" + value + "'");
      o_.count = n;
    } else if (name == "output") {
      if (value.empty()) return Fail("--output wants a file name");
      o_.output = value;
    } else if (name == "from" || name == "to") {
      if (!text::ReadInteger(value, 0, 255, n))
        return Fail("--" + name + " must be a slave address 0..255, not '" + value + "'");
      (name == "from" ? o_.scanFrom : o_.scanTo) = static_cast<int>(n);
    }
    seen_.push_back(name);
    return true;
  }

  bool Word(const std::string& word) {
    if (o_.command == Command::None) {
      for (const CommandSpec& c : kCommands)
        if (word == c.name) {
          o_.command = c.command;
          return true;
        }
      return Fail("unknown command '" + word + "'");
    }
    o_.arguments.push_back(word);
    return true;
  }

  bool Fail(const std::string& error) {
    if (r_.error.empty()) r_.error = error;
    return false;
  }

  bool Seen(const char* name) const { return std::find(seen_.begin(), seen_.end(), name) != seen_.end(); }

  // Options and arguments that belong to other commands, and what a command cannot do without.
  bool Check() {
    if (o_.help || o_.version) return true;
    const Command c = o_.command;
    if (c == Command::None) return Fail("no command given");
    const std::string cmd = CommandName(c);
    const auto only = [&](const char* option, bool allowed) {
      return allowed || !Seen(option) || Fail("--" + std::string(option) + " does not go with " + cmd);
    };
    if (!only("interval", c == Command::Log) || !only("count", c == Command::Log) ||
        !only("output", c == Command::Log) || !only("from", c == Command::Scan) ||
        !only("to", c == Command::Scan) || !only("address", c != Command::Scan) ||
        !only("format", c != Command::Set && c != Command::EnergyReset && c != Command::Doctor) ||
        !only("quick", c == Command::Doctor) || !only("all", c == Command::Doctor))
      return false;
    if (c == Command::Doctor && o_.addresses.size() > 1)
      return Fail("doctor looks for one --address at most");

    if (c == Command::Log) {
      if (!o_.intervalS) return Fail("log needs --interval SECONDS");
      if (o_.format == Format::Default) o_.format = Format::Csv;
      if (o_.format != Format::Csv && o_.format != Format::Jsonl) return Fail("log writes csv or jsonl");
    } else if (o_.format == Format::Jsonl) {
      return Fail(cmd + " writes table, json or csv");
    } else if (o_.format == Format::Default) {
      o_.format = Format::Table;
    }
    if (c == Command::Scan) {
      if (!o_.scanFrom) o_.scanFrom = 0;
      if (!o_.scanTo) o_.scanTo = 254;
      if (*o_.scanFrom > *o_.scanTo) return Fail("--from must not be above --to");
    }
    if (c == Command::Set && o_.arguments.empty()) return Fail("set needs NAME=VALUE, for example pt=100");
    if (c == Command::Raw) {
      if (o_.arguments.size() != 2) return Fail("raw needs START and COUNT");
      long start = 0, count = 0;
      if (!text::ReadInteger(o_.arguments[0], 0, 0xFFFF, start) ||
          !text::ReadInteger(o_.arguments[1], 1, 125, count))
        return Fail("raw needs START 0..65535 and COUNT 1..125");
      o_.rawStart = static_cast<uint16_t>(start);
      o_.rawCount = static_cast<uint16_t>(count);
    }
    if (c != Command::Set && c != Command::Raw && !o_.arguments.empty())
      return Fail(cmd + " takes no argument '" + o_.arguments.front() + "'");
    return true;
  }

 private:
  bool ParseAddresses(const std::string& value) {
    const std::optional<std::vector<long>> list = text::ReadIntegerList(value, 0, 255);
    if (!list) return Fail("--address must be slave addresses 0..255, not '" + value + "'");
    o_.addresses.clear();
    for (const long n : *list) {
      if (std::find(o_.addresses.begin(), o_.addresses.end(), n) != o_.addresses.end())
        return Fail("--address names meter " + std::to_string(n) + " twice");
      o_.addresses.push_back(static_cast<uint8_t>(n));
    }
    o_.addressGiven = true;
    return true;
  }

  ParseResult& r_;
  Options& o_;
  std::vector<std::string> seen_;
};

const OptionDef* FindLong(const std::string& name, std::string& error) {
  const OptionDef* match = nullptr;
  int matches = 0;
  for (const OptionDef& o : kOptions) {
    if (name == o.name) return &o;
    if (std::string(o.name).rfind(name, 0) == 0) {
      match = &o;
      ++matches;
    }
  }
  if (matches == 1) return match;
  error = matches ? "option --" + name + " is ambiguous" : "unknown option --" + name;
  return nullptr;
}

const OptionDef* FindShort(char c) {
  for (const OptionDef& o : kOptions)
    if (o.shortName == c) return &o;
  return nullptr;
}

}  // namespace

ParseResult ParseArguments(const std::vector<std::string>& args) {
  ParseResult result;
  Parser parser(result);
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (!parser.Word(arg)) return result;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg[1] == '-') {
      const size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      std::string error;
      const OptionDef* def = FindLong(name, error);
      if (!def) {
        parser.Fail(error);
        return result;
      }
      std::string value;
      if (def->takesValue) {
        if (eq != std::string::npos) {
          value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          parser.Fail("option --" + std::string(def->name) + " wants a value");
          return result;
        }
      } else if (eq != std::string::npos) {
        parser.Fail("option --" + std::string(def->name) + " takes no value");
        return result;
      }
      if (!parser.Apply(*def, value)) return result;
      continue;
    }
    // A cluster of short options; one that takes a value takes the rest of the word or the next.
    for (size_t k = 1; k < arg.size(); ++k) {
      const OptionDef* def = FindShort(arg[k]);
      if (!def) {
        parser.Fail(std::string("unknown option -") + arg[k]);
        return result;
      }
      std::string value;
      if (def->takesValue) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < args.size()) {
          value = args[++i];
        } else {
          parser.Fail(std::string("option -") + arg[k] + " wants a value");
          return result;
        }
        k = arg.size();
      }
      if (!parser.Apply(*def, value)) return result;
    }
  }
  parser.Check();
  return result;
}

std::string DevicePath(const std::string& port) {
  const std::optional<long> number =
      port.size() <= 5 ? text::ReadInteger(port, 0, 99999, text::Radix::Decimal) : std::nullopt;
  return number ? link::DevicePathForPort(static_cast<int32_t>(*number)) : port;
}

const char* CommandName(Command command) {
  for (const CommandSpec& c : kCommands)
    if (c.command == command) return c.name;
  return "";
}

}  // namespace qm::cli
