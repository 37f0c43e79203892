#pragma once
#include <cstdint>

namespace qm::link {

// Time seam of the exchanges: a real wait in the program, a virtual clock in tests.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(uint32_t ms) = 0;
  virtual uint64_t NowMs() const = 0;
};

}  // namespace qm::link
