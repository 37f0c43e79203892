#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include "framework/app.h"
#include "tests/framework/test_dialog.h"

namespace {

using fwtest::TestDlg;
using Events = std::vector<std::string>;

class Commands : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::SetMessageBoxHook([this](const QString& text) {
      messages.push_back(text);
      return fw::IDOK;
    });
  }
  void TearDown() override {
    fw::SetMessageBoxHook({});
    fw::CDialog::SetModalHook({});
  }
  void Make(bool withDefault = false) {
    dlg = std::make_unique<TestDlg>(withDefault);
    dlg->Create();
    dlg->events.clear();
    combo.Attach(dlg->GetDlgItem(1006));
  }
  QComboBox* Combo() { return qobject_cast<QComboBox*>(dlg->GetDlgItem(1006)); }

  std::unique_ptr<TestDlg> dlg;
  fw::CComboBox combo;
  std::vector<QString> messages;
};

TEST_F(Commands, SelChangeOnlyWhenTheUserPicks) {
  Make();
  EXPECT_EQ(combo.SetCurSel(2), 2);
  EXPECT_TRUE(dlg->events.empty());
  dlg->SelectComboItem(1006, 3);
  EXPECT_EQ(dlg->events, Events{"selchange"});
  EXPECT_EQ(combo.GetCurSel(), 3);
  QTest::keyClick(Combo(), Qt::Key_Down);  // arrow keys pick the next item, as on Windows
  EXPECT_EQ(dlg->events, (Events{"selchange", "selchange"}));
  EXPECT_EQ(combo.GetCurSel(), 4);
}

TEST_F(Commands, TypedTextIsNoSelection) {
  Make();
  EXPECT_EQ(combo.GetCount(), 5);
  combo.SetCurSel(1);
  QTest::keyClicks(Combo()->lineEdit(), "x");
  EXPECT_EQ(Combo()->currentText(), QString("Uax"));
  EXPECT_EQ(combo.GetCurSel(), fw::CComboBox::CB_ERR);
  // Neither leaving the field nor Enter picks an item or adds one.
  emit Combo()->lineEdit()->editingFinished();
  QTest::keyClicks(Combo()->lineEdit(), "\b\b\bF");
  emit Combo()->lineEdit()->editingFinished();
  EXPECT_EQ(combo.GetCurSel(), fw::CComboBox::CB_ERR);
  EXPECT_EQ(combo.GetCount(), 5);
  EXPECT_TRUE(dlg->events.empty());
  // Selecting again replaces the typed text, even the same item.
  EXPECT_EQ(combo.SetCurSel(1), 1);
  EXPECT_EQ(Combo()->currentText(), QString("Ua"));
  EXPECT_EQ(combo.SetCurSel(8), fw::CComboBox::CB_ERR);
  EXPECT_EQ(Combo()->currentText(), QString());
  EXPECT_EQ(combo.GetCurSel(), fw::CComboBox::CB_ERR);
}

TEST_F(Commands, DropDownIsAnnouncedBeforeTheListOpens) {
  Make();
  dlg->DropDownCombo(1006);
  EXPECT_EQ(dlg->events, Events{"dropdown"});
  combo.ShowDropDown(false);
  combo.ShowDropDown(true);  // opening it from code announces it too
  EXPECT_EQ(dlg->events, (Events{"dropdown", "dropdown"}));
  EXPECT_TRUE(Combo()->view()->isVisible());
  combo.ShowDropDown(false);
  EXPECT_FALSE(Combo()->view()->isVisible());
  combo.EnableWindow(false);
  dlg->DropDownCombo(1006);
  EXPECT_EQ(dlg->events.size(), 2u);
}

TEST_F(Commands, ClicksReachOnlyShownEnabledButtons) {
  Make();
  dlg->Click(1008);  // hidden
  dlg->Click(1014);  // disabled
  EXPECT_TRUE(dlg->events.empty());
  dlg->Click(1009);
  EXPECT_EQ(dlg->events, Events{"action"});
}

TEST_F(Commands, AutoRadioButtonsFollowTheirGroups) {
  Make();
  dlg->Click(1010);
  dlg->Click(1010);  // a second click keeps it checked
  EXPECT_EQ(dlg->events, (Events{"radio", "radio"}));
  EXPECT_TRUE(dlg->IsDlgButtonChecked(1010));
  dlg->Click(1011);  // same group: takes the check over
  EXPECT_FALSE(dlg->IsDlgButtonChecked(1010));
  EXPECT_TRUE(dlg->IsDlgButtonChecked(1011));
  dlg->Click(1012);  // a group of its own: leaves the others alone
  EXPECT_TRUE(dlg->IsDlgButtonChecked(1011));
  EXPECT_TRUE(dlg->IsDlgButtonChecked(1012));
  dlg->CheckRadioButton(1010, 1012, 1010);
  EXPECT_TRUE(dlg->IsDlgButtonChecked(1010));
  EXPECT_FALSE(dlg->IsDlgButtonChecked(1011));
  EXPECT_FALSE(dlg->IsDlgButtonChecked(1012));
}

