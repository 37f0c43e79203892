// The dialog layer: templates in dialog units, data exchange, the message map, keyboard, message
// boxes and window timers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QRawFont>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "framework/app.h"
#include "framework/dialog.h"
#include "framework/dialog_units.h"

namespace {

using fw::Kind;
using Events = std::vector<std::string>;

// Placed last on screen but first in the template, the Cancel button is the first tab stop.
const std::vector<fw::ControlTemplate> kControls = {
    {fw::IDCANCEL, Kind::PushButton, "退出", 120, 120, 40, 14, fw::kTabStop},
    {1001, Kind::Edit, "", 10, 15, 40, 12, fw::kTabStop | fw::kBorder, "地址"},
    {1002, Kind::Edit, "", 10, 30, 40, 12, fw::kTabStop | fw::kBorder, "点数"},
    {1003, Kind::ComboBox, "", 120, 5, 40, 60, fw::kTabStop | fw::kDropDown, "量"},
    {1004, Kind::PushButton, "隐藏", 120, 60, 40, 14, fw::kTabStop | fw::kHidden},
    {1005, Kind::PushButton, "动作", 120, 100, 40, 14, fw::kTabStop},
    {1006, Kind::Edit, "", 50, 82, 60, 12, fw::kStaticEdge | fw::kReadOnly, "测量 A"},
    {1007, Kind::PushButton, "其它", 10, 100, 40, 14, fw::kTabStop},
    {1008, Kind::AutoRadio, "9600", 10, 50, 40, 10, fw::kTabStop | fw::kGroup},
    {1009, Kind::AutoRadio, "19200", 10, 62, 40, 10, 0},
    {1010, Kind::Static, "说明", 60, 15, 30, 8},
};
const fw::DialogTemplate kTemplate{900, "测试", "宋体", 10,        200,
                                   150, true,   false,  kControls, {{1003, {"无", "Ua", "F", "Ub", "F"}}}};

class TestDlg : public fw::CDialog {
 public:
  TestDlg() : fw::CDialog(kTemplate) {
    OnCommand(1005, fw::Notify::Clicked, &TestDlg::OnAction);
    OnCommand(1003, fw::Notify::SelChange, &TestDlg::OnSelChange);
    OnCommand(1007, fw::Notify::Clicked, &TestDlg::OnOther);
    OnCommand(1009, fw::Notify::Clicked, &TestDlg::On19200);
  }
  uint8_t byValue = 0;
  uint32_t unValue = 1;
  Events events;
  std::function<void()> action;      // what the action button does
  std::function<void(int)> onTimer;  // what a tick does

  void DoDataExchange(fw::CDataExchange* pDX) override {
    fw::DDX_Text(pDX, 1001, byValue);
    fw::DDX_Text(pDX, 1002, unValue);
    fw::DDV_MinMaxUInt(pDX, unValue, 1, 64000);
  }
  void OnTimer(int id) override {
    events.push_back("tick " + std::to_string(id));
    if (onTimer) onTimer(id);
  }
  void OnAction() {
    events.push_back("action");
    if (action) action();
  }
  void OnSelChange() { events.push_back("selchange"); }
  void OnOther() { events.push_back("other"); }
  void On19200() { events.push_back("19200"); }
};

// The program's wait: a nested event loop that holds back input, as an exchange waits for a reply,
// until `done` holds (10 s at most).
void Wait(const std::function<bool()>& done) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  poll.start(5);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// What assistive technology does with a control: its action, as it arrives over the bus.
void DoAction(QWidget* w, const QString& action) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
  ASSERT_NE(iface, nullptr);
  ASSERT_NE(iface->actionInterface(), nullptr);
  ASSERT_TRUE(iface->actionInterface()->actionNames().contains(action))
      << iface->actionInterface()->actionNames().join(',').toStdString();
  iface->actionInterface()->doAction(action);
}

class Dialog : public ::testing::Test {
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
    fw::CDialog::SetModalHook({});
  }

  TestDlg dlg;
  QStringList messages;
};

const QString kByte = "请输入一个介于 0 和 255 之间的整数。";
const QString kRange = "请输入一个介于 1 和 64000 之间的整数。";

