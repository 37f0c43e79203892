#include "link/tcp_transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace qm::link {
namespace {

// A send the connection does not take within this long means the gateway is stuck.
constexpr int kWriteLimitMs = 2000;

std::string ConnectFailure(const GatewayAddress& a, const std::string& reason, Wording w) {
  return w == Wording::English ? "cannot connect to gateway " + a.Text() + ": " + reason
                               : "无法连接网关 " + a.Text() + ": " + reason;
}

std::string ReasonOf(int error, Wording w) {
  if (w == Wording::Chinese) {
    switch (error) {
      case ECONNREFUSED:
        return "连接被拒绝 (该端口上没有网关的 TCP 服务)";
      case ETIMEDOUT:
        return "连接超时 (请检查地址和网络)";
      case EHOSTUNREACH:
      case ENETUNREACH:
        return "主机不可达 (" + std::string(std::strerror(error)) + ")";
      default:
        return std::strerror(error);
    }
  }
  switch (error) {
    case ECONNREFUSED:
      return "connection refused (nothing listens on that port)";
    case ETIMEDOUT:
      return "no answer in time (check the address and the network)";
    default:
      return std::strerror(error);
  }
}

// Connects within `ms`; the socket's error number on failure, 0 on success.
int ConnectWithin(int fd, const sockaddr* addr, socklen_t length, uint32_t ms) {
  if (::connect(fd, addr, length) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) return ETIMEDOUT;
    pollfd p{fd, POLLOUT, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0 ? ETIMEDOUT : errno;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
  }
}

}  // namespace

void TcpTransport::Open(const std::string& name, const LineSettings&) {
  Close();
  std::string error;
  if (!ParseGatewayAddress(name, address_, error, wording_))
    throw CommError(error.empty() ? name + ": not a gateway address" : error);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(address_.port);
  if (const int e = ::getaddrinfo(address_.host.c_str(), service.c_str(), &hints, &found); e != 0)
    throw CommError(ConnectFailure(address_, ::gai_strerror(e), wording_));
  int lastError = EHOSTUNREACH;
  for (const addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    lastError = ConnectWithin(fd, a->ai_addr, a->ai_addrlen, connectTimeoutMs_);
    if (lastError != 0) {
      ::close(fd);
      continue;
    }
    // Requests are a few bytes each and wait for their reply: send them at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
  }
  ::freeaddrinfo(found);
  if (fd_ < 0) throw CommError(ConnectFailure(address_, ReasonOf(lastError, wording_), wording_));
  reader_ = MbapReader(wording_);
}

void TcpTransport::Close() {
  buffer_.clear();
  request_.clear();
  firstBack_.clear();
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void TcpTransport::Lose(const std::string& reason) {
  Close();
  throw CommError(wording_ == Wording::English ? "gateway " + address_.Text() + ": " + reason
                                               : "网关 " + address_.Text() + ": " + reason);
}

void TcpTransport::Take(const uint8_t* bytes, size_t size) {
  if (kind_ == GatewayKind::ModbusTcp) {
    reader_.Feed(bytes, size, buffer_);
    return;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  if (firstBack_.size() < 8) {
    firstBack_.insert(firstBack_.end(), bytes, bytes + std::min(size, 8 - firstBack_.size()));
    if (firstBack_.size() == 8 && LooksLikeMbapReply(request_, firstBack_) && notice_.text.empty())
      notice_ = {UseModbusTcpText(address_, wording_), true};
  }
}

// Takes what the connection has received, up to the buffer's size.
void TcpTransport::Fill() {
  if (fd_ < 0) return;
  uint8_t chunk[512];
  while (buffer_.size() < kReadBufferBytes) {
    const ssize_t n = ::recv(fd_, chunk, std::min(sizeof chunk, kReadBufferBytes - buffer_.size()), 0);
    if (n > 0) {
      Take(chunk, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      Lose(n == 0 ? (wording_ == Wording::English ? "the gateway closed the connection" : "网关关闭了连接")
                  : std::string(std::strerror(errno)));
    }
  }
}

void TcpTransport::Write(const std::vector<uint8_t>& bytes) {
  if (fd_ < 0) return;
  std::vector<uint8_t> out = bytes;
  if (kind_ == GatewayKind::ModbusTcp) {
    transaction_ = static_cast<uint16_t>(transaction_ + 1);
    reader_.Expect(transaction_);
    out = MbapRequest(bytes, transaction_);
  } else {
    request_ = bytes;
    firstBack_.clear();
  }
  size_t sent = 0;
  while (sent < out.size()) {
    const ssize_t n = ::send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) Lose(std::strerror(errno));
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, kWriteLimitMs) == 0) Lose(std::strerror(ETIMEDOUT));
  }
}

int TcpTransport::BytesWaiting() {
  Fill();
  return static_cast<int>(buffer_.size());
}

std::vector<uint8_t> TcpTransport::ReadAll() {
  Fill();
  std::vector<uint8_t> out;
  out.swap(buffer_);
  return out;
}

void TcpTransport::DiscardInput() {
  // A reply still on its way is dropped by its transaction id (Modbus TCP), or with the rest here.
  Fill();
  buffer_.clear();
}

void TcpTransport::WaitForInput(uint32_t ms) {
  if (fd_ < 0 || !buffer_.empty()) return;
  pollfd p{fd_, POLLIN, 0};
  // A closed or reset connection is readable: the next read tells it.
  ::poll(&p, 1, static_cast<int>(std::min<uint32_t>(ms, INT32_MAX)));
}

Notice TcpTransport::TakeNotice() {
  Notice n = kind_ == GatewayKind::ModbusTcp ? reader_.TakeNotice() : Notice{};
  if (n.text.empty()) n = notice_;
  notice_ = {};
  if (n.text.empty() && kind_ == GatewayKind::ModbusTcp && reader_.Pending() > 0) {
    const std::string count = std::to_string(reader_.Pending());
    n.text = wording_ == Wording::English
                 ? "the gateway sent " + count + " bytes of a Modbus TCP frame and stalled"
                 : "网关发来了 " + count + " 字节的不完整 Modbus TCP 帧后停顿";
  }
  return n;
}

}  // namespace qm::link
