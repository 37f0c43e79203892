#include "service/http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/word_text.h"

namespace qm::service {
namespace {

bool IsToken(const std::string& s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (c <= 32 || c >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c)) return false;
  return true;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

RequestReader::Status RequestReader::Feed(const char* data, size_t size) {
  if (status_ != Status::Incomplete) return status_;
  // Only as much as fits; the rest of an oversized head is never kept.
  const size_t room = kMaxHead + 4 - head_.size();
  head_.append(data, std::min(size, room));
  const size_t end = head_.find("\r\n\r\n");
  if (end == std::string::npos) {
    if (head_.size() > kMaxHead) status_ = Status::TooLarge;
    return status_;
  }
  if (end + 4 > kMaxHead) return status_ = Status::TooLarge;
  head_.resize(end + 2);  // keeps the last line's CRLF
  return status_ = Parse();
}

RequestReader::Status RequestReader::Parse() {
  size_t pos = head_.find("\r\n");
  const std::string line = head_.substr(0, pos);
  const size_t sp1 = line.find(' ');
  const size_t sp2 = sp1 == std::string::npos ? std::string::npos : line.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) return Status::Bad;
  request_.method = line.substr(0, sp1);
  request_.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  request_.version = line.substr(sp2 + 1);
  if (!IsToken(request_.method) || request_.target.empty() ||
      (request_.version != "HTTP/1.1" && request_.version != "HTTP/1.0"))
    return Status::Bad;
  for (unsigned char c : request_.target)
    if (c <= 32 || c >= 127) return Status::Bad;
  if (request_.target.front() != '/') return Status::Bad;
  request_.path = request_.target.substr(0, request_.target.find('?'));
  for (pos += 2; pos < head_.size();) {
    const size_t eol = head_.find("\r\n", pos);
    const std::string header = head_.substr(pos, eol - pos);
    pos = eol + 2;
    const size_t colon = header.find(':');
    if (colon == std::string::npos || !IsToken(header.substr(0, colon))) return Status::Bad;
    std::string value = header.substr(colon + 1);
    const size_t first = value.find_first_not_of(" \t");
    const size_t last = value.find_last_not_of(" \t");
    value = first == std::string::npos ? "" : value.substr(first, last - first + 1);
    for (unsigned char c : value)
      if ((c < 32 && c != '\t') || c == 127) return Status::Bad;
    request_.headers[text::Lower(header.substr(0, colon))] = value;
  }
  return Status::Complete;
}

const char* StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

std::string FormatResponse(const HttpResponse& r, bool headOnly) {
  std::string out = "HTTP/1.1 " + std::to_string(r.status) + " " + StatusText(r.status) + "\r\n";
  out += "Content-Type: " + r.contentType + "\r\n";
  if (r.status == 405) out += "Allow: GET\r\n";
  // No answer of ours is ever to be taken for another type than it says.
  out += "X-Content-Type-Options: nosniff\r\n";
  for (const auto& [name, value] : r.headers) out += name + ": " + value + "\r\n";
  if (r.stream) {
    out += "Cache-Control: no-cache\r\nConnection: keep-alive\r\n\r\n";
  } else {
    out += "Content-Length: " + std::to_string(r.body.size()) + "\r\nConnection: close\r\n\r\n";
  }
  if (!headOnly) out += r.body;
  return out;
}

std::string Base64(const std::string& bytes) {
  static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

bool BasicAuthorized(const std::string& authorization, const std::string& userPassword) {
  const std::string expected = "Basic " + Base64(userPassword);
  // Every byte of the longer one is looked at, so the time says nothing about where they differ.
  const size_t n = std::max(expected.size(), authorization.size());
  unsigned diff = expected.size() == authorization.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char a = i < authorization.size() ? static_cast<unsigned char>(authorization[i]) : 0;
    const unsigned char b = i < expected.size() ? static_cast<unsigned char>(expected[i]) : 0;
    diff |= static_cast<unsigned>(a ^ b);
  }
  return diff == 0;
}

std::string PageLanguage(const std::string& acceptLanguage) {
  // The range with the highest weight wins; of equal weights the first.
  std::string best;
  double bestQ = 0;
  size_t start = 0;
  while (start <= acceptLanguage.size()) {
    size_t end = acceptLanguage.find(',', start);
    if (end == std::string::npos) end = acceptLanguage.size();
    const std::string item = acceptLanguage.substr(start, end - start);
    start = end + 1;
    const size_t semi = item.find(';');
    std::string tag = item.substr(0, semi);
    tag.erase(0, tag.find_first_not_of(" \t"));
    tag.erase(tag.find_last_not_of(" \t") + 1);
    double q = 1;
    if (semi != std::string::npos) {
      const size_t eq = item.find("q=", semi);
      if (eq != std::string::npos) q = std::strtod(item.c_str() + eq + 2, nullptr);
    }
    if (!tag.empty() && q > bestQ) {
      best = tag;
      bestQ = q;
    }
  }
  const bool chinese = best.size() >= 2 && (best[0] == 'z' || best[0] == 'Z') &&
                       (best[1] == 'h' || best[1] == 'H') && (best.size() == 2 || best[2] == '-');
  return chinese ? "zh-CN" : "en";
}

HttpServer::~HttpServer() {
  Stop();
  for (Connection& c : connections_) close(c.fd);
  for (int fd : {listenFd_, wakeRead_, wakeWrite_})
    if (fd >= 0) close(fd);
}

void HttpServer::Route(const std::string& path, Handler handler) { routes_[path] = std::move(handler); }

bool HttpServer::Listen(const std::string& host, uint16_t port, std::string& error) {
  const std::string where =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found); rc != 0) {
    error = where + ": " + gai_strerror(rc);
    return false;
  }
  int fd = -1;
  std::string reason = "no address";
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 16) != 0) {
      reason = std::strerror(errno);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) {
    error = where + ": " + reason;
    return false;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  SetNonBlocking(fd);
  listenFd_ = fd;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = where + ": " + std::strerror(errno);
    return false;
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  return true;
}

