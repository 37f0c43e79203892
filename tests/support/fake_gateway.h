#pragma once
// A gateway played by the test on a free loopback port: a thread accepts connections one after
// another and answers every request (8 bytes of RTU, or 12 of Modbus TCP) with what the test's
// function says, in the pieces it gives, possibly closing the connection after them.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qmtest {

class FakeGateway {
 public:
  using Bytes = std::vector<uint8_t>;
  struct Answer {
    std::vector<Bytes> pieces;  // sent one after another, each in a segment of its own
    bool close = false;         // the connection is closed after them
  };
  // `requestSize`: 8 for RTU over TCP, 12 for Modbus TCP.
  FakeGateway(size_t requestSize, std::function<Answer(const Bytes& request, int number)> answer)
      : size_(requestSize), answer_(std::move(answer)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 4);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~FakeGateway() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  uint16_t Port() const { return port_; }
  // Every request received so far, in order.
  std::vector<Bytes> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // Waits for `fd` to be readable, checking now and then whether the test is over.
  bool Readable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) == 1) return true;
    }
    return false;
  }
  void Serve() {
    while (Readable(listen_)) {
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Bytes in;
      bool open = true;
      while (open && Readable(fd)) {
        uint8_t chunk[256];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        in.insert(in.end(), chunk, chunk + n);
        while (open && in.size() >= size_) {
          const Bytes request(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(size_));
          in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(size_));
          int number;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
            number = static_cast<int>(requests_.size());
          }
          const Answer answer = answer_(request, number);
          for (const Bytes& piece : answer.pieces) {
            ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a segment of its own
          }
          open = !answer.close;
        }
      }
      ::close(fd);
    }
  }

  size_t size_;
  std::function<Answer(const Bytes&, int)> answer_;
  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Bytes> requests_;
};

}  // namespace qmtest
