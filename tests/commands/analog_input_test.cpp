#include "commands/analog_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using qm::AnalogClass;
using qm::AnalogWriteOutcome;
using qm::RegisterWrite;
using qm::ReplyMode;

TEST(AnalogClass, EveryCodeHasItsClass) {
  const AnalogClass V = AnalogClass::Voltage, I = AnalogClass::Current, F = AnalogClass::Frequency,
                    P = AnalogClass::Power, PF = AnalogClass::PowerFactor, S = AnalogClass::ApparentPower;
  const AnalogClass expected[36] = {
      AnalogClass::None, V, V, I, F, P, PF, P, S,  // 0..8
      V, V, I, F, P, PF, P, S,                     // 9..16
      V, V, I, F, P, PF, P, S,                     // 17..24
      V, V, I, F, P, PF, P, S,                     // 25..32
      AnalogClass::Limit, AnalogClass::Limit, AnalogClass::FixedValue};
  for (int code = 0; code < 36; ++code) EXPECT_EQ(qm::AnalogClassOf(code), expected[code]) << code;
  EXPECT_EQ(qm::AnalogClassOf(-1), AnalogClass::Invalid);
  EXPECT_EQ(qm::AnalogClassOf(36), AnalogClass::Invalid);
}

TEST(AnalogRegisters, MapOfTheRow) {
  EXPECT_EQ(qm::AnalogRightRegister(0), 0x005E);
  EXPECT_EQ(qm::AnalogLeftRegister(0), 0x039E);
  EXPECT_EQ(qm::AnalogRightRegister(1), 0x0060);
  EXPECT_EQ(qm::AnalogLeftRegister(1), 0x03A0);
  EXPECT_EQ(qm::AnalogRightRegister(32), 0x009E);
  EXPECT_EQ(qm::AnalogLeftRegister(32), 0x03DE);
  for (int code : {33, 34}) {
    EXPECT_EQ(qm::AnalogRightRegister(code), 0x0034);
    EXPECT_EQ(qm::AnalogLeftRegister(code), 0x0336);
  }
  EXPECT_EQ(qm::AnalogRightRegister(35), 0x0032);
  EXPECT_FALSE(qm::AnalogLeftRegister(35));
  for (int code : {-1, 36, 255}) {
    EXPECT_FALSE(qm::AnalogRightRegister(code));
    EXPECT_FALSE(qm::AnalogLeftRegister(code));
  }
}

