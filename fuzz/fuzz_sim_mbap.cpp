// What qm7410-sim reads from a Modbus TCP client: any bytes, in any pieces, cut into requests by the
// MBAP framer and answered by the simulated meter as a Modbus gateway would pass them on.
//
// Input: pieces of [length][bytes].
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/mbap.h"
#include "sim/sim_meter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::sim::MbapFramer framer;
  qm::sim::SimMeter meter;
  uint64_t fed = 0, framed = 0;
  size_t i = 0;
  while (i + 1 <= size) {
    const size_t length = std::min<size_t>(data[i], size - i - 1);
    const uint8_t* piece = data + i + 1;
    i += 1 + length;
    fed += length;
    for (const qm::sim::MbapRequest& request : framer.Feed(piece, length)) {
      framed += qm::sim::kMbapHeader + request.pdu.size();
      FUZZ_CHECK(!request.pdu.empty() && request.pdu.size() <= qm::sim::kMaxPdu, "PDU of %zu bytes",
                 request.pdu.size());
      const size_t expected = qm::sim::RequestPduSize(request.pdu);
      FUZZ_CHECK(expected == 0 || expected == request.pdu.size(), "function %d with a PDU of %zu bytes",
                 request.pdu[0], request.pdu.size());

      const std::vector<uint8_t> frame = qm::sim::RtuFrameOf(request);
      FUZZ_CHECK(frame.size() == request.pdu.size() + 3 && fuzz::CrcOk(frame.data(), frame.size()));
      const uint8_t address = meter.Address();
      const auto reply = meter.Handle(frame, {meter.Baud(), meter.Parity(), 8, 1});
      if (request.unit != address) {
        FUZZ_CHECK(reply.bytes.empty(), "a meter answered another unit id");
        continue;
      }
      FUZZ_CHECK(reply.bytes.size() >= 5 && reply.bytes[0] == address &&
                 fuzz::CrcOk(reply.bytes.data(), reply.bytes.size()));
      const auto out = qm::sim::MbapFrame(request.transaction, reply.bytes[0], reply.bytes.data() + 1,
                                          reply.bytes.size() - 3);
      FUZZ_CHECK(out.size() == reply.bytes.size() + 4 && out[0] << 8 == (request.transaction & 0xFF00) &&
                 out[1] == (request.transaction & 0xFF) &&
                 static_cast<size_t>(out[4] << 8 | out[5]) == out.size() - 6);
    }
    FUZZ_CHECK(framer.Pending() < qm::sim::kMbapHeader + qm::sim::kMaxPdu, "%zu bytes pending",
               framer.Pending());
  }
  // Every byte is framed, dropped or still pending.
  FUZZ_CHECK(fed == framed + framer.Dropped() + framer.Pending(),
             "fed %llu, framed %llu, dropped %llu, pending %zu", static_cast<unsigned long long>(fed),
             static_cast<unsigned long long>(framed), static_cast<unsigned long long>(framer.Dropped()),
             framer.Pending());
  return 0;
}
