#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm::service {

// When each meter of one bus is read next. A meter that answers keeps to its interval's grid, so a
// slow neighbour delays a reading but does not lower its rate. One that fails is asked again after
// its interval, then twice that, four times, ... up to the longest back-off, so a dead meter costs
// the others one timeout per step and no more.
class Schedule {
 public:
  Schedule(const std::vector<double>& intervalsS, double maxBackoffS, uint64_t startMs);

  // The meter due first (the lowest index among equals) and when.
  size_t Next(uint64_t& dueMs) const;
  // Records the outcome of the read of meter `i` that ended at `nowMs`.
  void Done(size_t i, bool ok, uint64_t nowMs);
  // Failed reads in a row.
  int Failures(size_t i) const { return meters_[i].failures; }
  uint64_t DueMs(size_t i) const { return meters_[i].dueMs; }
  size_t Size() const { return meters_.size(); }

 private:
  struct Meter {
    uint64_t intervalMs;
    uint64_t dueMs;
    int failures = 0;
  };
  std::vector<Meter> meters_;
  uint64_t maxBackoffMs_;
};

}  // namespace qm::service
