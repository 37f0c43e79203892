#pragma once
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/log_loop.h"
#include "cli/options.h"
#include "link/clock.h"
#include "link/transport.h"

namespace qm::cli {

// What a run of the command-line program works with: the serial port (not yet open), its wait, the
// log's clock, the two output streams and the stop request of Ctrl-C.
struct Environment {
  link::Transport& device;
  link::Clock& wait;
  LogClock& clock;
  std::FILE* out;
  std::FILE* err;
  const std::atomic<bool>& stop;
};

// The whole program after its arguments: returns the exit status. Errors are one line on `err`.
int Run(const std::vector<std::string>& args, Environment& env);
int Run(const Options& options, Environment& env);

}  // namespace qm::cli
