// The program's dialogs on a real X server (Xvfb, started by the test's command): shown as the user
// sees them, checked for overlapping controls and clipped captions, and saved as screenshots under
// build/artifacts/.
#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QTest>

#include "tests/support/harness.h"
#include "tests/support/layout_check.h"
#include "ui/templates.h"

namespace {

// Shows `dlg` on the X server, checks its layout and saves it as `<name>.png`.
void ShowCheckAndSave(fw::CDialog& dlg, const QString& name) {
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg, 30000)) << name.toStdString();

  for (const std::string& problem : layout::Check(dlg))
    ADD_FAILURE() << name.toStdString() << ": " << problem;

  QDir().mkpath(QM_ARTIFACT_DIR);
  const QString file = QM_ARTIFACT_DIR "/" + name + ".png";
  EXPECT_TRUE(dlg.grab().save(file)) << file.toStdString();
}

TEST(OnX, DialogsLookRight) {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  {
    qmtest::Harness h;
    h.dlg->SetDlgItemText(1061, "1");
    h.dlg->Click(1063);  // polling on, so the boxes hold values
    h.Tick(2);
    ShowCheckAndSave(*h.dlg, "main_window");
  }
  const std::pair<const fw::DialogTemplate*, const char*> dialogs[] = {
      {&qm::ui::CommSetTemplate(), "comm_set"},
      {&qm::ui::MeterSetTemplate(), "meter_set"},
      {&qm::ui::SlaveAddrTemplate(), "slave_addr"}};
  for (auto [tpl, name] : dialogs) {
    fw::CDialog dlg(*tpl);
    dlg.Create();
    ShowCheckAndSave(dlg, name);
    dlg.DestroyWindow();
  }
}

}  // namespace