TEST_F(Commands, EnterInAnEditValidatesThenCloses) {
  Make();
  QWidget* edit = dlg->GetDlgItem(1001);
  dlg->SetDlgItemText(1003, "1");
  dlg->SetDlgItemText(1004, "0");
  dlg->SetDlgItemText(1001, "300");
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(messages, std::vector<QString>{"请输入一个介于 0 和 255 之间的整数。"});
  EXPECT_FALSE(dlg->IsEnded());
  EXPECT_EQ(dlg->focusWidget(), edit);

  dlg->SetDlgItemText(1001, "12");
  QTest::keyClick(edit, Qt::Key_Enter);
  EXPECT_TRUE(dlg->IsEnded());
  EXPECT_EQ(dlg->Result(), fw::IDOK);
  EXPECT_EQ(dlg->byValue, 12);
  EXPECT_EQ(dlg->destroyCount, 1);
  EXPECT_EQ(dlg->events.back(), "destroy 12");  // before the widgets went
  dlg->PressEscape();
  dlg->DestroyWindow();
  EXPECT_EQ(dlg->destroyCount, 1);
}

TEST_F(Commands, EnterOnAPushButtonClicksIt) {
  Make(true);
  EXPECT_EQ(dlg->DefaultId(), fw::IDOK);
  dlg->GetDlgItem(1009)->setFocus();
  dlg->PressEnter();
  EXPECT_EQ(dlg->events, Events{"action"});
  EXPECT_FALSE(dlg->IsEnded());
  dlg->GetDlgItem(fw::IDCANCEL)->setFocus();
  QTest::keyClick(dlg->GetDlgItem(fw::IDCANCEL), Qt::Key_Return);
  EXPECT_EQ(dlg->Result(), fw::IDCANCEL);
}

TEST_F(Commands, EnterInTheStatusEditIsTheOkCommand) {
  Make();
  dlg->SetDlgItemText(1003, "1");
  dlg->SetDlgItemText(1004, "0");
  dlg->SetDlgItemText(1001, "0");
  auto* status = dlg->GetDlgItem(1007);
  status->setFocus();
  QTest::keyClick(status, Qt::Key_Return);
  EXPECT_EQ(dlg->Result(), fw::IDOK);
}

TEST_F(Commands, EscapeAndCloseBoxCancel) {
  Make();
  QTest::keyClick(dlg->GetDlgItem(1001), Qt::Key_Escape);
  EXPECT_TRUE(dlg->IsEnded());
  EXPECT_EQ(dlg->Result(), fw::IDCANCEL);
  EXPECT_EQ(dlg->destroyCount, 1);

  Make();
  dlg->close();
  EXPECT_EQ(dlg->Result(), fw::IDCANCEL);
  EXPECT_EQ(dlg->destroyCount, 1);
}

TEST_F(Commands, ModalHookDrivesTheDialog) {
  TestDlg d;
  fw::CDialog::SetModalHook([&](fw::CDialog& run) {
    EXPECT_EQ(&run, &d);
    EXPECT_EQ(d.events, Events{"init"});
    EXPECT_EQ(run.GetDlgItemText(1003), QString("1"));  // loaded by OnInitDialog
    run.SetDlgItemText(1001, "256");
    run.Click(fw::IDOK);  // refused: stays open
    EXPECT_FALSE(run.IsEnded());
    run.SetDlgItemText(1001, "5");
    run.Click(fw::IDOK);
    EXPECT_TRUE(run.IsEnded());
    EXPECT_EQ(d.destroyCount, 0);
    return run.Result();
  });
  EXPECT_EQ(d.DoModal(), fw::IDOK);
  EXPECT_EQ(d.byValue, 5);
  EXPECT_EQ(d.destroyCount, 1);
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(Commands, RealModalLoopEndsWithTheDialog) {
  TestDlg d;
  QTimer::singleShot(0, &d, [&] {
    EXPECT_TRUE(d.isVisible());
    d.Click(1009);
    d.PressEscape();
  });
  EXPECT_EQ(d.DoModal(), fw::IDCANCEL);
  EXPECT_EQ(d.events, (Events{"init", "action", "destroy 0"}));
  EXPECT_FALSE(d.isVisible());
}

TEST_F(Commands, MessageBoxIsPlain) {
  fw::SetMessageBoxHook({});
  fw::SetAfxAppName("qm7410-monitor");
  QString title;
  QMessageBox::StandardButtons buttons;
  QMessageBox::Icon icon = QMessageBox::Critical;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    buttons = box->standardButtons();
    icon = box->icon();
    box->accept();
  });
  EXPECT_EQ(fw::AfxMessageBox("改变波特率成功"), fw::IDOK);
  EXPECT_EQ(title, QString("qm7410-monitor"));
  EXPECT_EQ(buttons, QMessageBox::Ok);
  EXPECT_EQ(icon, QMessageBox::NoIcon);
}

}  // namespace
