#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "link/transport.h"
#include "link/transaction.h"

namespace qm::cli {

// How long a request waits for its reply when no --timeout is given: the window's short or long
// reply wait at the line's baud rate.
enum class ReplyWait { Short, Long };

struct LinkOptions {
  int32_t baud = 9600;
  char parity = 'N';
  std::optional<uint32_t> timeoutMs;
  int retries = 2;
  std::FILE* verbose = nullptr;  // every exchange is described here when set
};

// The meters' line: requests and replies through the early-ending exchange.
class MeterLink {
 public:
  MeterLink(link::Transport& device, link::InputWait& wait, LinkOptions options)
      : device_(device), wait_(wait), options_(options) {}

  link::TransactionResult Read(uint8_t address, uint16_t reg, uint16_t quantity,
                               ReplyWait wait = ReplyWait::Short);
  link::TransactionResult Write(uint8_t address, uint16_t reg, uint16_t value);

  // Puts the PC's side of the line on another baud rate (after the meters have moved to it).
  void SetBaud(int32_t baud);
  int32_t Baud() const { return options_.baud; }
  link::LineSettings Line() const { return {options_.baud, options_.parity, 8, 1}; }

  void SetRetries(int retries) { options_.retries = retries; }
  link::InputWait& Wait() { return wait_; }

 private:
  link::TransactionResult Run(uint8_t address, uint8_t function, uint16_t reg, uint16_t word, ReplyWait wait);

  link::Transport& device_;
  link::InputWait& wait_;
  LinkOptions options_;
};

}  // namespace qm::cli
