#pragma once
// qm7410-sim's server: the simulated meters on their line and behind TCP listeners (RTU over TCP and
// Modbus TCP), and the command channel on stdin.
#include <signal.h>

#include <chrono>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "link/transport.h"
#include "sim/mbap.h"
#include "sim/options.h"
#include "sim/request_framer.h"
#include "sim/sim_meter.h"

namespace qm::sim {

// How requests reach the meters: the serial line, RTU frames over TCP (a transparent gateway), or
// Modbus TCP (a Modbus gateway).
enum class Wire { Line, Rtu, Tcp };

class Server {
 public:
  explicit Server(const Options& options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves `fd`, a pseudo-terminal's master side (`pty`, whose other side is `slavePath`) or a serial
  // port, named `name` in messages. The caller keeps the descriptor.
  void AddLine(int fd, bool pty, std::string name, const std::string& slavePath = {});
  // Listens for clients of `wire` (Rtu or Tcp) at `at`; `bound` is "HOST:PORT" with the port taken.
  bool Listen(Wire wire, const Endpoint& at, std::string& bound, std::string& error);

  // Serves until `stop` is set (by a signal, let through only while waiting) or a quit command.
  int Run(const sigset_t& waitMask, const volatile sig_atomic_t& stop);

 private:
  struct Scheduled {
    double at;
    std::vector<uint8_t> bytes;
    int32_t baudAfter;  // the meter's rate once these bytes are out (device mode reconfigures)
    bool paced;         // one byte of a paced reply, logged when it was scheduled
    bool closeAfter;    // a connection closes once these bytes are out
  };
  // One way in: the line, or one client's connection.
  struct Peer {
    Wire wire = Wire::Line;
    int fd = -1;
    bool pty = false;
    bool owned = false;  // a connection of ours, closed when it ends
    std::string name;
    RequestFramer framer;
    MbapFramer mbap;
    std::deque<Scheduled> scheduled;  // in order of time
    std::vector<uint8_t> out;         // due bytes the other side has not taken yet
    int32_t reconfigureTo = 0;        // device mode: new rate once out has drained
    double retryAt = -1;              // after a read error on the line, when to look again
    bool closeWhenSent = false;
    bool ended = false;  // the client sent all it will: close once the replies due are out
    bool gone = false;
    std::string lastMismatch;
  };
  struct Listener {
    Wire wire;
    int fd;
    std::string name;
  };

  double Now() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
  }
  void Log(const char* fmt, const std::string& text) const;
  void UpdateSilence();
  void OnFrame(Peer& peer, const std::vector<uint8_t>& frame, double now);
  void OnMbap(Peer& peer, const MbapRequest& request, double now);
  void OnCommandInput();
  std::string RunCommandLine(const std::string& line);
  void Flush(Peer& peer, double now);
  bool Read(Peer& peer, double now);
  void Accept(const Listener& listener);
  void Drop(Peer& peer, const std::string& why);
  // Puts a reply on the way to `peer` after the turnaround `delayMs`. Where the line's timing is
  // emulated (a pseudo-terminal, or --pace behind a gateway) the request's `requestBytes` and the
  // reply's `lineReplyBytes` characters take their time on `line` too. `closeAfter` ends a connection
  // once the bytes are out. Returns when its last byte is due.
  double ScheduleReply(Peer& peer, std::vector<uint8_t> bytes, uint32_t delayMs, size_t requestBytes,
                       size_t lineReplyBytes, const link::LineSettings& line, int32_t baudAfter,
                       bool closeAfter, double now);
  // The line's own conditions: opens of the pseudo-terminal, another master's exchanges, commands.
  void OnOpensOrCloses(double now);
  void OtherMaster(Peer& line, double now);
  bool RunLineCommand(const std::string& line, std::string& answer);
  Peer* LinePeer() {
    return !peers_.empty() && peers_.front()->wire == Wire::Line ? peers_.front().get() : nullptr;
  }
  void Schedule(Peer& peer, Scheduled s);
  SimMeter& First() { return meters_.front(); }

  const Options& options_;
  std::vector<SimMeter> meters_;  // shared by every way in; the first sets the line's timing
  std::vector<std::unique_ptr<Peer>> peers_;
  std::vector<Listener> listeners_;
  std::chrono::steady_clock::time_point start_;
  LineConditions line_;
  int watch_ = -1;                // inotify on the pseudo-terminal's other side: programs opening it
  int openers_ = 0;               // programs other than ours that have it open
  double nextOtherMaster_ = -1;   // when another master speaks next
  std::vector<double> replyEnd_;  // per meter: when its last reply ended
  std::mt19937 junk_{7410};
  bool stdinOpen_ = true;
  std::string stdinBuffer_;
  bool quit_ = false;
};

}  // namespace qm::sim
