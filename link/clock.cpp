#include "link/clock.h"

#include <thread>

namespace qm::link {

void SteadyClock::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void SteadyClock::Pause(uint32_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

uint64_t SteadyClock::NowMs() const {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_)
          .count());
}

}  // namespace qm::link
