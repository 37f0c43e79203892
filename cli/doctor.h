#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/meter_link.h"
#include "cli/options.h"
#include "cli/run.h"

namespace qm::cli {

// How long the doctor waits for a probe's reply at a line setting: the probe and its one-word reply
// on the line, and the meter's turnaround.
uint32_t ProbeTimeoutMs(int32_t baud, link::Parity parity);

// The line settings and addresses the doctor tries, in order: the common rates first, no parity,
// then even, then odd; addresses 1 to 254, then 0 (--quick: 1 to 8; --address: that one).
struct DoctorPlan {
  std::vector<int32_t> bauds;
  std::vector<link::Parity> parities;
  std::vector<uint8_t> addresses;
  bool all = false;
};
DoctorPlan PlanDoctor(const Options& options);

// Finds the meters' line settings, tells what went wrong at each setting that found nothing, then
// checks the line at the first meter's settings. Returns the exit status.
int RunDoctor(const DoctorPlan& plan, MeterLink& link, Environment& env, const std::string& device);

}  // namespace qm::cli
