#pragma once
// The qm7410-sim command line.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_meter.h"

namespace qm::sim {

struct Options {
  std::string link;
  std::string device;
  MeterConfig meter;
  std::vector<uint8_t> addresses{1};
  bool log = false;
  bool pace = false;
  std::vector<std::pair<Fault, int>> faults;
};

extern const char* const kUsage;

// Parses the arguments after the program name. False with `error` ("unknown option --bogus") for a
// wrong command line; `help` is set for --help, and then nothing else is checked.
bool ParseOptions(const std::vector<std::string>& args, Options& options, bool& help, std::string& error);

}  // namespace qm::sim
