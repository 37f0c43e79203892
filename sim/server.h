#pragma once
// qm7410-sim's server: the simulated meters on their line, and the command channel on stdin.
#include <signal.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "link/transport.h"
#include "sim/options.h"
#include "sim/request_framer.h"
#include "sim/sim_meter.h"

namespace qm::sim {

class Server {
 public:
  // Serves `fd`, a pseudo-terminal's master side (`pty`) or a serial port, named `name` in messages.
  Server(const Options& options, int fd, bool pty, std::string name);

  // Serves until `stop` is set (by a signal, let through only while waiting) or a quit command.
  int Run(const sigset_t& waitMask, const volatile sig_atomic_t& stop);

 private:
  struct Scheduled {
    double at;
    std::vector<uint8_t> bytes;
    int32_t baudAfter;  // the meter's rate once these bytes are out (device mode reconfigures)
    bool paced;         // one byte of a paced reply, logged when it was scheduled
  };

  double Now() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  }
  void Log(const char* fmt, const std::string& text) const;
  void UpdateSilence();
  void OnFrame(const std::vector<uint8_t>& frame, double now);
  void OnCommandInput();
  std::string RunCommandLine(const std::string& line);
  void Flush(double now);
  bool ReadLine(double now);
  void ScheduleReply(SimMeter::Reply reply, size_t requestSize, const link::LineSettings& line,
                     int32_t baudAfter, double now);
  void Schedule(Scheduled s);
  SimMeter& First() { return meters_.front(); }

  const Options& options_;
  std::vector<SimMeter> meters_;  // on one line; the first sets the line's timing
  int fd_;
  bool pty_;
  std::string name_;
  std::chrono::steady_clock::time_point start_;
  RequestFramer framer_;
  std::deque<Scheduled> scheduled_;  // in order of time
  std::vector<uint8_t> out_;         // due bytes the line has not taken yet
  int32_t reconfigureTo_ = 0;        // device mode: new rate once out_ has drained
  double lineRetryAt_ = -1;          // after a read error, when to look at the line again
  bool stdinOpen_ = true;
  std::string stdinBuffer_;
  bool quit_ = false;
  std::string lastMismatch_;
};

}  // namespace qm::sim
