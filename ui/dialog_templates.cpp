// Templates 130 (port settings), 131 (meter settings) and 146 (slave address). Dialog units.
#include "meter/codes.h"
#include "ui/comm_set_ids.h"
#include "ui/meter_set_ids.h"
#include "ui/slave_addr_ids.h"
#include "ui/templates.h"

namespace qm::ui {
namespace {

using fw::IDC_STATIC;
using fw::Kind;

constexpr unsigned kNumberEdit = fw::kBorder | fw::kAutoHScroll | fw::kTabStop;

fw::DialogTemplate BuildCommSet() {
  namespace ids = comm_set_ids;
  fw::DialogTemplate t;
  t.resourceId = ids::kTemplate;
  t.caption = "通讯设置";
  t.fontFace = "宋体";
  t.pointSize = 10;
  t.w = 182;
  t.h = 110;
  t.systemMenu = false;  // no close box: the dialog ends with one of its two buttons
  // Each radio button starts a group of its own; the dialog's click handlers keep them exclusive.
  constexpr unsigned kRadio = fw::kGroup | fw::kTabStop;
  t.controls = {
      {fw::IDOK, Kind::DefPushButton, "确    定", 131, 54, 42, 14, fw::kTabStop},
      {fw::IDCANCEL, Kind::PushButton, "退    出", 130, 79, 43, 14, fw::kTabStop},
      {IDC_STATIC, Kind::GroupBox, "波特率", 13, 13, 54, 84},
      {ids::kBaud1200, Kind::AutoRadio, "1200bps", 17, 26, 40, 8, kRadio},
      {ids::kBaud2400, Kind::AutoRadio, "2400bps", 17, 38, 40, 8, kRadio},
      {ids::kBaud4800, Kind::AutoRadio, "4800bps", 17, 53, 39, 8, kRadio},
      {ids::kBaud9600, Kind::AutoRadio, "9600bps", 17, 68, 40, 8, kRadio},
      {ids::kBaud19200, Kind::AutoRadio, "19200bps", 17, 83, 43, 8, kRadio},
      {IDC_STATIC, Kind::GroupBox, "校验位", 71, 13, 47, 83},
      {ids::kParityNone, Kind::AutoRadio, "无校验", 78, 33, 35, 15, kRadio},
      {ids::kParityOdd, Kind::AutoRadio, "奇校验", 77, 57, 35, 15, kRadio},
      {ids::kParityEven, Kind::AutoRadio, "偶校验", 77, 78, 34, 15, kRadio},
      {IDC_STATIC, Kind::GroupBox, "串口选择", 121, 13, 56, 29},
      // One unit wider than on Windows: the Latin glyphs of the Chinese font family are wider
      // than SimSun's, and the label still ends before the edit at 145.
      {IDC_STATIC, Kind::Static, "COM:", 126, 27, 18, 8},
      {ids::kPort, Kind::Edit, "", 145, 24, 28, 14, kNumberEdit, "串口选择 COM"},
  };
  return t;
}

fw::DialogTemplate BuildMeterSet() {
  namespace ids = meter_set_ids;
  const auto wiring = [](int code) { return meter::kWiringCaptions[static_cast<size_t>(code)]; };
  fw::DialogTemplate t;
  t.resourceId = ids::kTemplate;
  t.caption = "Dialog";
  t.fontFace = "System";
  t.pointSize = 10;
  t.w = 177;
  t.h = 98;
  t.systemMenu = true;
  // The six wiring buttons carry neither the group nor the tab-stop style.
  t.controls = {
      {fw::IDOK, Kind::DefPushButton, "设置", 140, 30, 30, 14, fw::kTabStop},
      {fw::IDCANCEL, Kind::PushButton, "退出", 140, 65, 30, 14, fw::kTabStop},
      {IDC_STATIC, Kind::Static, "ＰＴ", 10, 8, 20, 10},
      {ids::kPtRatio, Kind::Edit, "", 45, 5, 80, 12, kNumberEdit, "PT"},
      {IDC_STATIC, Kind::Static, "ＣＴ", 10, 22, 20, 10},
      {ids::kCtRatio, Kind::Edit, "", 45, 20, 80, 12, kNumberEdit, "CT"},
      {ids::kFirstWiring + 0, Kind::AutoRadio, wiring(0), 5, 44, 65, 10},
      {ids::kFirstWiring + 1, Kind::AutoRadio, wiring(1), 5, 62, 65, 10},
      {ids::kFirstWiring + 2, Kind::AutoRadio, wiring(2), 5, 80, 65, 10},
      {ids::kFirstWiring + 3, Kind::AutoRadio, wiring(3), 76, 45, 55, 10},
      {ids::kFirstWiring + 4, Kind::AutoRadio, wiring(4), 76, 63, 55, 10},
      {ids::kFirstWiring + 5, Kind::AutoRadio, wiring(5), 76, 81, 55, 10},
  };
  return t;
}

fw::DialogTemplate BuildSlaveAddr() {
  namespace ids = slave_addr_ids;
  fw::DialogTemplate t;
  t.resourceId = ids::kTemplate;
  t.caption = "更改子机地址";
  t.fontFace = "System";
  t.pointSize = 10;
  t.w = 170;
  t.h = 85;
  t.systemMenu = true;
  t.controls = {
      {fw::IDOK, Kind::DefPushButton, "确认", 27, 57, 50, 14, fw::kTabStop},
      {fw::IDCANCEL, Kind::PushButton, "退出", 107, 57, 50, 14, fw::kTabStop},
      {IDC_STATIC, Kind::Static, "更改子机地址：", 16, 13, 59, 11},
      {ids::kAddress, Kind::Edit, "", 73, 29, 43, 14, kNumberEdit, "子机地址"},
  };
  return t;
}

}  // namespace

const fw::DialogTemplate& CommSetTemplate() {
  static const fw::DialogTemplate t = BuildCommSet();
  return t;
}

const fw::DialogTemplate& MeterSetTemplate() {
  static const fw::DialogTemplate t = BuildMeterSet();
  return t;
}

const fw::DialogTemplate& SlaveAddrTemplate() {
  static const fw::DialogTemplate t = BuildSlaveAddr();
  return t;
}

}  // namespace qm::ui
