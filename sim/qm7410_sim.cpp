// qm7410-sim: a simulated QM7410 meter on a pseudo-terminal or a real serial port, so the monitor
// (or any Modbus RTU master) can be run and tested without the hardware.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "sim/request_framer.h"
#include "sim/sim_commands.h"
#include "sim/sim_meter.h"
#include "sim/sim_serial_device.h"

namespace {

using qm::link::LineSettings;
using qm::sim::Fault;
using qm::sim::MeterConfig;
using qm::sim::SimMeter;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

const char* const kUsage =
    "Usage: qm7410-sim (--link PATH | --device PATH) [options]\n"
    "A simulated QM7410 power meter answering Modbus RTU reads (0x03) and writes (0x06).\n"
    "\n"
    "  --link PATH         create a pseudo-terminal and make PATH a symbolic link to it;\n"
    "                      open PATH in the monitor like a serial port\n"
    "  --device PATH       serve a real serial port instead\n"
    "  --address N[,M...]  slave address, 0..255 (default 1); several addresses put that many\n"
    "                      meters on the one line\n"
    "  --baud B            1200, 2400, 4800, 9600 or 19200 (default 9600)\n"
    "  --parity N|O|E      (default N)\n"
    "  --pt N, --ct N      transformer ratios, 1..65535 (default 1)\n"
    "  --seed N            seed of the simulated load (default 1)\n"
    "  --fault KIND[:N]    commit a fault on the next N replies (repeatable); KIND is silence, late,\n"
    "                      noise, badcrc, wrongaddress, exception, truncated or flood\n"
    "  --turnaround MS     pause between a request and its reply, 0..1000 (default 5)\n"
    "  --pace              on a pseudo-terminal, send each reply byte at the line's real byte rate\n"
    "                      (start, data, parity and stop bits at the set baud) instead of all at once\n"
    "  --log               every frame in and out, with a timestamp, on stderr\n"
    "  --help              this text\n"
    "\n"
    "Prints \"ready PATH\" on stdout once it listens. Reads commands from stdin, one per line, and\n"
    "answers each with a line starting with \"ok\" or \"error:\": fault KIND[:N], clear, freeze,\n"
    "unfreeze, set ADDR VALUE (word at memory address ADDR; freeze first for measurement words),\n"
    "measure N VALUE, get ADDR, energy, quit. A command goes to every meter on the line, or, after\n"
    "\"@A \", to the meter at slave address A only; the answer is that of the first meter it went to.\n"
    "SIGINT and SIGTERM end it and remove the link.\n";

struct Options {
  std::string link;
  std::string device;
  MeterConfig meter;
  std::vector<uint8_t> addresses{1};
  bool log = false;
  bool pace = false;
  std::vector<std::pair<Fault, int>> faults;
};

[[noreturn]] void Usage(const std::string& error) {
  std::fprintf(stderr, "qm7410-sim: %s (see qm7410-sim --help)\n", error.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--log") {
      o.log = true;
      continue;
    }
    if (arg == "--pace") {
      o.pace = true;
      continue;
    }
    if (i + 1 >= argc) Usage("missing value after " + arg);
    const std::string value = argv[++i];
    long n = 0;
    if (arg == "--link") {
      o.link = value;
    } else if (arg == "--device") {
      o.device = value;
    } else if (arg == "--address") {
      o.addresses.clear();
      for (size_t start = 0; start <= value.size();) {
        const size_t comma = std::min(value.find(',', start), value.size());
        const std::string one = value.substr(start, comma - start);
        if (!qm::sim::ParseNumber(one, 0, 255, n)) Usage("address must be 0..255: " + value);
        if (std::find(o.addresses.begin(), o.addresses.end(), n) != o.addresses.end())
          Usage("address given twice: " + value);
        o.addresses.push_back(static_cast<uint8_t>(n));
        start = comma + 1;
      }
      o.meter.address = o.addresses.front();
    } else if (arg == "--turnaround") {
      if (!qm::sim::ParseNumber(value, 0, 1000, n)) Usage("turnaround must be 0..1000 ms: " + value);
      o.meter.turnaroundMs = static_cast<uint32_t>(n);
    } else if (arg == "--baud") {
      if (!qm::sim::ParseNumber(value, 1, 1000000, n) || qm::sim::MeterBaudCode(static_cast<int32_t>(n)) < 0)
        Usage("baud rate must be 1200, 2400, 4800, 9600 or 19200: " + value);
      o.meter.baud = static_cast<int32_t>(n);
    } else if (arg == "--parity") {
      const char p =
          value.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(value[0]))) : '?';
      if (p != 'N' && p != 'O' && p != 'E') Usage("parity must be N, O or E: " + value);
      o.meter.parity = p;
    } else if (arg == "--pt" || arg == "--ct") {
      if (!qm::sim::ParseNumber(value, 1, 65535, n)) Usage(arg + " must be 1..65535: " + value);
      (arg == "--pt" ? o.meter.pt : o.meter.ct) = static_cast<uint16_t>(n);
    } else if (arg == "--seed") {
      char* end = nullptr;
      errno = 0;
      const unsigned long long seed = std::strtoull(value.c_str(), &end, 0);
      if (errno != 0 || value.empty() || *end != '\0') Usage("seed must be a number: " + value);
      o.meter.seed = seed;
    } else if (arg == "--fault") {
      Fault fault = Fault::None;
      int count = 1;
      if (!qm::sim::ParseFault(value, fault, count)) Usage("unknown fault: " + value);
      o.faults.emplace_back(fault, count);
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (o.link.empty() == o.device.empty()) Usage("give exactly one of --link PATH and --device PATH");
  return o;
}

