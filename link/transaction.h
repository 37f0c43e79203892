#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/transport.h"

namespace qm::link {

// A wait that ends as soon as input arrives: the serial port's own wait in the programs, virtual
// time in tests.
class InputWait {
 public:
  virtual ~InputWait() = default;
  // Returns once the device has received something new, or after `ms` milliseconds.
  virtual void WaitForInput(uint32_t ms) = 0;
  // Sleeps `us` microseconds, whatever arrives meanwhile.
  virtual void Pause(uint32_t us) = 0;
  virtual uint64_t NowMs() const = 0;
};

enum class TransactionError {
  None,
  NoReply,    // not a byte came back
  BadReply,   // bytes came back, but no valid reply among them
  Exception,  // the meter answered with an exception reply
};

struct TransactionOptions {
  uint32_t timeoutMs = 400;  // per attempt, from the end of sending the request
  int retries = 0;           // further attempts after a missing or invalid reply
  // How long one character takes on the line (start, data, parity and stop bits); 0 when unknown.
  // With it, the wait for the rest of a reply that has begun sleeps through the time the rest
  // needs on the line instead of waking at every byte.
  double byteMs = 0;
};

struct TransactionResult {
  TransactionError error = TransactionError::NoReply;
  std::vector<uint8_t> frame;  // the whole reply frame, CRC included, when found
  uint8_t exceptionCode = 0;   // with Exception
  int attempts = 0;
  int received = 0;  // bytes received in the last attempt
  uint64_t elapsedMs = 0;
  int dataOffset = 0;  // where the reply's data lie in `frame` (frame.h names the geometry)
  int dataSize = 0;

  bool Ok() const { return error == TransactionError::None; }
  // The reply's data: the registers of a read, the echoed register and value of a write.
  std::span<const uint8_t> Data() const;
};

// One request and its reply, ending as soon as the whole reply has arrived: the reply's length
// follows from the request. Pending input is dropped before each attempt. An exception reply ends
// at once (asking again would get the same answer). CommError from the device passes through.
// `word` is the quantity of a read or the value of a write.
TransactionResult Transact(Transport& device, InputWait& wait, uint8_t address, uint8_t function,
                           uint16_t reg, uint16_t word, const TransactionOptions& options);

// "no reply", "no valid reply (12 bytes)", "exception 2 (illegal data address)", with the number of
// attempts when there was more than one.
std::string DescribeFailure(const TransactionResult& result);

}  // namespace qm::link
