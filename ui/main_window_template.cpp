// Template 102: the main window. Positions and sizes are dialog units; the control order is the tab
// order. The measurement grid and the energy row come last so they lie above their group boxes.
#include <string>

#include "meter/analog.h"
#include "ui/monitor_ids.h"
#include "ui/templates.h"

namespace qm::ui {
namespace {

namespace ids = monitor_ids;

using fw::ControlTemplate;
using fw::IDC_STATIC;
using fw::Kind;

constexpr unsigned kButton = fw::kTabStop | fw::kStaticEdge;
constexpr unsigned kHiddenButton = fw::kHidden | kButton;
constexpr unsigned kHiddenEdit = fw::kHidden | fw::kTabStop | fw::kBorder | fw::kAutoHScroll;
constexpr unsigned kHiddenEdgeEdit = fw::kHidden | fw::kTabStop | fw::kAutoHScroll | fw::kStaticEdge;
constexpr unsigned kValueBox = fw::kReadOnly | fw::kStaticEdge;
constexpr unsigned kCombo = fw::kTabStop | fw::kDropDown | fw::kVScroll;

// Everything but the measurement grid and the energy row. Edits and lists without a label of their
// own carry a name for screen readers, so none is announced as a bare value.
void AddControls(std::vector<ControlTemplate>& c) {
  c.push_back({IDC_STATIC, Kind::GroupBox, "基本数据", 7, 25, 296, 161, fw::kCenter});
  c.push_back({fw::IDCANCEL, Kind::PushButton, "退  出", 310, 218, 55, 15, kButton});
  c.push_back({IDC_STATIC, Kind::GroupBox, "电能数据", 7, 185, 296, 47, fw::kCenter});
  c.push_back({ids::kCommSet, Kind::PushButton, "通讯设置", 310, 130, 55, 14, kButton});
  c.push_back({ids::kMeterSet, Kind::PushButton, "仪表设置", 310, 147, 55, 14, kButton});
  // ids::kComm, the serial port control, has no window here: CMonitorDlg::m_comm carries it.
  c.push_back({ids::kStatus, Kind::Edit, "", 309, 28, 55, 46, fw::kMultiline | fw::kReadOnly, "通讯参数"});
  c.push_back(
      {ids::kUnused1050, Kind::Edit, "", 253, 62, 53, 12, fw::kHidden | fw::kReadOnly | fw::kStaticEdge});
  c.push_back({IDC_STATIC, Kind::Static, "零序电流", 7, 116, 35, 10, fw::kHidden});
  c.push_back({ids::kChangeSlaveAddr, Kind::PushButton, "更改子机地址", 310, 111, 55, 15, kButton});
  c.push_back({ids::kAccuracy, Kind::PushButton, "修改精度", 254, 159, 55, 14, kHiddenButton});
  c.push_back({ids::kSlaveAddr, Kind::Edit, "", 56, 9, 37, 14, fw::kTabStop | fw::kBorder | fw::kAutoHScroll,
               "子机地址"});
  c.push_back({ids::kPollAddress, Kind::PushButton, "轮询地址", 310, 76, 55, 15, kButton});
  c.push_back({ids::kRunStop, Kind::PushButton, "运行", 310, 94, 55, 15, kButton});

  struct Label {
    const char* text;
    int x, w;
  };
  static const Label kPhaseLabels[] = {{"Vav", 15, 12}, {"Va", 51, 9},  {"Vb", 87, 9},  {"Vc", 119, 10},
                                       {"I", 162, 8},   {"Ia", 195, 9}, {"Ib", 230, 9}, {"Ic", 267, 9}};
  for (const Label& l : kPhaseLabels)
    c.push_back({IDC_STATIC, Kind::Static, l.text, l.x, 110, l.w, 8, fw::kHidden});

  c.push_back({ids::kUnused1064, Kind::Edit, "", 13, 120, 30, 14, kHiddenEdgeEdit});
  c.push_back({ids::kVoltHigh, Kind::Edit, "", 26, 138, 45, 14, kHiddenEdit});
  c.push_back({IDC_STATIC, Kind::Static, "上限", 7, 140, 16, 8, fw::kHidden});
  c.push_back({IDC_STATIC, Kind::Static, "上限", 157, 141, 16, 8, fw::kHidden});
  c.push_back({ids::kVoltLow, Kind::Edit, "", 98, 138, 44, 14, kHiddenEdit});
  c.push_back({ids::kCurrHigh, Kind::Edit, "", 173, 139, 46, 14, kHiddenEdit});
  c.push_back({ids::kCurrLow, Kind::Edit, "", 245, 140, 45, 14, kHiddenEdit});
  c.push_back({ids::kLimitSet, Kind::PushButton, "上下限设置", 7, 182, 55, 14, kHiddenButton});
  c.push_back({ids::kEnergyReset, Kind::PushButton, "电能清零", 310, 182, 55, 15, kButton});

  static const int kSpareX[] = {48, 83, 118, 157, 192, 227, 262};
  for (int i = 0; i < 7; ++i)
    c.push_back({ids::kUnusedRow[i], Kind::Edit, "", kSpareX[i], 120, 30, 14, kHiddenEdgeEdit});

  c.push_back({IDC_STATIC, Kind::Static, "V", 144, 141, 8, 8, fw::kHidden});
  c.push_back({IDC_STATIC, Kind::GroupBox, "电压", 7, 110, 148, 57, fw::kHidden});
  c.push_back({IDC_STATIC, Kind::GroupBox, "电流", 148, 107, 148, 57, fw::kHidden});
  c.push_back({IDC_STATIC, Kind::Static, "A", 291, 142, 8, 8, fw::kHidden});
  c.push_back({IDC_STATIC, Kind::Static, "子机地址", 15, 11, 31, 8});
  c.push_back({IDC_STATIC, Kind::Static, "V  下限", 72, 140, 27, 8, fw::kHidden});
  c.push_back({IDC_STATIC, Kind::Static, "A 下限", 220, 142, 24, 8, fw::kHidden});
  c.push_back({ids::kRefreshUrg, Kind::PushButton, "刷新Urg值", 71, 182, 55, 14, kHiddenButton});
  c.push_back(
      {ids::kDiagnostic, Kind::Edit, "", 182, 9, 62, 12, kHiddenEdit, "诊断 PT,接线,模拟量,精度,字节11"});
  c.push_back({IDC_STATIC, Kind::Static, "模拟量选择", 92, 173, 39, 8});
  c.push_back({ids::kAnalogSel, Kind::ComboBox, "", 132, 170, 30, 93, kCombo, "模拟量选择"});
  c.push_back({ids::kLeftValue, Kind::Edit, "", 171, 170, 34, 12,
               fw::kTabStop | fw::kBorder | fw::kReadOnly | fw::kAutoHScroll, "模拟量 左值"});
  c.push_back({ids::kWriteAnalog, Kind::PushButton, "写入", 281, 173, 18, 11, fw::kTabStop});
  // One unit narrower than on Windows, so the dash's box ends where the right value edit begins.
  c.push_back({IDC_STATIC, Kind::Static, "-", 207, 172, 7, 8});
  c.push_back({ids::kRightValue, Kind::Edit, "", 214, 170, 35, 12,
               fw::kTabStop | fw::kBorder | fw::kReadOnly | fw::kAutoHScroll, "模拟量 右值"});
  c.push_back({IDC_STATIC, Kind::Static, "/4-20mA", 290, 209, 30, 9, fw::kHidden});
  c.push_back({ids::kFactoryInit, Kind::PushButton, "出厂初始设置", 255, 142, 55, 14, kHiddenButton});
  c.push_back({ids::kPowerReverse, Kind::PushButton, "功率反相", 311, 164, 55, 14, kButton});
  c.push_back({ids::kUnused1078, Kind::Edit, "", 147, 10, 20, 12, kHiddenEdit});
  c.push_back(
      {ids::kSettingsCount, Kind::Edit, "", 114, 10, 23, 12, kHiddenEdit, "诊断 设置读取次数,功率方向"});
  c.push_back({ids::kInputMode, Kind::PushButton, "输入", 281, 162, 18, 11, fw::kTabStop});
  c.push_back({ids::kUnit, Kind::ComboBox, "", 252, 169, 27, 76, kCombo, "模拟量 单位"});
  c.push_back({ids::kUnused1080, Kind::Edit, "", 251, 9, 41, 12, kHiddenEdit});
}

struct Heading {
  const char* text;
  int x;
};
const Heading kColumns[] = {{"  合相", 56}, {"A相/CA线", 109}, {"B相/AB线", 174}, {"C相/BC线", 229}};
const int kColumnX[] = {52, 110, 168, 226};
const char* const kRows[] = {"相 电 压", "线 电 压", "相 电 流", "有功功率",
                             "无功功率", "视在功率", "功率因数"};
const int (*const kRowIds[])[4] = {&ids::kPhaseVoltage, &ids::kLineVoltage,   &ids::kCurrent,
                                   &ids::kActivePower,  &ids::kReactivePower, &ids::kApparentPower,
                                   &ids::kPowerFactor};

std::string Trimmed(const char* text) {
  std::string s(text);
  s.erase(0, s.find_first_not_of(' '));
  return s;
}

// A box is read aloud as its row and its column: "相 电 压 A相/CA线".
ControlTemplate ValueBox(int id, int x, int y, int w, const std::string& name) {
  ControlTemplate t{id, Kind::Edit, "", x, y, w, 12, kValueBox};
  t.name = name;
  return t;
}

void AddMeasurementGrid(std::vector<ControlTemplate>& c) {
  for (const Heading& h : kColumns) c.push_back({IDC_STATIC, Kind::Static, h.text, h.x, 46, 35, 10});
  for (int row = 0; row < 7; ++row) {
    const int y = 58 + 16 * row;
    c.push_back({IDC_STATIC, Kind::Static, kRows[row], 13, y + 1, 35, 10});
    for (int col = 0; col < 4; ++col)
      c.push_back(ValueBox((*kRowIds[row])[col], kColumnX[col], y, 53,
                           std::string(kRows[row]) + " " + Trimmed(kColumns[col].text)));
  }
  c.push_back({IDC_STATIC, Kind::Static, "频    率", 14, 171, 35, 10});
  c.push_back(ValueBox(ids::kFrequency, 52, 170, 36, "频率"));
}

void AddEnergyRow(std::vector<ControlTemplate>& c) {
  struct Energy {
    const char* label;
    int labelX, labelY, id, x, w;
  };
  static const Energy kEnergy[] = {{"正向有功电能", 21, 199, ids::kImportActiveEnergy, 13, 65},
                                   {"负向有功电能", 90, 199, ids::kExportActiveEnergy, 83, 66},
                                   {"正向无功电能", 163, 200, ids::kImportReactiveEnergy, 153, 65},
                                   {"负向无功电能", 230, 200, ids::kExportReactiveEnergy, 223, 62}};
  for (const Energy& e : kEnergy) {
    c.push_back({IDC_STATIC, Kind::Static, e.label, e.labelX, e.labelY, 50, 10});
    c.push_back(ValueBox(e.id, e.x, 212, e.w, e.label));
  }
}

fw::DialogTemplate Build() {
  fw::DialogTemplate t;
  t.resourceId = ids::kTemplate;
  t.caption = "QM7410智能电力监测仪-------Korvath";
  t.fontFace = "宋体";
  t.pointSize = 10;
  t.w = 374;
  t.h = 242;
  t.systemMenu = true;
  t.minimizeBox = true;
  AddControls(t.controls);
  AddMeasurementGrid(t.controls);
  AddEnergyRow(t.controls);
  // The list index of the analog selection is the meter's analog selection code.
  t.comboItems.push_back({ids::kAnalogSel, std::vector<std::string>(meter::kAnalogEntryNames.begin(),
                                                                    meter::kAnalogEntryNames.end())});
  // The unit list's index is the unit the analog readout names.
  t.comboItems.push_back(
      {ids::kUnit, std::vector<std::string>(meter::kAnalogUnitNames.begin(), meter::kAnalogUnitNames.end())});
  return t;
}

}  // namespace

const fw::DialogTemplate& MainWindowTemplate() {
  static const fw::DialogTemplate t = Build();
  return t;
}

}  // namespace qm::ui
