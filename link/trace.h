#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "link/exchange.h"

namespace qm::link {

// Every frame in and out of the exchanges, with a monotonic time stamp and its direction, told in
// words as well as bytes, so a support request can carry what the line did:
//     1234 ms > 01 03 00 00 00 29 84 14  read 41 registers from 0x0000 (measurements) at slave 1
//     1326 ms < 01 03 52 00 ... (87 bytes)
//     1326 ms = reply: 82 data bytes, CRC ok
class Trace {
 public:
  // What a register or block is called ("measurements", "PT ratio"); empty when it has no name.
  using Names = std::function<std::string(uint8_t function, uint16_t reg, uint16_t words)>;

  // `out` stays the caller's; every line is flushed as written.
  explicit Trace(std::FILE* out, Names names = {}) : out_(out), names_(std::move(names)) {}

  void Sent(uint64_t ms, const Request& request, const std::vector<uint8_t>& bytes);
  void Input(uint64_t ms, const std::vector<uint8_t>& bytes);
  void Outcome(uint64_t ms, const ExchangeResult& result, uint32_t waitedMs);
  // A line of the caller's own ("trying 4800 baud, even parity").
  void Note(uint64_t ms, const std::string& text);

  // The request in words: "read 41 registers from 0x0000 (measurements) at slave 1".
  std::string DescribeRequest(const Request& request) const;
  // The outcome in words: "3 stray bytes skipped; reply: 82 data bytes, CRC ok".
  static std::string DescribeOutcome(const ExchangeResult& result, uint32_t waitedMs);

 private:
  void Line(uint64_t ms, char direction, const std::string& text);

  std::FILE* out_;
  Names names_;
};

// The bytes in hexadecimal, at most `limit` of them, "..." after.
std::string HexBytes(const std::vector<uint8_t>& bytes, size_t limit = 32);

}  // namespace qm::link
