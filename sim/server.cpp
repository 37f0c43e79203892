#include "sim/server.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim/sim_commands.h"
#include "sim/sim_serial_device.h"
#include "sim/tty.h"

namespace qm::sim {

using link::LineSettings;

namespace {

std::string Hex(const std::vector<uint8_t>& bytes, size_t limit = 96) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
    out += buf;
  }
  if (bytes.size() > limit) out += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

std::string Describe(const LineSettings& l) {
  return std::to_string(l.baud) + "," + l.parity + "," + std::to_string(l.dataBits) + "," +
         std::to_string(l.stopBits);
}

}  // namespace

Server::Server(const Options& options, int fd, bool pty, std::string name)
    : options_(options), fd_(fd), pty_(pty), name_(std::move(name)) {
  // Each meter its own load, so two meters on one line do not read alike.
  for (size_t k = 0; k < options.addresses.size(); ++k) {
    MeterConfig config = options.meter;
    config.address = options.addresses[k];
    config.seed = options.meter.seed + k;
    meters_.emplace_back(config);
  }
  for (SimMeter& meter : meters_)
    for (const auto& [fault, count] : options.faults) meter.InjectFault(fault, count);
  start_ = std::chrono::steady_clock::now();
  UpdateSilence();
}

void Server::Log(const char* fmt, const std::string& text) const {
  if (!options_.log) return;
  std::fprintf(stderr, "[%10.3f] ", Now() / 1000.0);
  std::fprintf(stderr, fmt, text.c_str());
  std::fputc('\n', stderr);
}

void Server::UpdateSilence() {
  // A pseudo-terminal delivers a write at once; the floor only guards against scheduling hiccups.
  framer_.SetSilenceMs(InterFrameSilenceMs(First().Baud(), First().Parity() != 'N', 1, 20.0));
}

void Server::OnFrame(const std::vector<uint8_t>& frame, double now) {
  // On a real port the UART, set to the meter's own speed and parity, turns a mismatched line into
  // garbage by itself. On a pseudo-terminal bytes pass intact, so the line the program chose is
  // compared; it keeps no parity, so only the speed can be checked there.
  LineSettings seen{First().Baud(), First().Parity(), 8, 1};
  bool parityKnown = false;
  const bool lineKnown = pty_ && LineOf(fd_, seen, parityKnown);
  Log("<- %s", Hex(frame) + "  (" + Describe(seen) + ")");
  std::string mismatch;  // why the first meter that did not hear the frame missed it
  bool heard = false;    // some meter heard it
  std::string refusal;
  for (SimMeter& meter : meters_) {
    LineSettings line = lineKnown ? seen : LineSettings{meter.Baud(), meter.Parity(), 8, 1};
    if (!parityKnown) line.parity = meter.Parity();
    meter.AdvanceTo(static_cast<uint64_t>(now));
    const int32_t baudBefore = meter.Baud();
    SimMeter::Reply reply = meter.Handle(frame, line);
    const std::string why = meter.LastRefusal();
    if (why == "line") {
      if (mismatch.empty())
        mismatch = "line is " + Describe(line) + ", the meter runs at " + std::to_string(meter.Baud()) + "," +
                   meter.Parity() + ": no answer";
      continue;
    }
    heard = true;
    if (!why.empty()) {
      refusal = why;
      continue;
    }
    refusal.clear();
    if (meter.LastFault() != Fault::None) Log("   fault: %s", FaultName(meter.LastFault()));
    if (!reply.bytes.empty()) ScheduleReply(std::move(reply), frame.size(), line, meter.Baud(), now);
    if (meter.Baud() != baudBefore) {
      Log("   baud rate becomes %s after this reply", std::to_string(meter.Baud()));
      UpdateSilence();
    }
    break;  // one meter per address
  }
  if (!heard && !mismatch.empty()) {
    if (options_.log || mismatch != lastMismatch_) std::fprintf(stderr, "qm7410-sim: %s\n", mismatch.c_str());
    lastMismatch_ = mismatch;
    return;
  }
  lastMismatch_.clear();
  if (!refusal.empty())
    Log("   ignored (%s)", refusal == "address" ? std::string("another slave address") : refusal);
}

void Server::ScheduleReply(SimMeter::Reply reply, size_t requestSize, const LineSettings& line,
                           int32_t baudAfter, double now) {
  if (pty_ && options_.pace) {
    // Like a real line: the request's own transmission, the turnaround, then one byte per
    // character time, each written once all its bits would have arrived.
    Log("-> %s  (paced)", Hex(reply.bytes));
    const double start = now + SimSerialDevice::TransmitMs(requestSize, line) + reply.delayMs;
    for (size_t i = 0; i < reply.bytes.size(); ++i)
      Schedule({start + SimSerialDevice::TransmitMs(i + 1, line), {reply.bytes[i]}, baudAfter, true});
    return;
  }
  // Emulate the line's timing on a pseudo-terminal, where bytes take no time: the request's own
  // transmission, the turnaround, then the reply's transmission. A real port takes its own time.
  double at = now + reply.delayMs;
  if (pty_) at += SimSerialDevice::TransmitMs(requestSize + reply.bytes.size(), line);
  Schedule({at, std::move(reply.bytes), baudAfter, false});
}

void Server::Schedule(Scheduled s) {
  auto pos = std::upper_bound(scheduled_.begin(), scheduled_.end(), s.at,
                              [](double t, const Scheduled& x) { return t < x.at; });
  scheduled_.insert(pos, std::move(s));
}

