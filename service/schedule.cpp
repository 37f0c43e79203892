#include "service/schedule.h"

#include <algorithm>
#include <cmath>

namespace qm::service {

Schedule::Schedule(const std::vector<double>& intervalsS, double maxBackoffS, uint64_t startMs)
    : maxBackoffMs_(static_cast<uint64_t>(std::llround(maxBackoffS * 1000))) {
  for (double s : intervalsS)
    meters_.push_back({std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(s * 1000))), startMs});
}

size_t Schedule::Next(uint64_t& dueMs) const {
  size_t best = 0;
  for (size_t i = 1; i < meters_.size(); ++i)
    if (meters_[i].dueMs < meters_[best].dueMs) best = i;
  dueMs = meters_.empty() ? UINT64_MAX : meters_[best].dueMs;
  return best;
}

void Schedule::Done(size_t i, bool ok, uint64_t nowMs) {
  Meter& m = meters_[i];
  if (ok) {
    // Back on the grid after a failure; on a late read, the next follows at once but only once.
    m.dueMs = m.failures ? nowMs + m.intervalMs : std::max(m.dueMs + m.intervalMs, nowMs);
    m.failures = 0;
    return;
  }
  const int step = std::min(m.failures, 40);
  ++m.failures;
  const double wait = static_cast<double>(m.intervalMs) * std::pow(2.0, step);
  const uint64_t cap = std::max(maxBackoffMs_, m.intervalMs);
  m.dueMs = nowMs + (wait >= static_cast<double>(cap) ? cap : static_cast<uint64_t>(wait));
}

}  // namespace qm::service
