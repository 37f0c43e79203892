#pragma once
// The early-ending wait on virtual time: the clock moves a millisecond at a time until the port has
// something to read. It counts how often the exchange wakes up.
#include <algorithm>

#include "link/transaction.h"
#include "sim/sim_serial_device.h"
#include "sim/virtual_clock.h"

namespace qm::test {

class SimInputWait : public link::InputWait {
 public:
  SimInputWait(link::Transport& device, sim::VirtualClock& clock) : device_(device), clock_(clock) {}
  void WaitForInput(uint32_t ms) override {
    ++wakeups;
    for (uint32_t waited = 0; waited < ms && device_.BytesWaiting() == 0; ++waited) clock_.Advance(1);
  }
  void Pause(uint32_t us) override {
    ++wakeups;
    clock_.Advance(std::max<uint32_t>(1, us / 1000));
  }
  uint64_t NowMs() const override { return clock_.NowMs(); }
  int wakeups = 0;

 private:
  link::Transport& device_;
  sim::VirtualClock& clock_;
};

}  // namespace qm::test