// Also run under LANG=C: "宋体" must resolve to a font with Chinese glyphs whatever the locale, and
// the base width is the Latin average, not a full-width glyph.
TEST(Font, SongTiIsChineseAndUnitsFollowTheLatinLetters) {
  for (const char* face : {"宋体", "System"}) {
    const QFont font = fw::TemplateFont(face, 10);
    const QRawFont raw = QRawFont::fromFont(font);
    EXPECT_TRUE(raw.supportsCharacter(QChar(0x5B8B))) << face << " -> " << raw.familyName().toStdString();
    const QFontMetrics fm(font);
    EXPECT_EQ(fw::BaseUnitsFor(font).cy, fm.height());
    EXPECT_LT(fw::BaseUnitsFor(font).cx, fm.horizontalAdvance(QChar(0x5B8B)));
  }
  // For a fixed-pitch font (52 * w / 26 + 1) / 2 is the advance itself.
  QFont mono("DejaVu Sans Mono");
  mono.setPixelSize(13);
  EXPECT_EQ(fw::BaseUnitsFor(mono).cx, QFontMetrics(mono).horizontalAdvance("A"));
}

// Both corners are mapped with MulDiv: rounded to nearest, halves away from zero.
TEST(Units, MapsBothCornersWithMulDivRounding) {
  EXPECT_EQ(fw::DluToPixels({8, 19}, 374, 242, 4, 8), QRect(748, 575, 8, 19));  // 574.75 -> 575
  EXPECT_EQ(fw::DluToPixels({7, 13}, 2, 4, 1, 4), QRect(4, 7, 1, 6));           // 3.5 -> 4, 13 - 7
  EXPECT_EQ(fw::DluToPixels({7, 13}, -2, -4, 2, 4), QRect(-4, -7, 4, 7));       // -3.5 -> -4
}

TEST_F(Dialog, TemplateBuildsHiddenControlsAndTheTabChainInTemplateOrder) {
  // Names and labels as assistive technology reads them are checked on the real program over AT-SPI.
  EXPECT_TRUE(dlg.GetDlgItem(1004)->isHidden());
  // The tab chain visits the shown tab stops in template order, starting with the focused first one.
  QWidget* w = dlg.focusWidget();
  EXPECT_EQ(w, dlg.GetDlgItem(fw::IDCANCEL));
  std::vector<int> seen;
  for (int guard = 0; guard < 50 && seen.size() < 5; ++guard, w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) && !w->isHidden() && w->parentWidget() == &dlg) {
      seen.push_back(w->accessibleDescription().toInt());
    }
  }
  EXPECT_EQ(seen, (std::vector<int>{fw::IDCANCEL, 1001, 1002, 1003, 1005}));
}

TEST_F(Dialog, ExchangeRefusesOutOfRangeAndReturnsTheFocus) {
  // The byte, the count, and the message (none: accepted).
  const std::tuple<const char*, const char*, QString> cases[] = {
      {"0", "1", {}},      {"256", "1", kByte}, {"-1", "1", kByte},     {"", "1", kByte},
      {"12a", "1", kByte}, {"1", "0", kRange},  {"1", "64001", kRange}, {" 255 ", "64000", {}},
  };
  for (const auto& [byte, count, message] : cases) {
    SCOPED_TRACE(std::string(byte) + " / " + count);
    dlg.SetDlgItemText(1001, byte);
    dlg.SetDlgItemText(1002, count);
    messages.clear();
    EXPECT_EQ(dlg.UpdateData(true), message.isEmpty());
    EXPECT_EQ(messages.join('|'), message);
    if (!message.isEmpty()) {
      EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(message == kByte ? 1001 : 1002));
    }
  }
  EXPECT_EQ(dlg.byValue, 255);
  EXPECT_EQ(dlg.unValue, 64000u);
}

TEST_F(Dialog, SelChangeOnlyFromTheUserAndTypedTextIsNoSelection) {
  fw::CComboBox combo;
  combo.Attach(dlg.GetDlgItem(1003));
  EXPECT_EQ(combo.SetCurSel(2), 2);
  dlg.SelectComboItem(1003, 1);
  EXPECT_EQ(dlg.events, Events{"selchange"});
  EXPECT_EQ(combo.GetCurSel(), 1);
  // Typed text, even an item's text, picks nothing and adds nothing, also when the field is left.
  QLineEdit* edit = qobject_cast<QComboBox*>(dlg.GetDlgItem(1003))->lineEdit();
  for (const char* keys : {"x", "\b\b\bF"}) {
    QTest::keyClicks(edit, keys);
    emit edit->editingFinished();
    EXPECT_EQ(combo.GetCurSel(), fw::CComboBox::CB_ERR) << edit->text().toStdString();
  }
  EXPECT_EQ(combo.GetCount(), 5);
  EXPECT_EQ(dlg.events.size(), 1u);
}

