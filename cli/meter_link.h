#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "link/clock.h"
#include "link/exchange.h"
#include "link/transport.h"

namespace qm::cli {

// How long a request waits for its reply when no --timeout is given: the window's short or long
// reply wait at the line's baud rate.
enum class ReplyWait { Short, Long };

struct LinkOptions {
  int32_t baud = 9600;
  link::Parity parity = link::Parity::None;
  std::optional<uint32_t> timeoutMs;
  int retries = 2;
  std::FILE* verbose = nullptr;  // every exchange is described here when set
  // When set, a port that went away is opened again under this name before the next request (a
  // log outlives a gateway's restart or an adapter plugged back in).
  std::string reopen;
  // The line hands back what it sends (--echo). Learnt from the first read that shows it, too.
  bool echo = false;
  std::FILE* notes = nullptr;    // where a learnt echo is told, once
  link::Trace* trace = nullptr;  // every frame in and out, in words, when set
};

// The meters' line: requests and replies through the exchange that ends with the reply. A port or
// connection that goes away gives a result with LinkError::Lost, not an exception.
class MeterLink {
 public:
  MeterLink(link::Transport& device, link::Clock& clock, LinkOptions options)
      : device_(device), clock_(clock), options_(std::move(options)) {}

  link::ExchangeResult Read(uint8_t address, uint16_t reg, uint16_t quantity,
                            ReplyWait wait = ReplyWait::Short);
  link::ExchangeResult Write(uint8_t address, uint16_t reg, uint16_t value);

  // Puts the PC's side of the line on another baud rate and parity (the doctor's search).
  void SetLine(int32_t baud, link::Parity parity);
  // The timeout of a request, unless --timeout says otherwise.
  void SetDefaultTimeout(std::optional<uint32_t> ms) { defaultTimeoutMs_ = ms; }
  bool Echo() const { return options_.echo; }
  link::Transport& Device() { return device_; }
  // Puts the PC's side of the line on another baud rate (after the meters have moved to it).
  void SetBaud(int32_t baud);
  int32_t Baud() const { return options_.baud; }
  link::LineSettings Line() const { return {options_.baud, options_.parity, 8, 1}; }

  void SetRetries(int retries) { options_.retries = retries; }
  link::Clock& Clock() { return clock_; }

 private:
  link::ExchangeResult Run(uint8_t address, uint8_t function, uint16_t reg, uint16_t word, ReplyWait wait);

  link::Transport& device_;
  link::Clock& clock_;
  LinkOptions options_;
  std::optional<uint32_t> defaultTimeoutMs_;
};

}  // namespace qm::cli
