#include "sim/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm::sim {
namespace {

std::string HostPort(const std::string& host, const std::string& port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + port;
}

std::string NameOf(const sockaddr_storage& addr) {
  char host[INET6_ADDRSTRLEN] = "?";
  unsigned port = 0;
  if (addr.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    port = ntohs(in->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
  }
  return HostPort(host, std::to_string(port));
}

}  // namespace

int ListenTcp(const std::string& host, const std::string& port, std::string& bound, std::string& error) {
  const std::string where = HostPort(host, port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = "cannot listen on " + where + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  int lastErrno = 0;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastErrno = errno;
      continue;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 8) != 0) {
      lastErrno = errno;
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) {
    error = "cannot listen on " + where + ": " + std::strerror(lastErrno);
    return -1;
  }
  sockaddr_storage addr{};
  socklen_t size = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
  unsigned taken = 0;
  if (addr.ss_family == AF_INET) taken = ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
  if (addr.ss_family == AF_INET6) taken = ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
  bound = HostPort(host, std::to_string(taken));
  return fd;
}

int AcceptClient(int listener, std::string& peer) {
  sockaddr_storage addr{};
  socklen_t size = sizeof addr;
  const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&addr), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  peer = NameOf(addr);
  return fd;
}

}  // namespace qm::sim
