// The Modbus TCP reader: any bytes from a gateway, cut into pieces anywhere. What comes out must not
// depend on where the stream was cut, and every frame that comes out must be a reply to the expected
// transaction that stood in the stream as such, turned into an RTU frame with its CRC.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/gateway.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Frames(const Bytes& rtu) {
  // The output is a run of frames; each one's length follows from its function.
  std::vector<Bytes> frames;
  size_t at = 0;
  while (at < rtu.size()) {
    FUZZ_CHECK(at + 5 <= rtu.size(), "a frame shorter than an exception reply");
    const uint8_t fn = rtu[at + 1];
    const size_t length = (fn & 0x80) ? 5 : fn == 0x03 ? 5 + size_t{rtu[at + 2]} : fn == 0x06 ? 8 : 0;
    FUZZ_CHECK(length != 0, "a reply with function 0x%02X, which the program never asks for", fn);
    FUZZ_CHECK(at + length <= rtu.size() && fuzz::CrcOk(rtu.data() + at, length), "a frame without its CRC");
    frames.emplace_back(rtu.begin() + static_cast<std::ptrdiff_t>(at),
                        rtu.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const auto expected = static_cast<uint16_t>(data[0] << 8 | data[1]);
  const size_t cuts = data[2] % 8;
  if (size < 3 + cuts) return 0;
  const Bytes stream(data + 3 + cuts, data + size);

  qm::link::MbapReader whole;
  whole.Expect(expected);
  Bytes one;
  whole.Feed(stream.data(), stream.size(), one);

  qm::link::MbapReader pieces;
  pieces.Expect(expected);
  Bytes cut;
  std::vector<size_t> at;
  for (size_t i = 0; i < cuts; ++i) at.push_back(stream.empty() ? 0 : data[3 + i] % (stream.size() + 1));
  std::sort(at.begin(), at.end());
  size_t from = 0;
  for (size_t to : at) {
    pieces.Feed(stream.data() + from, to - from, cut);
    from = to;
    FUZZ_CHECK(pieces.Pending() <= qm::link::MbapReader::kHeaderSize - 1 + qm::link::MbapReader::kMaxLength);
  }
  pieces.Feed(stream.data() + from, stream.size() - from, cut);
  FUZZ_CHECK(one == cut, "the output depends on where the stream was cut");

  // Every frame: unit id and PDU as they stood behind a header with the expected id and protocol 0.
  for (const Bytes& frame : Frames(one)) {
    Bytes mbap{uint8_t(expected >> 8),           uint8_t(expected),        0, 0,
               uint8_t((frame.size() - 2) >> 8), uint8_t(frame.size() - 2)};
    mbap.insert(mbap.end(), frame.begin(), frame.end() - 2);
    FUZZ_CHECK(std::search(stream.begin(), stream.end(), mbap.begin(), mbap.end()) != stream.end(),
               "a frame of %zu bytes that was not in the stream", frame.size());
  }
  return 0;
}
