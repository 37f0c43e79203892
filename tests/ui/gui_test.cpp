// The program's dialogs on a real X server (Xvfb): shown as the user sees them, checked for
// overlapping controls and clipped captions, and saved as screenshots under build/artifacts/.
//
// The test re-runs itself under xvfb-run; the run inside the X server does the work.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <cstdlib>

#include "tests/support/harness.h"
#include "tests/support/layout_check.h"
#include "ui/templates.h"

namespace {

constexpr const char* kChildVar = "QM7410_GUI_CHILD";

// Shows `dlg` on the X server, checks its layout and saves it as `<name>.png`.
void ShowCheckAndSave(fw::CDialog& dlg, const QString& name) {
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg, 5000)) << name.toStdString();
  QTest::qWait(200);

  for (const std::string& problem : layout::Check(dlg))
    ADD_FAILURE() << name.toStdString() << ": " << problem;

  QDir().mkpath(QM_ARTIFACT_DIR);
  const QString file = QM_ARTIFACT_DIR "/" + name + ".png";
  EXPECT_TRUE(dlg.grab().save(file)) << file.toStdString();
}

void RunInsideX() {
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  {
    qmtest::Harness h;
    h.dlg->SetDlgItemText(1061, "1");
    h.dlg->Click(1063);  // polling on, so the boxes hold values
    h.Tick(2);
    ShowCheckAndSave(*h.dlg, "main_window");
  }
  const std::pair<const fw::DialogTemplate*, const char*> dialogs[] = {{&qm::ui::CommSetTemplate(), "comm_set"},
                                                                       {&qm::ui::MeterSetTemplate(), "meter_set"},
                                                                       {&qm::ui::SlaveAddrTemplate(), "slave_addr"}};
  for (auto [tpl, name] : dialogs) {
    fw::CDialog dlg(*tpl);
    dlg.Create();
    ShowCheckAndSave(dlg, name);
    dlg.DestroyWindow();
  }
}

TEST(OnX, DialogsLookRight) {
  if (std::getenv(kChildVar)) {
    RunInsideX();
    return;
  }
  const QString xvfb = QStandardPaths::findExecutable("xvfb-run");
  if (xvfb.isEmpty()) GTEST_SKIP() << "xvfb-run is not installed";

  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(kChildVar, "1");
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.insert("LANG", "C.UTF-8");
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(xvfb, {"-a", "-s", "-screen 0 1024x768x24", QCoreApplication::applicationFilePath(),
                     "--gtest_filter=OnX.DialogsLookRight"});
  ASSERT_TRUE(child.waitForStarted(10000));
  ASSERT_TRUE(child.waitForFinished(120000));
  const QString output = QString::fromLocal8Bit(child.readAll());
  EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

}  // namespace
