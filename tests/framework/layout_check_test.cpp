#include "tests/support/layout_check.h"

#include <gtest/gtest.h>

#include "framework/dialog.h"

namespace {

using fw::IDC_STATIC;
using fw::Kind;

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

TEST(LayoutCheck, FindsOverlapsAndClippedCaptionsOnly) {
  fw::DialogTemplate t;
  t.resourceId = 901;
  t.caption = "布局";
  t.fontFace = "宋体";
  t.pointSize = 10;
  t.w = 200;
  t.h = 120;
  t.controls = {
      // A group holding a label and an edit, and a second group whose frame line starts below the
      // first one's bottom although their rectangles touch: all fine.
      {IDC_STATIC, Kind::GroupBox, "基本数据", 5, 5, 100, 50, fw::kCenter},
      {IDC_STATIC, Kind::Static, "标签", 10, 20, 30, 8},
      {1001, Kind::Edit, "", 45, 18, 40, 12, fw::kBorder},
      {IDC_STATIC, Kind::GroupBox, "电能数据", 5, 54, 100, 30, fw::kCenter},
      // Overlapping buttons.
      {1002, Kind::PushButton, "甲", 120, 10, 40, 14},
      {1003, Kind::PushButton, "乙", 150, 20, 40, 14},
      // A caption too wide and one too tall for its control.
      {1004, Kind::PushButton, "很长很长的按钮文字", 120, 40, 30, 14},
      {IDC_STATIC, Kind::Static, "矮", 120, 60, 20, 4},
      // Hidden controls are not looked at.
      {1005, Kind::PushButton, "隐藏", 120, 10, 40, 14, fw::kHidden},
      // Reaches past the window's edge.
      {1006, Kind::Edit, "", 180, 100, 40, 12, fw::kBorder},
  };
  fw::CDialog dlg(t);
  dlg.Create();
  const std::vector<std::string> problems = layout::Check(dlg);
  const std::string all = Joined(problems);
  ASSERT_EQ(problems.size(), 4u) << all;
  EXPECT_NE(all.find("button 1002 \"甲\""), std::string::npos) << all;
  EXPECT_NE(all.find("overlaps button 1003 \"乙\""), std::string::npos) << all;
  EXPECT_NE(all.find("button 1004 \"很长很长的按钮文字\" at 240,"), std::string::npos) << all;
  EXPECT_NE(all.find("px of width"), std::string::npos) << all;
  EXPECT_NE(all.find("static \"矮\""), std::string::npos) << all;
  EXPECT_NE(all.find("px of height"), std::string::npos) << all;
  EXPECT_NE(all.find("edit 1006"), std::string::npos) << all;
  EXPECT_NE(all.find("outside the window"), std::string::npos) << all;
  dlg.DestroyWindow();
}

}  // namespace