void Server::Flush(double now) {
  while (!scheduled_.empty() && scheduled_.front().at <= now) {
    Scheduled s = std::move(scheduled_.front());
    scheduled_.pop_front();
    if (!s.paced) Log("-> %s", Hex(s.bytes));
    out_.insert(out_.end(), s.bytes.begin(), s.bytes.end());
    if (!pty_) reconfigureTo_ = s.baudAfter;
  }
  while (!out_.empty()) {
    const ssize_t n = write(fd_, out_.data(), out_.size());
    if (n > 0) {
      out_.erase(out_.begin(), out_.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // wait for POLLOUT
    Log("   write failed: %s; reply dropped", std::strerror(errno));
    out_.clear();
  }
  if (!pty_ && reconfigureTo_ != 0) {
    LineSettings line;
    bool parityKnown = false;
    if (LineOf(fd_, line, parityKnown) && line.baud != reconfigureTo_) {
      tcdrain(fd_);  // the reply leaves at the old rate
      std::string error;
      if (!ConfigureRaw(fd_, reconfigureTo_, First().Parity(), error))
        std::fprintf(stderr, "qm7410-sim: cannot switch %s to %d baud: %s\n", name_.c_str(), reconfigureTo_,
                     error.c_str());
    }
    reconfigureTo_ = 0;
  }
}

// Reads what the line delivered; false when the line is gone for good.
bool Server::ReadLine(double now) {
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) {
      for (const auto& frame : framer_.Feed(buf, static_cast<size_t>(n), now)) OnFrame(frame, now);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    // EIO or end of file: on a pseudo-terminal nobody holds the other side for a moment; a real
    // port has gone away.
    if (!pty_) {
      std::fprintf(stderr, "qm7410-sim: %s: %s\n", name_.c_str(),
                   n == 0 ? "end of file" : std::strerror(errno));
      return false;
    }
    lineRetryAt_ = now + 100;
    return true;
  }
}

// "@A COMMAND" goes to the meter at slave address A; a plain command to every meter.
std::string Server::RunCommandLine(const std::string& line) {
  std::string command = line;
  long only = -1;
  if (!line.empty() && line[0] == '@') {
    const size_t space = line.find(' ');
    if (!ParseNumber(line.substr(1, space == std::string::npos ? std::string::npos : space - 1), 0, 255,
                     only))
      return "error: @ wants a slave address 0..255";
    command = space == std::string::npos ? std::string() : line.substr(space + 1);
  }
  std::string answer;
  bool any = false;
  for (SimMeter& meter : meters_) {
    if (only >= 0 && meter.Address() != only) continue;
    meter.AdvanceTo(static_cast<uint64_t>(Now()));
    const std::string a = RunCommand(meter, command, quit_);
    if (!any) answer = a;
    any = true;
  }
  return any ? answer : "error: no meter at address " + std::to_string(only);
}

void Server::OnCommandInput() {
  char buf[1024];
  const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    stdinOpen_ = false;  // no more commands; keep serving the line
    return;
  }
  stdinBuffer_.append(buf, static_cast<size_t>(n));
  for (size_t eol; (eol = stdinBuffer_.find('\n')) != std::string::npos;) {
    std::string line = stdinBuffer_.substr(0, eol);
    stdinBuffer_.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string answer = RunCommandLine(line);
    std::printf("%s\n", answer.c_str());
    std::fflush(stdout);
    Log("   command: %s", line + " -> " + answer);
  }
  if (stdinBuffer_.size() > 4096) stdinBuffer_.clear();  // not a command channel
}

int Server::Run(const sigset_t& waitMask, const volatile sig_atomic_t& stop) {
  while (!stop && !quit_) {
    double now = Now();
    Flush(now);
    framer_.Expire(now);

    pollfd fds[2];
    nfds_t count = 0;
    const bool watchLine = lineRetryAt_ < 0 || now >= lineRetryAt_;
    if (watchLine) lineRetryAt_ = -1;
    fds[count++] = {fd_, static_cast<short>((watchLine ? POLLIN : 0) | (out_.empty() ? 0 : POLLOUT)), 0};
    const nfds_t stdinIndex = count;
    if (stdinOpen_) fds[count++] = {STDIN_FILENO, POLLIN, 0};

    double wait = -1;
    if (!scheduled_.empty()) wait = std::max(0.0, scheduled_.front().at - now);
    if (!watchLine) wait = wait < 0 ? lineRetryAt_ - now : std::min(wait, lineRetryAt_ - now);
    timespec ts{};
    timespec* timeout = nullptr;
    if (wait >= 0) {
      // Not rounded to whole milliseconds: paced bytes at 19200 baud come every 0.52 ms.
      const double ms = wait;
      ts.tv_sec = static_cast<time_t>(ms / 1000);
      ts.tv_nsec = static_cast<long>(std::fmod(ms, 1000.0) * 1e6);
      timeout = &ts;
    }
    const int ready = ppoll(fds, count, timeout, &waitMask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "qm7410-sim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    now = Now();
    if (fds[0].revents & POLLNVAL) return 1;
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
      if (!ReadLine(now)) return 1;
    }
    if (stdinOpen_ && (fds[stdinIndex].revents & POLLNVAL))
      stdinOpen_ = false;
    else if (stdinOpen_ && (fds[stdinIndex].revents & (POLLIN | POLLHUP | POLLERR)))
      OnCommandInput();
  }
  return 0;
}

}  // namespace qm::sim