TEST_F(Dialog, EnterInAnEditIsOkAfterValidationEscapeCancels) {
  TestDlg d;
  fw::CDialog::SetModalHook([&](fw::CDialog& run) {
    EXPECT_EQ(run.GetDlgItemText(1002), QString("1"));  // loaded before the hook runs
    QWidget* edit = run.GetDlgItem(1001);
    edit->setFocus();  // Enter on the focused Cancel button would click it
    run.SetDlgItemText(1001, "256");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(run.focusWidget(), edit);
    run.SetDlgItemText(1001, "5");
    QTest::keyClick(edit, Qt::Key_Enter);
    return run.Result();
  });
  EXPECT_EQ(d.DoModal(), fw::IDOK);
  EXPECT_EQ(messages, QStringList{kByte});
  EXPECT_EQ(d.byValue, 5);

  QTest::keyClick(dlg.GetDlgItem(1001), Qt::Key_Escape);
  EXPECT_EQ(dlg.Result(), fw::IDCANCEL);
}

// A real message box: plain, with the application's name. Ticks falling due while it is open inside
// a handler are held, one per timer, and come after the handler; a killed timer's tick is dropped;
// a tick falling due during a tick follows it instead of nesting.
TEST_F(Dialog, TicksDuringAMessageBoxAreHeldOnePerTimer) {
  fw::SetMessageBoxHook({});
  fw::SetAfxAppName("qm7410-monitor");
  for (int id : {1, 2, 3}) dlg.SetTimer(id, 700);
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QString("qm7410-monitor"));
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    for (int id : {1, 1, 2, 3, 1}) dlg.DeliverTimer(id);
    dlg.KillTimer(3);
    box->accept();
  });
  int depth = 0;
  dlg.onTimer = [&](int id) {
    EXPECT_EQ(++depth, 1) << "a tick entered a running tick";
    if (id == 2 && dlg.events.size() == 3) {
      for (int i = 0; i < 3; ++i) dlg.DeliverTimer(2);  // three periods pass during a long wait
    }
    --depth;
  };
  dlg.action = [] { EXPECT_EQ(fw::AfxMessageBox("改变波特率成功"), fw::IDOK); };
  dlg.Click(1005);
  EXPECT_EQ(dlg.events, Events{"action"});
  const Events expected{"action", "tick 1", "tick 2", "tick 2"};
  EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.events.size() >= expected.size(); }, 10000));
  QCoreApplication::processEvents();  // nothing more comes
  EXPECT_EQ(dlg.events, expected);
}

// A box set again to the text it shows (many, on every poll cycle) is left alone: the user's
// selection stays, and nothing is repainted or told to assistive technology. A new text replaces
// it; one wider than the box shows its start, as on Windows.
TEST_F(Dialog, SettingTheShownTextAgainLeavesTheBoxAlone) {
  auto* box = qobject_cast<QLineEdit*>(dlg.GetDlgItem(1006));
  ASSERT_NE(box, nullptr);
  dlg.SetDlgItemText(1006, "220.00 V");
  box->setSelection(0, 6);  // the user marks the number to copy it
  dlg.SetDlgItemText(1006, "220.00 V");
  EXPECT_EQ(box->selectedText(), QString("220.00"));
  dlg.SetDlgItemText(1006, "221.50 V");
  EXPECT_EQ(box->text(), QString("221.50 V"));
  EXPECT_FALSE(box->hasSelectedText());
  // Every cursor move is a caret message to assistive technology: a new value of the same length
  // makes none.
  QSignalSpy moves(box, &QLineEdit::cursorPositionChanged);
  dlg.SetDlgItemText(1006, "221.75 V");
  EXPECT_EQ(moves.count(), 0);
  dlg.SetDlgItemText(1006, QString(200, 'W'));
  EXPECT_EQ(box->cursorPosition(), 0) << "a text wider than its box shows its start";
}

// Qt's own button speaks the program's language: with Qt's translation installed the way the
// program's start-up installs it, the OK of a real message box reads 确定, not "OK".
TEST_F(Dialog, MessageBoxButtonReadsChineseWithQtsTranslation) {
  QTranslator* translator = fw::InstallQtTranslation();
  ASSERT_NE(translator, nullptr) << "qtbase_zh_CN.qm is missing (Debian package qt6-translations-l10n)";
  fw::SetMessageBoxHook({});
  QString button;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      ADD_FAILURE() << "no message box open";
      return;
    }
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) button = ok->text();
    box->accept();
  });
  EXPECT_EQ(fw::AfxMessageBox("设置PT不成功"), fw::IDOK);
  QCoreApplication::removeTranslator(translator);
  delete translator;
  EXPECT_EQ(button, QString("确定"));
}

