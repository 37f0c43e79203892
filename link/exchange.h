#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "link/clock.h"
#include "link/frame.h"
#include "link/mscomm.h"

namespace qm::link {

// How much of the exchange runs after the wait: None stops after it, Drain also copies the waiting
// bytes into the receive buffer, Check also searches them for the reply.
enum class ReplyMode { None, Drain, Check };

struct ExchangeResult {
  // The reply's data bytes inside the receive buffer (frame.h names the geometry); none when the
  // reply was not found or not looked for. Valid until the next exchange on the same buffer.
  std::optional<std::span<const uint8_t>> data;
  int16_t index = -1;    // where the reply frame starts in the receive buffer, -1 when not found
  int16_t received = 0;  // bytes copied into the receive buffer (0 for None)
};

// Sends `length` bytes when the port is open; otherwise nothing is sent and nothing is said.
void SendFrame(CMSComm& comm, const uint8_t* data, int16_t length);

// Copies the first `count` delivered bytes to the receive buffer, never past the delivered array nor
// past the buffer; returns how many were copied.
int16_t CopyReceived(const std::vector<uint8_t>& delivered, int16_t count, ReceiveBuffer& rx);

// The buffers and devices one exchange works on; the main window owns them.
struct LinkContext {
  CMSComm& comm;
  Clock& clock;
  RequestFrame& request;
  ReceiveBuffer& receive;
};

// One exchange: build the request, drop pending input, send, wait, read once, search.
// `word` is the quantity of a read or the value of a write.
ExchangeResult Exchange(LinkContext link, uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                        uint32_t waitMs, ReplyMode mode);

}  // namespace qm::link
