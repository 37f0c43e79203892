// The dialog layer's data exchange of typed numbers: any text in an edit, read into a byte (with its
// range check), a signed or an unsigned 32-bit integer (with its range check) or a double, on a real
// dialog under the offscreen platform.
//
// Input: a 9-byte header, then the text (UTF-8, invalid sequences included).
//   0     the member (modulo 4): byte, signed, unsigned, double
//   1-2   the byte's range, lowest and highest
//   3-8   the unsigned's range: lowest in bytes 3-5, highest in bytes 6-8 (24 bits each, high first)
#include <QApplication>
#include <QRegularExpression>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "framework/dialog.h"
#include "fuzz/fuzz_check.h"

namespace {

const std::vector<fw::ControlTemplate> kControls = {
    {1001, fw::Kind::Edit, "", 10, 10, 60, 12, fw::kTabStop | fw::kBorder},
    {1002, fw::Kind::Edit, "", 10, 25, 60, 12, fw::kTabStop | fw::kBorder},
    {1003, fw::Kind::Edit, "", 10, 40, 60, 12, fw::kTabStop | fw::kBorder},
    {1004, fw::Kind::Edit, "", 10, 55, 60, 12, fw::kTabStop | fw::kBorder},
};
const fw::DialogTemplate kTemplate{900, "数据", "宋体", 10, 100, 80, true, false, kControls, {}};

enum Member { kByte, kSigned, kUnsigned, kDouble };

class NumbersDlg : public fw::CDialog {
 public:
  NumbersDlg() : fw::CDialog(kTemplate) {}
  int member = kByte;
  uint8_t byteMin = 0, byteMax = 255;
  uint32_t unsignedMin = 0, unsignedMax = UINT32_MAX;
  uint8_t byteValue = 0;
  int32_t signedValue = 0;
  uint32_t unsignedValue = 0;
  double doubleValue = 0;

