// Modbus TCP framing on the simulator's side: requests cut out of a byte stream as TCP delivers it.
#include "sim/mbap.h"

#include <gtest/gtest.h>

namespace {

using qm::sim::MbapFramer;
using qm::sim::MbapRequest;
using Bytes = std::vector<uint8_t>;

// Read 2 registers at 0x0300 from unit 1, transaction `tid`.
Bytes Read(uint8_t tid) { return {0x00, tid, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x03, 0x00, 0x00, 0x02}; }

std::vector<uint16_t> Tids(const std::vector<MbapRequest>& requests) {
  std::vector<uint16_t> out;
  for (const auto& r : requests) out.push_back(r.transaction);
  return out;
}

TEST(MbapFramer, RequestsInPiecesOrTogether) {
  MbapFramer f;
  const Bytes one = Read(7);
  EXPECT_TRUE(f.Feed(one.data(), 3).empty());
  EXPECT_TRUE(f.Feed(one.data() + 3, 5).empty());
  const auto got = f.Feed(one.data() + 8, 4);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].transaction, 7);
  EXPECT_EQ(got[0].unit, 1);
  EXPECT_EQ(got[0].pdu, (Bytes{0x03, 0x03, 0x00, 0x00, 0x02}));

  Bytes three = Read(1);
  for (uint8_t t : {2, 3}) {
    const Bytes r = Read(t);
    three.insert(three.end(), r.begin(), r.end());
  }
  three.push_back(0x00);  // the start of a fourth
  EXPECT_EQ(Tids(f.Feed(three.data(), three.size())), (std::vector<uint16_t>{1, 2, 3}));
  EXPECT_EQ(f.Pending(), 1u);
  EXPECT_EQ(f.Dropped(), 0u);
}

TEST(MbapFramer, ALengthThatDoesNotFitTheFunctionDropsThatRequestOnly) {
  MbapFramer f;
  Bytes wrong = Read(1);
  wrong[5] = 0x07;  // one byte too many for a read
  wrong.push_back(0xAA);
  const Bytes next = Read(2);
  wrong.insert(wrong.end(), next.begin(), next.end());
  EXPECT_EQ(Tids(f.Feed(wrong.data(), wrong.size())), std::vector<uint16_t>{2});
  EXPECT_EQ(f.Dropped(), 13u);
  const auto reasons = f.TakeDropReasons();
  ASSERT_EQ(reasons.size(), 1u);
  EXPECT_NE(reasons[0].find("length 7"), std::string::npos) << reasons[0];
  EXPECT_TRUE(f.TakeDropReasons().empty());

  // A write of several registers carries its byte count: 2 registers, 4 bytes, length 11.
  const Bytes multi{0, 9, 0, 0, 0, 11, 1, 0x10, 0x00, 0x0E, 0x00, 0x02, 0x04, 0x00, 0x64, 0x00, 0x32};
  EXPECT_EQ(Tids(f.Feed(multi.data(), multi.size())), std::vector<uint16_t>{9});
}

TEST(MbapFramer, AHeaderNoFrameHasLosesTheStream) {
  MbapFramer f;
  Bytes junk{0x00, 0x01, 0x12, 0x34, 0x00, 0x06, 0x01, 0x03};  // protocol id 0x1234
  EXPECT_TRUE(f.Feed(junk.data(), junk.size()).empty());
  EXPECT_EQ(f.Pending(), 0u);
  EXPECT_EQ(f.Dropped(), 8u);
  const Bytes huge{0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01};  // 256 bytes would follow
  EXPECT_TRUE(f.Feed(huge.data(), huge.size()).empty());
  EXPECT_EQ(f.Pending(), 0u);
  const Bytes good = Read(4);
  EXPECT_EQ(Tids(f.Feed(good.data(), good.size())), std::vector<uint16_t>{4});
}

}  // namespace
