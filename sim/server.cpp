#include "sim/server.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "link/modbus.h"
#include "sim/net.h"
#include "sim/sim_commands.h"
#include "sim/sim_serial_device.h"
#include "sim/tty.h"
#include "sim/uart.h"
#include "text/word_text.h"

namespace qm::sim {

using link::LineSettings;

namespace {

// Connections served at once; more wait in the listener's queue.
constexpr size_t kMaxClients = 16;
// RTU over TCP: segments of one frame may come far apart, and TCP loses nothing on the way, so a half
// frame is kept much longer than on a line.
constexpr double kNetworkSilenceMs = 1000;
// Junk at open comes this long after a program opened the pseudo-terminal.
constexpr double kJunkAfterOpenMs = 20;
// Frames in the log are cut after this many bytes.
constexpr size_t kLogBytes = 96;

std::string Describe(const LineSettings& l) {
  return std::to_string(l.baud) + "," + link::ParityLetter(l.parity) + "," + std::to_string(l.dataBits) +
         "," + std::to_string(l.stopBits);
}

LineSettings LineOfMeter(const SimMeter& meter) { return {meter.Baud(), meter.Parity(), 8, 1}; }

}  // namespace

Server::Server(const Options& options) : options_(options), line_(options.line) {
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
  replyEnd_.assign(meters_.size(), -1e18);
}

Server::~Server() {
  for (const auto& peer : peers_)
    if (peer->owned && !peer->gone) close(peer->fd);
  for (const Listener& l : listeners_) close(l.fd);
  if (watch_ >= 0) close(watch_);
}

void Server::AddLine(int fd, bool pty, std::string name, const std::string& slavePath) {
  // Each open of the pseudo-terminal by a program shows as an open event on its other side; our own
  // descriptor there was opened before the watch began.
  if (pty && !slavePath.empty()) {
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, slavePath.c_str(), IN_OPEN | IN_CLOSE) < 0) {
      close(watch_);
      watch_ = -1;
    }
  }
  auto peer = std::make_unique<Peer>();
  peer->wire = Wire::Line;
  peer->fd = fd;
  peer->pty = pty;
  peer->name = std::move(name);
  peers_.insert(peers_.begin(), std::move(peer));
  UpdateSilence();
}

bool Server::Listen(Wire wire, const Endpoint& at, std::string& bound, std::string& error) {
  const int fd = ListenTcp(at.host, at.port, bound, error);
  if (fd < 0) return false;
  listeners_.push_back({wire, fd, bound});
  return true;
}

void Server::Log(const char* fmt, const std::string& text) const {
  if (!options_.log) return;
  std::fprintf(stderr, "[%10.3f] ", Now() / 1000.0);
  std::fprintf(stderr, fmt, text.c_str());
  std::fputc('\n', stderr);
}

void Server::UpdateSilence() {
  // A pseudo-terminal delivers a write at once; the floor only guards against scheduling hiccups.
  for (const auto& peer : peers_) {
    if (peer->wire == Wire::Line)
      peer->framer.SetSilenceMs(
          InterFrameSilenceMs(First().Baud(), First().Parity() != link::Parity::None, 1, 20.0));
    else
      peer->framer.SetSilenceMs(kNetworkSilenceMs);
  }
}

