#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::service {

struct HttpRequest {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;
  std::string version;
  std::map<std::string, std::string> headers;  // names in lower case
};

// Reads one request head as its bytes arrive. Only the head counts: the service has no route that
// takes a body.
class RequestReader {
 public:
  static constexpr size_t kMaxHead = 8192;
  enum class Status { Incomplete, Complete, Bad, TooLarge };

  Status Feed(const char* data, size_t size);
  const HttpRequest& Request() const { return request_; }

 private:
  Status Parse();

  std::string head_;
  Status status_ = Status::Incomplete;
  HttpRequest request_;
};

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  // A stream (Server-Sent Events): the head goes out, the connection stays open and every
  // HttpServer::Send to the route's path follows as it comes.
  bool stream = false;
  // Further header lines, name and value, after the ones every response has.
  std::vector<std::pair<std::string, std::string>> headers = {};
};

// The complete response bytes for a request that ends the connection.
std::string FormatResponse(const HttpResponse& response, bool headOnly = false);

// "zh-CN" when the reader's most preferred language of an Accept-Language header is Chinese, else "en".
std::string PageLanguage(const std::string& acceptLanguage);

// Whether an Authorization header carries `userPassword` ("USER:PASSWORD") as Basic credentials; the
// comparison takes the same time wherever the two differ.
bool BasicAuthorized(const std::string& authorization, const std::string& userPassword);
std::string Base64(const std::string& bytes);

// The reason phrase of the status codes this server sends.
const char* StatusText(int status);

// A small HTTP/1.1 server on one thread: GET only (405 for other methods), 404 for unknown paths,
// a bounded request head and number of connections, idle peers closed after a timeout. Each
// answer ends its connection, except streams.
class HttpServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;
  struct Limits {
    size_t maxConnections = 64;
    std::chrono::milliseconds idleTimeout{10000};
    size_t maxStreamBacklog = 1 << 20;  // bytes waiting for a slow stream reader before it is dropped
  };

  HttpServer() = default;
  explicit HttpServer(Limits limits) : limits_(limits) {}
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  void Route(const std::string& path, Handler handler);
  // Binds and listens; false with the reason ("127.0.0.1:9741: Address already in use").
  bool Listen(const std::string& host, uint16_t port, std::string& error);
  uint16_t Port() const { return port_; }
  void Start();
  void Stop();
  // Appends `data` to every open stream of `path`; from any thread.
  void Send(const std::string& path, const std::string& data);

 private:
  struct Connection {
    int fd = -1;
    RequestReader reader;
    std::string out;
    bool closeAfterWrite = false;
    std::string streamPath;  // set while the connection is a stream
    std::chrono::steady_clock::time_point lastActive;
  };
  void Loop();
  void Accept();
  void Read(Connection& c);
  void Answer(Connection& c);
  void Wake();

  Limits limits_;
  std::map<std::string, Handler> routes_;
  int listenFd_ = -1;
  int wakeRead_ = -1, wakeWrite_ = -1;
  uint16_t port_ = 0;
  std::vector<Connection> connections_;
  std::mutex sendMutex_;
  std::vector<std::pair<std::string, std::string>> pending_;  // path, data
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qm::service
