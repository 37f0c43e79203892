// What qm7410-sim reads from its serial line: any bytes, arriving in any pieces at any moments, cut
// into request frames by the framer, decoded by a UART at other settings, and answered by the
// simulated meter.
//
// Input: pieces of [length][pause][bytes]: `length` bytes arrive `pause` half-milliseconds after the
// piece before (so a pause of more than 40 crosses the inter-frame silence).
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sim/request_framer.h"
#include "sim/sim_meter.h"
#include "sim/uart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::sim::RequestFramer framer(20.0);
  qm::sim::SimMeter meter;
  double now = 0;
  uint64_t fed = 0, framed = 0;
  size_t i = 0;
  while (i + 2 <= size) {
    const size_t length = std::min<size_t>(data[i], size - i - 2);
    now += data[i + 1] * 0.5;
    const uint8_t* piece = data + i + 2;
    i += 2 + length;
    fed += length;
    for (const std::vector<uint8_t>& frame : framer.Feed(piece, length, now)) {
      framed += frame.size();
      // A frame is a fixed 8-byte request or a write of several registers with its byte count, and
      // always ends with its CRC.
      const bool fixed = frame.size() == 8;
      const bool counted =
          frame.size() >= 9 && (frame[1] == 0x0F || frame[1] == 0x10) && frame.size() == 9u + frame[6];
      FUZZ_CHECK(fixed || counted, "frame of %zu bytes, function %d", frame.size(), frame[1]);
      FUZZ_CHECK(frame.size() <= 256 && fuzz::CrcOk(frame.data(), frame.size()));

      // The frame as a UART at other settings decodes it: no more characters than falling edges
      // (at most one per sent bit), and the very bytes at the same settings.
      static constexpr int32_t kBauds[] = {1200, 2400, 4800, 9600, 19200, 38400, 115200};
      static constexpr qm::link::Parity kParities[] = {qm::link::Parity::None, qm::link::Parity::Even,
                                                       qm::link::Parity::Odd};
      const qm::link::LineSettings tx{kBauds[frame[2] % 7], kParities[frame[3] % 3], 5 + frame[4] % 4,
                                      1 + frame[5] % 2};
      const qm::link::LineSettings rx{kBauds[frame[3] % 7], kParities[frame[4] % 3], 5 + frame[5] % 4, 1};
      const auto decoded = qm::sim::UartReceive(frame, tx, rx);
      FUZZ_CHECK(decoded.size() <= frame.size() * 6, "%zu characters from %zu bytes", decoded.size(),
                 frame.size());
      FUZZ_CHECK(qm::sim::UartGarble(frame, tx, tx) == frame);
      meter.AdvanceTo(static_cast<uint64_t>(now));
      const qm::link::LineSettings line{meter.Baud(), meter.Parity(), 8, 1};
      const uint8_t addressBefore = meter.Address();
      const auto reply = meter.Handle(frame, line).bytes;
      if (reply.empty()) {
        FUZZ_CHECK(frame[0] != addressBefore, "the meter kept silent on a frame for its own address");
        continue;
      }
      FUZZ_CHECK(frame[0] == addressBefore && reply[0] == addressBefore);
      FUZZ_CHECK(reply.size() >= 5 && fuzz::CrcOk(reply.data(), reply.size()));
      if (reply[1] == (frame[1] | 0x80)) {
        FUZZ_CHECK(reply.size() == 5, "exception reply of %zu bytes", reply.size());
      } else if (frame[1] == 0x03) {
        const size_t quantity = static_cast<size_t>(frame[4] << 8 | frame[5]);
        FUZZ_CHECK(reply[1] == 0x03 && reply[2] == 2 * quantity && reply.size() == 5 + 2 * quantity);
      } else {
        FUZZ_CHECK(frame[1] == 0x06 && reply == frame, "a write is answered by its echo");
      }
    }
    FUZZ_CHECK(framer.Pending() < 256, "%zu bytes pending", framer.Pending());
  }
  // Every byte is framed, dropped or still pending.
  FUZZ_CHECK(fed == framed + framer.Dropped() + framer.Pending(),
             "fed %llu, framed %llu, dropped %llu, pending %zu", static_cast<unsigned long long>(fed),
             static_cast<unsigned long long>(framed), static_cast<unsigned long long>(framer.Dropped()),
             framer.Pending());
  return 0;
}