struct SpeedEntry {
  int32_t baud;
  speed_t speed;
};
constexpr SpeedEntry kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                                  {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
                                  {300, B300},     {600, B600}};

int32_t BaudOf(speed_t speed) {
  for (const auto& e : kSpeeds)
    if (e.speed == speed) return e.baud;
  return 0;
}

speed_t SpeedOf(int32_t baud) {
  for (const auto& e : kSpeeds)
    if (e.baud == baud) return e.speed;
  return B9600;
}

// The settings the line has now: on a pseudo-terminal those the program on the other side chose.
// Linux keeps no parity on a pseudo-terminal (it clears PARENB and forces 8 data bits; a stray PARODD
// may survive from an earlier setting), so there `parityKnown` is false.
bool LineOf(int fd, LineSettings& line, bool& parityKnown) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  line.baud = BaudOf(cfgetospeed(&t));
  line.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 'O' : 'E') : 'N';
  parityKnown = (t.c_cflag & PARENB) != 0;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      line.dataBits = 5;
      break;
    case CS6:
      line.dataBits = 6;
      break;
    case CS7:
      line.dataBits = 7;
      break;
    default:
      line.dataBits = 8;
      break;
  }
  line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  return true;
}

bool ConfigureRaw(int fd, int32_t baud, char parity, std::string& error) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    error = std::strerror(errno);
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB | PARODD);
  if (parity != 'N') t.c_cflag |= PARENB;
  if (parity == 'O') t.c_cflag |= PARODD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, SpeedOf(baud));
  cfsetospeed(&t, SpeedOf(baud));
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

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

class Server {
 public:
  Server(const Options& options, int fd, bool pty, std::string name)
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

  int Run(const sigset_t& waitMask);

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
  void ScheduleReply(SimMeter::Reply reply, size_t requestSize, const LineSettings& line, int32_t baudAfter,
                     double now);
  void Schedule(Scheduled s);
  SimMeter& First() { return meters_.front(); }

  const Options& options_;
  std::vector<SimMeter> meters_;  // on one line; the first sets the line's timing
  int fd_;
  bool pty_;
  std::string name_;
  std::chrono::steady_clock::time_point start_;
  qm::sim::RequestFramer framer_;
  std::deque<Scheduled> scheduled_;  // in order of time
  std::vector<uint8_t> out_;         // due bytes the line has not taken yet
  int32_t reconfigureTo_ = 0;        // device mode: new rate once out_ has drained
  double lineRetryAt_ = -1;          // after a read error, when to look at the line again
  bool stdinOpen_ = true;
  std::string stdinBuffer_;
  bool quit_ = false;
  std::string lastMismatch_;
};

void Server::Log(const char* fmt, const std::string& text) const {
  if (!options_.log) return;
  std::fprintf(stderr, "[%10.3f] ", Now() / 1000.0);
  std::fprintf(stderr, fmt, text.c_str());
  std::fputc('\n', stderr);
}