TEST(LeadingNumber, ReadsWhatTheTextBeginsWith) {
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"220", 220},      {"  12.5V", 12.5},  {"-5", -5},      {"+3", 3},        {".5", 0.5},
      {"5.", 5},         {"1e3", 1000},      {"2.5E-1", 0.25}, {"2e", 2},       {"2e+", 2},
      {"007", 7},        {"\t-0.25 A", -0.25}, {"1,5", 1},     {"1 000", 1},     {"", 0},
      {"abc", 0},        {"-", 0},           {"+.", 0},       {".", 0},         {"  / ", 0},
      {"inf", 0},        {"nan", 0},         {"0x10", 0},     {"--1", 0},       {"２２０", 0},
      {"1e-400", 0},     {"0.000", 0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(qm::LeadingNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(LeadingNumber, TooLargeForADoubleIsInfinite) {
  EXPECT_EQ(qm::LeadingNumber("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(qm::LeadingNumber("-1e99999999999"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(qm::LeadingNumber(std::string(400, '9')), std::numeric_limits<double>::infinity());
  EXPECT_EQ(qm::LeadingNumber("0.0001e-400"), 0.0);
}

TEST(AnalogRegisterValue, ConversionByClass) {
  struct Case {
    int code;
    double x;
    uint32_t pt, ct;
    uint16_t value;
  };
  const Case cases[] = {
      {1, 220, 1, 1, 22000},       // voltage: x * 100 / PT
      {1, 0, 1, 1, 0},
      {10, 11000, 100, 1, 11000},  // 11 kV on a PT of 100
      {26, 99.999, 3, 1, 3333},    // truncated, not rounded
      {3, 100, 1, 200, 5000},      // current: x * 10000 / CT
      {27, 5, 1, 1, 50000},
      {4, 45, 1, 1, 42129},        // frequency: x / 0.00106813
      {4, 65, 1, 1, 60854},
      {4, 70, 1, 1, 65535},        // 65535.2: the top of the range
      {28, 50, 7, 9, 46810},       // ratios do not matter for frequency
      {5, 400, 1, 1, 1000},        // active power: x / (PT * 0.4 * CT)
      {7, 4000, 10, 5, 200},       // reactive power, same factors
      {5, -80, 1, 1, 0xFF38},      // -200 in two's complement
      {6, 1, 1, 1, 10000},         // power factor: x / 0.0001
      {6, -0.5, 1, 1, 0xEC78},     // -5000
      {8, 400, 1, 1, 2000},        // apparent power: x / (PT * 0.2 * CT)
      {32, 1000, 5, 2, 500},
      {33, 300, 50, 50, 300},      // limits: raw
      {34, -5, 1, 1, 0xFFFB},
      {35, 500, 9, 9, 500},        // fixed value: raw
      {33, 65535, 1, 1, 65535},    // the range's ends
      {33, -32768, 1, 1, 0x8000},
      {33, 65535.9, 1, 1, 65535},  // truncation brings it back inside
      {33, -32768.9, 1, 1, 0x8000},
      {33, -0.9, 1, 1, 0},         // toward zero, not down
  };
  for (const Case& c : cases) {
    const auto v = qm::AnalogRegisterValue(c.code, c.x, c.pt, c.ct);
    ASSERT_TRUE(v) << "code " << c.code << " x " << c.x;
    EXPECT_EQ(*v, c.value) << "code " << c.code << " x " << c.x;
  }
}

TEST(AnalogRegisterValue, RefusesWhatDoesNotFitSixteenBits) {
  struct Case {
    int code;
    double x;
    uint32_t pt, ct;
  };
  const Case cases[] = {
      {33, 65536, 1, 1},
      {33, -32769, 1, 1},
      {1, 656, 1, 1},        // 65600
      {1, -328, 1, 1},       // -32800
      {3, 7, 1, 1},          // 70000
      {4, 71, 1, 1},         // 66471
      {6, 7, 1, 1},          // 70000
      {6, -4, 1, 1},         // -40000
      {1, 1, 0, 1},          // a PT of 0 read from the meter
      {1, 0, 0, 1},          // 0 / 0
      {5, 1, 1, 0},          // a CT of 0
      {33, std::numeric_limits<double>::infinity(), 1, 1},
      {0, 1, 1, 1},          // "无" has no conversion
      {36, 1, 1, 1},
      {-1, 1, 1, 1},
  };
  for (const Case& c : cases)
    EXPECT_FALSE(qm::AnalogRegisterValue(c.code, c.x, c.pt, c.ct)) << "code " << c.code << " x " << c.x;
}

TEST(PlanAnalogWrite, SelectionThenRightThenLeft) {
  struct Case {
    int code;
    const char* left;
    const char* right;
    uint32_t pt, ct;
    std::vector<RegisterWrite> writes;
  };
  const Case cases[] = {
      {1, "0", "220", 1, 1, {{0x0030, 1, ReplyMode::None}, {0x0060, 22000, ReplyMode::None}, {0x03A0, 0, ReplyMode::Drain}}},
      {3, "", "100", 1, 200, {{0x0030, 3, ReplyMode::None}, {0x0064, 5000, ReplyMode::None}, {0x03A4, 0, ReplyMode::Drain}}},
      {4, "45", "65", 1, 1, {{0x0030, 4, ReplyMode::None}, {0x0066, 60854, ReplyMode::None}, {0x03A6, 42129, ReplyMode::Drain}}},
      {6, "0", "1", 1, 1, {{0x0030, 6, ReplyMode::None}, {0x006A, 10000, ReplyMode::None}, {0x03AA, 0, ReplyMode::Drain}}},
      {33, "300", "100", 1, 1, {{0x0030, 33, ReplyMode::None}, {0x0034, 100, ReplyMode::None}, {0x0336, 300, ReplyMode::Drain}}},
      {34, "-5", "7", 1, 1, {{0x0030, 34, ReplyMode::None}, {0x0034, 7, ReplyMode::None}, {0x0336, 0xFFFB, ReplyMode::Drain}}},
      // The fixed value has no left value: "  / " in the left box is not even looked at.
      {35, "  / ", "500", 1, 1, {{0x0030, 35, ReplyMode::None}, {0x0032, 500, ReplyMode::None}}},
      {35, "99999", "1", 1, 1, {{0x0030, 35, ReplyMode::None}, {0x0032, 1, ReplyMode::None}}},
      // "无": the selection only, whatever the boxes hold.
      {0, "12", "99999999", 1, 1, {{0x0030, 0, ReplyMode::None}}},
  };
  for (const Case& c : cases) {
    const auto plan = qm::PlanAnalogWrite(c.code, c.left, c.right, c.pt, c.ct);
    EXPECT_EQ(plan.outcome, AnalogWriteOutcome::Write) << c.code;
    EXPECT_EQ(plan.writes, c.writes) << c.code;
  }
}

TEST(PlanAnalogWrite, NothingToSendWhenAValueIsOutOfRangeOrNoItemIsSelected) {
  struct Case {
    int code;
    const char* left;
    const char* right;
    AnalogWriteOutcome outcome;
  };
  const Case cases[] = {
      {1, "0", "656", AnalogWriteOutcome::OutOfRange},      // right too big
      {1, "-328", "0", AnalogWriteOutcome::OutOfRange},     // left too small
      {33, "65536", "1", AnalogWriteOutcome::OutOfRange},
      {34, "1", "-32769", AnalogWriteOutcome::OutOfRange},
      {35, "0", "1e9", AnalogWriteOutcome::OutOfRange},
      {-1, "1", "1", AnalogWriteOutcome::NoSelection},      // typed text in the selection box
      {36, "1", "1", AnalogWriteOutcome::NoSelection},
  };
  for (const Case& c : cases) {
    const auto plan = qm::PlanAnalogWrite(c.code, c.left, c.right, 1, 1);
    EXPECT_EQ(plan.outcome, c.outcome) << c.code << " " << c.left << " " << c.right;
    EXPECT_TRUE(plan.writes.empty());
  }
}

}  // namespace