// On real timers, a handler waiting longer than the period is never entered by another tick, ticks
// keep coming back to back however busy the machine, and the close box used during a tick ends the
// dialog once that tick is over. Qt never re-fires the timer whose slot runs, so the second timer is
// the one that would barge in.
TEST_F(Dialog, RealTimersNeverReenterAWaitingHandlerAndACloseWaitsForTheTick) {
  fw::CDialog::SetManualTimers(false);
  int depth = 0, ticks = 0, ticksAtClose = 0;
  dlg.onTimer = [&](int) {
    EXPECT_EQ(++depth, 1) << "a tick entered a running tick";
    if (++ticks == 6) {
      dlg.close();
      ticksAtClose = ticks;
    }
    QTest::qWait(60);  // a wait longer than the period, in a nested loop like the program's exchanges
    --depth;
  };
  dlg.SetTimer(1, 20);
  dlg.SetTimer(2, 20);
  const bool ended = QTest::qWaitFor([&] { return dlg.IsEnded(); }, 30000);
  fw::CDialog::SetManualTimers(true);
  EXPECT_TRUE(ended) << "the close waited for good, or ticks stopped after " << ticks;
  EXPECT_EQ(ticks, ticksAtClose) << "a tick ran after the close";
}

TEST_F(Dialog, ExceptionEndsOnlyItsHandler) {
  dlg.SetTimer(1, 700);
  int runs = 0;
  dlg.action = [&] {
    dlg.DeliverTimer(1);
    if (++runs == 1) throw std::runtime_error("串口 COM9 无法打开: 不存在");
  };
  dlg.Click(1005);
  EXPECT_EQ(messages, QStringList{"串口 COM9 无法打开: 不存在"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.events.size() == 2; }, 10000));  // the held tick
  dlg.Click(1005);
  EXPECT_EQ(dlg.events, (Events{"action", "tick 1", "action"}));
  EXPECT_FALSE(dlg.IsEnded());
}

// Commands that reach the window during a handler's wait by any path but input (a queued signal, an
// accessibility action, a programmatic click or selection) run after the handler, in the order
// they came, before the tick that fell due meanwhile. What the handler itself sends runs at once.
TEST_F(Dialog, CommandsArrivingDuringAWaitRunAfterTheHandlerInOrder) {
  dlg.SetTimer(1, 700);
  dlg.CheckRadioButton(1008, 1009, 1008);
  int actions = 0;
  bool pressed = false;  // the accessibility press has clicked (its handler is held)
  dlg.action = [&] {
    if (++actions > 1) return;
    dlg.Click(1007);  // sent by the handler itself
    QTimer::singleShot(0, [&] {
      QMetaObject::invokeMethod(dlg.GetDlgItem(1007), "click", Qt::QueuedConnection);
      dlg.DeliverTimer(1);
      QTimer::singleShot(10, [&] {
        DoAction(dlg.GetDlgItem(1009), QAccessibleActionInterface::toggleAction());
        dlg.SelectComboItem(1003, 2);
        auto* button = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(1005));
        QObject::connect(button, &QAbstractButton::clicked, [&] { pressed = true; });
        DoAction(button, QAccessibleActionInterface::pressAction());  // clicks 100 ms later
      });
    });
    Wait([&] { return pressed; });
    dlg.events.push_back("waited");
  };
  dlg.Click(1005);
  EXPECT_EQ(dlg.events, (Events{"action", "other", "waited"}));
  EXPECT_TRUE(dlg.IsDlgButtonChecked(1009)) << "the button shows the click at once";
  EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.events.size() >= 8; }, 10000));
  EXPECT_EQ(dlg.events,
            (Events{"action", "other", "waited", "other", "19200", "selchange", "action", "tick 1"}));
}

// A real number takes blanks around it and one sign at most.
class RealDlg : public fw::CDialog {
 public:
  RealDlg() : fw::CDialog(kTemplate) {}
  double value = 7;
  void DoDataExchange(fw::CDataExchange* pDX) override { fw::DDX_Text(pDX, 1001, value); }
};

TEST_F(Dialog, RealNumbersTakeOneSignAtMost) {
  RealDlg real;
  real.Create();
  const std::tuple<const char*, bool, double> cases[] = {
      {" +1.5e3 ", true, 1500.0}, {"-0.25", true, -0.25}, {"+-5", false, 0},
      {"-+5", false, 0},          {"++5", false, 0},
  };
  for (const auto& [text, ok, value] : cases) {
    real.SetDlgItemText(1001, text);
    messages.clear();
    EXPECT_EQ(real.UpdateData(true), ok) << text;
    EXPECT_EQ(messages.size(), ok ? 0 : 1) << text;
    if (ok) {
      EXPECT_EQ(real.value, value) << text;
    }
  }
  real.DestroyWindow();
}

}  // namespace