void Server::UpdateSilence() {
  // A pseudo-terminal delivers a write at once; the floor only guards against scheduling hiccups.
  framer_.SetSilenceMs(qm::sim::InterFrameSilenceMs(First().Baud(), First().Parity() != 'N', 1, 20.0));
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
    if (meter.LastFault() != Fault::None) Log("   fault: %s", qm::sim::FaultName(meter.LastFault()));
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
  using qm::sim::SimSerialDevice;
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
    if (!qm::sim::ParseNumber(line.substr(1, space == std::string::npos ? std::string::npos : space - 1), 0,
                              255, only))
      return "error: @ wants a slave address 0..255";
    command = space == std::string::npos ? std::string() : line.substr(space + 1);
  }
  std::string answer;
  bool any = false;
  for (SimMeter& meter : meters_) {
    if (only >= 0 && meter.Address() != only) continue;
    meter.AdvanceTo(static_cast<uint64_t>(Now()));
    const std::string a = qm::sim::RunCommand(meter, command, quit_);
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

int Server::Run(const sigset_t& waitMask) {
  while (!g_stop && !quit_) {
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

// Makes `path` a symbolic link to `target`, replacing an older link but never a real file.
bool MakeLink(const std::string& path, const std::string& target, std::string& error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = path + " exists and is not a symbolic link; not replacing it";
    return false;
  }
  const std::string temp = path + ".qm7410-sim." + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot create the link " + path + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// Removes the link only while it still points at our terminal: another simulator may own it now.
void RemoveLink(const std::string& path, const std::string& target) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return;
  buf[n] = '\0';
  if (target == buf) unlink(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);

  // Signals are held back except while waiting, so a stop request is never missed between checks.
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t block, waitMask;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGHUP);
  sigprocmask(SIG_BLOCK, &block, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGHUP);

  std::string error;
  int fd = -1;
  int slave = -1;
  std::string slaveName;
  if (!options.link.empty()) {
    fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname(fd) == nullptr) {
      std::fprintf(stderr, "qm7410-sim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
      return 1;
    }
    slaveName = ptsname(fd);
    // Holding the other side open keeps the master readable while no program has the port open.
    slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    // No parity flag here: a pseudo-terminal would keep a stray PARODD after a program that opens it
    // without parity, and the meter would then take the line for odd parity.
    if (slave < 0 || !ConfigureRaw(slave, options.meter.baud, 'N', error)) {
      std::fprintf(stderr, "qm7410-sim: cannot set up %s: %s\n", slaveName.c_str(),
                   slave < 0 ? std::strerror(errno) : error.c_str());
      return 1;
    }
    if (!MakeLink(options.link, slaveName, error)) {
      std::fprintf(stderr, "qm7410-sim: %s\n", error.c_str());
      return 1;
    }
  } else {
    fd = open(options.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      std::fprintf(stderr, "qm7410-sim: cannot open %s: %s\n", options.device.c_str(), std::strerror(errno));
      return 1;
    }
    if (!ConfigureRaw(fd, options.meter.baud, options.meter.parity, error)) {
      std::fprintf(stderr, "qm7410-sim: cannot configure %s: %s\n", options.device.c_str(), error.c_str());
      return 1;
    }
    tcflush(fd, TCIOFLUSH);
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  if (!options.link.empty() && options.meter.parity != 'N')
    std::fprintf(stderr,
                 "qm7410-sim: note: a pseudo-terminal keeps no parity setting, so the meter checks only the "
                 "line's speed\n");

  const std::string name = options.link.empty() ? options.device : options.link;
  std::printf("ready %s\n", name.c_str());
  std::fflush(stdout);
  if (options.log)
    std::fprintf(stderr, "qm7410-sim: meter at address %d, %d baud, parity %c on %s%s\n",
                 options.meter.address, options.meter.baud, options.meter.parity, name.c_str(),
                 slaveName.empty() ? "" : (" -> " + slaveName).c_str());

  Server server(options, fd, !options.link.empty(), name);
  const int rc = server.Run(waitMask);

  if (!options.link.empty()) RemoveLink(options.link, slaveName);
  if (slave >= 0) close(slave);
  close(fd);
  return rc;
}
