#pragma once
// The qm7410-sim command line.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_meter.h"

namespace qm::sim {

// Where a listener binds: "HOST:PORT", ":PORT" or "PORT" (then loopback), "[IPV6]:PORT".
struct Endpoint {
  std::string host;
  std::string port;  // "0" lets the system pick a free one
  bool empty() const { return port.empty(); }
};
bool ParseEndpoint(const std::string& text, Endpoint& endpoint);

// Conditions of the serial line a bus doctor must recognise.
struct LineConditions {
  bool echo = false;           // every byte the PC sends comes back (2-wire RS-485 without echo suppression)
  uint32_t junkAtOpen = 0;     // junk bytes that arrive when the PC opens the pseudo-terminal
  uint32_t otherMasterMs = 0;  // another master's exchange with the meter every so often (0: none)
  uint32_t minGapMs = 0;       // the meter ignores a request this soon after the end of its last reply
};

struct Options {
  std::string link;
  std::string device;
  MeterConfig meter;
  std::vector<uint8_t> addresses{1};
  bool log = false;
  bool pace = false;
  std::vector<std::pair<Fault, int>> faults;
  Endpoint listenRtu;  // RTU frames over TCP, as through a transparent gateway
  Endpoint listenTcp;  // Modbus TCP, as through a Modbus gateway
  LineConditions line;
};

extern const char* const kUsage;

// Parses the arguments after the program name. False with `error` ("unknown option --bogus") for a
// wrong command line; `help` is set for --help, and then nothing else is checked.
bool ParseOptions(const std::vector<std::string>& args, Options& options, bool& help, std::string& error);

}  // namespace qm::sim