void HttpServer::Start() {
  stop_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void HttpServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  Wake();
  thread_.join();
}

void HttpServer::Wake() {
  const char byte = 0;
  if (wakeWrite_ >= 0) [[maybe_unused]]
    const ssize_t n = write(wakeWrite_, &byte, 1);
}

void HttpServer::Send(const std::string& path, const std::string& data) {
  {
    std::lock_guard lock(sendMutex_);
    pending_.emplace_back(path, data);
  }
  Wake();
}

void HttpServer::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections_.size() >= limits_.maxConnections) {
      // Told, not silently dropped; one short write fits any socket buffer.
      const std::string busy =
          FormatResponse({503, "text/plain; charset=utf-8", "too many connections\n", false});
      [[maybe_unused]] const ssize_t n = send(fd, busy.data(), busy.size(), MSG_NOSIGNAL);
      close(fd);
      continue;
    }
    Connection c;
    c.fd = fd;
    c.lastActive = std::chrono::steady_clock::now();
    connections_.push_back(std::move(c));
  }
}

void HttpServer::Read(Connection& c) {
  char buf[4096];
  for (;;) {
    const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      c.closeAfterWrite = true;
      c.out.clear();
      c.streamPath.clear();
      return;
    }
    if (n < 0) return;
    c.lastActive = std::chrono::steady_clock::now();
    // A stream's reader says nothing more that matters; a finished request's extra bytes neither.
    if (!c.streamPath.empty() || c.closeAfterWrite) continue;
    switch (c.reader.Feed(buf, static_cast<size_t>(n))) {
      case RequestReader::Status::Incomplete:
        continue;
      case RequestReader::Status::Bad:
        c.out = FormatResponse({400, "text/plain; charset=utf-8", "bad request\n", false});
        c.closeAfterWrite = true;
        return;
      case RequestReader::Status::TooLarge:
        c.out = FormatResponse({431, "text/plain; charset=utf-8", "request head too large\n", false});
        c.closeAfterWrite = true;
        return;
      case RequestReader::Status::Complete:
        Answer(c);
        return;
    }
  }
}

void HttpServer::Answer(Connection& c) {
  const HttpRequest& req = c.reader.Request();
  HttpResponse r;
  const auto route = routes_.find(req.path);
  if (req.method != "GET") {
    r = {405, "text/plain; charset=utf-8", "only GET\n", false};
  } else if (route == routes_.end()) {
    r = {404, "text/plain; charset=utf-8", "not found\n", false};
  } else {
    try {
      r = route->second(req);
    } catch (const std::exception& e) {
      r = {500, "text/plain; charset=utf-8", std::string(e.what()) + "\n", false};
    }
  }
  c.out = FormatResponse(r);
  if (r.stream && r.status == 200)
    c.streamPath = req.path;
  else
    c.closeAfterWrite = true;
}

void HttpServer::Loop() {
  while (!stop_) {
    {
      std::vector<std::pair<std::string, std::string>> pending;
      {
        std::lock_guard lock(sendMutex_);
        pending.swap(pending_);
      }
      for (const auto& [path, data] : pending)
        for (Connection& c : connections_)
          if (c.streamPath == path) {
            if (c.out.size() + data.size() > limits_.maxStreamBacklog) {
              c.streamPath.clear();  // a reader this slow is let go
              c.closeAfterWrite = true;
              c.out.clear();
            } else {
              c.out += data;
            }
          }
    }
    std::vector<pollfd> fds;
    fds.push_back({wakeRead_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const Connection& c : connections_)
      fds.push_back({c.fd, static_cast<short>(POLLIN | (c.out.empty() ? 0 : POLLOUT)), 0});
    const int timeoutMs = 1000;
    if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) break;
    if (fds[0].revents) {
      char drain[64];
      while (read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    const size_t known = connections_.size();
    for (size_t i = 0; i < known; ++i) {
      Connection& c = connections_[i];
      const short ev = fds[i + 2].revents;
      if (ev & (POLLIN | POLLHUP | POLLERR)) Read(c);
      if (!c.out.empty() && (ev & POLLOUT)) {
        const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
          c.out.erase(0, static_cast<size_t>(n));
          c.lastActive = std::chrono::steady_clock::now();
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          c.out.clear();
          c.streamPath.clear();
          c.closeAfterWrite = true;
        }
      }
    }
    if (fds[1].revents & POLLIN) Accept();
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(connections_, [&](Connection& c) {
      const bool idle = c.streamPath.empty() && now - c.lastActive > limits_.idleTimeout;
      const bool done = c.closeAfterWrite && c.out.empty();
      if (idle || done) close(c.fd);
      return idle || done;
    });
  }
}

}  // namespace qm::service