// An RTU frame from the line or from a transparent gateway's connection.
void Server::OnFrame(Peer& peer, const std::vector<uint8_t>& frame, double now) {
  // On a real port the UART, set to the meter's own speed and parity, garbles a mismatched line by
  // itself. On a pseudo-terminal bytes pass intact, so the line the program chose is read and the
  // UART model decodes them as the meter would; it keeps no parity, so only the speed can differ
  // there. Behind a gateway the meter hears the gateway's line, set up to match it.
  LineSettings seen = LineOfMeter(First());
  bool parityKnown = false;
  const bool lineKnown = peer.wire == Wire::Line && peer.pty && LineOf(peer.fd, seen, parityKnown);
  Log("<- %s", (peer.wire == Wire::Line ? "" : peer.name + " rtu: ") + text::HexBytes(frame, kLogBytes) +
                   "  (" + Describe(seen) + ")");
  std::string mismatch;  // why the first meter that did not hear the frame missed it
  bool heard = false;    // some meter heard it
  std::string refusal;
  for (size_t k = 0; k < meters_.size(); ++k) {
    SimMeter& meter = meters_[k];
    LineSettings line = lineKnown ? seen : LineOfMeter(meter);
    if (!parityKnown) line.parity = meter.Parity();
    // A meter at another speed or parity than the PC hears other bytes than were sent, and the PC
    // hears other bytes than the meter sends back.
    const LineSettings own = LineOfMeter(meter);
    const bool garbled = !SameFraming(line, own);
    meter.AdvanceTo(static_cast<uint64_t>(now));
    const int32_t baudBefore = meter.Baud();
    const std::vector<uint8_t> heardBytes = garbled ? UartGarble(frame, line, own) : frame;
    if (line_.minGapMs > 0 && !heardBytes.empty() && heardBytes[0] == meter.Address() &&
        now - replyEnd_[k] < line_.minGapMs) {
      Log("   %s", "too soon after the meter's last reply: no answer");
      heard = true;
      refusal.clear();
      break;
    }
    SimMeter::Reply reply = meter.Handle(heardBytes, own);
    const std::string why = meter.LastRefusal();
    if (garbled && !why.empty()) {
      if (mismatch.empty())
        mismatch = "line is " + Describe(line) + ", the meter runs at " + std::to_string(meter.Baud()) + "," +
                   link::ParityLetter(meter.Parity()) + ": no answer";
      continue;
    }
    heard = true;
    if (!why.empty()) {
      refusal = why;
      continue;
    }
    refusal.clear();
    const Fault fault = meter.LastFault();
    if (fault != Fault::None) Log("   fault: %s", FaultName(fault));
    if (!reply.bytes.empty()) {
      if (garbled) reply.bytes = UartGarble(reply.bytes, own, line);
      const size_t replySize = reply.bytes.size();
      replyEnd_[k] = ScheduleReply(peer, std::move(reply.bytes), reply.delayMs, frame.size(), replySize, line,
                                   meter.Baud(), fault == Fault::Close, now);
    }
    if (meter.Baud() != baudBefore) {
      Log("   baud rate becomes %s after this reply", std::to_string(meter.Baud()));
      UpdateSilence();
    }
    break;  // one meter per address
  }
  if (!heard && !mismatch.empty()) {
    if (options_.log || mismatch != peer.lastMismatch)
      std::fprintf(stderr, "qm7410-sim: %s\n", mismatch.c_str());
    peer.lastMismatch = mismatch;
    return;
  }
  peer.lastMismatch.clear();
  if (!refusal.empty())
    Log("   ignored (%s)", refusal == "address" ? std::string("another slave address") : refusal);
}

