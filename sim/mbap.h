#pragma once
// Modbus TCP framing for the simulated meter behind a Modbus gateway: a 7-byte MBAP header
// (transaction id, protocol id 0, the number of bytes that follow including the unit id, the unit id)
// and then the PDU, without a CRC.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm::sim {

inline constexpr size_t kMbapHeader = 7;
inline constexpr size_t kMaxPdu = 253;

struct MbapRequest {
  uint16_t transaction = 0;
  uint8_t unit = 0;
  std::vector<uint8_t> pdu;  // function code and data
};

// Cuts a TCP byte stream into requests: frames may arrive split across segments or several in one.
// A frame whose length field disagrees with its function's request size is dropped; a header that
// cannot start a frame (protocol id not 0, a length no PDU has) leaves the stream out of step, so
// everything buffered is dropped. Each drop leaves its reason for the log.
class MbapFramer {
 public:
  std::vector<MbapRequest> Feed(const uint8_t* data, size_t size);
  size_t Pending() const { return buffer_.size(); }
  uint64_t Dropped() const { return dropped_; }
  // Why bytes were dropped since the last call, one line each; cleared by the call.
  std::vector<std::string> TakeDropReasons();

 private:
  std::vector<uint8_t> buffer_;
  uint64_t dropped_ = 0;
  std::vector<std::string> reasons_;
};

// The size of a request PDU with function `pdu[0]` as the function defines it, or 0 when the function
// does not fix it (the length field is then taken as it is). `pdu` holds at least the function code.
size_t RequestPduSize(const std::vector<uint8_t>& pdu);

// An RTU frame (address, PDU, CRC) for `request`, and the Modbus TCP frame for an RTU reply's address
// and PDU (the reply without its CRC).
std::vector<uint8_t> RtuFrameOf(const MbapRequest& request);
std::vector<uint8_t> MbapFrame(uint16_t transaction, uint8_t unit, const uint8_t* pdu, size_t size);

}  // namespace qm::sim
