#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "framework/app.h"
#include "framework/dialog_units.h"
#include "tests/framework/test_dialog.h"

namespace {

using fwtest::TestDlg;

template <class W>
W* Item(fw::CDialog& dlg, int id) {
  auto* w = qobject_cast<W*>(dlg.GetDlgItem(id));
  EXPECT_NE(w, nullptr) << "control " << id;
  return w;
}

TEST(Template, BuildsControlsWithTheirStyles) {
  TestDlg dlg;
  dlg.Create();
  EXPECT_EQ(dlg.windowTitle(), QString("测试"));

  const fw::BaseUnits units = fw::BaseUnitsFor(fw::TemplateFont("宋体", 10));
  EXPECT_EQ(dlg.size(), fw::DluToPixels(units, 0, 0, 200, 150).size());
  EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize()) << "not resizable";
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Item<QLineEdit>(dlg, 1001)->geometry(), fw::DluToPixels(units, 10, 15, 40, 12));
  EXPECT_EQ(Item<QLineEdit>(dlg, 1001)->font().families(), fw::TemplateFont("宋体", 10).families());

  EXPECT_TRUE(Item<QPushButton>(dlg, 1008)->isHidden());
  EXPECT_FALSE(Item<QPushButton>(dlg, 1009)->isHidden());
  EXPECT_FALSE(Item<QPushButton>(dlg, 1014)->isEnabled());
  EXPECT_FALSE(Item<QPushButton>(dlg, 1009)->isDefault());
  EXPECT_FALSE(Item<QPushButton>(dlg, 1009)->autoDefault());

  EXPECT_TRUE(Item<QLineEdit>(dlg, 1005)->isReadOnly());
  EXPECT_FALSE(Item<QLineEdit>(dlg, 1001)->isReadOnly());
  auto* status = Item<QPlainTextEdit>(dlg, 1007);
  EXPECT_TRUE(status->isReadOnly());
  EXPECT_EQ(status->frameShape(), QFrame::NoFrame);

  auto* combo = Item<QComboBox>(dlg, 1006);
  EXPECT_TRUE(combo->isEditable());
  ASSERT_EQ(combo->count(), 5);
  EXPECT_EQ(combo->itemText(1), QString("Ua"));  // template order, not sorted
  EXPECT_EQ(combo->itemText(4), QString("F"));
  fw::CComboBox cb;
  cb.Attach(combo);
  EXPECT_EQ(cb.GetCurSel(), fw::CComboBox::CB_ERR);
  EXPECT_EQ(combo->currentText(), QString());

  const auto groups = dlg.findChildren<QGroupBox*>();
  ASSERT_EQ(groups.size(), 1);
  EXPECT_EQ(groups[0]->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

TEST(Template, NoCloseBoxWithoutSystemMenu) {
  TestDlg dlg(false, false);
  dlg.Create();
  EXPECT_FALSE(dlg.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST(Template, AccessibleNamesAndIds) {
  TestDlg dlg;
  dlg.Create();
  EXPECT_EQ(dlg.GetDlgItem(1009)->accessibleDescription(), QString("1009"));
  EXPECT_EQ(dlg.GetDlgItem(1009)->accessibleName(), QString("动作"));
  EXPECT_EQ(dlg.GetDlgItem(1013)->accessibleName(), QString("测量 A"));
  dlg.SetAccessibleName(1001, "子机地址");
  EXPECT_EQ(dlg.GetDlgItem(1001)->accessibleName(), QString("子机地址"));
  EXPECT_EQ(dlg.GetDlgItem(1001)->accessibleDescription(), QString("1001"));
}

TEST(Template, TabOrderIsTemplateOrderOfTabStops) {
  TestDlg dlg(true);
  dlg.Create();
  // From the first tab stop, the chain visits exactly the shown, enabled tab stops in template order.
  const std::vector<int> expected = {fw::IDCANCEL, 1001, 1002, 1003, 1004,    1006,
                                     1009,         1010, 1011, 1012, fw::IDOK};
  std::vector<int> seen;
  QWidget* w = dlg.GetDlgItem(fw::IDCANCEL);
  for (int guard = 0; guard < 100 && seen.size() < expected.size(); ++guard) {
    const bool tabbable =
        (w->focusPolicy() & Qt::TabFocus) && !w->isHidden() && w->isEnabled() && w->parentWidget() == &dlg;
    if (tabbable) seen.push_back(w->accessibleDescription().toInt());
    w = w->nextInFocusChain();
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(dlg.GetDlgItem(1005)->focusPolicy() & Qt::TabFocus, 0);
  // OnInitDialog returned true: the focus starts on the first tab stop.
  EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(fw::IDCANCEL));
}

TEST(Template, NoInitialFocusWhenInitDialogSaysSo) {
  TestDlg dlg;
  dlg.initResult = false;
  dlg.Create();
  EXPECT_EQ(dlg.focusWidget(), nullptr);
}

TEST(Template, DialogColoursApplyToDialogsBuiltAfterwards) {
  struct App : fw::CWinApp {
    bool InitInstance() override { return false; }
  } app;
  app.SetDialogBkColor(QColor(181, 240, 249), QColor(0, 0, 0));
  TestDlg dlg;
  dlg.Create();
  EXPECT_EQ(dlg.palette().color(QPalette::Window), QColor(181, 240, 249));
  EXPECT_EQ(dlg.GetDlgItem(1009)->palette().color(QPalette::Button), QColor(181, 240, 249));
  EXPECT_EQ(dlg.palette().color(QPalette::WindowText), QColor(0, 0, 0));
  EXPECT_EQ(dlg.GetDlgItem(1001)->palette().color(QPalette::Text), QColor(0, 0, 0));
  EXPECT_EQ(fw::AfxGetApp(), &app);
  app.SetDialogBkColor(QColor(), QColor());
}

TEST(Template, TextsRoundTripExactly) {
  TestDlg dlg;
  dlg.Create();
  const QString status = "串行口: 1 \r\n\r\n波特率:9600 \r\n\r\n校验位:无校验";
  dlg.SetDlgItemText(1007, status);
  EXPECT_EQ(dlg.GetDlgItemText(1007), status);
  EXPECT_EQ(Item<QPlainTextEdit>(dlg, 1007)->document()->blockCount(), 5);
  // A hidden button still takes its caption.
  dlg.SetDlgItemText(1008, "0.5级");
  EXPECT_EQ(dlg.GetDlgItemText(1008), QString("0.5级"));
  dlg.SetDlgItemText(1006, "自由文字");
  EXPECT_EQ(dlg.GetDlgItemText(1006), QString("自由文字"));
  dlg.SetDlgItemText(4242, "no such control");  // ignored, as Windows ignores it
  EXPECT_EQ(dlg.GetDlgItemText(4242), QString());
}

TEST(Template, ReadOnlyStateThroughCEdit) {
  TestDlg dlg;
  dlg.Create();
  fw::CEdit edit;
  edit.Attach(dlg.GetDlgItem(1005));
  EXPECT_TRUE(edit.IsReadOnly());
  edit.SetReadOnly(false);
  EXPECT_FALSE(edit.IsReadOnly());
  edit.EnableWindow(false);
  EXPECT_FALSE(edit.IsWindowEnabled());
  fw::CEdit status;
  status.Attach(dlg.GetDlgItem(1007));
  EXPECT_TRUE(status.IsReadOnly());
}

}  // namespace
