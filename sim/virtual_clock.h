#pragma once
#include "link/clock.h"

namespace qm::sim {

// Test time: Sleep advances it at once, so a poll cycle with a second of waits costs microseconds.
class VirtualClock : public link::Clock {
 public:
  void Sleep(uint32_t ms) override { now_ += ms; }
  // Whole milliseconds only: a pause advances at least one.
  void Pause(uint32_t us) override { now_ += us < 1000 ? 1 : us / 1000; }
  uint64_t NowMs() const override { return now_; }
  void Advance(uint64_t ms) { now_ += ms; }

 private:
  uint64_t now_ = 0;
};

}  // namespace qm::sim
