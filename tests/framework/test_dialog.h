#pragma once
// A dialog exercising every kind of control, style and exchange the program's windows use.
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "framework/dialog.h"

namespace fwtest {

using fw::IDC_STATIC;
using fw::Kind;

inline fw::DialogTemplate TestTemplate(bool withDefaultButton = false, bool systemMenu = true) {
  fw::DialogTemplate t;
  t.resourceId = 900;
  t.caption = "测试";
  t.fontFace = "宋体";
  t.pointSize = 10;
  t.w = 200;
  t.h = 150;
  t.systemMenu = systemMenu;
  t.minimizeBox = true;
  t.controls = {
      {IDC_STATIC, Kind::GroupBox, "组", 5, 5, 100, 60, fw::kCenter},
      {fw::IDCANCEL, Kind::PushButton, "退出", 120, 80, 40, 14, fw::kTabStop},
      {1001, Kind::Edit, "", 10, 15, 40, 12, fw::kTabStop | fw::kBorder},
      {1002, Kind::Edit, "", 10, 30, 40, 12, fw::kTabStop | fw::kBorder},
      {1003, Kind::Edit, "", 10, 45, 40, 12, fw::kTabStop | fw::kBorder},
      {1004, Kind::Edit, "", 55, 15, 40, 12, fw::kTabStop | fw::kBorder},
      {1005, Kind::Edit, "", 55, 30, 40, 12, fw::kBorder | fw::kReadOnly},
      {1006, Kind::ComboBox, "", 120, 5, 40, 60, fw::kTabStop | fw::kDropDown | fw::kVScroll},
      {1007, Kind::Edit, "", 120, 25, 50, 30, fw::kMultiline | fw::kReadOnly},
      {1008, Kind::PushButton, "隐藏", 120, 60, 40, 14, fw::kTabStop | fw::kHidden},
      {1009, Kind::PushButton, "动作", 120, 100, 40, 14, fw::kTabStop},
      {1010, Kind::AutoRadio, "甲", 10, 70, 30, 10, fw::kGroup | fw::kTabStop},
      {1011, Kind::AutoRadio, "乙", 10, 82, 30, 10, fw::kTabStop},
      {1012, Kind::AutoRadio, "丙", 10, 94, 30, 10, fw::kGroup | fw::kTabStop},
      {IDC_STATIC, Kind::Static, "标签", 50, 70, 30, 8},
      {1013, Kind::Edit, "", 50, 82, 30, 12, fw::kStaticEdge | fw::kReadOnly, "测量 A"},
      {1014, Kind::PushButton, "禁用", 120, 120, 40, 14, fw::kTabStop | fw::kDisabled},
  };
  if (withDefaultButton) {
    t.controls.push_back({fw::IDOK, Kind::DefPushButton, "确定", 160, 130, 30, 14, fw::kTabStop});
  }
  t.comboItems = {{1006, {"无", "Ua", "F", "Ub", "F"}}};
  return t;
}

class TestDlg : public fw::CDialog {
 public:
  explicit TestDlg(bool withDefaultButton = false, bool systemMenu = true)
      : fw::CDialog(TestTemplate(withDefaultButton, systemMenu)) {
    OnCommand(1009, fw::Notify::Clicked, &TestDlg::OnAction);
    OnCommand(1010, fw::Notify::Clicked, &TestDlg::OnRadio);
    OnCommand(1006, fw::Notify::SelChange, &TestDlg::OnSelChange);
    OnCommand(1006, fw::Notify::DropDown, &TestDlg::OnDropDown);
  }

  uint8_t byValue = 0;
  int32_t nValue = 0;
  uint32_t unValue = 1;
  double dValue = 0.0;
  QString strValue;
  QString strCombo;

  std::vector<std::string> events;
  std::function<void()> action;      // what the action button does
  std::function<void(int)> onTimer;  // what a tick does
  bool initResult = true;
  int destroyCount = 0;

  bool OnInitDialog() override {
    fw::CDialog::OnInitDialog();
    events.push_back("init");
    return initResult;
  }
  void DoDataExchange(fw::CDataExchange* pDX) override {
    fw::DDX_Text(pDX, 1001, byValue);
    fw::DDX_Text(pDX, 1002, nValue);
    fw::DDX_Text(pDX, 1003, unValue);
    fw::DDV_MinMaxUInt(pDX, unValue, 1, 64000);
    fw::DDX_Text(pDX, 1004, dValue);
    fw::DDX_Text(pDX, 1005, strValue);
    fw::DDX_CBString(pDX, 1006, strCombo);
  }
  void OnTimer(int id) override {
    events.push_back("tick " + std::to_string(id));
    if (onTimer) onTimer(id);
  }
  void OnDestroy() override {
    ++destroyCount;
    // The widgets must still be there.
    events.push_back("destroy " + GetDlgItemText(1001).toStdString());
  }

  void OnAction() {
    events.push_back("action");
    if (action) action();
  }
  void OnRadio() { events.push_back("radio"); }
  void OnSelChange() { events.push_back("selchange"); }
  void OnDropDown() { events.push_back("dropdown"); }
};

}  // namespace fwtest
