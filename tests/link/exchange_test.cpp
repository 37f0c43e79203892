// The exchange's copy of the received bytes into the receive buffer. What it makes of every fault
// the meter can commit is tested through the poll cycle.
#include "link/exchange.h"

#include <gtest/gtest.h>

#include <numeric>
#include <tuple>

namespace {

TEST(CopyReceived, NeverRunsPastTheArrayOrTheBuffer) {
  // bytes counted as received, bytes delivered, bytes copied
  const std::tuple<int16_t, size_t, int16_t> cases[] = {{0, 10, 0},    {10, 10, 10},      {10, 4, 4},
                                                        {-1, 10, 0},   {400, 500, 400},   {401, 500, 400},
                                                        {32767, 3, 3}, {32767, 500, 400}, {-32768, 500, 0}};
  for (const auto& [count, size, copied] : cases) {
    std::vector<uint8_t> delivered(size);
    std::iota(delivered.begin(), delivered.end(), uint8_t{1});
    qm::link::ReceiveBuffer rx;
    rx.fill(0xEE);
    EXPECT_EQ(qm::link::CopyReceived(delivered, count, rx), copied) << count << " of " << size;
    EXPECT_TRUE(std::equal(rx.begin(), rx.begin() + copied, delivered.begin())) << count;
    EXPECT_TRUE(copied == qm::link::kReceiveSize || rx[static_cast<size_t>(copied)] == 0xEE)
        << "copied too much";
  }
}

}  // namespace
