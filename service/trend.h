#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "poll/measurements.h"

namespace qm::service {

// The last day of one meter's trend series at one point per minute, in a fixed ring: a meter costs
// the same memory from its first reading on, however long the service runs.
class Trend {
 public:
  static constexpr int kMinutes = 24 * 60;
  // The shown words kept: the phase voltages, currents and active powers (and the combined active
  // power), the combined power factor and the frequency.
  static constexpr std::array<int, 12> kWords{0, 8, 16, 2, 10, 18, 4, 12, 20, 28, 29, 27};
  static constexpr size_t kSeries = kWords.size();

  // One minute of one series; the mean is sum / count.
  struct Point {
    float min = 0;
    float max = 0;
    float sum = 0;
    uint32_t count = 0;
  };

  // Adds a reading's values to the minute `minute` (Unix time / 60). A minute that falls on a slot of
  // the day before starts that slot afresh.
  void Add(int64_t minute, const std::vector<poll::Measurement>& values);

  struct Minute {
    int64_t minute;
    std::array<Point, kSeries> series;
  };
  // The minutes with readings in the day up to and including `now`, oldest first.
  std::vector<Minute> Day(int64_t now) const;
  // The one minute `minute`, if it has readings.
  bool At(int64_t minute, Minute& out) const;

 private:
  std::array<int32_t, kMinutes> minute_{};  // the minute each slot holds; 0 for none
  std::array<std::array<Point, kSeries>, kMinutes> points_{};
};

}  // namespace qm::service
