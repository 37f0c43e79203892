#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <stdexcept>

#include "tests/framework/test_dialog.h"

namespace {

using fwtest::TestDlg;

class DataExchange : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::SetMessageBoxHook([this](const QString& text) {
      messages.push_back(text);
      return fw::IDOK;
    });
    dlg.Create();
  }
  void TearDown() override {
    dlg.DestroyWindow();
    fw::SetMessageBoxHook({});
  }
  void SetValidTexts() {
    dlg.SetDlgItemText(1001, "1");
    dlg.SetDlgItemText(1002, "2");
    dlg.SetDlgItemText(1003, "3");
    dlg.SetDlgItemText(1004, "4");
    dlg.SetDlgItemText(1005, "taken");
  }

  TestDlg dlg;
  std::vector<QString> messages;
};

const QString kByte = "请输入一个介于 0 和 255 之间的整数。";
const QString kInt = "请输入一个整数。";
const QString kUInt = "请输入一个正整数。";
const QString kReal = "请输入一个数字。";
const QString kRange = "请输入一个介于 1 和 64000 之间的整数。";

TEST_F(DataExchange, SavingParsesOrStopsWithTheTypesMessage) {
  struct Case {
    int id;
    const char* text;
    double value;     // expected member value when accepted
    QString message;  // empty: accepted
  };
  const Case cases[] = {
      {1001, "0", 0, {}},
      {1001, " 255 ", 255, {}},
      {1001, "+7", 7, {}},
      {1001, "256", 0, kByte},
      {1001, "300", 0, kByte},
      {1001, "-1", 0, kByte},
      {1001, "", 0, kByte},
      {1001, "12a", 0, kByte},
      {1001, "99999999999999999999999", 0, kByte},
      {1002, "-2147483648", -2147483648.0, {}},
      {1002, "\t-3 ", -3, {}},
      {1002, "2147483648", 0, kInt},
      {1002, "1.5", 0, kInt},
      {1002, "-", 0, kInt},
      {1003, "64000", 64000, {}},
      {1003, "0", 0, kRange},
      {1003, "64001", 0, kRange},
      {1003, "-5", 0, kUInt},
      {1003, "4294967296", 0, kUInt},
      {1004, "1e3", 1000, {}},
      {1004, " -2.5 ", -2.5, {}},
      {1004, ".5", 0.5, {}},
      {1004, "abc", 0, kReal},
      {1004, "inf", 0, kReal},
      {1004, "1,5", 0, kReal},
      {1004, "", 0, kReal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " \"" + c.text + "\"");
    SetValidTexts();
    dlg.strValue = "kept";
    dlg.SetDlgItemText(c.id, QString::fromUtf8(c.text));
    messages.clear();
    const bool ok = dlg.UpdateData(true);
    if (c.message.isEmpty()) {
      EXPECT_TRUE(ok);
      EXPECT_TRUE(messages.empty());
      const double got = c.id == 1001   ? dlg.byValue
                         : c.id == 1002 ? dlg.nValue
                         : c.id == 1003 ? dlg.unValue
                                        : dlg.dValue;
      EXPECT_EQ(got, c.value);
      EXPECT_EQ(dlg.strValue, QString("taken"));
    } else {
      EXPECT_FALSE(ok);
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0], c.message);
      // The exchange stopped at the control: later members keep their values.
      EXPECT_EQ(dlg.strValue, QString("kept"));
      // The focus is back on the offending field with its text selected.
      auto* edit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(c.id));
      EXPECT_EQ(dlg.focusWidget(), edit);
      EXPECT_EQ(edit->selectedText(), edit->text());
    }
  }
}

TEST_F(DataExchange, FailureKeepsTheMemberAndEarlierControlsAreTaken) {
  SetValidTexts();
  dlg.SetDlgItemText(1001, "9");
  dlg.SetDlgItemText(1002, "x");
  dlg.nValue = 77;
  EXPECT_FALSE(dlg.UpdateData(true));
  EXPECT_EQ(dlg.byValue, 9);
  EXPECT_EQ(dlg.nValue, 77);
}

TEST_F(DataExchange, LoadingWritesMembersIntoControls) {
  dlg.byValue = 7;
  dlg.nValue = -3;
  dlg.unValue = 64000;
  dlg.dValue = 0.1;
  dlg.strValue = "文字";
  dlg.strCombo = "u";  // selects the first item starting with it, like CB_SELECTSTRING
  EXPECT_TRUE(dlg.UpdateData(false));
  EXPECT_EQ(dlg.GetDlgItemText(1001), QString("7"));
  EXPECT_EQ(dlg.GetDlgItemText(1002), QString("-3"));
  EXPECT_EQ(dlg.GetDlgItemText(1003), QString("64000"));
  EXPECT_EQ(dlg.GetDlgItemText(1004), QString("0.1"));
  EXPECT_EQ(dlg.GetDlgItemText(1005), QString("文字"));
  EXPECT_EQ(dlg.GetDlgItemText(1006), QString("Ua"));
  fw::CComboBox combo;
  combo.Attach(dlg.GetDlgItem(1006));
  EXPECT_EQ(combo.GetCurSel(), 1);

  dlg.dValue = 1e20;
  dlg.strCombo = "zz";
  EXPECT_TRUE(dlg.UpdateData(false));
  EXPECT_EQ(dlg.GetDlgItemText(1004), QString("1e+20"));
  EXPECT_EQ(dlg.GetDlgItemText(1006), QString("zz"));
  EXPECT_EQ(combo.GetCurSel(), fw::CComboBox::CB_ERR);
  EXPECT_TRUE(messages.empty());
}

TEST_F(DataExchange, ComboGivesItsEditText) {
  SetValidTexts();
  dlg.SetDlgItemText(1006, "typed");
  EXPECT_TRUE(dlg.UpdateData(true));
  EXPECT_EQ(dlg.strCombo, QString("typed"));
}

struct MissingControlDlg : fw::CDialog {
  MissingControlDlg() : fw::CDialog(fwtest::TestTemplate()) {}
  fw::CEdit edit;
  void DoDataExchange(fw::CDataExchange* pDX) override { fw::DDX_Control(pDX, 4242, edit); }
};

TEST(DataExchangeControl, AttachesOrNamesTheMissingControl) {
  struct Dlg : fw::CDialog {
    Dlg() : fw::CDialog(fwtest::TestTemplate()) {}
    fw::CEdit edit;
    void DoDataExchange(fw::CDataExchange* pDX) override { fw::DDX_Control(pDX, 1005, edit); }
  } dlg;
  dlg.Create();
  EXPECT_EQ(dlg.edit.Widget(), dlg.GetDlgItem(1005));

  MissingControlDlg bad;
  fw::SetMessageBoxHook([](const QString&) { return fw::IDOK; });
  bad.Create();
  try {
    bad.UpdateData(true);
    ADD_FAILURE() << "no error for a missing control";
  } catch (const std::logic_error& e) {
    EXPECT_NE(std::string(e.what()).find("4242"), std::string::npos);
  }
  fw::SetMessageBoxHook({});
}

}  // namespace
