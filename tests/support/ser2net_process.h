#pragma once
// Debian's ser2net as a transparent gateway (RTU over TCP) in front of a pseudo-terminal, on a free
// loopback port; stopped when done. The test's target defines nothing: ser2net is on the PATH.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <string>

namespace qmtest {

// A loopback port nothing listens on at the moment.
inline uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

// Whether something accepts connections on the loopback port.
inline bool Accepts(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

class Ser2Net {
 public:
  // Serves `device` (a serial device or a link to one) at `line` ("9600n81") on `port` (0: a free one).
  explicit Ser2Net(const std::string& device, uint16_t port = 0, const std::string& line = "9600n81")
      : port_(port ? port : FreePort()) {
    const std::string config = "connection: &meter\n  accepter: tcp,127.0.0.1," + std::to_string(port_) +
                               "\n  connector: serialdev," + device + "," + line + ",local\n";
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start("ser2net", {"-n", "-u", "-Y", QString::fromStdString(config).replace('\n', '#')});
    const QDeadlineTimer deadline(30000);
    while (proc_.state() != QProcess::NotRunning && !deadline.hasExpired() && !(ready_ = Accepts(port_)))
      QThread::msleep(20);
  }
  ~Ser2Net() { Stop(); }
  Ser2Net(const Ser2Net&) = delete;
  Ser2Net& operator=(const Ser2Net&) = delete;

  bool Ready() const { return ready_; }
  uint16_t Port() const { return port_; }
  std::string Url() const { return "rtuovertcp://127.0.0.1:" + std::to_string(port_); }
  // Ends the gateway at once, as a restart or a power cut does.
  void Stop() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.kill();
    proc_.waitForFinished(10000);
  }

 private:
  uint16_t port_;
  QProcess proc_;
  bool ready_ = false;
};

}  // namespace qmtest
