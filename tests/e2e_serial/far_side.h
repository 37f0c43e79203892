#pragma once
// The meter's end of a pseudo-terminal, played by a thread of the test with the simulator's own
// request framer and meter, so the line can misbehave on cue: flood at full speed, or stall in the
// middle of a reply.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/request_framer.h"
#include "sim/sim_meter.h"

namespace qmtest {

class FarSide {
 public:
  // A meter at `address` behind a link at `path`.
  FarSide(const std::string& path, uint8_t address) : path_(path), meter_({.address = address}) {
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    // Our own descriptor on the program's side keeps the master readable while the program has the
    // port closed.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave_, TCSANOW, &t);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::unlink(path.c_str());
    ok_ = ::symlink(name, path.c_str()) == 0;
    thread_ = std::thread([this] { Run(); });
  }
  ~FarSide() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::unlink(path_.c_str());
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  FarSide(const FarSide&) = delete;
  FarSide& operator=(const FarSide&) = delete;

  bool Ok() const { return ok_; }

  // From now on, for `ms` milliseconds: garbage as fast as the line takes it, requests unanswered.
  void Flood(int ms) {
    floodUntil_ = NowMs() + ms;
    flooding_ = true;
  }
  bool Flooding() const { return flooding_; }

  // The next reply stops after `bytes` bytes; the meter then neither reads nor writes for `ms`
  // milliseconds, sends the rest, and ignores the requests that came meanwhile.
  void StallNextReply(size_t bytes, int ms) {
    stallAfter_ = bytes;
    stallMs_ = ms;
    stallArmed_ = true;
  }
  bool StallDone() const { return stallDone_; }

 private:
  static double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  // Writes everything, waiting for the line when it is full; false when stopping.
  bool WriteAll(const uint8_t* data, size_t size) {
    while (size > 0 && !stop_) {
      const ssize_t n = ::write(master_, data, size);
      if (n > 0) {
        data += n;
        size -= static_cast<size_t>(n);
        continue;
      }
      pollfd p{master_, POLLOUT, 0};
      ::poll(&p, 1, 20);
    }
    return size == 0;
  }

  void Answer(const std::vector<uint8_t>& frame) {
    meter_.AdvanceTo(static_cast<uint64_t>(NowMs()));
    const qm::link::LineSettings line{meter_.Baud(), meter_.Parity(), 8, 1};
    const auto reply = meter_.Handle(frame, line).bytes;
    if (reply.empty()) return;
    if (stallArmed_.exchange(false)) {
      const size_t first = std::min(stallAfter_, reply.size());
      WriteAll(reply.data(), first);
      std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_));
      WriteAll(reply.data() + first, reply.size() - first);
      ::tcflush(master_, TCIFLUSH);  // what came during the stall was never heard
      framer_ = qm::sim::RequestFramer();
      stallDone_ = true;
    } else {
      WriteAll(reply.data(), reply.size());
    }
  }

  void Run() {
    std::mt19937 rng(7);
    std::vector<uint8_t> garbage(4096);
    uint8_t buf[4096];
    while (!stop_) {
      const bool flood = flooding_ && NowMs() < floodUntil_;
      if (flooding_ && !flood) flooding_ = false;
      pollfd p{master_, static_cast<short>(POLLIN | (flood ? POLLOUT : 0)), 0};
      ::poll(&p, 1, 20);
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0 && !flood) {
        for (const auto& frame : framer_.Feed(buf, static_cast<size_t>(n), NowMs())) Answer(frame);
      }
      if (flood) {
        // Never the meter's address, so no garbage can pass for a reply.
        for (auto& b : garbage) b = static_cast<uint8_t>(rng() % 254 + 2);
        [[maybe_unused]] const ssize_t w = ::write(master_, garbage.data(), garbage.size());
      }
    }
  }

  std::string path_;
  int master_ = -1;
  int slave_ = -1;
  bool ok_ = false;
  qm::sim::SimMeter meter_;
  qm::sim::RequestFramer framer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> flooding_{false};
  std::atomic<double> floodUntil_{0};
  std::atomic<bool> stallArmed_{false};
  std::atomic<bool> stallDone_{false};
  size_t stallAfter_ = 0;
  int stallMs_ = 0;
};

}  // namespace qmtest
