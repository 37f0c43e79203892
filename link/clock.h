#pragma once
#include <chrono>
#include <cstdint>

namespace qm::link {

// Time seam of the exchanges: a real wait in the programs, a virtual clock in tests.
class Clock {
 public:
  virtual ~Clock() = default;
  // The window's fixed wait: it lasts `ms` whatever arrives meanwhile.
  virtual void Sleep(uint32_t ms) = 0;
  // A short pause of `us` microseconds, while the rest of a reply is on its way.
  virtual void Pause(uint32_t us) { Sleep((us + 999) / 1000); }
  virtual uint64_t NowMs() const = 0;
};

// Plain time for programs without an event loop (the command line, the service's bus workers).
class SteadyClock : public Clock {
 public:
  void Sleep(uint32_t ms) override;
  void Pause(uint32_t us) override;
  uint64_t NowMs() const override;

 private:
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace qm::link
