#include "service/trend.h"

#include <algorithm>

namespace qm::service {

void Trend::Add(int64_t minute, const std::vector<poll::Measurement>& values) {
  const size_t slot = static_cast<size_t>(minute % kMinutes);
  if (minute_[slot] != minute) {
    minute_[slot] = static_cast<int32_t>(minute);
    points_[slot].fill(Point{});
  }
  for (const poll::Measurement& m : values) {
    const auto* word = std::find(kWords.begin(), kWords.end(), m.slot.word);
    if (word == kWords.end()) continue;
    Point& p = points_[slot][static_cast<size_t>(word - kWords.begin())];
    const float v = static_cast<float>(m.value);
    p.min = p.count ? std::min(p.min, v) : v;
    p.max = p.count ? std::max(p.max, v) : v;
    p.sum += v;
    ++p.count;
  }
}

std::vector<Trend::Minute> Trend::Day(int64_t now) const {
  std::vector<Minute> out;
  // Oldest first: the slot after now's is the day's first minute.
  for (int64_t m = now - kMinutes + 1; m <= now; ++m) {
    Minute one;
    if (At(m, one)) out.push_back(one);
  }
  return out;
}

bool Trend::At(int64_t minute, Minute& out) const {
  if (minute <= 0) return false;
  const size_t slot = static_cast<size_t>(minute % kMinutes);
  if (minute_[slot] != minute) return false;
  out.minute = minute;
  out.series = points_[slot];
  return true;
}

}  // namespace qm::service
