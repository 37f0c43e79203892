#include "link/find_response.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/crc16.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes frame) {
  const uint16_t crc = qm::CalcCrc16(frame.data(), static_cast<int16_t>(frame.size()));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  return frame;
}

// A read reply from `address` carrying `quantity` registers of distinct data.
Bytes ReadReply(uint8_t address, int quantity) {
  Bytes frame{address, 0x03, static_cast<uint8_t>(2 * quantity)};
  for (int i = 0; i < 2 * quantity; ++i) frame.push_back(static_cast<uint8_t>(0x30 + 7 * i));
  return WithCrc(frame);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

int16_t Find(const Bytes& b, uint8_t function, uint8_t address, int frameLength) {
  return qm::FindResponse(b.data(), static_cast<int16_t>(b.size()), function, address,
                          static_cast<int16_t>(frameLength));
}

TEST(FindResponse, FewerBytesThanAFrameExaminesNothing) {
  // A null buffer would crash if any byte were looked at.
  EXPECT_EQ(qm::FindResponse(nullptr, 6, 0x03, 1, 7), -1);
  EXPECT_EQ(qm::FindResponse(nullptr, 0, 0x06, 1, 8), -1);
  const Bytes reply = ReadReply(1, 1);
  EXPECT_EQ(Find(Bytes(reply.begin(), reply.end() - 1), 0x03, 1, 7), -1);
}

TEST(FindResponse, ExactlyOneFrameOfBytesTriesOnlyIndexZero) {
  const Bytes reply = ReadReply(1, 1);
  EXPECT_EQ(Find(reply, 0x03, 1, 7), 0);
  // One noise byte in front: with only 7 bytes counted the frame at index 1 lies partly outside.
  const Bytes shifted = Concat({{0x55}, reply});
  EXPECT_EQ(qm::FindResponse(shifted.data(), 7, 0x03, 1, 7), -1);
  EXPECT_EQ(qm::FindResponse(shifted.data(), 8, 0x03, 1, 7), 1);
}

TEST(FindResponse, TwoNoiseBytesThenReply) {
  EXPECT_EQ(Find(Concat({{0xFF, 0x00}, ReadReply(1, 26)}), 0x03, 1, 57), 2);
}

TEST(FindResponse, FirstOfTwoValidRepliesWins) {
  const Bytes a = ReadReply(1, 2);
  Bytes b = a;
  b[3] ^= 0x01;
  b = WithCrc(Bytes(b.begin(), b.end() - 2));
  EXPECT_EQ(Find(Concat({{0x11}, a, b}), 0x03, 1, 9), 1);
  EXPECT_EQ(Find(Concat({{0x11, 0x22, 0x33}, b, a}), 0x03, 1, 9), 3);
}

TEST(FindResponse, RejectsDamagedOrForeignReplies) {
  const Bytes good = ReadReply(7, 2);
  struct Case {
    const char* what;
    Bytes bytes;
  };
  Bytes swapped = good;
  std::swap(swapped[swapped.size() - 2], swapped[swapped.size() - 1]);
  Bytes otherAddress = good;
  otherAddress[0] = 8;
  Bytes otherAddressResigned = WithCrc(Bytes(otherAddress.begin(), otherAddress.end() - 2));
  Bytes otherFunction = WithCrc({7, 0x04, 4, 1, 2, 3, 4});
  Bytes exception = WithCrc({7, 0x83, 0x02});
  Bytes flipped = good;
  flipped[4] ^= 0x10;
  const Case cases[] = {
      {"CRC bytes exchanged", swapped},
      {"other address, CRC of the original", otherAddress},
      {"other address, own CRC", otherAddressResigned},
      {"other function code", otherFunction},
      {"exception reply, padded to length", Concat({exception, {0, 0, 0, 0}})},
      {"data bit flipped", flipped},
  };
  for (const Case& c : cases) EXPECT_EQ(Find(c.bytes, 0x03, 7, 9), -1) << c.what;
}

TEST(FindResponse, WrongByteCountFieldWithRightCrcIsAccepted) {
  Bytes reply = ReadReply(1, 2);
  reply[2] = 0x63;
  reply = WithCrc(Bytes(reply.begin(), reply.end() - 2));
  EXPECT_EQ(Find(reply, 0x03, 1, 9), 0);
}

TEST(FindResponse, WriteEchoIsEightBytes) {
  const Bytes echo = WithCrc({1, 0x06, 0x03, 0x08, 0x00, 0x04});
  EXPECT_EQ(Find(Concat({{0x01}, echo}), 0x06, 1, 8), 1);
  EXPECT_EQ(Find(echo, 0x03, 1, 8), -1);
}

// Every valid frame, with noise around it, is found exactly where it starts; cut short anywhere it is
// never found.
TEST(FindResponse, FrameIsFoundWhereverItSits) {
  const std::vector<Bytes> frames = {ReadReply(1, 1), ReadReply(0x2A, 2), ReadReply(1, 26),
                                     ReadReply(0xF7, 41), WithCrc({1, 0x06, 0x00, 0x00, 0x00, 0x05})};
  uint32_t seed = 7;
  auto noise = [&seed](size_t n, uint8_t avoid) {
    Bytes out;
    while (out.size() < n) {
      seed = seed * 1103515245 + 12345;
      const auto b = static_cast<uint8_t>(seed >> 16);
      if (b != avoid) out.push_back(b);
    }
    return out;
  };
  for (const Bytes& frame : frames) {
    const uint8_t address = frame[0], function = frame[1];
    const int length = static_cast<int>(frame.size());
    for (size_t before = 0; before + frame.size() <= 400; before += (before < 24 ? 1 : 37)) {
      for (size_t after : {size_t{0}, size_t{1}, size_t{5}}) {
        const Bytes buffer = Concat({noise(before, address), frame, noise(after, address)});
        if (buffer.size() > 400) continue;
        EXPECT_EQ(Find(buffer, function, address, length), static_cast<int16_t>(before))
            << "length " << length << " at " << before << " with " << after << " after";
      }
    }
    for (int cut = 0; cut < length; ++cut) {
      const Bytes buffer = Concat({noise(3, address), Bytes(frame.begin(), frame.begin() + cut)});
      EXPECT_EQ(Find(buffer, function, address, length), -1) << "length " << length << " cut at " << cut;
    }
  }
}

}  // namespace
