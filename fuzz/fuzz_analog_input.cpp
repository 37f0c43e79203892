// The analog row's typed values: any two texts, any selection code, any PT and CT (0 and 65535
// included), through the number reading, the conversion of every class and the plan of writes.
//
// Input: a 7-byte header, then the two texts (left, a line feed, right; one text serves both when
// there is no line feed).
//   0     selection code: values below 200 are codes 0..39 (modulo 40), the rest -56..-1
//   1-3   PT: byte 1 modulo 4 picks 0, 1, 65535 or the value of bytes 2-3
//   4-6   CT, likewise
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands/analog_input.h"
#include "fuzz/fuzz_check.h"
#include "text/number_text.h"

namespace {

uint32_t Ratio(const uint8_t* d) {
  switch (d[0] % 4) {
    case 0:
      return 0;
    case 1:
      return 1;
    case 2:
      return 65535;
    default:
      return static_cast<uint32_t>(d[1] << 8 | d[2]);
  }
}

// The leading number as the C library reads it, for comparison; false where the two readers are
// meant to differ (hexadecimal, infinity and NaN spellings are no numbers to the program).
bool StrtodReading(const std::string& text, double& value, bool& outOfRange) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  value = std::strtod(begin, &end);
  outOfRange = errno == ERANGE;
  for (const char* p = begin; p < end; ++p)
    if (std::strchr("xXiInN", *p) != nullptr) return false;
  return true;
}

void CheckLeadingNumber(const std::string& text) {
  const double x = qm::text::LeadingNumber(text);
  double expected = 0;
  bool outOfRange = false;
  if (text.find('\0') != std::string::npos || !StrtodReading(text, expected, outOfRange)) return;
  if (outOfRange && std::isinf(expected)) {
    FUZZ_CHECK(x == expected, "'%s': %g, strtod %g", text.c_str(), x, expected);
  } else if (outOfRange) {  // too small: zero or a subnormal, either will do
    FUZZ_CHECK(std::fabs(x) < 1e-300, "'%s': %g", text.c_str(), x);
  } else {
    FUZZ_CHECK(x == expected, "'%s': %.17g, strtod %.17g", text.c_str(), x, expected);
  }
}

// The register value the typed `x` stands for, before it is cut to an integer; NaN for codes that
// have no conversion. By class: voltages, currents, frequencies, active and reactive powers, power
// factors, apparent powers; limits and the fixed value are taken as typed.
long double Ideal(int code, double x, uint32_t pt, uint32_t ct) {
  const long double X = x, PT = pt, CT = ct;
  if (code == 33 || code == 34 || code == 35) return X;
  if (code < 1 || code > 32) return NAN;
  switch ((code - 1) % 8) {
    case 0:
    case 1:
      return X * 100 / PT;
    case 2:
      return X * 10000 / CT;
    case 3:
      return X / 0.00106813L;
    case 4:
    case 6:
      return X / (PT * 0.4L * CT);
    case 5:
      return X / 0.0001L;
    default:
      return X / (PT * 0.2L * CT);
  }
}

// A converted value is refused, or it is a register value whose meaning (as unsigned or as two's
// complement) lies within -32768..65535 and within one count of what was typed.
void CheckConversion(int code, double x, uint32_t pt, uint32_t ct) {
  const std::optional<uint16_t> value = qm::commands::AnalogRegisterValue(code, x, pt, ct);
  const long double q = Ideal(code, x, pt, ct);
  if (!value) return;
  FUZZ_CHECK(std::isfinite(q), "code %d, x %g, PT %u, CT %u accepted as %u", code, x, pt, ct, *value);
  const long double tolerance = 1 + std::fabs(q) * 1e-12L;
  const bool near = std::fabs(static_cast<long double>(*value) - q) < tolerance ||
                    std::fabs(static_cast<long double>(*value) - 65536 - q) < tolerance;
  FUZZ_CHECK(near, "code %d, x %.17g, PT %u, CT %u: %u for %.17Lg", code, x, pt, ct, *value, q);
  FUZZ_CHECK(q > -32769.0L && q < 65536.0L, "code %d: %.17Lg accepted", code, q);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 7) return 0;
  const int code = data[0] < 200 ? data[0] % 40 : data[0] - 256;
  const uint32_t pt = Ratio(data + 1);
  const uint32_t ct = Ratio(data + 4);
  const std::string text(reinterpret_cast<const char*>(data + 7), size - 7);
  const size_t split = text.find('\n');
  const std::string left = split == std::string::npos ? text : text.substr(0, split);
  const std::string right = split == std::string::npos ? text : text.substr(split + 1);

  CheckLeadingNumber(left);
  CheckLeadingNumber(right);
  const double xl = qm::text::LeadingNumber(left), xr = qm::text::LeadingNumber(right);
  for (int c = -1; c <= 36; ++c) {
    CheckConversion(c, xl, pt, ct);
    CheckConversion(c, xr, pt, ct);
  }
  // Ratios the meter can hold, at the edges.
  for (uint32_t ratio : {0u, 1u, 65535u}) {
    CheckConversion(code, xr, ratio, ct);
    CheckConversion(code, xr, pt, ratio);
  }

  // The plan: the selection first, then the right value, then (except for the fixed value) the left
  // one, each converted as above; nothing at all when a value is refused or no item is selected.
  const qm::commands::AnalogWrite plan = qm::commands::PlanAnalogWrite(code, left, right, pt, ct);
  if (code < 0 || code > 35) {
    FUZZ_CHECK(plan.outcome == qm::commands::AnalogWriteOutcome::NoSelection && plan.writes.empty());
    return 0;
  }
  if (plan.outcome != qm::commands::AnalogWriteOutcome::Write) {
    FUZZ_CHECK(plan.outcome == qm::commands::AnalogWriteOutcome::OutOfRange && plan.writes.empty() &&
               code != 0);
    const bool refused = !qm::commands::AnalogRegisterValue(code, xr, pt, ct) ||
                         (code != 35 && !qm::commands::AnalogRegisterValue(code, xl, pt, ct));
    FUZZ_CHECK(refused, "code %d refused values that convert", code);
    return 0;
  }
  FUZZ_CHECK(!plan.writes.empty() && plan.writes[0].reg == 0x0030 && plan.writes[0].value == code);
  if (code == 0) return 0;
  const uint16_t rightReg = code == 35   ? 0x0032
                            : code >= 33 ? 0x0034
                                         : static_cast<uint16_t>(0x005E + 2 * code);
  FUZZ_CHECK(plan.writes.size() == (code == 35 ? 2u : 3u), "code %d: %zu writes", code, plan.writes.size());
  FUZZ_CHECK(plan.writes[1].reg == rightReg &&
             plan.writes[1].value == qm::commands::AnalogRegisterValue(code, xr, pt, ct));
  if (code != 35) {
    const uint16_t leftReg = code >= 33 ? 0x0336 : static_cast<uint16_t>(0x039E + 2 * code);
    FUZZ_CHECK(plan.writes[2].reg == leftReg &&
               plan.writes[2].value == qm::commands::AnalogRegisterValue(code, xl, pt, ct));
  }
  return 0;
}