// A Modbus TCP request: the Modbus gateway puts it on the line as an RTU frame and answers with the
// meter's reply re-framed, or with exception 0x0B when no meter answers at that unit id.
void Server::OnMbap(Peer& peer, const MbapRequest& request, double now) {
  const std::vector<uint8_t> frame = RtuFrameOf(request);
  Log("<- %s", peer.name + " tcp: tid " + std::to_string(request.transaction) + " unit " +
                   std::to_string(request.unit) + ": " + text::HexBytes(request.pdu, kLogBytes));
  const auto gatewayException = [&](link::ExceptionCode code) {
    const uint8_t pdu[2] = {static_cast<uint8_t>(request.pdu[0] | link::kExceptionBit),
                            static_cast<uint8_t>(code)};
    return MbapFrame(request.transaction, request.unit, pdu, sizeof pdu);
  };
  const auto meter = std::find_if(meters_.begin(), meters_.end(),
                                  [&request](const SimMeter& m) { return m.Address() == request.unit; });
  if (meter == meters_.end()) {
    Log("   no meter at unit %s: gateway target failed", std::to_string(request.unit));
    ScheduleReply(peer, gatewayException(link::ExceptionCode::GatewayTargetFailed),
                  options_.meter.turnaroundMs, 0, 0, LineOfMeter(First()), 0, false, now);
    return;
  }
  meter->AdvanceTo(static_cast<uint64_t>(now));
  const LineSettings line = LineOfMeter(*meter);
  SimMeter::Reply reply = meter->Handle(frame, line);
  const Fault fault = meter->LastFault();
  if (fault != Fault::None) Log("   fault: %s", FaultName(fault));
  if (reply.bytes.empty()) {
    if (*meter->LastRefusal() != '\0') Log("   ignored (%s)", meter->LastRefusal());
    return;
  }
  // The gateway re-frames what came back from the line: the address becomes the unit id and the CRC
  // goes.
  std::vector<uint8_t> out;
  const std::vector<uint8_t>& clean = reply.clean;
  switch (fault) {
    case Fault::Noise:
    case Fault::Flood:
      // Stray bytes on the connection ahead of a good reply.
      out.assign(reply.bytes.begin(), reply.bytes.end() - static_cast<std::ptrdiff_t>(clean.size()));
      {
        const std::vector<uint8_t> good =
            MbapFrame(request.transaction, clean[0], clean.data() + 1, clean.size() - 3);
        out.insert(out.end(), good.begin(), good.end());
      }
      break;
    case Fault::BadCrc:
      // A Modbus gateway drops a reply whose CRC fails and reports the meter as silent.
      out = gatewayException(link::ExceptionCode::GatewayTargetFailed);
      break;
    case Fault::Truncated:
      // The PDU short of its last byte, the length field telling the truth about it.
      out = MbapFrame(request.transaction, reply.bytes[0], reply.bytes.data() + 1, reply.bytes.size() - 1);
      break;
    case Fault::Close:
    case Fault::Stall: {
      const std::vector<uint8_t> whole =
          MbapFrame(request.transaction, clean[0], clean.data() + 1, clean.size() - 3);
      out.assign(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
      break;
    }
    case Fault::WrongTid:
      out = MbapFrame(static_cast<uint16_t>(request.transaction ^ 0x8000), clean[0], clean.data() + 1,
                      clean.size() - 3);
      break;
    default:
      out = MbapFrame(request.transaction, reply.bytes[0], reply.bytes.data() + 1, reply.bytes.size() - 3);
      break;
  }
  ScheduleReply(peer, std::move(out), reply.delayMs, frame.size(), clean.size(), line, meter->Baud(),
                fault == Fault::Close, now);
}

double Server::ScheduleReply(Peer& peer, std::vector<uint8_t> bytes, uint32_t delayMs, size_t requestBytes,
                             size_t lineReplyBytes, const LineSettings& line, int32_t baudAfter,
                             bool closeAfter, double now) {
  closeAfter = closeAfter && peer.wire != Wire::Line;  // a line cannot hang up: it only stops
  if (options_.pace && (peer.pty || peer.wire == Wire::Rtu)) {
    // Like a real line (or a transparent gateway on one): the request's own transmission, the
    // turnaround, then one byte per character time, each written once all its bits would have arrived.
    Log("-> %s  (paced)", text::HexBytes(bytes, kLogBytes));
    const double start = now + SimSerialDevice::TransmitMs(requestBytes, line) + delayMs;
    for (size_t i = 0; i < bytes.size(); ++i)
      Schedule(peer, {start + SimSerialDevice::TransmitMs(i + 1, line),
                      {bytes[i]},
                      baudAfter,
                      true,
                      closeAfter && i + 1 == bytes.size()});
    return start + SimSerialDevice::TransmitMs(bytes.size(), line);
  }
  // Emulate the line's timing on a pseudo-terminal, where bytes take no time: the request's own
  // transmission, the turnaround, then the reply's transmission. A real port takes its own time. A
  // Modbus gateway answers once the whole reply has come in from its line.
  double at = now + delayMs;
  if (peer.pty || (peer.wire == Wire::Tcp && options_.pace))
    at += SimSerialDevice::TransmitMs(requestBytes + lineReplyBytes, line);
  Schedule(peer, {at, std::move(bytes), baudAfter, false, closeAfter});
  return at;
}

void Server::Schedule(Peer& peer, Scheduled s) {
  auto pos = std::upper_bound(peer.scheduled.begin(), peer.scheduled.end(), s.at,
                              [](double t, const Scheduled& x) { return t < x.at; });
  peer.scheduled.insert(pos, std::move(s));
}

void Server::Flush(Peer& peer, double now) {
  while (!peer.closeWhenSent && !peer.scheduled.empty() && peer.scheduled.front().at <= now) {
    Scheduled s = std::move(peer.scheduled.front());
    peer.scheduled.pop_front();
    if (!s.paced)
      Log("-> %s", (peer.wire == Wire::Line ? "" : peer.name + ": ") + text::HexBytes(s.bytes, kLogBytes));
    peer.out.insert(peer.out.end(), s.bytes.begin(), s.bytes.end());
    if (peer.wire == Wire::Line && !peer.pty && s.baudAfter != 0) peer.reconfigureTo = s.baudAfter;
    if (s.closeAfter) peer.closeWhenSent = true;
  }
  while (!peer.out.empty()) {
    const ssize_t n = peer.wire == Wire::Line ? write(peer.fd, peer.out.data(), peer.out.size())
                                              : send(peer.fd, peer.out.data(), peer.out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      peer.out.erase(peer.out.begin(), peer.out.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // wait for POLLOUT
    if (peer.wire != Wire::Line) {
      Drop(peer, std::string("cannot send: ") + std::strerror(errno));
      return;
    }
    Log("   write failed: %s; reply dropped", std::strerror(errno));
    peer.out.clear();
  }
  if (peer.closeWhenSent) {
    Drop(peer, "closed by the close fault");
    return;
  }
  if (peer.ended && peer.scheduled.empty()) {
    Drop(peer, "left");
    return;
  }
  if (peer.wire == Wire::Line && !peer.pty && peer.reconfigureTo != 0) {
    LineSettings line;
    bool parityKnown = false;
    if (LineOf(peer.fd, line, parityKnown) && line.baud != peer.reconfigureTo) {
      tcdrain(peer.fd);  // the reply leaves at the old rate
      std::string error;
      if (!ConfigureRaw(peer.fd, peer.reconfigureTo, First().Parity(), error))
        std::fprintf(stderr, "qm7410-sim: cannot switch %s to %d baud: %s\n", peer.name.c_str(),
                     peer.reconfigureTo, error.c_str());
    }
    peer.reconfigureTo = 0;
  }
}

void Server::Drop(Peer& peer, const std::string& why) {
  if (peer.gone) return;
  Log("   %s", peer.name + " " + why);
  // What the client sent last is read and forgotten first, so closing does not reset the connection
  // and throw away the half reply it has not read yet.
  shutdown(peer.fd, SHUT_WR);
  uint8_t sink[512];
  while (recv(peer.fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
  }
  close(peer.fd);
  peer.gone = true;
}

// Reads what the line or a connection delivered; false when the line is gone for good.
bool Server::Read(Peer& peer, double now) {
  uint8_t buf[4096];
  for (;;) {
    const ssize_t n = read(peer.fd, buf, sizeof buf);
    if (n > 0) {
      const size_t size = static_cast<size_t>(n);
      // The echo comes back as the bytes go out, before any reply they complete.
      if (peer.wire == Wire::Line && line_.echo)
        Schedule(peer, {now, std::vector<uint8_t>(buf, buf + size), 0, false, false});
      if (peer.wire == Wire::Tcp) {
        for (const MbapRequest& request : peer.mbap.Feed(buf, size)) OnMbap(peer, request, now);
        for (const std::string& why : peer.mbap.TakeDropReasons()) Log("   %s", peer.name + ": " + why);
      } else {
        for (const auto& frame : peer.framer.Feed(buf, size, now)) OnFrame(peer, frame, now);
      }
      if (peer.gone) return true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (peer.wire != Wire::Line && n == 0) {
      peer.ended = true;  // replies still due go out first
      return true;
    }
    if (peer.wire != Wire::Line) {
      Drop(peer, std::string("lost: ") + std::strerror(errno));
      return true;
    }
    // EIO or end of file: on a pseudo-terminal nobody holds the other side for a moment; a real
    // port has gone away.
    if (!peer.pty) {
      std::fprintf(stderr, "qm7410-sim: %s: %s\n", peer.name.c_str(),
                   n == 0 ? "end of file" : std::strerror(errno));
      return false;
    }
    peer.retryAt = now + 100;
    return true;
  }
}

void Server::Accept(const Listener& listener) {
  std::string name;
  const int fd = AcceptClient(listener.fd, name);
  if (fd < 0) return;
  auto peer = std::make_unique<Peer>();
  peer->wire = listener.wire;
  peer->fd = fd;
  peer->owned = true;
  peer->name = name;
  peer->framer.SetSilenceMs(kNetworkSilenceMs);
  Log("   %s", name + " connected to " + (listener.wire == Wire::Rtu ? "rtu " : "tcp ") + listener.name);
  peers_.push_back(std::move(peer));
}

// echo on|off, junk-at-open N, other-master MS, min-gap MS: the line's conditions, for every meter.
bool Server::RunLineCommand(const std::string& line, std::string& answer) {
  std::istringstream in(line);
  std::string cmd, value, extra;
  in >> cmd >> value >> extra;
  long n = 0;
  if (cmd == "echo") {
    if ((value != "on" && value != "off") || !extra.empty()) {
      answer = "error: echo on or echo off";
    } else {
      line_.echo = value == "on";
      answer = "ok echo " + value;
    }
    return true;
  }
  if (cmd != "junk-at-open" && cmd != "other-master" && cmd != "min-gap") return false;
  const long max = cmd == "junk-at-open" ? 4096 : 600000;
  if (!extra.empty() || !text::ReadInteger(value, 0, max, n)) {
    answer = "error: " + cmd + " wants a number 0.." + std::to_string(max);
    return true;
  }
  const auto v = static_cast<uint32_t>(n);
  if (cmd == "junk-at-open") line_.junkAtOpen = v;
  if (cmd == "other-master") {
    line_.otherMasterMs = v;
    nextOtherMaster_ = -1;
  }
  if (cmd == "min-gap") line_.minGapMs = v;
  answer = "ok " + cmd + " " + std::to_string(v);
  return true;
}

void Server::OnOpensOrCloses(double now) {
  alignas(inotify_event) char buf[4096];
  for (;;) {
    const ssize_t n = read(watch_, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buf + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_CLOSE) openers_ = std::max(0, openers_ - 1);
      if (!(event->mask & IN_OPEN)) continue;
      ++openers_;
      Peer* line = LinePeer();
      if (line_.junkAtOpen == 0 || line == nullptr) continue;
      // A little after the open, as a line settles once the port is powered: a program that empties
      // its input right after opening still finds the junk.
      std::vector<uint8_t> junk(line_.junkAtOpen);
      std::uniform_int_distribution<int> byte(0, 255);
      for (uint8_t& b : junk) b = static_cast<uint8_t>(byte(junk_));
      Log("   opened: %s junk bytes follow", std::to_string(junk.size()));
      Schedule(*line, {now + kJunkAfterOpenMs, std::move(junk), 0, false, false});
    }
  }
}

// Another master reads the first meter's identification, and the meter answers it.
void Server::OtherMaster(Peer& line, double now) {
  SimMeter& meter = First();
  const uint16_t model = meter.Word(kIdentification), version = meter.Word(kIdentification + 2);
  std::vector<uint8_t> request{meter.Address(), 0x03, 0x03, 0xE0, 0x00, 0x02};
  link::AppendCrc(request);
  std::vector<uint8_t> reply{meter.Address(),
                             0x03,
                             0x04,
                             static_cast<uint8_t>(model >> 8),
                             static_cast<uint8_t>(model & 0xFF),
                             static_cast<uint8_t>(version >> 8),
                             static_cast<uint8_t>(version & 0xFF)};
  link::AppendCrc(reply);
  const LineSettings own = LineOfMeter(meter);
  LineSettings pc = own;
  bool parityKnown = false;
  if (line.pty && LineOf(line.fd, pc, parityKnown) && !parityKnown) pc.parity = own.parity;
  const double replyAt =
      now + SimSerialDevice::TransmitMs(request.size() + reply.size(), own) + options_.meter.turnaroundMs;
  if (!SameFraming(own, pc)) {
    request = UartGarble(request, own, pc);
    reply = UartGarble(reply, own, pc);
  }
  Log("   another master: %s", text::HexBytes(request, kLogBytes) + " / " + text::HexBytes(reply, kLogBytes));
  Schedule(line, {now, std::move(request), 0, false, false});
  Schedule(line, {replyAt, std::move(reply), 0, false, false});
}

// "@A COMMAND" goes to the meter at slave address A; a plain command to every meter.
std::string Server::RunCommandLine(const std::string& line) {
  if (std::string answer; RunLineCommand(line, answer)) return answer;
  std::string command = line;
  long only = -1;
  if (!line.empty() && line[0] == '@') {
    const size_t space = line.find(' ');
    if (!text::ReadInteger(line.substr(1, space == std::string::npos ? std::string::npos : space - 1), 0, 255,
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
  std::vector<pollfd> fds;
  while (!stop && !quit_) {
    double now = Now();
    for (const auto& peer : peers_) {
      if (!peer->gone) Flush(*peer, now);
      if (!peer->gone) peer->framer.Expire(now);
    }
    std::erase_if(peers_, [](const std::unique_ptr<Peer>& p) { return p->gone; });

    // stdin, then the listeners, then the peers in order.
    fds.clear();
    fds.push_back({stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0});
    const bool roomForClients = peers_.size() < kMaxClients + 1;
    for (const Listener& l : listeners_) fds.push_back({roomForClients ? l.fd : -1, POLLIN, 0});
    fds.push_back({watch_, POLLIN, 0});
    double wait = -1;
    const auto earlier = [&wait](double w) { wait = wait < 0 ? w : std::min(wait, w); };
    if (Peer* line = LinePeer(); line != nullptr && line_.otherMasterMs > 0) {
      if (nextOtherMaster_ < 0) nextOtherMaster_ = now + line_.otherMasterMs;
      if (now >= nextOtherMaster_) {
        // Only while a program listens (bytes would otherwise wait in the terminal for the next one),
        // and never into the middle of an exchange.
        const bool listened = !line->pty || watch_ < 0 || openers_ > 0;
        if (listened && line->scheduled.empty() && line->out.empty()) OtherMaster(*line, now);
        nextOtherMaster_ = now + line_.otherMasterMs;
      }
      earlier(std::max(0.0, nextOtherMaster_ - now));
    }
    for (const auto& peer : peers_) {
      const bool watch = !peer->ended && (peer->retryAt < 0 || now >= peer->retryAt);
      if (watch) peer->retryAt = -1;
      // A client that has left would wake the wait at once with its hang-up: it is looked at only to
      // send what is due.
      const int fd = peer->ended && peer->out.empty() ? -1 : peer->fd;
      fds.push_back({fd, static_cast<short>((watch ? POLLIN : 0) | (peer->out.empty() ? 0 : POLLOUT)), 0});
      if (!peer->scheduled.empty()) earlier(std::max(0.0, peer->scheduled.front().at - now));
      if (!watch && peer->retryAt >= 0) earlier(std::max(0.0, peer->retryAt - now));
    }
    timespec ts{};
    timespec* timeout = nullptr;
    if (wait >= 0) {
      // Not rounded to whole milliseconds: paced bytes at 19200 baud come every 0.52 ms.
      ts.tv_sec = static_cast<time_t>(wait / 1000);
      ts.tv_nsec = static_cast<long>(std::fmod(wait, 1000.0) * 1e6);
      timeout = &ts;
    }
    const int ready = ppoll(fds.data(), fds.size(), timeout, &waitMask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "qm7410-sim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    now = Now();
    if (fds[1 + listeners_.size()].revents & POLLIN) OnOpensOrCloses(now);
    size_t i = 2 + listeners_.size();
    // New clients are added after the peers polled this round, so indexes stay in step.
    const size_t polledPeers = peers_.size();
    for (size_t k = 0; k < polledPeers; ++k, ++i) {
      Peer& peer = *peers_[k];
      if (fds[i].revents & POLLNVAL) {
        if (peer.wire == Wire::Line) return 1;
        peer.gone = true;
        continue;
      }
      if (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) {
        if (!Read(peer, now)) return 1;
      }
    }
    for (size_t k = 0; k < listeners_.size(); ++k)
      if (fds[1 + k].revents & POLLIN) Accept(listeners_[k]);
    if (stdinOpen_ && (fds[0].revents & POLLNVAL))
      stdinOpen_ = false;
    else if (stdinOpen_ && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
      OnCommandInput();
  }
  return 0;
}

}  // namespace qm::sim
