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
    EXPECT_EQ(qm::link::FindResponse(bytes.data(), static_cast<int16_t>(bytes.size()), 0x03, 1, 9), index)
        << what;
}

}  // namespace