  void DoDataExchange(fw::CDataExchange* pDX) override {
    switch (member) {
      case kByte:
        fw::DDX_Text(pDX, 1001, byteValue);
        fw::DDV_MinMaxByte(pDX, byteValue, byteMin, byteMax);
        break;
      case kSigned:
        fw::DDX_Text(pDX, 1002, signedValue);
        break;
      case kUnsigned:
        fw::DDX_Text(pDX, 1003, unsignedValue);
        fw::DDV_MinMaxUInt(pDX, unsignedValue, unsignedMin, unsignedMax);
        break;
      default:
        fw::DDX_Text(pDX, 1004, doubleValue);
        break;
    }
  }
};

int g_messages = 0;
NumbersDlg* g_dlg = nullptr;

// The integer a text stands for: blanks around it, an optional sign (plus only, for unsigned
// members), ASCII digits. Values far beyond 32 bits come back as a large stand-in of their sign.
std::optional<long long> IntegerOf(const QString& raw, bool allowMinus) {
  static const QRegularExpression withMinus(QStringLiteral("\\A[+-]?[0-9]+\\z"));
  static const QRegularExpression plusOnly(QStringLiteral("\\A\\+?[0-9]+\\z"));
  QString text = raw.trimmed();
  if (!(allowMinus ? withMinus : plusOnly).match(text).hasMatch()) return std::nullopt;
  const bool negative = text.startsWith('-');
  if (text.startsWith('-') || text.startsWith('+')) text.remove(0, 1);
  while (text.size() > 1 && text.startsWith('0')) text.remove(0, 1);
  const long long value = text.size() > 15 ? (1LL << 50) : text.toLongLong();
  return negative ? -value : value;
}

// The double a text stands for, by the C library, or none; false where the readers are meant to
// differ (hexadecimal floating point is no number to the dialog).
bool DoubleOf(const QString& raw, std::optional<double>& out) {
  const std::string text = raw.trimmed().toStdString();
  if (text.find_first_of("xX") != std::string::npos || text.find('\0') != std::string::npos) return false;
  out.reset();
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return true;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  // Underflow: the C library flags a subnormal or a flushed result, the dialog may take either.
  if (errno == ERANGE && std::fabs(value) <= std::numeric_limits<double>::min()) return false;
  if (errno == ERANGE || end != text.c_str() + text.size() || !std::isfinite(value)) return true;
  out = value;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static auto* app = new QApplication(*argc, *argv);
  (void)app;
  std::setlocale(LC_NUMERIC, "C");  // strtod must read a point, as the dialog does
  fw::SetMessageBoxHook([](const QString&) {
    ++g_messages;
    return fw::IDOK;
  });
  g_dlg = new NumbersDlg;
  g_dlg->Create();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  NumbersDlg& dlg = *g_dlg;
  dlg.member = data[0] % 4;
  dlg.byteMin = data[1];
  dlg.byteMax = data[2];
  dlg.unsignedMin = static_cast<uint32_t>(data[3] << 16 | data[4] << 8 | data[5]);
  dlg.unsignedMax = static_cast<uint32_t>(data[6] << 16 | data[7] << 8 | data[8]) * 256u + 255u;
  const QString text =
      QString::fromUtf8(reinterpret_cast<const char*>(data + 9), static_cast<qsizetype>(size - 9));
  static const int kIds[] = {1001, 1002, 1003, 1004};
  dlg.SetDlgItemText(kIds[dlg.member], text);

  g_messages = 0;
  const bool accepted = dlg.UpdateData(true);
  FUZZ_CHECK(g_messages == (accepted ? 0 : 1), "%d messages for '%s'", g_messages, text.toUtf8().constData());

  switch (dlg.member) {
    case kByte: {
      const auto v = IntegerOf(text, false);
      const bool valid = v && *v <= 255 && *v >= dlg.byteMin && *v <= dlg.byteMax;
      FUZZ_CHECK(accepted == valid, "byte '%s' %s", text.toUtf8().constData(),
                 accepted ? "accepted" : "refused");
      if (accepted) FUZZ_CHECK(dlg.byteValue == *v);
      break;
    }
    case kSigned: {
      const auto v = IntegerOf(text, true);
      const bool valid = v && *v >= INT32_MIN && *v <= INT32_MAX;
      FUZZ_CHECK(accepted == valid, "int '%s' %s", text.toUtf8().constData(),
                 accepted ? "accepted" : "refused");
      if (accepted) FUZZ_CHECK(dlg.signedValue == *v);
      break;
    }
    case kUnsigned: {
      const auto v = IntegerOf(text, false);
      const bool valid = v && *v <= UINT32_MAX && *v >= dlg.unsignedMin && *v <= dlg.unsignedMax;
      FUZZ_CHECK(accepted == valid, "uint '%s' %s", text.toUtf8().constData(),
                 accepted ? "accepted" : "refused");
      if (accepted) FUZZ_CHECK(dlg.unsignedValue == *v);
      break;
    }
    default: {
      std::optional<double> v;
      if (DoubleOf(text, v)) {
        FUZZ_CHECK(accepted == v.has_value(), "double '%s' %s", text.toUtf8().constData(),
                   accepted ? "accepted" : "refused");
        if (accepted)
          FUZZ_CHECK(dlg.doubleValue == *v, "'%s' read as %.17g", text.toUtf8().constData(), dlg.doubleValue);
      }
      if (accepted) FUZZ_CHECK(std::isfinite(dlg.doubleValue));
      break;
    }
  }
  if (!accepted) return 0;

  // What the dialog shows for an accepted value reads back as the same value. (Fifteen digits of a
  // double at the very ends of its range can round past them; no meter value comes near.)
  if (dlg.member == kDouble && dlg.doubleValue != 0 &&
      (std::fabs(dlg.doubleValue) < 1e-300 || std::fabs(dlg.doubleValue) > 1e300))
    return 0;
  const uint8_t b = dlg.byteValue;
  const int32_t s = dlg.signedValue;
  const uint32_t u = dlg.unsignedValue;
  const double d = dlg.doubleValue;
  dlg.UpdateData(false);
  FUZZ_CHECK(dlg.UpdateData(true) && g_messages == 0, "the shown value '%s' was refused",
             dlg.GetDlgItemText(kIds[dlg.member]).toUtf8().constData());
  FUZZ_CHECK(dlg.byteValue == b && dlg.signedValue == s && dlg.unsignedValue == u);
  FUZZ_CHECK(d == 0 ? dlg.doubleValue == 0 : std::fabs(dlg.doubleValue - d) <= std::fabs(d) * 1e-14,
             "%.17g shown and read back as %.17g", d, dlg.doubleValue);
  return 0;
}
