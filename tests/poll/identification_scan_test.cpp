#include <gtest/gtest.h>

#include "poll/address_scan.h"
#include "poll/identification.h"
#include "poll/text_format.h"

namespace {

using namespace qm::poll;

TEST(IdentificationTitle, VersionPieces) {
  const struct {
    uint16_t model, version;
    const char* expected;
  } cases[] = {
      {3100, 1203, "VM3100智能电力监测仪------Velmora(1.2.03版)"},
      {3100, 12345, "VM3100智能电力监测仪------Velmora(1.2.34版)"},
      {7410, 95, "VM7410智能电力监测仪------Velmora(9.5.版)"},
      {7410, 0, "VM7410智能电力监测仪------Velmora(0..版)"},
      {0, 123, "VM0智能电力监测仪------Velmora(1.2.3版)"},
      {65535, 65535, "VM65535智能电力监测仪------Velmora(6.5.53版)"},
  };
  for (const auto& c : cases) EXPECT_EQ(IdentificationTitle(c.model, c.version), c.expected) << c.version;
}

TEST(AddressScan, ProbeOrderNeverHits255) {
  EXPECT_EQ(ProbeAddressFor(1), 1);
  EXPECT_EQ(ProbeAddressFor(254), 254);
  EXPECT_EQ(ProbeAddressFor(255), 0);
  EXPECT_EQ(ProbeAddressFor(256), 0);
  EXPECT_EQ(ProbeAddressFor(0), 0);
}

TEST(AddressScan, HitStatusText) {
  EXPECT_EQ(ScanHitStatusText(1, 9600, 0), "串行口:1\r\n\r\n波特率: 9600\r\n\r\n校验位:无校验");
  EXPECT_EQ(ScanHitStatusText(3, 19200, 1), "串行口:3\r\n\r\n波特率: 19200\r\n\r\n校验位:奇校验");
  EXPECT_EQ(ScanHitStatusText(2, 1200, 2), "串行口:2\r\n\r\n波特率: 1200\r\n\r\n校验位:偶校验");
  EXPECT_EQ(ScanHitStatusText(1, 4800, 3), "串行口:1\r\n\r\n波特率: 4800\r\n\r\n");
  EXPECT_EQ(ScanHitStatusText(1, 4800, -1), "串行口:1\r\n\r\n波特率: 4800\r\n\r\n");
}

TEST(TextFormat, ListIndexOrNone) {
  EXPECT_EQ(ListIndexOrNone(0, 8), 0);
  EXPECT_EQ(ListIndexOrNone(7, 8), 7);
  EXPECT_EQ(ListIndexOrNone(8, 8), -1);
  EXPECT_EQ(ListIndexOrNone(-1, 8), -1);
  EXPECT_EQ(ListIndexOrNone(35, 36), 35);
  EXPECT_EQ(ListIndexOrNone(255, 36), -1);
  EXPECT_EQ(ListIndexOrNone(0, 0), -1);
}

TEST(TextFormat, PrintfHandlesLongOutput) {
  const std::string s = Printf("%.3f", 1e300);
  EXPECT_EQ(s.size(), 305u);
  EXPECT_EQ(Printf("%s", "%d%n"), "%d%n");  // data is never a format
}

}  // namespace
