#include "link/find_response.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "link/crc16.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes frame) {
  const uint16_t crc = qm::link::CalcCrc16(frame.data(), static_cast<int16_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  return frame;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(FindResponse, EdgeCases) {
  EXPECT_EQ(qm::link::FindResponse(nullptr, 8, 0x03, 1, 9), -1);  // too few bytes: none is looked at
  const Bytes reply = WithCrc({1, 0x03, 4, 1, 2, 3, 4});
  const Bytes shifted = Concat({{0x55}, reply});
  EXPECT_EQ(qm::link::FindResponse(shifted.data(), 9, 0x03, 1, 9), -1);  // only a frame's worth counted
  const std::tuple<const char*, Bytes, int16_t> cases[] = {
      {"one byte short", Bytes(reply.begin(), reply.end() - 1), -1},
      {"exactly one frame", reply, 0},
      {"two noise bytes first", Concat({{0xFF, 0x00}, reply}), 2},
      {"first of two replies", Concat({{0x11}, reply, WithCrc({1, 0x03, 4, 9, 9, 9, 9})}), 1},
      {"CRC bytes swapped", {1, 0x03, 4, 1, 2, 3, 4, reply[8], reply[7]}, -1},
      {"other address", WithCrc({2, 0x03, 4, 1, 2, 3, 4}), -1},
      {"other function", WithCrc({1, 0x04, 4, 1, 2, 3, 4}), -1},
      {"exception", Concat({WithCrc({1, 0x83, 0x02}), {0, 0, 0, 0}}), -1},
      {"wrong byte count, right CRC", WithCrc({1, 0x03, 0x63, 1, 2, 3, 4}), 0},
  };
  for (const auto& [what, bytes, index] : cases)
    EXPECT_EQ(qm::link::FindResponse(bytes.data(), static_cast<int16_t>(bytes.size()), 0x03, 1, 9), index) << what;
}

// Every valid frame, at every offset with noise around it, is found exactly where it starts; cut
// short it never is.
TEST(FindResponse, FrameIsFoundWhereverItSits) {
  Bytes longest{0xF7, 0x03, 82};
  for (int i = 0; i < 82; ++i) longest.push_back(static_cast<uint8_t>(0x30 + 7 * i));
  const Bytes frames[] = {WithCrc({1, 0x03, 2, 0x12, 0x34}), WithCrc({0x2A, 0x03, 4, 0xF7, 0x03, 0, 0}),
                          WithCrc(longest), WithCrc({1, 0x06, 0x00, 0x00, 0x00, 0x05})};
  uint32_t seed = 7;
  auto noise = [&seed](size_t n, uint8_t avoid) {
    Bytes out;
    while (out.size() < n) {
      seed = seed * 1103515245 + 12345;
      if (const auto b = static_cast<uint8_t>(seed >> 16); b != avoid) out.push_back(b);
    }
    return out;
  };
  auto find = [](const Bytes& b, const Bytes& f) {
    return qm::link::FindResponse(b.data(), static_cast<int16_t>(b.size()), f[1], f[0],
                            static_cast<int16_t>(f.size()));
  };
  for (const Bytes& frame : frames) {
    for (size_t before = 0; before + frame.size() + 5 <= 400; ++before) {
      for (size_t after : {0, 1, 5}) {
        const Bytes buffer = Concat({noise(before, frame[0]), frame, noise(after, frame[0])});
        EXPECT_EQ(find(buffer, frame), static_cast<int16_t>(before)) << frame.size() << " at " << before;
      }
    }
    for (size_t cut = 0; cut < frame.size(); ++cut) {
      const Bytes buffer = Concat({noise(3, frame[0]), Bytes(frame.begin(), frame.begin() + cut)});
      EXPECT_EQ(find(buffer, frame), -1) << frame.size() << " cut at " << cut;
    }
  }
}

}  // namespace
