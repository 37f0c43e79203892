#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/frame.h"
#include "link/transport.h"

namespace qm::link {

class Trace;

// One request: the slave, the function and its two words (register, then the quantity of a read or
// the value of a write), as they travel on the wire.
struct Request {
  uint8_t address;
  uint8_t function;
  uint16_t reg;
  uint16_t word;
};

// How much of a window exchange runs after its wait: None stops after it, Drain also copies the
// waiting bytes into the receive buffer, Check also searches them for the reply.
enum class ReplyMode { None, Drain, Check };

// The two ways to wait for a reply. The window sends, waits its fixed time whatever arrives and then
// looks once; the command line and the service end as soon as the whole reply is in (its length
// follows from the request), else at the timeout, and may ask again.
struct Timing {
  enum class Mode { FixedWait, UntilReply };
  Mode mode = Mode::UntilReply;
  uint32_t waitMs = 400;  // the fixed wait, or the timeout of one attempt counted from the request
  ReplyMode reply = ReplyMode::Check;  // fixed wait only
  int retries = 0;                     // until-reply only: further attempts after a missing or invalid reply
  // How long one character takes on the line; 0 when unknown. With it, the wait for the rest of a
  // reply that has begun sleeps through the time the rest needs on the line instead of waking at
  // every byte.
  double byteMs = 0;
  // The line hands every byte sent back (a 2-wire RS-485 adapter without echo suppression): exactly
  // the request's own bytes are dropped when they come back first, so the echo of a write is never
  // taken for its reply.
  bool echo = false;
  Trace* trace = nullptr;  // every frame in and out is told here when set

  static Timing Fixed(uint32_t waitMs, ReplyMode reply) {
    return {Mode::FixedWait, waitMs, reply, 0, 0, false, nullptr};
  }
  static Timing UntilReply(uint32_t timeoutMs, int retries, double byteMs = 0) {
    return {Mode::UntilReply, timeoutMs, ReplyMode::Check, retries, byteMs, false, nullptr};
  }
};

// What became of an exchange.
enum class LinkError {
  None,
  NoReply,     // not a byte came back
  BadReply,    // bytes came back, but they never made a valid frame (`received` counts them)
  OtherReply,  // a valid frame came back, but from another slave or for another function
  Exception,   // the meter, or a gateway in front of it, answered with an exception
  Lost,        // the port or the connection went away (`detail` says how)
};

struct ExchangeResult {
  LinkError error = LinkError::NoReply;
  uint8_t exceptionCode = 0;  // with Exception
  // The reply frame as found, CRC included: the reply itself, or the exception reply, or the valid
  // frame of another slave or function.
  std::vector<uint8_t> frame;
  // Where the found reply starts in the window's receive buffer, -1 when not found or not looked for.
  int16_t index = -1;
  int received = 0;     // bytes that came back in the last attempt (in the window: copied to its buffer)
  int skipped = 0;      // of them, bytes before the frame that was found
  bool echoed = false;  // the request's own bytes came back first (dropped when Timing::echo)
  int attempts = 0;
  uint64_t elapsedMs = 0;
  // What the transport noticed that the bytes alone do not say (a gateway of the other kind, a
  // reply to another transaction), or why the port went away.
  std::string detail;
  bool otherKind = false;  // `detail` says the gateway speaks the other protocol
  int dataOffset = 0;      // where the reply's data lie in `frame` (frame.h names the geometry)
  int dataSize = 0;

  bool Ok() const { return error == LinkError::None; }
  // The reply's data: the registers of a read, the echoed register and value of a write.
  std::span<const uint8_t> Data() const;
};

// The window's buffers: the request is built in its request frame and the reply copied into its
// receive buffer, where the poll cycle reads the data.
struct WindowBuffers {
  RequestFrame& request;
  ReceiveBuffer& receive;
};

// The one exchange: build the request, drop pending input, send, wait as `timing` says, search what
// came back for the reply (or an exception reply). A CommError from the transport passes through;
// nothing is sent on a closed transport. `window`, when given, receives the request and the reply
// bytes exactly as the window's buffers hold them.
ExchangeResult Exchange(Transport& transport, Clock& clock, const Request& request, const Timing& timing,
                        const WindowBuffers* window = nullptr);

// Copies the first `count` delivered bytes to the receive buffer, never past the delivered array nor
// past the buffer; returns how many were copied.
int16_t CopyReceived(const std::vector<uint8_t>& delivered, int16_t count, ReceiveBuffer& rx);

// "no reply", "no valid reply (12 bytes, wrong address, length or CRC)", "exception 2 (illegal data
// address)", "a reply from slave 3, not 1", with the number of attempts when there was more than one
// and what the transport noticed.
std::string DescribeFailure(const ExchangeResult& result);
// "a valid frame for slave 3, function 0x03, but not for this request".
std::string DescribeOtherFrame(const std::vector<uint8_t>& frame);

}  // namespace qm::link
