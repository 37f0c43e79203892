#pragma once
// A qm7410-sim process serving the network, and a raw TCP client for it. The simulator listens on
// ports the system picks and tells them in its ready lines; asked to quit when done and killed if it
// does not, so a failing test never leaves one behind.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <vector>

namespace qmtest {

// Limits are generous: the machines share two cores with other builds.
constexpr int kLimitMs = 20000;

class NetSim {
 public:
  // Starts qm7410-sim with `args` and reads its ready lines ("ready rtu 127.0.0.1:PORT", ...) until
  // one per --listen-* and --link option has come.
  explicit NetSim(const QStringList& args) {
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(QStringLiteral(QM7410_SIM_PATH), args);
    int expected = 0;
    for (const QString& a : args) expected += a.startsWith("--listen-") || a == "--link";
    if (!proc_.waitForStarted(kLimitMs)) return;
    for (int i = 0; i < expected; ++i) {
      const QString line = ReadLine();
      if (!line.startsWith("ready ")) return;
      readyLines_ << line;
      if (line.startsWith("ready rtu ")) rtuPort_ = line.section(':', -1).toInt();
      if (line.startsWith("ready tcp ")) tcpPort_ = line.section(':', -1).toInt();
    }
    ready_ = true;
  }
  ~NetSim() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.write("quit\n");
    if (!proc_.waitForFinished(3000)) {
      proc_.kill();
      proc_.waitForFinished(kLimitMs);
    }
  }
  NetSim(const NetSim&) = delete;
  NetSim& operator=(const NetSim&) = delete;

  bool Ready() const { return ready_; }
  const QStringList& ReadyLines() const { return readyLines_; }
  uint16_t RtuPort() const { return static_cast<uint16_t>(rtuPort_); }
  uint16_t TcpPort() const { return static_cast<uint16_t>(tcpPort_); }
  // One line of the command channel ("fault stall", "@2 measure 0 100") and its answer.
  QString Command(const QString& command) {
    proc_.write((command + "\n").toUtf8());
    return ReadLine();
  }

 private:
  QString ReadLine() {
    const QDeadlineTimer deadline(kLimitMs);
    while (!proc_.canReadLine() && proc_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    }
    return QString::fromLocal8Bit(proc_.readLine()).trimmed();
  }

  QProcess proc_;
  QStringList readyLines_;
  int rtuPort_ = 0;
  int tcpPort_ = 0;
  bool ready_ = false;
};

// A TCP client on loopback that sends exactly what it is given, segment by segment.
class Client {
 public:
  explicit Client(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    const int on = 1;
    if (connected_) setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const std::vector<uint8_t>& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Sends nothing more (a half close), as a client that has asked all it will.
  void ShutdownWrite() { shutdown(fd_, SHUT_WR); }
  // Reads until `count` bytes have come, the server closed, or the limit passed.
  std::vector<uint8_t> Read(size_t count, int limitMs = kLimitMs) {
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (got.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
              .count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[512];
      const ssize_t n = recv(fd_, buf, std::min(sizeof buf, count - got.size()), 0);
      if (n <= 0) {
        closedByServer_ = true;
        break;
      }
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  // True when the server has closed the connection (and sent nothing more), within the limit.
  bool ClosedByServer() {
    if (closedByServer_) return true;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, kLimitMs) <= 0) return false;
    uint8_t b;
    return recv(fd_, &b, 1, 0) == 0;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closedByServer_ = false;
};

// CRC-16/MODBUS bit by bit (reflected polynomial 0xA001, start 0xFFFF), low byte first: an
// independent judge of the simulator's frames.
inline std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
  uint16_t crc = 0xFFFF;
  for (const uint8_t b : frame) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace qmtest
