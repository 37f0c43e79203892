#pragma once
#include <QElapsedTimer>

#include "link/clock.h"

namespace qm::link {

// The program's wait: a nested event loop that keeps painting and reading the port but holds back
// user input, without spinning. Timer ticks that fall due meanwhile, and commands that arrive by
// other paths than input (accessibility actions, queued signals), are held back by the dialog layer
// until the running handler ends.
class EventLoopWait : public Clock {
 public:
  EventLoopWait();
  void Sleep(uint32_t ms) override;
  uint64_t NowMs() const override { return static_cast<uint64_t>(started_.elapsed()); }

 private:
  QElapsedTimer started_;
};

}  // namespace qm::link
