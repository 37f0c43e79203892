#include "sim/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "sim/sim_commands.h"
#include "text/word_text.h"

namespace qm::sim {

const char* const kUsage =
    "Usage: qm7410-sim [--link PATH | --device PATH] [--listen-rtu HOST:PORT] [--listen-tcp HOST:PORT]\n"
    "                  [options]\n"
    "A simulated QM7410 power meter answering Modbus RTU reads (0x03) and writes (0x06), on a serial\n"
    "line, over TCP, or both; give at least one of the four.\n"
    "\n"
    "  --link PATH         create a pseudo-terminal and make PATH a symbolic link to it;\n"
    "                      open PATH in the monitor like a serial port\n"
    "  --device PATH       serve a real serial port instead\n"
    "  --listen-rtu HOST:PORT  serve RTU frames over TCP, as a transparent serial-to-Ethernet\n"
    "                      gateway passes them; HOST defaults to 127.0.0.1 (\":PORT\" or \"PORT\"),\n"
    "                      PORT 0 picks a free port\n"
    "  --listen-tcp HOST:PORT  serve Modbus TCP, as a Modbus gateway does; a unit id no meter has\n"
    "                      is answered with exception 0x0B (gateway target failed to respond)\n"
    "  --address N[,M...]  slave address, 0..255 (default 1); several addresses put that many\n"
    "                      meters on the one line\n"
    "  --baud B            1200, 2400, 4800, 9600 or 19200 (default 9600)\n"
    "  --parity N|O|E      (default N)\n"
    "  --pt N, --ct N      transformer ratios, 1..65535 (default 1)\n"
    "  --seed N            seed of the simulated load (default 1)\n"
    "  --fault KIND[:N]    commit a fault on the next N replies (repeatable); KIND is silence, late,\n"
    "                      noise, badcrc, wrongaddress, exception, truncated, flood, gatewaypath\n"
    "                      (exception 0x0A), gatewaytarget (0x0B), close (half the reply, then the\n"
    "                      connection closes), stall (half the reply, then nothing) or wrongtid\n"
    "                      (Modbus TCP: the reply carries another transaction id)\n"
    "  --turnaround MS     pause between a request and its reply, 0..1000 (default 5)\n"
    "  --pace              on a pseudo-terminal, send each reply byte at the line's real byte rate\n"
    "                      (start, data, parity and stop bits at the set baud) instead of all at once;\n"
    "                      over TCP, replies take the time of the line behind the gateway\n"
    "  --echo              the line echoes every byte the PC sends, before the reply (a 2-wire\n"
    "                      RS-485 adapter without echo suppression)\n"
    "  --junk-at-open N    N junk bytes arrive 20 ms after a program opens the pseudo-terminal\n"
    "  --other-master MS   every MS ms (while a program has the pseudo-terminal open) another master\n"
    "                      reads the first meter's identification, and the meter answers it\n"
    "  --min-gap MS        a meter ignores a request that arrives less than MS ms after the end of\n"
    "                      its previous reply\n"
    "  --log               every frame in and out, with a timestamp, on stderr\n"
    "  --help              this text\n"
    "\n"
    "Prints \"ready PATH\" on stdout once it listens, then \"ready rtu HOST:PORT\" and\n"
    "\"ready tcp HOST:PORT\" for the listeners. Reads commands from stdin, one per line, and\n"
    "answers each with a line starting with \"ok\" or \"error:\": fault KIND[:N], clear, freeze,\n"
    "unfreeze, set ADDR VALUE (word at memory address ADDR; freeze first for measurement words),\n"
    "measure N VALUE, get ADDR, energy, quit; and for the line: echo on|off, junk-at-open N,\n"
    "other-master MS, min-gap MS (0 turns the last three off). A command goes to every meter, or, after\n"
    "\"@A \", to the meter at slave address A only; the answer is that of the first meter it went to.\n"
    "The meters are the same on the line and over TCP. SIGINT and SIGTERM end it and remove the link.\n";

namespace {

// Options that take a value; anything else starting with a dash is unknown.
constexpr const char* kValued[] = {"--link",         "--device",       "--address",    "--baud",
                                   "--parity",       "--pt",           "--ct",         "--seed",
                                   "--fault",        "--turnaround",   "--listen-rtu", "--listen-tcp",
                                   "--junk-at-open", "--other-master", "--min-gap"};

bool Valued(const std::string& arg) {
  return std::any_of(std::begin(kValued), std::end(kValued), [&arg](const char* v) { return arg == v; });
}

// One option with its value; false with `error` when the value is wrong.
bool ParseValue(const std::string& arg, const std::string& value, Options& o, std::string& error) {
  long n = 0;
  if (arg == "--link") {
    o.link = value;
  } else if (arg == "--device") {
    o.device = value;
  } else if (arg == "--address") {
    const std::optional<std::vector<long>> list = text::ReadIntegerList(value, 0, 255);
    if (!list) {
      error = "address must be 0..255: " + value;
      return false;
    }
    o.addresses.clear();
    for (const long a : *list) {
      if (std::find(o.addresses.begin(), o.addresses.end(), a) != o.addresses.end()) {
        error = "address given twice: " + value;
        return false;
      }
      o.addresses.push_back(static_cast<uint8_t>(a));
    }
    o.meter.address = o.addresses.front();
  } else if (arg == "--turnaround") {
    if (!text::ReadInteger(value, 0, 1000, n)) {
      error = "turnaround must be 0..1000 ms: " + value;
      return false;
    }
    o.meter.turnaroundMs = static_cast<uint32_t>(n);
  } else if (arg == "--baud") {
    if (!text::ReadInteger(value, 1, 1000000, n) || MeterBaudCode(static_cast<int32_t>(n)) < 0) {
      error = "baud rate must be 1200, 2400, 4800, 9600 or 19200: " + value;
      return false;
    }
    o.meter.baud = static_cast<int32_t>(n);
  } else if (arg == "--parity") {
    const std::optional<link::Parity> p = value.size() == 1 ? link::ParityOfLetter(value[0]) : std::nullopt;
    if (!p) {
      error = "parity must be N, O or E: " + value;
      return false;
    }
    o.meter.parity = *p;
  } else if (arg == "--pt" || arg == "--ct") {
    if (!text::ReadInteger(value, 1, 65535, n)) {
      error = arg + " must be 1..65535: " + value;
      return false;
    }
    (arg == "--pt" ? o.meter.pt : o.meter.ct) = static_cast<uint16_t>(n);
  } else if (arg == "--seed") {
    char* end = nullptr;
    errno = 0;
    const unsigned long long seed = std::strtoull(value.c_str(), &end, 0);
    if (errno != 0 || value.empty() || *end != '\0') {
      error = "seed must be a number: " + value;
      return false;
    }
    o.meter.seed = seed;
  } else if (arg == "--listen-rtu" || arg == "--listen-tcp") {
    if (!ParseEndpoint(value, arg == "--listen-rtu" ? o.listenRtu : o.listenTcp)) {
      error = arg + " wants HOST:PORT, :PORT or PORT (port 0..65535): " + value;
      return false;
    }
  } else if (arg == "--junk-at-open") {
    if (!text::ReadInteger(value, 0, 4096, n)) {
      error = "junk at open must be 0..4096 bytes: " + value;
      return false;
    }
    o.line.junkAtOpen = static_cast<uint32_t>(n);
  } else if (arg == "--other-master" || arg == "--min-gap") {
    if (!text::ReadInteger(value, 0, 600000, n)) {
      error = arg + " must be 0..600000 ms: " + value;
      return false;
    }
    (arg == "--min-gap" ? o.line.minGapMs : o.line.otherMasterMs) = static_cast<uint32_t>(n);
  } else if (arg == "--fault") {
    Fault fault = Fault::None;
    int count = 1;
    if (!ParseFault(value, fault, count)) {
      error = "unknown fault: " + value;
      return false;
    }
    o.faults.emplace_back(fault, count);
  }
  return true;
}

}  // namespace

bool ParseEndpoint(const std::string& text, Endpoint& endpoint) {
  std::string host;
  std::string port = text;
  if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  }
  // Decimal only: a leading zero is not octal here.
  if (port.empty() || port.size() > 5) return false;
  long n = 0;
  for (const char c : port) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > 65535) return false;
  endpoint.host = host.empty() ? "127.0.0.1" : host;
  endpoint.port = std::to_string(n);
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, bool& help, std::string& error) {
  help = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
      return true;
    }
    if (arg == "--log") {
      o.log = true;
      continue;
    }
    if (arg == "--pace") {
      o.pace = true;
      continue;
    }
    if (arg == "--echo") {
      o.line.echo = true;
      continue;
    }
    if (!Valued(arg)) {
      error = "unknown option " + arg;
      return false;
    }
    if (i + 1 >= args.size()) {
      error = "missing value after " + arg;
      return false;
    }
    if (!ParseValue(arg, args[++i], o, error)) return false;
  }
  if (!o.link.empty() && !o.device.empty()) {
    error = "give only one of --link PATH and --device PATH";
    return false;
  }
  if (o.link.empty() && o.device.empty() && o.listenRtu.empty() && o.listenTcp.empty()) {
    error = "give --link PATH, --device PATH, --listen-rtu HOST:PORT or --listen-tcp HOST:PORT";
    return false;
  }
  return true;
}

}  // namespace qm::sim
