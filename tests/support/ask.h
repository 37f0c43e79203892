#pragma once
// A plain HTTP exchange with a server under test on a loopback port.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace qmtest {

// A connection to the loopback port with `request` sent on it; -1 when nothing accepts it.
inline int Connect(uint16_t port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

// One request on a fresh connection; the whole answer once the server closes.
inline std::string Ask(uint16_t port, const std::string& request) {
  const int fd = Connect(port, request);
  if (fd < 0) return "connect failed";
  std::string out;
  char buf[4096];
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, 30000) > 0) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return out;
}

}  // namespace qmtest
