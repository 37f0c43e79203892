#pragma once
#include <string>
#include <vector>

#include "service/config.h"

namespace qm::service {

struct Options {
  std::string configFile;  // empty: the quick-start options describe the one bus
  bool check = false;
  bool help = false;
  bool version = false;
};

// Reads the command line into `options` and, without --config, `config`; false with one line.
bool ParseOptions(const std::vector<std::string>& args, Options& options, Config& config, std::string& error);

std::string Usage();

}  // namespace qm::service
